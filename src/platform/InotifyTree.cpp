#include "InotifyTree.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                      IN_ONLYDIR | IN_EXCL_UNLINK;
// IN_MASK_ADD keeps the full mask when the parent is itself a watched folder (nested roots).
constexpr std::uint32_t kParentMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_MASK_ADD;
// Every folder above a root, up to "/": a root moves with any of them, and only the moved folder
// itself hears of it.
constexpr std::uint32_t kAncestorMask = IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR | IN_MASK_ADD;
constexpr std::size_t kReadBufferSize = 64 * 1024;

bool isHidden(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

// Whether `path` is `top` or lies below it.
bool isWithin(std::string_view path, std::string_view top)
{
    if (top == "/")
        return true;
    return path.starts_with(top) && (path.size() == top.size() || path[top.size()] == '/');
}

// Erases the entries of `map` at `top` and below it, showing each key to `visit` first.
template <typename Map, typename Visit>
void eraseWithin(Map &map, const std::string &top, Visit &&visit)
{
    if (const auto it = map.find(top); it != map.end()) {
        visit(it->first);
        map.erase(it);
    }
    const std::string prefix = top == "/" ? top : top + '/';
    for (auto it = map.lower_bound(prefix); it != map.end() && it->first.starts_with(prefix);) {
        visit(it->first);
        it = map.erase(it);
    }
}

// FNV-1a, then a strong mix, so that a folder's sum of its entries' digests stays collision-poor.
std::uint64_t entryDigest(std::string_view name, bool isFolder)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash ^= isFolder ? 0x9e3779b97f4a7c15ull : 0;
    hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9ull;
    hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebull;
    return hash ^ (hash >> 31);
}

// Visits `top` and every non-hidden folder below it without following links (the top itself
// only when `followTop`): enter(path) once the folder is open, before its entries are read, then
// leave(path, state) after. Lists with d_type; lstat only where the file system does not tell.
template <typename Enter, typename Leave>
void walkFolders(const std::string &top, bool followTop, const std::atomic<bool> &stop,
                 Enter &&enter, Leave &&leave)
{
    std::vector<std::string> pending{top};
    bool atTop = true;
    while (!pending.empty() && !stop.load(std::memory_order_relaxed)) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        const int flags =
            O_RDONLY | O_DIRECTORY | O_CLOEXEC | (atTop && followTop ? 0 : O_NOFOLLOW);
        atTop = false;
        const int fd = ::open(path.c_str(), flags);
        if (fd < 0)
            continue;
        struct stat info;
        if (::fstat(fd, &info) != 0) {
            ::close(fd);
            continue;
        }
        enter(path);
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            continue;
        }
        InotifyTree::FolderState state;
        state.mtime = std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        while (const dirent *entry = ::readdir(dir)) {
            const char *name = entry->d_name;
            if (name[0] == '.')
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat child;
                isFolder =
                    ::fstatat(fd, name, &child, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(child.st_mode);
            }
            state.entries += entryDigest(name, isFolder);
            if (isFolder)
                pending.push_back(joinPath(path, name));
        }
        ::closedir(dir);
        leave(path, state);
    }
}

} // namespace

InotifyTree::InotifyTree(std::vector<std::string> roots, int watchLimit)
    : m_watchLimit(watchLimit), m_buffer(kReadBufferSize)
{
    for (std::string &path : roots) {
        Root root;
        const std::size_t slash = path.rfind('/');
        if (path != "/" && slash != std::string::npos) {
            root.parent = slash == 0 ? std::string("/") : path.substr(0, slash);
            root.name = path.substr(slash + 1);
        }
        root.path = std::move(path);
        m_roots.push_back(std::move(root));
    }
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_mountsFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
}

InotifyTree::~InotifyTree()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_mountsFd >= 0)
        ::close(m_mountsFd);
}

bool InotifyTree::needsRescan() const
{
    return std::any_of(m_roots.begin(), m_roots.end(),
                       [](const Root &root) { return root.incomplete; });
}

void InotifyTree::watchAll(const std::atomic<bool> &stop)
{
    for (Root &root : m_roots) {
        addParentWatch(root);
        watchRoot(root, stop);
    }
}

InotifyTree::AddResult InotifyTree::addWatch(const std::string &path, bool followLink)
{
    const auto known = m_watchByPath.find(path);
    if (known != m_watchByPath.end() && m_watches[known->second].full)
        return AddResult::Added;
    if (m_fd < 0 ||
        (known == m_watchByPath.end() && static_cast<int>(m_watches.size()) >= m_watchLimit))
        return AddResult::Exhausted;
    const int wd =
        ::inotify_add_watch(m_fd, path.c_str(), kFolderMask | (followLink ? 0 : IN_DONT_FOLLOW));
    if (wd < 0)
        return errno == ENOSPC || errno == ENOMEM ? AddResult::Exhausted : AddResult::Failed;
    Watch &watch = m_watches[wd];
    if (!watch.path.empty() && watch.path != path) {
        // The same folder seen under an older path: it was moved before we heard of it.
        const auto old = m_watchByPath.find(watch.path);
        if (old != m_watchByPath.end() && old->second == wd)
            m_watchByPath.erase(old);
    }
    watch.path = path;
    watch.full = true;
    m_watchByPath[path] = wd;
    return AddResult::Added;
}

