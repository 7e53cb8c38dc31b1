// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileSystemChanges.h"

#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

// Recursive change notification over a list of folders, on inotify. The handler is called on the
// watcher's own reader thread (labelled "org.wavelark.Wavelark.fsevents"), once per batch with the
// batch's changes: the first change after a quiet period at once, later ones at most once a
// second. Every non-hidden folder below a root is watched, and each root's parent too, so that
// renaming, moving or deleting a root is reported. Where the kernel's watch limit runs out, what
// could not be watched is re-scanned every 30 seconds instead; so is every root on a network file
// system (NFS, SMB, FUSE), whose other clients inotify does not hear. What a re-scan finds comes
// as incomplete changes.
//
// All members may be called from any thread, but not from inside the handler.
class FileSystemWatcher final
{
public:
    explicit FileSystemWatcher(std::function<void(const FileSystemChanges &)> handler);
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
    // Folders kept track of, watched or not: those below the roots and those above them.
    int folderCount() const;

    // All take effect at the next start(): a watch limit below the kernel's, the interval of the
    // re-scan, and every root taken for one on a network file system.
    void setWatchLimitForTesting(int limit);
    void setRescanIntervalForTesting(std::chrono::milliseconds interval);
    void setTreatRootsAsNetworkForTesting(bool network);

private:
    class Private;
    std::unique_ptr<Private> d;
};
