#include "InotifyTree.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                      IN_EXCL_UNLINK;
constexpr std::uint32_t kParentMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
// Every folder above a root, up to "/": a root moves with any of them, and only the moved folder
// itself hears of it.
constexpr std::uint32_t kAncestorMask = IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::size_t kReadBufferSize = 64 * 1024;
// A folder time this close to the clock may still be shared by a later change in the same tick.
constexpr std::int64_t kTrustedAgeNs = 2'000'000'000;

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

std::int64_t nanoseconds(const timespec &time)
{
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool isNetworkFileSystem(const std::string &path)
{
    struct statfs info;
    if (::statfs(path.c_str(), &info) != 0)
        return false;
    switch (static_cast<std::uint32_t>(info.f_type)) {
    case 0x6969u:     // NFS
    case 0x517Bu:     // SMB
    case 0xFF534D42u: // CIFS
    case 0xFE534D42u: // SMB2
    case 0x65735546u: // FUSE: sshfs and the like
        return true;
    default:
        return false;
    }
}

int openFolder(const std::string &path, bool follow)
{
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
}

// Reads the visible entries of the open folder `fd`, which it closes: the digest of all of them
// and the names of the folders among them. Uses d_type; lstat only where it is unknown.
bool listFolder(int fd, std::uint64_t &digest, std::vector<std::string> &folders)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    digest = 0;
    folders.clear();
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.')
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = ::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(info.st_mode);
        }
        digest += entryDigest(name, isFolder);
        if (isFolder)
            folders.emplace_back(name);
    }
    ::closedir(dir);
    return true;
}

std::int64_t wallClockNs()
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

} // namespace

InotifyTree::InotifyTree(std::vector<std::string> roots, Options options)
    : m_rootPaths(std::move(roots)), m_options(options), m_buffer(kReadBufferSize)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_mountsFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    makeRoots();
}

InotifyTree::~InotifyTree()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_mountsFd >= 0)
        ::close(m_mountsFd);
}

void InotifyTree::makeRoots()
{
    m_nodes.clear();
    m_freeNodes.clear();
    m_nodeByWd.clear();
    m_watchCount = 0;
    m_roots.clear();
    m_nodes.emplace_back(); // "/"
    for (const std::string &path : m_rootPaths) {
        const std::uint32_t node = nodeAt(path);
        if (m_nodes[node].flags & Root)
            continue;
        m_nodes[node].flags |= Root;
        m_roots.push_back(RootInfo{node});
    }
}

FileSystemChanges InotifyTree::takeChanges()
{
    FileSystemChanges changes;
    changes.complete = m_changes.complete;
    if (changes.complete) {
        for (const std::string &path : m_changes.folders)
            changes.folders.append(QFile::decodeName(QByteArray::fromStdString(path)));
        for (const std::string &path : m_changes.trees)
            changes.trees.append(QFile::decodeName(QByteArray::fromStdString(path)));
    }
    changes.normalise();
    m_changes = LocalChanges();
    return changes;
}

void InotifyTree::note(std::vector<std::string> &paths, const std::string &path)
{
    // A burst in one folder names it once; the rest is left to FileSystemChanges.
    if (m_changes.complete && (paths.empty() || paths.back() != path))
        paths.push_back(path);
}

void InotifyTree::lose()
{
    m_changes = LocalChanges();
    m_changes.complete = false;
}

bool InotifyTree::needsRescan() const
{
    return std::any_of(m_roots.begin(), m_roots.end(),
                       [](const RootInfo &root) { return root.incomplete || root.network; });
}

void InotifyTree::watchAll(const std::atomic<bool> &stop)
{
    for (RootInfo &root : m_roots) {
        watchAbove(root);
        watchRoot(root, stop);
    }
    // The walk grows the nodes by doubling; most of a large library is never touched again.
    m_nodes.shrink_to_fit();
}

std::uint32_t InotifyTree::newNode(std::uint32_t parent, std::string_view name)
{
    std::uint32_t index;
    if (!m_freeNodes.empty()) {
        index = m_freeNodes.back();
        m_freeNodes.pop_back();
        m_nodes[index] = Node();
    } else {
        index = static_cast<std::uint32_t>(m_nodes.size());
        m_nodes.emplace_back();
    }
    Node &node = m_nodes[index];
    node.name = name;
    node.parent = parent;
    node.nextSibling = m_nodes[parent].firstChild;
    if (node.nextSibling != kNone)
        m_nodes[node.nextSibling].previousSibling = index;
    m_nodes[parent].firstChild = index;
    return index;
}

