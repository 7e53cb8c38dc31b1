// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TreeRowModel.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "FilePaths.h"
#include "TagStore.h"

#include <algorithm>

namespace {

// Row comparisons that linear lookups may spend after a change before the index is built.
constexpr qsizetype linearScanBudget = 250000;

QString pathOf(const QUrl &url)
{
    return url.isEmpty() ? QString() : FilePaths::normalized(url);
}

bool strictlyInside(const QString &path, const QString &folder)
{
    return path.size() > folder.size() + 1 && path.startsWith(folder) &&
           path.at(folder.size()) == QLatin1Char('/');
}

quint8 maskOf(const QList<qint64> &rawTags)
{
    quint8 mask = 0;
    for (qint64 raw : rawTags) {
        if (const std::optional<FinderTag> tag = FinderTags::fromRawValue(raw))
            mask |= static_cast<quint8>(1u << FinderTags::rawValue(*tag));
    }
    return mask;
}

// The paths whose tags differ between two snapshots, by one merge walk over both.
QSet<QString> changedPaths(const TagMap &before, const TagMap &after)
{
    QSet<QString> changed;
    auto a = before.constBegin();
    auto b = after.constBegin();
    while (a != before.constEnd() || b != after.constEnd()) {
        if (b == after.constEnd() || (a != before.constEnd() && a.key() < b.key())) {
            changed.insert(a.key());
            ++a;
        } else if (a == before.constEnd() || b.key() < a.key()) {
            changed.insert(b.key());
            ++b;
        } else {
            if (a.value() != b.value())
                changed.insert(a.key());
            ++a;
            ++b;
        }
    }
    return changed;
}

// Cheaper than comparing row identities: no URLs are made. One node object is shown at most
// once at a given depth, so the same object at the same depth is the same row.
bool sameIdentity(const VisibleRow &a, const VisibleRow &b)
{
    if (a.depth != b.depth)
        return false;
    if (a.node == b.node)
        return true;
    return a.node->path() == b.node->path() && a.contextID == b.contextID;
}

} // namespace

TreeRowModel::TreeRowModel(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                           QObject *parent)
    : QAbstractListModel(parent), m_model(model), m_player(player), m_tags(tags)
{
    m_tagSnapshot = tags.tags();
    m_playingPath = pathOf(player.playingURL());
    m_selectionPath = pathOf(model.selection());
    for (auto signal :
         {&BrowserModel::rootsChanged, &BrowserModel::folderContentsChanged,
          &BrowserModel::expandedChanged, &BrowserModel::offlineRootsChanged,
          &BrowserModel::unansweredRootsChanged, &BrowserModel::activeTagFiltersChanged,
          &BrowserModel::tagScopeFoldersChanged, &BrowserModel::tagScopeSamplesChanged})
        connect(&model, signal, this, &TreeRowModel::rebuild);
    connect(&model, &BrowserModel::selectionChanged, this, &TreeRowModel::refreshContainsSelection);
    connect(&player, &AudioPreviewPlayer::playingURLChanged, this, &TreeRowModel::refreshPlaying);
    connect(&tags, &TagStore::tagsChanged, this, &TreeRowModel::refreshTags);

    const QList<VisibleRow> visible =
        model.activeTagFilters().isEmpty() ? model.visibleRows() : model.tagScopedRows();
    m_rows.reserve(visible.size());
    for (const VisibleRow &row : visible)
        m_rows.append(makeRow(row));
}

TreeRowModel::~TreeRowModel() = default;

int TreeRowModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

Qt::ItemFlags TreeRowModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return Qt::NoItemFlags;
    if (m_rows.at(index.row()).row.node->isNote())
        return Qt::NoItemFlags;
    return QAbstractListModel::flags(index);
}

QVariant TreeRowModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return FilePaths::displayText(row.row.node->name());
    case UrlRole:
        return row.row.node->url();
    case DepthRole:
        return row.row.depth;
    case IsDirectoryRole:
        return row.isDirectory;
    case IsExpandedRole:
        return row.isExpanded;
    case IsPlayingRole:
        return row.isPlaying;
    case IsOfflineRole:
        return row.isOffline;
    case IsHoveredRole:
        return isHovered(index.row());
    case ContainsSelectionRole:
        return row.containsSelection;
    case TagsRole: {
        QList<int> raw;
        for (FinderTag tag : tagsOf(row.tagMask))
            raw.append(static_cast<int>(FinderTags::rawValue(tag)));
        return QVariant::fromValue(raw);
    }
    default:
        return {};
    }
}

QHash<int, QByteArray> TreeRowModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(UrlRole, "url");
    names.insert(DepthRole, "depth");
    names.insert(IsDirectoryRole, "isDirectory");
    names.insert(IsExpandedRole, "isExpanded");
    names.insert(IsPlayingRole, "isPlaying");
    names.insert(IsOfflineRole, "isOffline");
    names.insert(IsHoveredRole, "isHovered");
    names.insert(ContainsSelectionRole, "containsSelection");
    names.insert(TagsRole, "tags");
    return names;
}

