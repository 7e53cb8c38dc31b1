#include "TreeRowModel.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "FilePaths.h"
#include "TagStore.h"

#include <algorithm>

namespace {

QString pathOf(const QUrl &url)
{
    return url.isEmpty() ? QString() : FilePaths::normalized(url);
}

bool strictlyInside(const QString &path, const QString &folder)
{
    return path.size() > folder.size() + 1 && path.startsWith(folder) &&
           path.at(folder.size()) == QLatin1Char('/');
}

quint8 maskOf(const FinderTagSet &tags)
{
    quint8 mask = 0;
    for (FinderTag tag : tags)
        mask |= static_cast<quint8>(1u << FinderTags::rawValue(tag));
    return mask;
}

bool sameLook(const TreeRowModel::Row &a, const TreeRowModel::Row &b)
{
    return a.row.node == b.row.node && a.tagMask == b.tagMask && a.isExpanded == b.isExpanded &&
           a.isOffline == b.isOffline && a.isPlaying == b.isPlaying &&
           a.containsSelection == b.containsSelection;
}

} // namespace

TreeRowModel::TreeRowModel(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                           QObject *parent)
    : QAbstractListModel(parent), m_model(model), m_player(player), m_tags(tags)
{
    m_playingPath = pathOf(player.playingURL());
    m_selectionPath = pathOf(model.selection());
    for (auto signal :
         {&BrowserModel::rootsChanged, &BrowserModel::expandedChanged,
          &BrowserModel::offlineRootsChanged, &BrowserModel::activeTagFiltersChanged,
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

QVariant TreeRowModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return row.name;
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
    const QString path = FilePaths::normalized(url);
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).row.node->path() == path)
            return i;
    }
    return -1;
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
    row.name = node.name();
    row.isDirectory = node.isDirectory();
    const QUrl url = node.url();
    row.tagMask = maskOf(m_tags.tagsFor(url));
    if (row.isDirectory) {
        row.isExpanded = m_model.expanded().contains(url);
        row.isOffline = m_model.offlineRoots().contains(url);
        row.containsSelection = strictlyInside(m_selectionPath, node.path());
    } else {
        row.isPlaying = !m_playingPath.isEmpty() && node.path() == m_playingPath;
    }
    return row;
}

// Expanding or collapsing one folder inserts or removes one contiguous block; anything else
// that changes the row identities resets the list.
void TreeRowModel::rebuild()
{
    const QList<VisibleRow> visible =
        m_model.activeTagFilters().isEmpty() ? m_model.visibleRows() : m_model.tagScopedRows();
    QList<Row> rows;
    rows.reserve(visible.size());
    for (const VisibleRow &row : visible)
        rows.append(makeRow(row));

    const qsizetype oldCount = m_rows.size();
    const qsizetype newCount = rows.size();
    const qsizetype shorter = std::min(oldCount, newCount);
    qsizetype prefix = 0;
    while (prefix < shorter && m_rows.at(prefix).row.id() == rows.at(prefix).row.id())
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           m_rows.at(oldCount - 1 - suffix).row.id() == rows.at(newCount - 1 - suffix).row.id())
        ++suffix;

    // Rows kept in place whose look changed (the toggled folder's chevron, new node objects).
    int firstChanged = -1;
    int lastChanged = -1;
    auto noteKept = [&](qsizetype newRow, qsizetype oldRow) {
        if (!sameLook(rows.at(newRow), m_rows.at(oldRow))) {
            if (firstChanged < 0)
                firstChanged = static_cast<int>(newRow);
            lastChanged = static_cast<int>(newRow);
        }
    };

    m_changingRows = true;
    if (prefix == oldCount && prefix == newCount) {
        for (qsizetype i = 0; i < newCount; ++i)
            noteKept(i, i);
        m_rows = std::move(rows);
    } else if (prefix + suffix == oldCount) {
        for (qsizetype i = 0; i < prefix; ++i)
            noteKept(i, i);
        for (qsizetype i = 0; i < suffix; ++i)
            noteKept(newCount - 1 - i, oldCount - 1 - i);
        beginInsertRows({}, static_cast<int>(prefix), static_cast<int>(newCount - suffix - 1));
        m_rows = std::move(rows);
        endInsertRows();
    } else if (prefix + suffix == newCount) {
        for (qsizetype i = 0; i < prefix; ++i)
            noteKept(i, i);
        for (qsizetype i = 0; i < suffix; ++i)
            noteKept(newCount - 1 - i, oldCount - 1 - i);
        beginRemoveRows({}, static_cast<int>(prefix), static_cast<int>(oldCount - suffix - 1));
        m_rows = std::move(rows);
        endRemoveRows();
    } else {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    m_changingRows = false;
    if (firstChanged >= 0)
        emitRowsChanged(firstChanged, lastChanged);
}

void TreeRowModel::refreshTags()
{
    int first = -1;
    int last = -1;
    for (int i = 0; i < m_rows.size(); ++i) {
        Row &row = m_rows[i];
        const quint8 mask = maskOf(m_tags.tagsFor(row.row.node->url()));
        if (mask == row.tagMask)
            continue;
        row.tagMask = mask;
        if (first < 0)
            first = i;
        last = i;
    }
    if (first >= 0)
        emitRowsChanged(first, last);
}

void TreeRowModel::refreshPlaying()
{
    m_playingPath = pathOf(m_player.playingURL());
    for (int i = 0; i < m_rows.size(); ++i) {
        Row &row = m_rows[i];
        const bool playing =
            !row.isDirectory && !m_playingPath.isEmpty() && row.row.node->path() == m_playingPath;
        if (playing == row.isPlaying)
            continue;
        row.isPlaying = playing;
        emitRowsChanged(i, i);
    }
}

void TreeRowModel::refreshContainsSelection()
{
    m_selectionPath = pathOf(m_model.selection());
    for (int i = 0; i < m_rows.size(); ++i) {
        Row &row = m_rows[i];
        if (!row.isDirectory)
            continue;
        const bool contains = strictlyInside(m_selectionPath, row.row.node->path());
        if (contains == row.containsSelection)
            continue;
        row.containsSelection = contains;
        emitRowsChanged(i, i);
    }
}

void TreeRowModel::emitRowsShowing(const QString &path)
{
    if (path.isEmpty())
        return;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).row.node->path() == path)
            emitRowsChanged(i, i);
    }
}

void TreeRowModel::emitRowsChanged(int first, int last)
{
    Q_EMIT dataChanged(index(first), index(last));
}
