// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Expansion, selection and the rows of the tree.
#include "TreeNavigation.h"

#include "FilePaths.h"
#include "Preferences.h"

#include <algorithm>

namespace {
const QString expandedKey = QStringLiteral("expandedFolderPaths");
const QString selectionKey = QStringLiteral("selectedItemPath");
} // namespace

TreeNavigation::TreeNavigation(Preferences &defaults, Sources sources, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_sources(std::move(sources))
{}

TreeNavigation::~TreeNavigation() = default;

bool TreeNavigation::setExpanded(const QSet<QUrl> &expanded)
{
    if (m_expanded == expanded)
        return false;
    storeExpanded(expanded);
    Q_EMIT expandedChanged();
    return true;
}

void TreeNavigation::storeExpanded(QSet<QUrl> expanded)
{
    m_expanded = std::move(expanded);
    // The tree asks this of every folder row it lays out; a URL per row costs more than the row.
    m_expandedPaths.clear();
    m_expandedPaths.reserve(m_expanded.size());
    for (const QUrl &url : std::as_const(m_expanded))
        m_expandedPaths.insert(FilePaths::normalized(url));
}

// A change the user made: told and stored even when the set came out the same.
void TreeNavigation::changeExpanded(QSet<QUrl> expanded)
{
    storeExpanded(std::move(expanded));
    Q_EMIT expandedChanged();
    QStringList paths;
    paths.reserve(m_expanded.size());
    for (const QUrl &url : std::as_const(m_expanded))
        paths.append(url.toLocalFile());
    m_defaults.setObject(paths, expandedKey);
}

bool TreeNavigation::setSelection(const QUrl &selection)
{
    const QUrl normalized =
        selection.isEmpty() ? QUrl() : FilePaths::fileUrl(FilePaths::normalized(selection));
    if (normalized == m_selection)
        return false;
    m_selection = normalized;
    Q_EMIT selectionChanged();
    if (m_selection.isEmpty())
        m_defaults.removeObjectForKey(selectionKey);
    else
        m_defaults.setObject(m_selection.toLocalFile(), selectionKey);
    return true;
}

void TreeNavigation::toggle(const FileNodePtr &node)
{
    if (!node || !node->isDirectory())
        return;
    QSet<QUrl> expanded = m_expanded;
    if (!expanded.remove(node->url()))
        expanded.insert(node->url());
    changeExpanded(std::move(expanded));
}

void TreeNavigation::expand(const FileNodePtr &node)
{
    if (!node || !node->isDirectory())
        return;
    QSet<QUrl> expanded = m_expanded;
    expanded.insert(node->url());
    changeExpanded(std::move(expanded));
}

void TreeNavigation::collapse(const FileNodePtr &node)
{
    if (!node)
        return;
    QSet<QUrl> expanded = m_expanded;
    expanded.remove(node->url());
    changeExpanded(std::move(expanded));
}

void TreeNavigation::collapseAll()
{
    changeExpanded({});
}

void TreeNavigation::load()
{
    QSet<QUrl> expanded;
    for (const QString &path : m_defaults.stringsInArrayForKey(expandedKey))
        expanded.insert(FilePaths::fileUrl(path));
    setExpanded(expanded);
    if (const std::optional<QString> selected = m_defaults.stringForKey(selectionKey))
        setSelection(FilePaths::fileUrl(*selected));
}

FileNodePtr TreeNavigation::reveal(const QUrl &url, bool isFolder)
{
    const QString target = FilePaths::normalized(url);
    FileNodePtr current;
    for (const FileNodePtr &root : m_sources.roots()) {
        if (FilePaths::isAtOrBelow(target, root->path())) {
            current = root;
            break;
        }
    }
    if (!current)
        return nullptr;
    // Every folder above the target is opened by its path: their contents may still be on their
    // way, and the rows follow when they arrive.
    QSet<QUrl> expanded = m_expanded;
    QString at = current->path();
    while (at != target) {
        expanded.insert(QUrl::fromLocalFile(at));
        const qsizetype from = at == QLatin1String("/") ? 1 : at.size() + 1;
        const qsizetype slash = target.indexOf(QLatin1Char('/'), from);
        at = slash < 0 ? target : target.left(slash);
        if (current) {
            const QList<FileNodePtr> &children = current->children();
            const auto next = std::find_if(children.begin(), children.end(),
                                           [&](const FileNodePtr &c) { return c->path() == at; });
            current = next == children.end() ? nullptr : *next;
        }
    }
    if (isFolder || (current && current->isDirectory()))
        expanded.insert(QUrl::fromLocalFile(target));
    setExpanded(expanded);
    return current;
}

void TreeNavigation::rebase(const QString &oldPath, const QString &newPath)
{
    QSet<QUrl> mapped;
    for (const QUrl &url : std::as_const(m_expanded)) {
        const QString path = FilePaths::normalized(url);
        mapped.insert(FilePaths::isAtOrBelow(path, oldPath)
                          ? QUrl::fromLocalFile(FilePaths::rebased(path, oldPath, newPath))
                          : url);
    }
    setExpanded(mapped);
}

void TreeNavigation::forget(const QString &path)
{
    QSet<QUrl> expanded = m_expanded;
    expanded.removeIf(
        [&](const QUrl &url) { return FilePaths::isAtOrBelow(FilePaths::normalized(url), path); });
    setExpanded(expanded);
}

void TreeNavigation::appendRows(QList<VisibleRow> &rows, const FileNodePtr &node, int depth,
                                const QUrl &context) const
{
    rows.append(VisibleRow{node, depth, context});
    if (!isExpanded(*node))
        return;
    const QUrl childContext = context.isEmpty() ? node->url() : context;
    if (m_sources.pendingRow) {
        if (FileNodePtr pending = m_sources.pendingRow(node)) {
            rows.append(VisibleRow{std::move(pending), depth + 1, childContext});
            return;
        }
    }
    for (const FileNodePtr &child : node->children())
        appendRows(rows, child, depth + 1, childContext);
}

QList<VisibleRow> TreeNavigation::visibleRows() const
{
    QList<VisibleRow> rows;
    for (const FileNodePtr &root : m_sources.roots())
        appendRows(rows, root, 0, QUrl());
    return rows;
}

QList<VisibleRow> TreeNavigation::tagScopedRows() const
{
    QList<VisibleRow> rows;
    for (const FileNodePtr &folder : m_sources.tagScopeFolders())
        appendRows(rows, folder, 0, QUrl());
    for (const FileNodePtr &sample : m_sources.tagScopeSamples())
        rows.append(VisibleRow{sample, 0, QUrl()});
    return rows;
}

FileNodePtr TreeNavigation::node(const QUrl &url) const
{
    if (url.isEmpty())
        return nullptr;
    const QString path = FilePaths::normalized(url);
    // Down the one branch that can hold the path, as the rows would list it, without listing them.
    const auto below = [&](FileNodePtr at) -> FileNodePtr {
        while (at && at->path() != path) {
            if (!isExpanded(*at) || !FilePaths::isAtOrBelow(path, at->path()))
                return nullptr;
            const QList<FileNodePtr> &children = at->children();
            const auto next = std::find_if(children.begin(), children.end(), [&](auto &child) {
                return FilePaths::isAtOrBelow(path, child->path());
            });
            at = next == children.end() ? nullptr : *next;
        }
        return at;
    };
    for (const FileNodePtr &root : m_sources.roots()) {
        if (FileNodePtr found = below(root))
            return found;
    }
    if (m_sources.isTagFiltered()) {
        for (const FileNodePtr &folder : m_sources.tagScopeFolders()) {
            if (FileNodePtr found = below(folder))
                return found;
        }
        for (const FileNodePtr &sample : m_sources.tagScopeSamples()) {
            if (sample->path() == path)
                return sample;
        }
    }
    return nullptr;
}

bool TreeNavigation::isExpanded(const FileNode &node) const
{
    return node.isDirectory() && m_expandedPaths.contains(node.path());
}

QUrl TreeNavigation::selectedFolder()
{
    if (m_selection.isEmpty())
        return QUrl();
    if (m_selectedFolderCache && m_selectedFolderCache->first == m_selection)
        return m_selectedFolderCache->second;
    const QString path = FilePaths::normalized(m_selection);
    const FileNodePtr found = node(m_selection);
    // Until the listing that holds the selection has arrived, its name tells: only audio files
    // are ever selected besides folders. The disk is not asked here, on the GUI thread.
    const bool isDirectory =
        found ? found->isDirectory() : !FileNode::isAudioFileName(FilePaths::lastComponent(path));
    const QUrl folder =
        isDirectory ? m_selection : QUrl::fromLocalFile(FilePaths::parentPath(path));
    if (found)
        m_selectedFolderCache = std::make_pair(m_selection, folder);
    return folder;
}
