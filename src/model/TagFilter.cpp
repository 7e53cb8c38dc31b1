// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Narrowing the tree and the search to items that carry the active colours.
#include "TagFilter.h"

#include "BackgroundJob.h"
#include "FilePaths.h"
#include "NameCollator.h"
#include "TagStore.h"

#include <algorithm>

TagFilter::TagFilter(TagStore *tags, QObject *parent) : QObject(parent), m_tags(tags) {}

TagFilter::~TagFilter()
{
    if (m_cancel)
        m_cancel->cancel();
}

bool TagFilter::setActive(const FinderTagSet &filters)
{
    if (m_active == filters)
        return false;
    m_active = filters;
    Q_EMIT activeChanged();
    return true;
}

void TagFilter::setScope(const QList<FileNodePtr> &folders, const QList<FileNodePtr> &samples)
{
    if (!sameNodes(m_scopeFolders, folders)) {
        m_scopeFolders = folders;
        Q_EMIT scopeFoldersChanged();
    }
    if (!sameNodes(m_scopeSamples, samples)) {
        m_scopeSamples = samples;
        Q_EMIT scopeSamplesChanged();
    }
}

void TagFilter::recompute(const QStringList &roots)
{
    if (m_cancel)
        m_cancel->cancel();
    if (m_active.isEmpty() || !m_tags) {
        setScope({}, {});
        return;
    }
    QStringList tagged;
    for (const QUrl &url : m_tags->taggedURLs(m_active)) {
        const QString path = FilePaths::normalized(url);
        const bool inRoot = std::any_of(roots.cbegin(), roots.cend(), [&](const QString &root) {
            return FilePaths::isAtOrBelow(path, root);
        });
        if (inRoot)
            tagged.append(path);
    }
    // Which tagged items still exist, and which are folders, is asked of the disk off the GUI
    // thread: there may be thousands.
    m_cancel = std::make_shared<CancelFlag>();
    const auto classify = [tagged] {
        std::pair<QStringList, QStringList> foldersAndFiles;
        for (const QString &path : tagged) {
            if (FilePaths::exists(path))
                (FilePaths::isDirectory(path) ? foldersAndFiles.first : foldersAndFiles.second)
                    .append(path);
        }
        return foldersAndFiles;
    };
    BackgroundJob::run(this, m_cancel, BackgroundJob::Priority::UserInitiated, classify,
                       [this](const std::pair<QStringList, QStringList> &foldersAndFiles) {
                           applyScope(foldersAndFiles.first, foldersAndFiles.second);
                       });
}

void TagFilter::applyScope(const QStringList &folders, const QStringList &files)
{
    QStringList topFolders;
    for (const QString &folder : folders) {
        const bool nested =
            std::any_of(folders.cbegin(), folders.cend(), [&](const QString &other) {
                return other != folder && FilePaths::isAtOrBelow(folder, other);
            });
        if (!nested)
            topFolders.append(folder);
    }

    const NameCollator &collator = NameCollator::instance();
    const auto nodes = [&](const QStringList &paths, bool isDirectory) {
        QList<FileNodePtr> list;
        for (const QString &path : paths)
            list.append(FileNode::fromNormalizedPath(path, isDirectory));
        std::stable_sort(list.begin(), list.end(), [&](const FileNodePtr &a, const FileNodePtr &b) {
            return collator.compare(a->name(), b->name()) < 0;
        });
        return list;
    };
    const QList<FileNodePtr> oldFolders = m_scopeFolders;
    const QList<FileNodePtr> oldSamples = m_scopeSamples;
    setScope(nodes(topFolders, true), nodes(files, false));
    if (!sameNodes(oldFolders, m_scopeFolders) || !sameNodes(oldSamples, m_scopeSamples))
        Q_EMIT scopeRecomputed();
}

QString TagFilter::description() const
{
    if (m_active.size() == 1)
        return FinderTags::displayName(*m_active.cbegin());
    return QString::number(m_active.size()) + QStringLiteral(" colors");
}
