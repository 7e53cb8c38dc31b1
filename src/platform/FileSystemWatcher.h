#pragma once

#include <QStringList>

#include <functional>
#include <memory>

// Recursive change notification over a list of folders, on inotify. The handler is called on the
// watcher's own reader thread (labelled "org.wavelark.Wavelark.fsevents"), once per batch: the
// first change after a quiet period at once, later ones at most once a second.
class FileSystemWatcher final
{
public:
    explicit FileSystemWatcher(std::function<void()> handler);
    ~FileSystemWatcher(); // stops watching; no handler call starts after it returns
    FileSystemWatcher(const FileSystemWatcher &) = delete;
    FileSystemWatcher &operator=(const FileSystemWatcher &) = delete;

    // Replaces whatever was watched; an empty list stops watching.
    void start(const QStringList &paths);
    bool isRunning() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};
