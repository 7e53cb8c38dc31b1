// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "DiskJobs.h"
#include "FileNode.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class LibraryFiles;
class Preferences;

// The root folders the user added, in order, with their bookmarks and access, which of them are
// offline, and how they are remembered and found again after a move. Main thread only.
class RootFolders final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<FileNodePtr> roots READ roots NOTIFY rootsChanged)
    Q_PROPERTY(QSet<QUrl> offlineRoots READ offlineRoots NOTIFY offlineRootsChanged)
    Q_PROPERTY(QSet<QUrl> unansweredRoots READ unansweredRoots NOTIFY unansweredRootsChanged)

public:
    RootFolders(Preferences &defaults, std::shared_ptr<const LibraryFiles> files,
                QObject *parent = nullptr);
    ~RootFolders() override;
    Q_DISABLE_COPY_MOVE(RootFolders)

    const QList<FileNodePtr> &roots() const { return m_roots; }
    QStringList paths() const;
    QList<QUrl> urls() const;
    bool contains(const QString &path) const;
    // Roots known not to exist, and roots whose share has not answered whether they do.
    const QSet<QUrl> &offlineRoots() const { return m_offlineRoots; }
    const QSet<QUrl> &unansweredRoots() const { return m_unansweredRoots; }
    // False when the stored roots held something that could not be read: then nothing may be
    // forgotten for lying outside them, since a root may be missing from the list.
    bool readInFull() const { return m_readInFull; }

    // The stored roots, with access restored through their bookmarks.
    void load();
    void persist();
    // Appends a root with its bookmark; false when it is one already.
    bool add(const QUrl &url);
    // Puts `to` in the place of the root at `from` with a fresh bookmark; false when `from` is
    // no root.
    bool replace(const QString &from, const QUrl &to);
    void remove(const QString &path);
    // Roots missing on disk are looked for through their bookmarks on a background job; each
    // one found is replaced (rootMoved), then `done` learns whether any was.
    void heal(std::function<void(bool healed)> done);
    // Asks the disk, off the GUI thread, which roots exist; the answers arrive as they come.
    void updateOffline();
    // No question to the disk about the roots is waiting for its answer.
    bool isSettled() const { return m_jobs.isIdle(); }
    // Tells the observers of the roots that the tree changed although the list did not.
    void notifyTreeChanged() { Q_EMIT rootsChanged(); }

Q_SIGNALS:
    void rootsChanged();
    void offlineRootsChanged();
    void unansweredRootsChanged();
    void settledChanged();
    // Healing found a root at a new place.
    void rootMoved(const QString &oldPath, const QString &newPath);

private:
    void setRoots(const QList<FileNodePtr> &roots);
    void setOfflineRoots(const QSet<QUrl> &offline);
    void setUnansweredRoots(const QSet<QUrl> &unanswered);
    void updateRootStates();
    void restoreBookmarkAccess();
    void startAccess(const QUrl &url);
    void stopAccess(const QUrl &url);
    void removeBookmark(const QUrl &url);
    void storeBookmark(const QUrl &url);
    void storeBookmarkData(const QString &path, const QByteArray &data);
    std::optional<QVariantMap> bookmarkDictionary() const;

    Preferences &m_defaults;
    std::shared_ptr<const LibraryFiles> m_files;
    DiskJobs m_jobs;
    // What the disk last said of each root: absent until it answered.
    QHash<QString, bool> m_exists;
    QList<FileNodePtr> m_roots;
    bool m_readInFull = true;
    QSet<QUrl> m_offlineRoots;
    QSet<QUrl> m_unansweredRoots;
    QHash<QString, QUrl> m_accessing;
    CancelFlagPtr m_healCancel;
};
