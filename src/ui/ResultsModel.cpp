// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResultsModel.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "FilePaths.h"
#include "SoundFactsText.h"

#include <QDir>
#include <QMimeData>
#include <QThreadPool>

namespace {
// After this many scans of one list, an index of it pays for itself.
constexpr int linearLookupsBeforeIndex = 8;
constexpr qsizetype releaseOffThreadFrom = 5000;
} // namespace

ResultsModel::ResultsModel(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                           QObject *parent)
    : QAbstractTableModel(parent), m_model(model), m_player(player), m_tags(tags),
      m_results(model.searchResults()), m_playingPath(player.playingURL().toLocalFile()),
      m_lastTags(tags.tags())
{
    connect(&m_model, &BrowserModel::searchResultsChanged, this, &ResultsModel::reload);
    connect(&m_player, &AudioPreviewPlayer::playingURLChanged, this, &ResultsModel::updatePlaying);
    connect(&m_tags, &TagStore::tagsChanged, this, &ResultsModel::updateTags);
    connect(&m_model.soundAnalysis(), &SoundAnalysisQueue::factsChanged, this, [this] {
        if (!m_results.isEmpty())
            Q_EMIT dataChanged(index(0, TempoColumn), index(rowCount() - 1, KeyColumn));
    });
    connect(&m_model, &BrowserModel::rootsChanged, this, [this] {
        if (!m_results.isEmpty())
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {FolderRole});
    });
}

ResultsModel::~ResultsModel() = default;

int ResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_results.size());
}

int ResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case TempoColumn:
        return QStringLiteral("BPM");
    case KeyColumn:
        return QStringLiteral("Key");
    default:
        return QVariant();
    }
}

QVariant ResultsModel::soundData(const FileNodePtr &item, int column, int role) const
{
    const SoundFacts facts = m_model.soundFacts(item->url());
    const bool known = facts.status() == SoundFacts::Status::Analysed;
    switch (role) {
    case Qt::DisplayRole:
        if (column == TempoColumn)
            return known && facts.bpm() > 0 ? QString::number(facts.bpm(), 'f', 1) : QString();
        return SoundFactsText::key(facts);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    case SortRole:
        // Unknown sorts last in ascending order.
        if (column == TempoColumn)
            return known && facts.bpm() > 0 ? facts.bpm() : 1e9;
        return known && facts.key() >= 0 ? facts.key() : 1000;
    default:
        return QVariant();
    }
}

void ResultsModel::sort(int column, Qt::SortOrder order)
{
    if (column == m_sortColumn && order == m_sortOrder)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    Q_EMIT layoutAboutToBeChanged();
    m_results = m_model.searchResults();
    applySort();
    m_playingRow.reset();
    m_rowByPath.clear();
    m_linearLookups = 0;
    Q_EMIT layoutChanged();
}

// The name column keeps the search's own order (name, then path) whichever way it is asked.
void ResultsModel::applySort()
{
    if (m_sortColumn != TempoColumn && m_sortColumn != KeyColumn)
        return;
    std::vector<std::pair<double, FileNodePtr>> keyed;
    keyed.reserve(size_t(m_results.size()));
    for (const FileNodePtr &item : std::as_const(m_results))
        keyed.emplace_back(soundData(item, m_sortColumn, SortRole).toDouble(), item);
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto &a, const auto &b) {
        return ascending ? a.first < b.first : a.first > b.first;
    });
    m_results.clear();
    for (auto &[key, item] : keyed)
        m_results.append(std::move(item));
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const
{
    const FileNodePtr item = index.isValid() ? node(index.row()) : nullptr;
    if (!item)
        return QVariant();
    if (index.column() != NameColumn &&
        (role == Qt::DisplayRole || role == Qt::TextAlignmentRole || role == SortRole))
        return soundData(item, index.column(), role);
    switch (role) {
    case Qt::DisplayRole:
        return FilePaths::displayText(item->name());
    case UrlRole:
        return item->url();
    case IsDirectoryRole:
        return item->isDirectory();
    case IsPlayingRole:
        return isPlaying(index.row());
    case FolderRole:
        return copyLabel(index.row()) + folder(index.row());
    case Qt::ToolTipRole:
        return QDir::toNativeSeparators(item->path());
    case TagsRole: {
        QVariantList raw;
        for (FinderTag tag : tags(index.row()))
            raw.append(FinderTags::rawValue(tag));
        return raw;
    }
    default:
        return QVariant();
    }
}

QString ResultsModel::folder(int row) const
{
    const FileNodePtr item = node(row);
    if (!item)
        return {};
    // Only the path is looked at: an offline root's results name their folders all the same.
    const QString &path = item->path();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash > 0 ? path.left(slash) : QStringLiteral("/");
    const FileNode *best = nullptr;
    for (const FileNodePtr &root : m_model.roots()) {
        const QString &rootPath = root->path();
        const bool inside =
            parent == rootPath ||
            (parent.startsWith(rootPath) && (rootPath.endsWith(QLatin1Char('/')) ||
                                             parent.at(rootPath.size()) == QLatin1Char('/')));
        if (inside && (best == nullptr || rootPath.size() > best->path().size()))
            best = root.get();
    }
    if (best == nullptr)
        return FilePaths::displayText(QDir::toNativeSeparators(parent));
    if (parent == best->path())
        return FilePaths::displayText(best->name());
    const qsizetype skip = best->path().size() + (best->path().endsWith(QLatin1Char('/')) ? 0 : 1);
    return FilePaths::displayText(QDir::toNativeSeparators(parent.mid(skip)));
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex &index) const
{
    const FileNodePtr item = index.isValid() ? node(index.row()) : nullptr;
    if (!item)
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (!item->isDirectory())
        result |= Qt::ItemIsDragEnabled;
    return result;
}

