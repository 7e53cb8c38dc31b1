// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The walks of InotifyTree: the listing of new trees, and the re-scan of what no watch hears.
#include "InotifyTree.h"

#include <algorithm>
#include <ctime>
#include <iterator>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// A folder time this close to the clock may still be shared by a later change in the same tick.
constexpr std::int64_t kTrustedAgeNs = 2'000'000'000;

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
// Reads the visible entries of the open folder `fd`, which it closes: the digest of all of them
// and the names of the folders among them. getdents64 into one reused buffer spares the
// allocation and the extra system calls of opendir; lstat only where d_type is unknown.
bool listFolder(int fd, std::vector<char> &buffer, std::uint64_t &digest,
                std::vector<std::string> &folders)
{
    digest = 0;
    folders.clear();
    ssize_t length;
    while ((length = ::getdents64(fd, buffer.data(), buffer.size())) > 0) {
        for (ssize_t offset = 0; offset < length;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer.data() + offset);
            offset += entry->d_reclen;
            const char *name = entry->d_name;
            if (name[0] == '.')
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info;
                isFolder =
                    ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
            }
            digest += entryDigest(name, isFolder);
            if (isFolder)
                folders.emplace_back(name);
        }
    }
    ::close(fd);
    return length == 0;
}

// Whether `path` lies strictly below `folder`.
bool isBelow(std::string_view path, std::string_view folder)
{
    return path.size() > folder.size() && path.starts_with(folder) &&
           (folder == "/" || path[folder.size()] == '/');
}

std::int64_t wallClockNs()
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

} // namespace

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
        if (fd < 0) {
            // Gone already or unreadable: nothing below it can be listed either.
            forgetBelow(folder.node, true);
            continue;
        }
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
        if (!listFolder(fd, m_listBuffer, digest, names))
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

std::vector<std::string> InotifyTree::mountsInRoots() const
{
    std::vector<std::string> mounts;
    if (m_mountsFd < 0)
        return mounts;
    std::string table;
    char chunk[16 * 1024];
    for (off_t offset = 0;;) {
        const ssize_t length = ::pread(m_mountsFd, chunk, sizeof chunk, offset);
        if (length <= 0)
            break;
        table.append(chunk, static_cast<std::size_t>(length));
        offset += length;
    }
    std::vector<std::string> rootPaths;
    for (const RootInfo &root : m_roots)
        rootPaths.push_back(pathOf(root.node));
    for (std::size_t start = 0; start < table.size();) {
        const std::size_t end = std::min(table.find('\n', start), table.size());
        const std::string_view line(table.data() + start, end - start);
        start = end + 1;
        // The fifth field is the mount point, with octal escapes for blanks and backslashes.
        std::size_t field = 0;
        for (int i = 0; i < 4 && field != std::string_view::npos; ++i) {
            field = line.find(' ', field);
            field = field == std::string_view::npos ? field : field + 1;
        }
        if (field == std::string_view::npos)
            continue;
        const std::string_view escaped = line.substr(field, line.find(' ', field) - field);
        std::string point;
        for (std::size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == '\\' && i + 3 < escaped.size()) {
                point += static_cast<char>((escaped[i + 1] - '0') * 64 +
                                           (escaped[i + 2] - '0') * 8 + (escaped[i + 3] - '0'));
                i += 3;
            } else {
                point += escaped[i];
            }
        }
        if (std::any_of(rootPaths.begin(), rootPaths.end(),
                        [&point](const std::string &root) { return isBelow(point, root); }))
            mounts.push_back(std::move(point));
    }
    std::sort(mounts.begin(), mounts.end());
    return mounts;
}

void InotifyTree::checkMounts(const std::atomic<bool> &stop)
{
    // A drive mounted or unmounted inside a root swaps what a folder holds without an event.
    std::vector<std::string> mounts = mountsInRoots();
    std::vector<std::string> changed;
    std::set_symmetric_difference(mounts.begin(), mounts.end(), m_mounts.begin(), m_mounts.end(),
                                  std::back_inserter(changed));
    m_mounts = std::move(mounts);
    for (RootInfo &root : m_roots) {
        struct stat info;
        const std::string path = pathOf(root.node);
        const bool present = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        const bool inside = std::any_of(changed.begin(), changed.end(), [&path](const auto &point) {
            return isBelow(point, path);
        });
        if (!inside && present == root.present && (!present || info.st_dev == root.device))
            continue;
        // A drive was mounted or unmounted at, above or inside the root: the old watches miss it.
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
        // Watched before it is looked at, so that nothing made in between goes unheard.
        if (!(flags & Watched) && !exhausted)
            exhausted = addWatch(folder.node, folder.path, Watched, follow) == AddResult::Exhausted;
        const int statted =
            follow ? ::stat(folder.path.c_str(), &info) : ::lstat(folder.path.c_str(), &info);
        if (statted != 0 || !S_ISDIR(info.st_mode)) {
            // Gone, and no watch said so.
            lose();
            forgetBelow(folder.node, folder.node != root.node);
            continue;
        }
        complete = complete && (m_nodes[folder.node].flags & Watched);
        const FolderState seen = m_nodes[folder.node].state;
        const std::int64_t mtime = nanoseconds(info.st_mtim);
        if (!(flags & (Seen | Recheck)) && seen.mtime == mtime) {
            pushChildren(folder, pending);
            continue;
        }
        const int fd = openFolder(folder.path, follow);
        if (fd < 0) {
            lose();
            forgetBelow(folder.node, folder.node != root.node);
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
    if (!listFolder(fd, m_listBuffer, digest, names))
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
