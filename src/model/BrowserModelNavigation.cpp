// Expansion, selection, revealing items and folder-scoped search.
#include "BrowserModel.h"

#include "FileManagerReveal.h"
#include "FilePaths.h"
#include "Preferences.h"

namespace {
const QString expandedKey = QStringLiteral("expandedFolderPaths");
const QString selectionKey = QStringLiteral("selectedItemPath");
} // namespace

void BrowserModel::persistExpanded()
{
    QStringList paths;
    paths.reserve(m_expanded.size());
    for (const QUrl &url : std::as_const(m_expanded))
        paths.append(url.toLocalFile());
    m_defaults.setObject(paths, expandedKey);
}

void BrowserModel::toggle(const FileNodePtr &node)
{
    if (!node || !node->isDirectory())
        return;
    QSet<QUrl> expanded = m_expanded;
    if (!expanded.remove(node->url()))
        expanded.insert(node->url());
    storeExpanded(std::move(expanded));
    Q_EMIT expandedChanged();
    persistExpanded();
}

void BrowserModel::expand(const FileNodePtr &node)
{
    if (!node || !node->isDirectory())
        return;
    QSet<QUrl> expanded = m_expanded;
    expanded.insert(node->url());
    storeExpanded(std::move(expanded));
    Q_EMIT expandedChanged();
    persistExpanded();
}

void BrowserModel::collapse(const FileNodePtr &node)
{
    if (!node)
        return;
    QSet<QUrl> expanded = m_expanded;
    expanded.remove(node->url());
    storeExpanded(std::move(expanded));
    Q_EMIT expandedChanged();
    persistExpanded();
}

void BrowserModel::collapseAll()
{
    storeExpanded({});
    Q_EMIT expandedChanged();
    persistExpanded();
}

void BrowserModel::loadExpandedAndSelection()
{
    QSet<QUrl> expanded;
    for (const QString &path : m_defaults.stringsInArrayForKey(expandedKey))
        expanded.insert(FilePaths::fileUrl(path));
    setExpanded(expanded);
    if (const std::optional<QString> selected = m_defaults.stringForKey(selectionKey))
        setSelection(FilePaths::fileUrl(*selected));
}

void BrowserModel::revealInBrowser(const QUrl &url)
{
    setActiveTagFilters({});
    setSearchText(QString());
    setGlobalSearch(false);

    const QString target = FilePaths::normalized(url);
    FileNodePtr current;
    for (const FileNodePtr &root : std::as_const(m_roots)) {
        if (FilePaths::isAtOrBelow(target, root->path())) {
            current = root;
            break;
        }
    }
    if (!current) {
        setSelection(url);
        return;
    }
    QSet<QUrl> expanded = m_expanded;
    while (current->path() != target && current->isDirectory()) {
        FileNodePtr next;
        for (const FileNodePtr &child : current->children()) {
            if (FilePaths::isAtOrBelow(target, child->path())) {
                next = child;
                break;
            }
        }
        if (!next)
            break;
        expanded.insert(current->url());
        current = next;
    }
    if (current->isDirectory())
        expanded.insert(current->url());
    setExpanded(expanded);
    setSelection(current->url());
}

void BrowserModel::revealInFinder(const QUrl &url)
{
    const QString path = FilePaths::normalized(url);
    if (!FilePaths::exists(path)) {
        setLastError(FilePaths::lastComponent(path) + QStringLiteral(" isn't available right now"));
        return;
    }
    (m_reveal ? *m_reveal : FileManagerReveal::systemDefault()).reveal(path);
}

void BrowserModel::searchInFolder(const QUrl &url)
{
    setSelection(url);
    requestSearchFocus();
}
