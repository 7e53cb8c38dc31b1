// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileSystemChanges.h"

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

// The inotify side of FileSystemWatcher: a watch on every non-hidden folder below each root, one
// on each root's parent and one on every folder above it, kept in step as folders appear, move and
// vanish, and the changes they report gathered by folder. Folders are kept as one tree of nodes
// named by their last path component, so a watched folder costs a node and not a path.
//
// Folders left unwatched by the watch limit, and all folders of roots on network file systems
// (where inotify does not hear other machines), are compared at each rescan() with what they held
// when last seen: their modification time first, their entry names only where it moved.
// Not thread-safe: the watcher's reader thread alone uses it.
class InotifyTree final
{
public:
    struct Options
    {
        int watchLimit = 1 << 30;
        bool treatRootsAsNetwork = false;
    };

    // `roots` are clean absolute paths in the local encoding.
    InotifyTree(std::vector<std::string> roots, Options options);
    ~InotifyTree();
    Q_DISABLE_COPY_MOVE(InotifyTree)

    // -1 without inotify, in which case every root is left to rescan().
    int fd() const { return m_fd; }
    // Readable with POLLPRI when the mount table changes; -1 when unavailable.
    int mountsFd() const { return m_mountsFd; }
    int watchCount() const { return m_watchCount; }
    std::size_t folderCount() const { return m_nodes.size() - m_freeNodes.size(); }
    bool needsRescan() const;

    // The first walk; it stops early when `stop` is raised.
    void watchAll(const std::atomic<bool> &stop);

    // Each gathers what it found into the pending changes.
    void readEvents(const std::atomic<bool> &stop);
    void rescan(const std::atomic<bool> &stop);
    void checkMounts(const std::atomic<bool> &stop);

    bool hasChanges() const
    {
        return !m_changes.complete || !m_changes.folders.empty() || !m_changes.trees.empty();
    }
    // The changes gathered since the last call, and forgets them.
    FileSystemChanges takeChanges();

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // A folder as last seen, for the comparison of folders no watch reports on.
    struct FolderState
    {
        std::int64_t mtime = -1;   // ns; -1 when never seen
        std::uint64_t entries = 0; // order-free digest of the visible entry names
    };

    enum Flag : std::uint16_t
    {
        InRoot = 1 << 0,        // a folder below (or at) a root, listed by the walks
        Watched = 1 << 1,       // holds the full folder watch
        Root = 1 << 2,          // a root
        RootParent = 1 << 3,    // holds the watch that sees its root children come and go
        AncestorWatch = 1 << 4, // holds the watch that sees it move or vanish with the roots below
        Remote = 1 << 5,        // below a root on a network file system
        Seen = 1 << 6,          // an event reported it since the last rescan
        Recheck = 1 << 7,       // changed too recently for its time to be trusted: list it again
    };

    struct Node
    {
        std::string name; // empty for "/"
        std::uint32_t parent = kNone;
        std::uint32_t firstChild = kNone;
        std::uint32_t nextSibling = kNone;
        std::uint32_t previousSibling = kNone;
        int wd = -1;
        std::uint16_t flags = 0;
        FolderState state;
    };

    struct RootInfo
    {
        std::uint32_t node = kNone;
        bool present = false;
        bool incomplete = false;
        bool network = false;
        dev_t device = 0;
    };

    // A folder still to be listed by a walk.
    struct Pending
    {
        std::uint32_t node;
        std::string path;
    };

    enum class AddResult
    {
        Added,
        Failed,
        Exhausted
    };

    static std::string joinPath(std::string_view folder, std::string_view name);
    void makeRoots();
    std::uint32_t newNode(std::uint32_t parent, std::string_view name);
    std::uint32_t child(std::uint32_t parent, std::string_view name) const;
    std::uint32_t nodeAt(std::string_view path);
    std::uint32_t findNode(std::string_view path) const;
    std::string pathOf(std::uint32_t node) const;
    void freeNode(std::uint32_t node);
    // Drops the folders below `top` (and `top` itself if asked), keeping what roots need.
    void forgetBelow(std::uint32_t top, bool andItself);
    bool isKept(const Node &node) const { return node.flags & (Root | RootParent | AncestorWatch); }
    RootInfo *rootOf(std::uint32_t node);

    AddResult addWatch(std::uint32_t node, const std::string &path, Flag role, bool follow);
    void dropWatch(std::uint32_t node);
    void watchGone(std::uint32_t node);
    bool watchAbove(RootInfo &root);
    void watchRoot(RootInfo &root, const std::atomic<bool> &stop);
    void setState(std::uint32_t node, std::int64_t mtime, std::uint64_t entries);
    // Lists `top` and every folder below it afresh; false when one of them got no watch.
    bool walk(std::uint32_t top, std::string topPath, bool followTop,
              const std::atomic<bool> &stop);
    void rescanRoot(RootInfo &root, const std::atomic<bool> &stop);
    void pushChildren(const Pending &folder, std::vector<Pending> &pending) const;
    // Lists the open folder again and brings its child nodes in step; true when it changed.
    bool relist(const Pending &folder, int fd, std::int64_t mtime, std::vector<Pending> &pending);
    void handleEvent(std::uint32_t node, std::uint32_t mask, std::string_view name,
                     const std::atomic<bool> &stop);
    void rootChanged(RootInfo &root, bool appeared, const std::atomic<bool> &stop);
    void reset(const std::atomic<bool> &stop);
    // Mount points strictly inside a root, sorted.
    std::vector<std::string> mountsInRoots() const;
    void addFolder(const std::string &path) { note(m_changes.folders, path); }
    void addTree(const std::string &path) { note(m_changes.trees, path); }
    void note(std::vector<std::string> &paths, const std::string &path);
    void lose();

    struct LocalChanges
    {
        bool complete = true;
        std::vector<std::string> folders;
        std::vector<std::string> trees;
    };

    std::vector<std::string> m_rootPaths;
    std::vector<RootInfo> m_roots;
    Options m_options;
    int m_fd = -1;
    int m_mountsFd = -1;
    int m_watchCount = 0;
    std::vector<Node> m_nodes;
    std::vector<std::uint32_t> m_freeNodes;
    std::vector<std::uint32_t> m_nodeByWd;
    std::vector<std::string> m_mounts;
    LocalChanges m_changes;
    std::vector<char> m_buffer;
    std::vector<char> m_listBuffer;
};
