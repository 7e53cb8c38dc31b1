// Narrowing the tree and the search to items that carry the active colours.
#include "BrowserModel.h"

#include "BackgroundJob.h"
#include "FilePaths.h"
#include "NameCollator.h"
#include "TagStore.h"

#include <algorithm>

void BrowserModel::toggleTagFilter(FinderTag tag)
{
    FinderTagSet filters = m_activeTagFilters;
    if (!filters.remove(tag))
        filters.insert(tag);
    setActiveTagFilters(filters);
}

void BrowserModel::recomputeTagScope()
{
    if (m_tagScopeCancel)
        m_tagScopeCancel->cancel();
    if (m_activeTagFilters.isEmpty() || !m_tagStore) {
        setTagScope({}, {});
        return;
    }
    QStringList tagged;
    for (const QUrl &url : m_tagStore->taggedURLs(m_activeTagFilters)) {
        const QString path = FilePaths::normalized(url);
        const bool inRoot =
            std::any_of(m_roots.cbegin(), m_roots.cend(), [&](const FileNodePtr &root) {
                return FilePaths::isAtOrBelow(path, root->path());
            });
        if (inRoot)
            tagged.append(path);
    }
    // Which tagged items still exist, and which are folders, is asked of the disk off the GUI
    // thread: there may be thousands.
    m_tagScopeCancel = std::make_shared<CancelFlag>();
    const auto classify = [tagged] {
        std::pair<QStringList, QStringList> foldersAndFiles;
        for (const QString &path : tagged) {
            if (FilePaths::exists(path))
                (FilePaths::isDirectory(path) ? foldersAndFiles.first : foldersAndFiles.second)
                    .append(path);
        }
        return foldersAndFiles;
    };
    BackgroundJob::run(this, m_tagScopeCancel, BackgroundJob::Priority::UserInitiated, classify,
                       [this](const std::pair<QStringList, QStringList> &foldersAndFiles) {
                           applyTagScope(foldersAndFiles.first, foldersAndFiles.second);
                       });
}

void BrowserModel::applyTagScope(const QStringList &folders, const QStringList &files)
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
    const QList<FileNodePtr> oldFolders = m_tagScopeFolders;
    const QList<FileNodePtr> oldSamples = m_tagScopeSamples;
    setTagScope(nodes(topFolders, true), nodes(files, false));
    // The search started with the filters ran on the scope known then.
    if (isSearching() &&
        (!sameNodes(oldFolders, m_tagScopeFolders) || !sameNodes(oldSamples, m_tagScopeSamples)))
        runSearch();
}

QString BrowserModel::tagFilterDescription() const
{
    if (m_activeTagFilters.size() == 1)
        return FinderTags::displayName(*m_activeTagFilters.cbegin());
    return QString::number(m_activeTagFilters.size()) + QStringLiteral(" colors");
}
