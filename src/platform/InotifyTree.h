#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

// The inotify side of FileSystemWatcher: a watch on every non-hidden folder below each root, one
// on each root's parent and one on every folder above it, kept in step as folders appear, move and
// vanish. Folders left unwatched by the watch limit are compared at each rescan() with what they
// held when last seen. Not thread-safe: the watcher's reader thread alone uses it.
class InotifyTree final
{
public:
    // `roots` are clean absolute paths in the local encoding; `watchLimit` caps the watches held.
    InotifyTree(std::vector<std::string> roots, int watchLimit);
    ~InotifyTree();
    Q_DISABLE_COPY_MOVE(InotifyTree)

    // -1 without inotify, in which case every root is left to rescan().
    int fd() const { return m_fd; }
    // Readable with POLLPRI when the mount table changes; -1 when unavailable.
    int mountsFd() const { return m_mountsFd; }
    int watchCount() const { return static_cast<int>(m_watches.size()); }
    bool needsRescan() const;

    // The first walk; it stops early when `stop` is raised.
    void watchAll(const std::atomic<bool> &stop);

    // Each returns true when something below a root, or a root itself, changed.
    bool readEvents(const std::atomic<bool> &stop);
    bool rescan(const std::atomic<bool> &stop);
    bool checkMounts(const std::atomic<bool> &stop);

    struct FolderState
    {
        std::int64_t mtime = 0;
        std::uint64_t entries = 0; // order-free digest of the visible entry names
        bool operator==(const FolderState &) const = default;
    };

private:
    struct Watch
    {
        std::string path;
        bool full = false;                  // every visible name counts, not only rootNames
        std::vector<std::string> rootNames; // roots this folder is the parent of
        bool ancestor = false;              // above a root: only its own move or deletion counts
    };
    struct Root
    {
        std::string path;
        std::string parent; // empty for "/"
        std::string name;
        bool incomplete = false;
        bool present = false;
        dev_t device = 0;
    };
    enum class AddResult
    {
        Added,
        Failed,
        Exhausted
    };

    AddResult addWatch(const std::string &path, bool followLink);
    bool isWatched(const std::string &path) const;
    bool addParentWatch(Root &root);
    bool hasParentWatch(const Root &root) const;
    void watchAncestors(const std::string &folder);
    void watchRoot(Root &root, const std::atomic<bool> &stop);
    void watchTree(const std::string &top, bool followTop, const std::atomic<bool> &stop);
    void forgetTree(const std::string &top);
    void dropWatch(int wd);
    void reset(const std::atomic<bool> &stop);
    Root *rootAt(std::string_view path);
    Root *rootContaining(std::string_view path);

    std::vector<Root> m_roots;
    int m_watchLimit;
    int m_fd = -1;
    int m_mountsFd = -1;
    std::unordered_map<int, Watch> m_watches;
    std::map<std::string, int> m_watchByPath;
    std::map<std::string, FolderState> m_unwatched;
    std::vector<char> m_buffer;
};
