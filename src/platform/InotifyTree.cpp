// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "InotifyTree.h"

#include "FilePaths.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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
constexpr std::size_t kListBufferSize = 32 * 1024;

bool isHidden(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

} // namespace

std::string InotifyTree::joinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

InotifyTree::InotifyTree(std::vector<std::string> roots, Options options)
    : m_rootPaths(std::move(roots)), m_options(options), m_buffer(kReadBufferSize),
      m_listBuffer(kListBufferSize)
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
            changes.folders.append(FilePaths::decoded(QByteArray::fromStdString(path)));
        for (const std::string &path : m_changes.trees)
            changes.trees.append(FilePaths::decoded(QByteArray::fromStdString(path)));
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
    m_mounts = mountsInRoots();
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
    if (!(mask & IN_ISDIR))
        return;
    std::uint32_t c = child(node, name);
    // A folder that could not be read before may have become readable.
    const bool readable = (mask & IN_ATTRIB) && c == kNone;
    if (!(mask & kEntryEvents) && !readable)
        return;
    std::string childPath = joinPath(path, name);
    addTree(childPath);
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
