// Narrowing the tree and the search to items that carry the active colours.
#include "BrowserModel.h"

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
    if (m_activeTagFilters.isEmpty() || !m_tagStore) {
        setTagScope({}, {});
        return;
    }
    QStringList folders;
    QStringList files;
    for (const QUrl &url : m_tagStore->taggedURLs(m_activeTagFilters)) {
        const QString path = FilePaths::normalized(url);
        if (!FilePaths::exists(path))
            continue;
        const bool inRoot =
            std::any_of(m_roots.cbegin(), m_roots.cend(), [&](const FileNodePtr &root) {
                return FilePaths::isAtOrBelow(path, root->path());
            });
        if (!inRoot)
            continue;
        (FilePaths::isDirectory(path) ? folders : files).append(path);
    }
    QStringList topFolders;
    for (const QString &folder : std::as_const(folders)) {
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
    setTagScope(nodes(topFolders, true), nodes(files, false));
}

QString BrowserModel::tagFilterDescription() const
{
    if (m_activeTagFilters.size() == 1)
        return FinderTags::displayName(*m_activeTagFilters.cbegin());
    return QString::number(m_activeTagFilters.size()) + QStringLiteral(" colors");
}