bool InotifyTree::isWatched(const std::string &path) const
{
    const auto known = m_watchByPath.find(path);
    return known != m_watchByPath.end() && m_watches.at(known->second).full;
}

bool InotifyTree::hasParentWatch(const Root &root) const
{
    if (root.parent.empty())
        return true;
    const auto known = m_watchByPath.find(root.parent);
    if (known == m_watchByPath.end())
        return false;
    const std::vector<std::string> &names = m_watches.at(known->second).rootNames;
    return std::find(names.begin(), names.end(), root.name) != names.end();
}

bool InotifyTree::addParentWatch(Root &root)
{
    if (hasParentWatch(root))
        return true;
    int wd = -1;
    const auto known = m_watchByPath.find(root.parent);
    if (known != m_watchByPath.end())
        wd = known->second;
    else if (m_fd >= 0 && static_cast<int>(m_watches.size()) < m_watchLimit)
        wd = ::inotify_add_watch(m_fd, root.parent.c_str(), kParentMask);
    if (wd < 0) {
        // Without it a root that is deleted and made again would go unnoticed: rescan instead.
        root.incomplete = true;
        return false;
    }
    Watch &watch = m_watches[wd];
    if (watch.path.empty()) {
        watch.path = root.parent;
        m_watchByPath[root.parent] = wd;
    }
    if (std::find(watch.rootNames.begin(), watch.rootNames.end(), root.name) ==
        watch.rootNames.end())
        watch.rootNames.push_back(root.name);
    watchAncestors(root.parent);
    return true;
}

void InotifyTree::watchAncestors(const std::string &folder)
{
    for (std::string path = folder; !path.empty();) {
        if (m_fd < 0 ||
            (!m_watchByPath.contains(path) && static_cast<int>(m_watches.size()) >= m_watchLimit))
            return;
        const int wd = ::inotify_add_watch(m_fd, path.c_str(), kAncestorMask);
        if (wd < 0)
            return;
        Watch &watch = m_watches[wd];
        if (watch.path.empty()) {
            watch.path = path;
            m_watchByPath[path] = wd;
        }
        watch.ancestor = true;
        const std::size_t slash = path.rfind('/');
        path = path == "/" || slash == std::string::npos ? std::string()
               : slash == 0                              ? std::string("/")
                                                         : path.substr(0, slash);
    }
}

