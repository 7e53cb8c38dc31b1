// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FolderLister.h"

#include "LibraryFiles.h"

#include <QTimer>

#include <algorithm>

namespace {
// A folder of thousands of kits is not read ahead in full: the user opens a few of them.
constexpr int readAheadPerFolder = 256;
} // namespace

FolderLister::FolderLister(std::shared_ptr<const LibraryFiles> files, QObject *parent)
    : QObject(parent), m_files(std::move(files))
{
    connect(&m_jobs, &DiskJobs::idleChanged, this, &FolderLister::idleChanged);
    connect(&m_jobs, &DiskJobs::slow, this, [this](const QString &folder) {
        const auto it = m_requests.constFind(folder);
        if (it != m_requests.cend() && it->shown)
            Q_EMIT folderChanged(folder);
    });
}

FolderLister::~FolderLister() = default;

FileNodePtr FolderLister::pendingRow(const FileNodePtr &folder)
{
    if (!folder || !folder->isDirectory())
        return nullptr;
    if (folder->isLoaded() && !folder->isStale()) {
        // Read ahead itself, it was never seen open: what it holds is read ahead now.
        if (m_readAheadBelow.value(folder->path()) != folder->generation()) {
            m_readAheadBelow.insert(folder->path(), folder->generation());
            readAheadBelow(folder);
            startReadingAhead();
        }
        return nullptr;
    }
    ask(folder, true);
    if (folder->isLoaded())
        return nullptr;
    const auto it = m_requests.constFind(folder->path());
    const bool unanswered =
        m_jobs.isSlow(folder->path()) || (it != m_requests.cend() && it->failing);
    return FileNode::note(folder->path(), unanswered ? QStringLiteral("Not responding")
                                                     : QStringLiteral("Loading…"));
}

void FolderLister::readAhead(const FileNodePtr &folder)
{
    if (!folder || !folder->isDirectory() || folder->isLoaded())
        return;
    m_readAhead.push_back(folder);
    startReadingAhead();
}

void FolderLister::ask(const FileNodePtr &folder, bool shown)
{
    const QString &path = folder->path();
    Request &request = m_requests[path];
    request.shown = request.shown || shown;
    const bool known = std::any_of(request.waiters.cbegin(), request.waiters.cend(),
                                   [&](const Waiter &w) { return w.node.lock() == folder; });
    if (!known)
        request.waiters.push_back({folder, folder->generation()});
    if (!request.failing && !m_jobs.isPending(path))
        start(path);
}

void FolderLister::start(const QString &folder)
{
    Request &request = m_requests[folder];
    // What each node knew when the reading began: a node changed since then is read again.
    for (Waiter &waiter : request.waiters) {
        if (const FileNodePtr node = waiter.node.lock())
            waiter.generation = node->generation();
    }
    if (!request.shown && !request.countedAhead) {
        request.countedAhead = true;
        ++m_readingAhead;
    }
    std::shared_ptr<const LibraryFiles> files = m_files;
    m_jobs.run(folder, files->shareOf(folder), [this, files, folder]() -> std::function<void()> {
        FileNode::Listing listing = files->list(folder);
        return [this, folder, listing = std::move(listing)] { deliver(folder, listing); };
    });
}

void FolderLister::deliver(const QString &folder, const FileNode::Listing &listing)
{
    const auto it = m_requests.find(folder);
    if (it == m_requests.end())
        return;
    if (std::exchange(it->countedAhead, false))
        --m_readingAhead;
    if (listing.outcome == FileNode::Listing::Outcome::Failed) {
        it->failing = true;
        QTimer::singleShot(retryAfterMs, this, [this, folder] {
            const auto again = m_requests.find(folder);
            if (again == m_requests.end())
                return;
            again->failing = false;
            std::erase_if(again->waiters, [](const Waiter &w) { return w.node.expired(); });
            if (again->waiters.empty())
                m_requests.erase(again);
            else
                start(folder);
        });
        if (it->shown)
            Q_EMIT folderChanged(folder);
        startReadingAhead();
        return;
    }

    const Request request = std::move(*it);
    m_requests.erase(it);
    std::vector<Waiter> changedSince;
    std::vector<FileNodePtr> listed;
    for (const Waiter &waiter : request.waiters) {
        const FileNodePtr node = waiter.node.lock();
        if (!node)
            continue;
        if (node->generation() != waiter.generation) {
            changedSince.push_back(waiter);
            continue;
        }
        node->setChildren(listing.nodes);
        listed.push_back(node);
    }
    if (!changedSince.empty()) {
        Request &again = m_requests[folder];
        again.waiters = std::move(changedSince);
        again.shown = request.shown;
        start(folder);
    }
    if (request.shown) {
        for (const FileNodePtr &node : listed) {
            m_readAheadBelow.insert(folder, node->generation());
            readAheadBelow(node);
        }
    }
    Q_EMIT folderChanged(folder);
    startReadingAhead();
}

void FolderLister::readAheadBelow(const FileNodePtr &folder)
{
    int queued = 0;
    for (const FileNodePtr &child : folder->children()) {
        if (queued == readAheadPerFolder)
            break;
        if (child->isDirectory() && !child->isLoaded()) {
            m_readAhead.push_back(child);
            ++queued;
        }
    }
}

void FolderLister::startReadingAhead()
{
    while (m_readingAhead < readAheadAtOnce && !m_readAhead.empty()) {
        const FileNodePtr node = m_readAhead.front().lock();
        m_readAhead.pop_front();
        if (!node || node->isLoaded())
            continue;
        ask(node, false);
    }
}