int TreeRowModel::rowOf(const QUrl &url) const
{
    if (url.isEmpty())
        return -1;
    const QList<int> rows = rowsShowing(FilePaths::normalized(url));
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TreeRowModel::rowsShowing(const QString &path) const
{
    // A few lookups after a change scan the rows (a scan of thousands costs less than hashing
    // them); a burst of lookups builds the index once.
    int first = 0;
    if (!m_rowByPath && ++m_linearLookups * m_rows.size() > linearScanBudget)
        indexRows();
    if (m_rowByPath) {
        first = m_rowByPath->value(path, -1);
        if (first < 0 || !m_hasRepeatedPaths)
            return first < 0 ? QList<int>{} : QList<int>{first};
    }
    QList<int> rows;
    for (int i = first; i < m_rows.size(); ++i) {
        if (m_rows.at(i).row.node->path() == path)
            rows.append(i);
    }
    return rows;
}

void TreeRowModel::indexRows() const
{
    m_rowByPath.emplace();
    m_rowByPath->reserve(m_rows.size());
    m_hasRepeatedPaths = false;
    for (int i = 0; i < m_rows.size(); ++i) {
        const QString &path = m_rows.at(i).row.node->path();
        if (m_rowByPath->contains(path))
            m_hasRepeatedPaths = true;
        else
            m_rowByPath->insert(path, i);
    }
}

void TreeRowModel::forgetIndex()
{
    m_rowByPath.reset();
    m_linearLookups = 0;
}

bool TreeRowModel::isHovered(int row) const
{
    return !m_hoveredPath.isEmpty() && row >= 0 && row < m_rows.size() &&
           m_rows.at(row).row.node->path() == m_hoveredPath;
}

void TreeRowModel::setHoveredURL(const QUrl &url)
{
    if (m_hoveredURL == url)
        return;
    const QString previous = m_hoveredPath;
    m_hoveredURL = url;
    m_hoveredPath = pathOf(url);
    emitRowsShowing(previous);
    emitRowsShowing(m_hoveredPath);
}

QList<FinderTag> TreeRowModel::tagsOf(quint8 mask)
{
    QList<FinderTag> tags;
    for (FinderTag tag : FinderTags::all) {
        if (mask & (1u << FinderTags::rawValue(tag)))
            tags.append(tag);
    }
    return tags;
}

TreeRowModel::Row TreeRowModel::makeRow(const VisibleRow &visible) const
{
    Row row;
    row.row = visible;
    const FileNode &node = *visible.node;
    row.isDirectory = node.isDirectory();
    row.tagMask = maskOf(m_tagSnapshot.value(node.path()));
    if (row.isDirectory) {
        row.isExpanded = m_model.isExpanded(node);
        row.isOffline = isOffline(visible);
        row.isUnanswered = isUnanswered(visible);
        row.containsSelection = strictlyInside(m_selectionPath, node.path());
    } else {
        row.isPlaying = !m_playingPath.isEmpty() && node.path() == m_playingPath;
    }
    return row;
}

// Expanding or collapsing one folder inserts or removes one contiguous block, done in place;
// anything else that changes the row identities replaces the block between the rows that stayed.
void TreeRowModel::rebuild()
{
    const QList<VisibleRow> visible =
        m_model.activeTagFilters().isEmpty() ? m_model.visibleRows() : m_model.tagScopedRows();
    const qsizetype oldCount = m_rows.size();
    const qsizetype newCount = visible.size();
    const qsizetype shorter = std::min(oldCount, newCount);
    qsizetype prefix = 0;
    while (prefix < shorter && sameIdentity(m_rows.at(prefix).row, visible.at(prefix)))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           sameIdentity(m_rows.at(oldCount - 1 - suffix).row, visible.at(newCount - 1 - suffix)))
        ++suffix;

    m_changingRows = true;
    if (prefix + suffix < std::max(oldCount, newCount) &&
        (prefix + suffix == oldCount || prefix + suffix == newCount)) {
        const int first = static_cast<int>(prefix);
        if (newCount > oldCount) {
            beginInsertRows({}, first, static_cast<int>(newCount - suffix - 1));
            m_rows.insert(prefix, newCount - oldCount, Row{});
            for (qsizetype i = prefix; i < newCount - suffix; ++i)
                m_rows[i] = makeRow(visible.at(i));
            forgetIndex();
            endInsertRows();
        } else {
            beginRemoveRows({}, first, static_cast<int>(oldCount - suffix - 1));
            m_rows.remove(prefix, oldCount - newCount);
            forgetIndex();
            endRemoveRows();
        }
    } else if (prefix != oldCount || oldCount != newCount) {
        // The middle changed (a folder's "Loading…" row gave way to its contents, a refresh):
        // only that block is replaced, so the rows around it keep their place and selection.
        const int first = static_cast<int>(prefix);
        if (oldCount - suffix > prefix) {
            beginRemoveRows({}, first, static_cast<int>(oldCount - suffix - 1));
            m_rows.remove(prefix, oldCount - suffix - prefix);
            forgetIndex();
            endRemoveRows();
        }
        if (newCount - suffix > prefix) {
            beginInsertRows({}, first, static_cast<int>(newCount - suffix - 1));
            m_rows.insert(prefix, newCount - suffix - prefix, Row{});
            for (qsizetype i = prefix; i < newCount - suffix; ++i)
                m_rows[i] = makeRow(visible.at(i));
            forgetIndex();
            endInsertRows();
        }
    }
    m_changingRows = false;

    // Rows kept in place: the toggled folder's chevron, new node objects after a refresh.
    int firstChanged = -1;
    int lastChanged = -1;
    for (qsizetype i = 0; i < newCount; ++i) {
        if (i == prefix)
            i = std::max(prefix, newCount - suffix);
        if (i >= newCount)
            break;
        if (updateKeptRow(m_rows[i], visible.at(i))) {
            if (firstChanged < 0)
                firstChanged = static_cast<int>(i);
            lastChanged = static_cast<int>(i);
        }
    }
    if (firstChanged >= 0)
        emitRowsChanged(firstChanged, lastChanged);
}