std::uint32_t InotifyTree::child(std::uint32_t parent, std::string_view name) const
{
    for (std::uint32_t c = m_nodes[parent].firstChild; c != kNone; c = m_nodes[c].nextSibling) {
        if (m_nodes[c].name == name)
            return c;
    }
    return kNone;
}

std::uint32_t InotifyTree::nodeAt(std::string_view path)
{
    std::uint32_t node = 0;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (name.empty())
            continue;
        const std::uint32_t existing = child(node, name);
        node = existing != kNone ? existing : newNode(node, name);
    }
    return node;
}

std::uint32_t InotifyTree::findNode(std::string_view path) const
{
    std::uint32_t node = 0;
    while (!path.empty() && node != kNone) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (!name.empty())
            node = child(node, name);
    }
    return node;
}

std::string InotifyTree::pathOf(std::uint32_t node) const
{
    if (node == 0)
        return std::string("/");
    std::vector<std::uint32_t> chain;
    std::size_t length = 0;
    for (std::uint32_t n = node; n != 0; n = m_nodes[n].parent) {
        chain.push_back(n);
        length += m_nodes[n].name.size() + 1;
    }
    std::string path;
    path.reserve(length);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path += '/';
        path += m_nodes[*it].name;
    }
    return path;
}

void InotifyTree::freeNode(std::uint32_t index)
{
    if (m_nodes[index].wd >= 0)
        dropWatch(index);
    Node &node = m_nodes[index];
    if (node.previousSibling != kNone)
        m_nodes[node.previousSibling].nextSibling = node.nextSibling;
    else if (node.parent != kNone)
        m_nodes[node.parent].firstChild = node.nextSibling;
    if (node.nextSibling != kNone)
        m_nodes[node.nextSibling].previousSibling = node.previousSibling;
    node = Node();
    m_freeNodes.push_back(index);
}

void InotifyTree::forgetBelow(std::uint32_t top, bool andItself)
{
    std::vector<std::uint32_t> order; // parents before their children
    for (std::uint32_t c = m_nodes[top].firstChild; c != kNone; c = m_nodes[c].nextSibling)
        order.push_back(c);
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (std::uint32_t c = m_nodes[order[i]].firstChild; c != kNone; c = m_nodes[c].nextSibling)
            order.push_back(c);
    }
    if (andItself)
        order.insert(order.begin(), top);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        Node &node = m_nodes[*it];
        // What roots need stays: the roots themselves and the folders above them.
        if (isKept(node) || node.firstChild != kNone) {
            node.flags &= ~(InRoot | Remote | Seen | Recheck);
            if (node.flags & Watched) {
                node.flags &= ~Watched;
                if (!(node.flags & (RootParent | AncestorWatch)))
                    dropWatch(*it);
            }
            node.state = FolderState();
        } else {
            freeNode(*it);
        }
    }
}

InotifyTree::RootInfo *InotifyTree::rootOf(std::uint32_t node)
{
    for (std::uint32_t n = node; n != kNone; n = m_nodes[n].parent) {
        if (!(m_nodes[n].flags & Root))
            continue;
        for (RootInfo &root : m_roots) {
            if (root.node == n)
                return &root;
        }
    }
    return nullptr;
}

InotifyTree::AddResult InotifyTree::addWatch(std::uint32_t index, const std::string &path,
                                             Flag role, bool follow)
{
    if (m_fd < 0 || (m_nodes[index].wd < 0 && m_watchCount >= m_options.watchLimit))
        return AddResult::Exhausted;
    const std::uint32_t mask = role == Watched      ? kFolderMask
                               : role == RootParent ? kParentMask
                                                    : kAncestorMask;
    // IN_MASK_ADD: one folder may be watched in several roles (a root inside another root).
    const int wd = ::inotify_add_watch(
        m_fd, path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD | (follow ? 0 : IN_DONT_FOLLOW));
    if (wd < 0)
        return errno == ENOSPC || errno == ENOMEM ? AddResult::Exhausted : AddResult::Failed;
    if (m_nodes[index].wd != wd) {
        if (m_nodes[index].wd >= 0) {
            // The folder at this path was replaced before we heard: its old watch is elsewhere.
            const std::uint16_t roles =
                m_nodes[index].flags & (Watched | RootParent | AncestorWatch);
            dropWatch(index);
            m_nodes[index].flags |= roles;
        }
        if (static_cast<std::size_t>(wd) >= m_nodeByWd.size())
            m_nodeByWd.resize(static_cast<std::size_t>(wd) + 1, kNone);
        const std::uint32_t other = m_nodeByWd[static_cast<std::size_t>(wd)];
        if (other != kNone) {
            // The same folder known under an older path: it was moved before we heard of it.
            m_nodes[other].wd = -1;
            m_nodes[other].flags &= ~(Watched | RootParent | AncestorWatch);
            if (RootInfo *root = rootOf(other))
                root->incomplete = true;
        } else {
            ++m_watchCount;
        }
        m_nodeByWd[static_cast<std::size_t>(wd)] = index;
        m_nodes[index].wd = wd;
    }
    m_nodes[index].flags |= role;
    return AddResult::Added;
}

