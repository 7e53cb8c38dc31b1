// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DiskJobs.h"
#include "FileNode.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class LibraryFiles;

// Reads folders for the tree on background threads and hands each listing to the nodes that
// asked for it. While a folder is on its way the tree shows a quiet "Loading…" row in it, and
// "Not responding" once it has not answered for a while; the listing replaces either when it
// comes. The subfolders of a folder the user opened are read ahead, so that opening one of them
// shows its contents at once. Main thread only.
class FolderLister final : public QObject
{
    Q_OBJECT

public:
    static constexpr int readAheadAtOnce = 2;
    static constexpr int retryAfterMs = 2000;

    explicit FolderLister(std::shared_ptr<const LibraryFiles> files, QObject *parent = nullptr);
    ~FolderLister() override;
    Q_DISABLE_COPY_MOVE(FolderLister)

    void setFiles(std::shared_ptr<const LibraryFiles> files) { m_files = std::move(files); }
    const LibraryFiles &files() const { return *m_files; }

    // The row to show inside the open `folder` while its listing is on its way, after asking for
    // it; null when the folder's contents can be shown (a stale listing is shown until the
    // fresh one comes).
    FileNodePtr pendingRow(const FileNodePtr &folder);
    // Reads `folder` ahead of need, behind what the user waits for.
    void readAhead(const FileNodePtr &folder);
    // No listing asked for and not yet answered.
    bool isIdle() const { return m_jobs.isIdle(); }
    void setSlowAfterForTesting(std::chrono::milliseconds after)
    {
        m_jobs.setSlowAfterForTesting(after);
    }

Q_SIGNALS:
    // What the tree shows in `folder` changed: its contents arrived, or it stopped answering.
    void folderChanged(const QString &folder);
    void idleChanged(bool idle);

private:
    struct Waiter
    {
        std::weak_ptr<FileNode> node;
        quint64 generation = 0;
    };
    struct Request
    {
        std::vector<Waiter> waiters;
        bool shown = false;        // the user waits for it, as opposed to reading ahead
        bool failing = false;      // the last answer was a failure; asked again shortly
        bool countedAhead = false; // its job holds one of the read-ahead places
    };
    void ask(const FileNodePtr &folder, bool shown);
    void start(const QString &folder);
    void deliver(const QString &folder, const FileNode::Listing &listing);
    void readAheadBelow(const FileNodePtr &folder);
    void startReadingAhead();

    std::shared_ptr<const LibraryFiles> m_files;
    DiskJobs m_jobs;
    QHash<QString, Request> m_requests;
    std::deque<std::weak_ptr<FileNode>> m_readAhead;
    QHash<QString, quint64> m_readAheadBelow; // the generation of each folder read ahead below
    int m_readingAhead = 0;
};