bool TreeRowModel::isOffline(const VisibleRow &visible) const
{
    // Only roots go offline; asking by URL for every folder row would cost a URL per row.
    return visible.depth == 0 && !m_model.offlineRoots().isEmpty() &&
           m_model.offlineRoots().contains(visible.node->url());
}

bool TreeRowModel::isUnanswered(const VisibleRow &visible) const
{
    return visible.depth == 0 && !m_model.unansweredRoots().isEmpty() &&
           m_model.unansweredRoots().contains(visible.node->url());
}

bool TreeRowModel::updateKeptRow(Row &row, const VisibleRow &visible) const
{
    bool changed = false;
    if (row.row.node != visible.node) {
        row.row.node = visible.node;
        changed = true;
    }
    if (row.isDirectory) {
        const bool expanded = m_model.isExpanded(*visible.node);
        const bool offline = isOffline(visible);
        const bool unanswered = isUnanswered(visible);
        changed = changed || expanded != row.isExpanded || offline != row.isOffline ||
                  unanswered != row.isUnanswered;
        row.isExpanded = expanded;
        row.isOffline = offline;
        row.isUnanswered = unanswered;
    }
    return changed;
}

// After `delta` rows were inserted (or removed, negative) at `first`: rows from there on move,
// and the inserted rows [addedFrom, addedTo) join the index.
void TreeRowModel::refreshTags()
{
    const TagMap tags = m_tags.tags();
    const QSet<QString> changed = changedPaths(m_tagSnapshot, tags);
    m_tagSnapshot = tags;
    for (const QString &path : changed) {
        const quint8 mask = maskOf(m_tagSnapshot.value(path));
        for (int row : rowsShowing(path)) {
            if (m_rows.at(row).tagMask == mask)
                continue;
            m_rows[row].tagMask = mask;
            emitRowsChanged(row, row);
        }
    }
}

void TreeRowModel::refreshPlaying()
{
    const QString previous = m_playingPath;
    m_playingPath = pathOf(m_player.playingURL());
    for (const QString &path : {previous, m_playingPath}) {
        for (int i : rowsShowing(path)) {
            Row &row = m_rows[i];
            const bool playing = !row.isDirectory && !m_playingPath.isEmpty() &&
                                 row.row.node->path() == m_playingPath;
            if (playing == row.isPlaying)
                continue;
            row.isPlaying = playing;
            emitRowsChanged(i, i);
        }
    }
}

// Only the folders above the old and the new selection can change.
void TreeRowModel::refreshContainsSelection()
{
    const QString previous = m_selectionPath;
    m_selectionPath = pathOf(m_model.selection());
    for (const QString &selected : {previous, m_selectionPath}) {
        if (selected.isEmpty())
            continue;
        for (QString folder = FilePaths::parentPath(selected);
             !folder.isEmpty() && folder.size() < selected.size();
             folder = FilePaths::parentPath(folder)) {
            for (int i : rowsShowing(folder)) {
                Row &row = m_rows[i];
                const bool contains = strictlyInside(m_selectionPath, folder);
                if (!row.isDirectory || contains == row.containsSelection)
                    continue;
                row.containsSelection = contains;
                emitRowsChanged(i, i);
            }
            if (folder == QStringLiteral("/"))
                break;
        }
    }
}

void TreeRowModel::emitRowsShowing(const QString &path)
{
    if (path.isEmpty())
        return;
    for (int row : rowsShowing(path))
        emitRowsChanged(row, row);
}

void TreeRowModel::emitRowsChanged(int first, int last)
{
    Q_EMIT dataChanged(index(first), index(last));
}
