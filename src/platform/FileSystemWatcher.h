#pragma once

#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

// Recursive change notification over a list of folders, on inotify. The handler is called on the
// watcher's own reader thread (labelled "org.wavelark.Wavelark.fsevents"), once per batch: the
// first change after a quiet period at once, later ones at most once a second. Every non-hidden
// folder below a root is watched, and each root's parent too, so that renaming, moving or deleting
// a root is reported. Where the kernel's watch limit runs out, what could not be watched is
// re-scanned every 30 seconds instead.
//
// All members may be called from any thread, but not from inside the handler.
class FileSystemWatcher final
{
public:
    explicit FileSystemWatcher(std::function<void()> handler);
    ~FileSystemWatcher(); // stops watching; no handler call starts after it returns
    FileSystemWatcher(const FileSystemWatcher &) = delete;
    FileSystemWatcher &operator=(const FileSystemWatcher &) = delete;

    // Replaces whatever was watched; an empty list stops watching. Returns at once: the watches
    // are set up on the reader thread.
    void start(const QStringList &paths);
    bool isRunning() const;
    // True once the watches of the last start() are in place.
    bool isReady() const;
    // Inotify watches in use, the roots' parents included.
    int watchCount() const;

    // Both take effect at the next start(): a watch limit below the kernel's, and the interval of
    // the re-scan of folders left unwatched by that limit.
    void setWatchLimitForTesting(int limit);
    void setRescanIntervalForTesting(std::chrono::milliseconds interval);

private:
    class Private;
    std::unique_ptr<Private> d;
};