void InotifyTree::watchRoot(Root &root, const std::atomic<bool> &stop)
{
    struct stat info;
    root.present = ::stat(root.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    root.device = root.present ? info.st_dev : 0;
    watchTree(root.path, true, stop);
}

void InotifyTree::watchTree(const std::string &top, bool followTop, const std::atomic<bool> &stop)
{
    AddResult result = AddResult::Added;
    walkFolders(
        top, followTop, stop,
        [&](const std::string &path) { result = addWatch(path, followTop && path == top); },
        [&](const std::string &path, const FolderState &state) {
            if (result != AddResult::Exhausted)
                return;
            m_unwatched[path] = state;
            if (Root *root = rootContaining(path))
                root->incomplete = true;
        });
}

void InotifyTree::forgetTree(const std::string &top)
{
    const auto forget = [this](std::map<std::string, int>::iterator it) {
        Watch &watch = m_watches[it->second];
        if (!watch.rootNames.empty() || watch.ancestor) {
            watch.full = false; // still needed to see the roots inside it come, go and move
            return std::next(it);
        }
        ::inotify_rm_watch(m_fd, it->second);
        m_watches.erase(it->second);
        return m_watchByPath.erase(it);
    };
    if (const auto it = m_watchByPath.find(top); it != m_watchByPath.end())
        forget(it);
    const std::string prefix = top == "/" ? top : top + '/';
    for (auto it = m_watchByPath.lower_bound(prefix);
         it != m_watchByPath.end() && it->first.starts_with(prefix);)
        it = forget(it);

    eraseWithin(m_unwatched, top, [](const std::string &) {});
}

void InotifyTree::dropWatch(int wd)
{
    const auto it = m_watches.find(wd);
    if (it == m_watches.end())
        return;
    const auto known = m_watchByPath.find(it->second.path);
    if (known != m_watchByPath.end() && known->second == wd)
        m_watchByPath.erase(known);
    for (const std::string &name : it->second.rootNames) {
        if (Root *root = rootAt(joinPath(it->second.path, name)))
            root->incomplete = true;
    }
    m_watches.erase(it);
}

InotifyTree::Root *InotifyTree::rootAt(std::string_view path)
{
    for (Root &root : m_roots) {
        if (root.path == path)
            return &root;
    }
    return nullptr;
}

InotifyTree::Root *InotifyTree::rootContaining(std::string_view path)
{
    for (Root &root : m_roots) {
        if (isWithin(path, root.path))
            return &root;
    }
    return nullptr;
}

bool InotifyTree::readEvents(const std::atomic<bool> &stop)
{
    const ssize_t length = ::read(m_fd, m_buffer.data(), m_buffer.size());
    if (length <= 0)
        return false;
    bool changed = false;
    bool overflow = false;
    for (const char *next = m_buffer.data(); next < m_buffer.data() + length;) {
        const auto *event = reinterpret_cast<const inotify_event *>(next);
        next += sizeof(inotify_event) + event->len;
        if (event->mask & IN_Q_OVERFLOW) {
            overflow = true;
            continue;
        }
        const auto it = m_watches.find(event->wd);
        if (it == m_watches.end())
            continue;
        if (event->mask & IN_IGNORED) {
            dropWatch(event->wd);
            continue;
        }
        const Watch &watch = it->second;
        const std::string_view name = event->len > 0 ? std::string_view(event->name) : "";
        if (name.empty()) {
            // The watched folder itself: deleted, moved, unmounted or its attributes changed.
            changed = changed || watch.full ||
                      (watch.ancestor && (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF)));
            continue;
        }
        const bool isRootName = std::find(watch.rootNames.begin(), watch.rootNames.end(), name) !=
                                watch.rootNames.end();
        if (!isRootName && (!watch.full || isHidden(name)))
            continue;
        changed = true;
        if (!(event->mask & IN_ISDIR))
            continue;
        const std::string child = joinPath(watch.path, name);
        Root *root = rootAt(child);
        if (event->mask & (IN_MOVED_FROM | IN_DELETE)) {
            forgetTree(child);
            if (root)
                root->present = false;
        }
        if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
            // Folders made inside it before its watch existed are found by walking it.
            if (root)
                watchRoot(*root, stop);
            else
                watchTree(child, false, stop);
        }
    }
    if (overflow) {
        // Events were lost, so the set of watched folders may be wrong: start over.
        reset(stop);
        changed = true;
    }
    return changed;
}

void InotifyTree::reset(const std::atomic<bool> &stop)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_watches.clear();
    m_watchByPath.clear();
    m_unwatched.clear();
    for (Root &root : m_roots)
        root.incomplete = false;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watchAll(stop);
}

bool InotifyTree::checkMounts(const std::atomic<bool> &stop)
{
    bool changed = false;
    for (Root &root : m_roots) {
        struct stat info;
        const bool present = ::stat(root.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (present == root.present && (!present || info.st_dev == root.device))
            continue;
        // A drive was mounted or unmounted at or above the root: the old watches see nothing.
        changed = true;
        forgetTree(root.path);
        addParentWatch(root);
        watchRoot(root, stop);
    }
    return changed;
}

bool InotifyTree::rescan(const std::atomic<bool> &stop)
{
    bool changed = false;
    bool exhausted = false;
    for (Root &root : m_roots) {
        if (!root.incomplete)
            continue;
        bool complete = addParentWatch(root);

        std::map<std::string, FolderState> stillUnwatched;
        std::vector<std::string> visited;
        bool wasUnwatched = false;
        AddResult result = AddResult::Added;
        walkFolders(
            root.path, true, stop,
            [&](const std::string &path) {
                wasUnwatched = !isWatched(path);
                result = wasUnwatched ? AddResult::Exhausted : AddResult::Added;
                if (wasUnwatched && !exhausted) {
                    result = addWatch(path, path == root.path);
                    exhausted = result == AddResult::Exhausted;
                }
            },
            [&](const std::string &path, const FolderState &state) {
                if (!wasUnwatched)
                    return;
                visited.push_back(path);
                const auto seen = m_unwatched.find(path);
                if (seen == m_unwatched.end() || !(seen->second == state))
                    changed = true;
                if (result != AddResult::Added) {
                    stillUnwatched.emplace(path, state);
                    complete = false;
                }
            });
        if (stop.load())
            return false;

        // What was last seen unwatched and is no longer there has gone away.
        std::sort(visited.begin(), visited.end());
        eraseWithin(m_unwatched, root.path, [&](const std::string &path) {
            if (!std::binary_search(visited.begin(), visited.end(), path))
                changed = true;
        });
        m_unwatched.merge(stillUnwatched);
        root.incomplete = !complete;
    }
    return changed;
}