void InotifyTree::dropWatch(std::uint32_t index)
{
    Node &node = m_nodes[index];
    if (node.wd >= 0) {
        ::inotify_rm_watch(m_fd, node.wd);
        m_nodeByWd[static_cast<std::size_t>(node.wd)] = kNone;
        node.wd = -1;
        --m_watchCount;
    }
    node.flags &= ~(Watched | RootParent | AncestorWatch);
}

void InotifyTree::watchGone(std::uint32_t index)
{
    Node &node = m_nodes[index];
    m_nodeByWd[static_cast<std::size_t>(node.wd)] = kNone;
    node.wd = -1;
    --m_watchCount;
    const bool above = node.flags & (RootParent | AncestorWatch | Root);
    node.flags &= ~(Watched | RootParent | AncestorWatch);
    if (!above)
        return;
    // Without it a root that is deleted and made again would go unnoticed: rescan instead.
    for (RootInfo &root : m_roots) {
        for (std::uint32_t n = root.node; n != kNone; n = m_nodes[n].parent) {
            if (n == index)
                root.incomplete = true;
        }
    }
}

bool InotifyTree::watchAbove(RootInfo &root)
{
    const std::uint32_t parent = m_nodes[root.node].parent;
    if (parent == kNone)
        return true;
    if (!(m_nodes[parent].flags & RootParent) &&
        addWatch(parent, pathOf(parent), RootParent, true) != AddResult::Added) {
        root.incomplete = true;
        return false;
    }
    for (std::uint32_t n = parent; n != kNone; n = m_nodes[n].parent) {
        if (!(m_nodes[n].flags & AncestorWatch) &&
            addWatch(n, pathOf(n), AncestorWatch, true) != AddResult::Added)
            break;
    }
    return true;
}

void InotifyTree::watchRoot(RootInfo &root, const std::atomic<bool> &stop)
{
    const std::string path = pathOf(root.node);
    struct stat info;
    root.present = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    root.device = root.present ? info.st_dev : 0;
    root.network = m_options.treatRootsAsNetwork || (root.present && isNetworkFileSystem(path));
    if (!root.present) {
        forgetBelow(root.node, true);
        return;
    }
    m_nodes[root.node].flags |= root.network ? Remote : 0;
    if (!walk(root.node, path, true, stop))
        root.incomplete = true;
}

void InotifyTree::setState(std::uint32_t index, std::int64_t mtime, std::uint64_t entries)
{
    Node &node = m_nodes[index];
    node.state = FolderState{mtime, entries};
    if (wallClockNs() - mtime < kTrustedAgeNs)
        node.flags |= Recheck;
    else
        node.flags &= ~Recheck;
}

bool InotifyTree::walk(std::uint32_t top, std::string topPath, bool followTop,
                       const std::atomic<bool> &stop)
{
    forgetBelow(top, false);
    const std::uint16_t inherited = InRoot | (m_nodes[top].flags & Remote);
    bool complete = true;
    std::vector<Pending> pending;
    pending.push_back(Pending{top, std::move(topPath)});
    std::vector<std::string> names;
    while (!pending.empty() && !stop.load(std::memory_order_relaxed)) {
        const Pending folder = std::move(pending.back());
        pending.pop_back();
        const bool follow = followTop && folder.node == top;
        const int fd = openFolder(folder.path, follow);
        if (fd < 0)
            continue;
        m_nodes[folder.node].flags |= inherited;
        // Watched before it is listed, so that nothing made in between goes unheard.
        const bool watched =
            addWatch(folder.node, folder.path, Watched, follow) == AddResult::Added;
        complete = complete && watched;
        const bool needState = !watched || (inherited & Remote);
        struct stat info;
        if (needState && ::fstat(fd, &info) != 0) {
            ::close(fd);
            continue;
        }
        // Only roots inside the tree are already known here.
        const bool hasChildren = m_nodes[folder.node].firstChild != kNone;
        std::uint64_t digest = 0;
        if (!listFolder(fd, digest, names))
            continue;
        if (needState)
            setState(folder.node, nanoseconds(info.st_mtim), digest);
        for (const std::string &name : names) {
            std::uint32_t c = hasChildren ? child(folder.node, name) : kNone;
            if (c == kNone)
                c = newNode(folder.node, name);
            m_nodes[c].flags |= inherited;
            pending.push_back(Pending{c, joinPath(folder.path, name)});
        }
    }
    return complete;
}

