// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Refreshing everything that depends on the disk after changes below the roots.
#include "BrowserModel.h"

#include "FilePaths.h"
#include "FileSystemWatcher.h"
#include "LibraryFiles.h"
#include "TagStore.h"

void BrowserModel::restartWatcher()
{
    if (!m_liveUpdates)
        return;
    m_watcher.reset();
    const QStringList paths = m_roots.paths();
    if (paths.isEmpty())
        return;
    // The handler runs on the watcher's thread. The model outlives it: destroying the watcher
    // waits for the thread, so posting to the model here is safe.
    m_watcher = std::make_unique<FileSystemWatcher>([this](const FileSystemChanges &changes) {
        QMetaObject::invokeMethod(
            this, [this, changes] { scheduleRefresh(changes); }, Qt::QueuedConnection);
    });
    m_watcher->start(paths);
}

void BrowserModel::scheduleRefresh()
{
    FileSystemChanges everything;
    everything.complete = false;
    scheduleRefresh(everything);
}

void BrowserModel::scheduleRefresh(const FileSystemChanges &changes)
{
    m_pendingChanges.merge(changes);
    m_refreshDebounce.start();
}

void BrowserModel::refreshAll()
{
    FileSystemChanges changes = std::exchange(m_pendingChanges, FileSystemChanges());
    healMovedRoots([this, changes = std::move(changes)](bool healed) mutable {
        reloadTree();
        if (healed) {
            restartWatcher();
            changes.complete = false;
        }
        relocateTags();
        m_sound.recheck(changes);
        m_library.update(m_roots.paths(), std::move(changes));
        recomputeTagScope();
        updateOfflineRoots();
    });
}

void BrowserModel::relocateTags()
{
    if (!m_tagStore)
        return;
    m_tagStore->relocateMovedItems(m_roots.urls());
}

void BrowserModel::reloadTree()
{
    // What is open stays on screen until it has been read again.
    for (const FileNodePtr &root : roots())
        root->markStale();
    const QUrl selected = selection();
    if (!selected.isEmpty()) {
        const QString path = FilePaths::normalized(selected);
        const std::shared_ptr<const LibraryFiles> files = m_files;
        m_diskJobs.run(QStringLiteral("selected:") + path, files->shareOf(path),
                       [this, files, path, selected]() -> std::function<void()> {
                           const LibraryFiles::Kind kind = files->kind(path);
                           return [this, kind, selected] {
                               if (kind == LibraryFiles::Kind::Missing && selection() == selected)
                                   setSelection(QUrl());
                           };
                       });
    }
    notifyTreeChanged();
}