QStringList ResultsModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *ResultsModel::mimeData(const QModelIndexList &indexes) const
{
    QStringList paths;
    for (const QModelIndex &index : indexes) {
        const FileNodePtr item = index.isValid() ? node(index.row()) : nullptr;
        // The disk is not asked here, on the GUI thread: the live updates take a deleted file
        // out of the results.
        if (item && !item->isDirectory())
            paths.append(item->path());
    }
    if (paths.isEmpty())
        return nullptr;
    auto *mime = new QMimeData;
    mime->setData(QStringLiteral("text/uri-list"), FilePaths::uriList(paths));
    return mime;
}

Qt::DropActions ResultsModel::supportedDragActions() const
{
    return Qt::CopyAction;
}

FileNodePtr ResultsModel::node(int row) const
{
    return row >= 0 && row < m_results.size() ? m_results.at(row) : nullptr;
}

int ResultsModel::rowOf(const QUrl &url) const
{
    return url.isEmpty() ? -1 : rowOfPath(url.toLocalFile());
}

int ResultsModel::rowOfPath(const QString &path) const
{
    if (path.isEmpty())
        return -1;
    if (!m_rowByPath.isEmpty())
        return m_rowByPath.value(path, -1);
    if (++m_linearLookups <= linearLookupsBeforeIndex) {
        for (qsizetype row = 0; row < m_results.size(); ++row) {
            if (m_results.at(row)->path() == path)
                return static_cast<int>(row);
        }
        return -1;
    }
    m_rowByPath.reserve(m_results.size());
    // The first row of a path wins, as a scan would find it.
    for (qsizetype row = m_results.size() - 1; row >= 0; --row)
        m_rowByPath.insert(m_results.at(row)->path(), static_cast<int>(row));
    return m_rowByPath.value(path, -1);
}

QList<FinderTag> ResultsModel::tags(int row) const
{
    const FileNodePtr item = node(row);
    if (!item)
        return {};
    const auto entry = m_lastTags.constFind(item->path());
    if (entry == m_lastTags.cend())
        return {};
    FinderTagSet set;
    for (qint64 raw : *entry) {
        if (const std::optional<FinderTag> tag = FinderTags::fromRawValue(raw))
            set.insert(*tag);
    }
    return FinderTags::sorted(set);
}

bool ResultsModel::isPlaying(int row) const
{
    const FileNodePtr item = node(row);
    return item && !m_playingPath.isEmpty() && item->path() == m_playingPath;
}

int ResultsModel::playingRow() const
{
    if (!m_playingRow)
        m_playingRow = rowOfPath(m_playingPath);
    return *m_playingRow;
}

QString ResultsModel::copyLabel(int row) const
{
    const auto copy = m_copies.constFind(node(row) ? node(row)->path() : QString());
    if (copy == m_copies.cend())
        return {};
    return QStringLiteral("Copy %1 of %2 \u00B7 ").arg(copy->first).arg(copy->second);
}

void ResultsModel::reload()
{
    beginResetModel();
    QList<FileNodePtr> previous = std::exchange(m_results, m_model.searchResults());
    // Copies are told by the rank within their group, which a sort by tempo or key keeps.
    m_copies.clear();
    const QList<int> &groups = m_model.searchResultGroups();
    if (groups.size() == m_results.size()) {
        for (qsizetype first = 0; first < groups.size();) {
            qsizetype end = first;
            while (end < groups.size() && groups[end] == groups[first])
                ++end;
            for (qsizetype i = first; i < end; ++i)
                m_copies.insert(m_results[i]->path(), {int(i - first + 1), int(end - first)});
            first = end;
        }
    }
    applySort();
    m_playingRow.reset();
    m_rowByPath.clear();
    m_linearLookups = 0;
    endResetModel();
    // This is usually the last reference to the old list; freeing a node per row would cost the
    // GUI thread a frame or more for a long list, and nodes hold nothing tied to a thread.
    if (previous.size() >= releaseOffThreadFrom && previous.isDetached())
        QThreadPool::globalInstance()->start(
            [list = std::move(previous)]() mutable { list.clear(); });
}

void ResultsModel::updatePlaying()
{
    const QString previous = std::exchange(m_playingPath, m_player.playingURL().toLocalFile());
    if (previous == m_playingPath)
        return;
    const int previousRow = m_playingRow ? *m_playingRow : rowOfPath(previous);
    m_playingRow.reset();
    rowChanged(previousRow);
    rowChanged(playingRow());
}

void ResultsModel::updateTags()
{
    const TagMap previous = std::exchange(m_lastTags, m_tags.tags());
    // Both maps are ordered by path, so one merge pass finds every item whose tags changed.
    QStringList changed;
    auto before = previous.cbegin();
    auto after = m_lastTags.cbegin();
    while (before != previous.cend() || after != m_lastTags.cend()) {
        if (after == m_lastTags.cend() ||
            (before != previous.cend() && before.key() < after.key())) {
            changed.append(before.key());
            ++before;
        } else if (before == previous.cend() || after.key() < before.key()) {
            changed.append(after.key());
            ++after;
        } else {
            if (before.value() != after.value())
                changed.append(before.key());
            ++before;
            ++after;
        }
    }
    for (const QString &path : std::as_const(changed))
        rowChanged(rowOfPath(path));
}

void ResultsModel::rowChanged(int row)
{
    if (row < 0)
        return;
    const QModelIndex changedIndex = index(row, 0);
    Q_EMIT dataChanged(changedIndex, changedIndex);
}