void InotifyTree::readEvents(const std::atomic<bool> &stop)
{
    bool overflow = false;
    ssize_t length;
    while (!overflow && (length = ::read(m_fd, m_buffer.data(), m_buffer.size())) > 0) {
        for (const char *next = m_buffer.data(); next < m_buffer.data() + length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(next);
            next += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            if (event->wd < 0 || static_cast<std::size_t>(event->wd) >= m_nodeByWd.size())
                continue;
            const std::uint32_t node = m_nodeByWd[static_cast<std::size_t>(event->wd)];
            if (node == kNone)
                continue;
            if (event->mask & IN_IGNORED)
                watchGone(node);
            else
                handleEvent(node, event->mask, event->len > 0 ? event->name : "", stop);
        }
    }
    if (overflow) {
        // Events were lost, so the set of watched folders may be wrong: start over.
        reset(stop);
        lose();
    }
}

void InotifyTree::handleEvent(std::uint32_t node, std::uint32_t mask, std::string_view name,
                              const std::atomic<bool> &stop)
{
    const std::uint16_t flags = m_nodes[node].flags;
    const bool inTree = (flags & Watched) && (flags & InRoot);
    if (name.empty()) {
        // The watched folder itself: moved, deleted, unmounted or given new attributes.
        const bool gone = mask & (IN_MOVE_SELF | IN_DELETE_SELF);
        if ((mask & IN_UNMOUNT) || (gone && (flags & (AncestorWatch | Root))))
            lose();
        else if (inTree && gone)
            addTree(pathOf(node));
        else if (inTree && (flags & Root) && (mask & IN_ATTRIB))
            addFolder(pathOf(node));
        return;
    }
    if (flags & RootParent) {
        const std::uint32_t c = child(node, name);
        if (c != kNone && (m_nodes[c].flags & Root)) {
            if (mask & kEntryEvents)
                rootChanged(*rootOf(c), mask & (IN_CREATE | IN_MOVED_TO), stop);
            return;
        }
    }
    if (!inTree || isHidden(name))
        return;
    m_nodes[node].flags |= Seen;
    const std::string path = pathOf(node);
    addFolder(path);
    if (!(mask & IN_ISDIR) || !(mask & kEntryEvents))
        return;
    std::string childPath = joinPath(path, name);
    addTree(childPath);
    std::uint32_t c = child(node, name);
    if (mask & (IN_DELETE | IN_MOVED_FROM)) {
        if (c != kNone)
            forgetBelow(c, true);
        return;
    }
    // Folders made inside it before its watch existed are found by walking it.
    if (c == kNone)
        c = newNode(node, name);
    m_nodes[c].flags |= InRoot | (flags & Remote);
    if (!walk(c, std::move(childPath), false, stop)) {
        lose();
        if (RootInfo *root = rootOf(c))
            root->incomplete = true;
    }
}

void InotifyTree::rootChanged(RootInfo &root, bool appeared, const std::atomic<bool> &stop)
{
    lose();
    if (appeared) {
        watchRoot(root, stop);
    } else {
        root.present = false;
        forgetBelow(root.node, true);
    }
}

void InotifyTree::reset(const std::atomic<bool> &stop)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    makeRoots();
    watchAll(stop);
}

void InotifyTree::checkMounts(const std::atomic<bool> &stop)
{
    for (RootInfo &root : m_roots) {
        struct stat info;
        const std::string path = pathOf(root.node);
        const bool present = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (present == root.present && (!present || info.st_dev == root.device))
            continue;
        // A drive was mounted or unmounted at or above the root: the old watches see nothing.
        lose();
        forgetBelow(root.node, true);
        root.incomplete = false;
        watchAbove(root);
        watchRoot(root, stop);
    }
}

void InotifyTree::rescan(const std::atomic<bool> &stop)
{
    // What the watches heard is not the re-scan's to report.
    readEvents(stop);
    // By index: the events read by a rescan may start everything over.
    for (std::size_t i = 0; i < m_roots.size() && !stop.load(); ++i) {
        if (m_roots[i].incomplete || m_roots[i].network)
            rescanRoot(m_roots[i], stop);
    }
}

void InotifyTree::rescanRoot(RootInfo &root, const std::atomic<bool> &stop)
{
    bool complete = watchAbove(root);
    const std::string rootPath = pathOf(root.node);
    struct stat info;
    const bool present = ::stat(rootPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (present != root.present || (present && info.st_dev != root.device)) {
        lose();
        forgetBelow(root.node, true);
        root.incomplete = !complete;
        watchRoot(root, stop);
        return;
    }
    bool exhausted = false;
    std::vector<std::string> suspects;
    std::vector<Pending> pending{Pending{root.node, rootPath}};
    while (present && !pending.empty() && !stop.load(std::memory_order_relaxed)) {
        const Pending folder = std::move(pending.back());
        pending.pop_back();
        const std::uint16_t flags = m_nodes[folder.node].flags;
        const bool follow = folder.node == root.node;
        if (!root.network && (flags & Watched)) {
            pushChildren(folder, pending);
            continue;
        }
        const int fd = openFolder(folder.path, follow);
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            // Gone, and no watch said so.
            if (fd >= 0)
                ::close(fd);
            lose();
            forgetBelow(folder.node, folder.node != root.node);
            continue;
        }
        if (!(flags & Watched) && !exhausted)
            exhausted = addWatch(folder.node, folder.path, Watched, follow) != AddResult::Added;
        complete = complete && (m_nodes[folder.node].flags & Watched);
        const FolderState seen = m_nodes[folder.node].state;
        const std::int64_t mtime = nanoseconds(info.st_mtim);
        if (!(flags & (Seen | Recheck)) && seen.mtime == mtime) {
            ::close(fd);
            pushChildren(folder, pending);
            continue;
        }
        m_nodes[folder.node].flags &= ~Seen;
        // A folder that events already reported, or that was never seen, has nothing to add.
        const bool report = !(flags & Seen) && seen.mtime != -1;
        if (relist(folder, fd, mtime, pending) && report)
            suspects.push_back(folder.path);
    }
    root.incomplete = !complete;
    if (suspects.empty())
        return;
    // A change made here is heard by its watch too, maybe only after the folder was listed.
    readEvents(stop);
    for (const std::string &path : suspects) {
        const std::uint32_t node = findNode(path);
        if (node == kNone || !(m_nodes[node].flags & Seen))
            lose();
    }
}

void InotifyTree::pushChildren(const Pending &folder, std::vector<Pending> &pending) const
{
    for (std::uint32_t c = m_nodes[folder.node].firstChild; c != kNone;
         c = m_nodes[c].nextSibling) {
        if (m_nodes[c].flags & InRoot)
            pending.push_back(Pending{c, joinPath(folder.path, m_nodes[c].name)});
    }
}

bool InotifyTree::relist(const Pending &folder, int fd, std::int64_t mtime,
                         std::vector<Pending> &pending)
{
    std::uint64_t digest = 0;
    std::vector<std::string> names;
    if (!listFolder(fd, digest, names))
        return false;
    bool changed = digest != m_nodes[folder.node].state.entries;
    setState(folder.node, mtime, digest);

    // Copies: new nodes may move the names of the others.
    std::vector<std::pair<std::string, std::uint32_t>> known;
    for (std::uint32_t c = m_nodes[folder.node].firstChild; c != kNone; c = m_nodes[c].nextSibling)
        known.emplace_back(m_nodes[c].name, c);
    std::sort(known.begin(), known.end());
    std::sort(names.begin(), names.end());
    std::vector<std::uint32_t> gone;
    auto it = known.begin();
    const std::uint16_t inherited = InRoot | (m_nodes[folder.node].flags & Remote);
    for (const std::string &name : names) {
        for (; it != known.end() && it->first < name; ++it)
            gone.push_back(it->second);
        std::uint32_t c = kNone;
        if (it != known.end() && it->first == name)
            c = (it++)->second;
        if (c == kNone) {
            changed = true;
            c = newNode(folder.node, name);
        }
        m_nodes[c].flags |= inherited;
        pending.push_back(Pending{c, joinPath(folder.path, name)});
    }
    for (; it != known.end(); ++it)
        gone.push_back(it->second);
    for (const std::uint32_t c : gone) {
        changed = true;
        forgetBelow(c, true);
    }
    return changed;
}
