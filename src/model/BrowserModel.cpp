#include "BrowserModel.h"

#include "FilePaths.h"
#include "FileSystemWatcher.h"
#include "Preferences.h"
#include "SerialQueue.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

namespace {
constexpr int errorClearMilliseconds = 2500;
} // namespace

BrowserModel::BrowserModel(Preferences &defaults, const QString &indexFilePath, bool liveUpdates,
                           TagStore *tagStore, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_tagStore(tagStore),
      m_indexFilePath(indexFilePath.isEmpty() ? defaultIndexFilePath() : indexFilePath),
      m_liveUpdates(liveUpdates), m_index(SampleIndex::Builder().finish())
{
    m_errorClearTimer.setSingleShot(true);
    connect(&m_errorClearTimer, &QTimer::timeout, this, [this] { setLastError(QString()); });
    m_searchDelay.setSingleShot(true);
    m_searchDelay.setTimerType(Qt::PreciseTimer);
    connect(&m_searchDelay, &QTimer::timeout, this, [this] {
        if (auto pending = std::exchange(m_pendingSearch, nullptr))
            pending();
    });
    m_refreshDebounce.setSingleShot(true);
    m_refreshDebounce.setInterval(800);
    connect(&m_refreshDebounce, &QTimer::timeout, this, &BrowserModel::refreshAll);
    m_indexWriteTimer.setSingleShot(true);
    connect(&m_indexWriteTimer, &QTimer::timeout, this, [this] {
        if (m_indexWriteDue)
            writeIndexWhenRested();
    });

    loadRoots();
    loadExpandedAndSelection();
    healMovedRoots([this](bool healed) {
        if (healed)
            runAfterChange();
    });
    updateOfflineRoots();
    loadIndexFromDisk();
    startIndexing();
    restartWatcher();
}

BrowserModel::~BrowserModel()
{
    if (m_indexCancel)
        m_indexCancel->cancel();
    for (const CancelFlagPtr &flag : {m_searchCancel, m_healCancel, m_tagScopeCancel}) {
        if (flag)
            flag->cancel();
    }
    // Stops the reader thread before anything it could post to goes away.
    m_watcher.reset();
    // Live changes not yet written go out now; the queue finishes its writes before it goes.
    if (m_indexWriteDue)
        writeIndexNow();
}

QString BrowserModel::defaultIndexFilePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Wavelark/index.plist");
}

// Observed fields: a setter stores and notifies only on a real change; side effects run on
// every assignment where the behaviour asks for it.

void BrowserModel::setRoots(const QList<FileNodePtr> &roots)
{
    if (sameNodes(m_roots, roots))
        return;
    m_roots = roots;
    Q_EMIT rootsChanged();
}

void BrowserModel::notifyTreeChanged()
{
    Q_EMIT rootsChanged();
}

void BrowserModel::setOfflineRoots(const QSet<QUrl> &offline)
{
    if (m_offlineRoots == offline)
        return;
    m_offlineRoots = offline;
    Q_EMIT offlineRootsChanged();
}

void BrowserModel::setExpanded(const QSet<QUrl> &expanded)
{
    if (m_expanded == expanded)
        return;
    storeExpanded(expanded);
    Q_EMIT expandedChanged();
}

void BrowserModel::storeExpanded(QSet<QUrl> expanded)
{
    m_expanded = std::move(expanded);
    // The tree asks this of every folder row it lays out; a URL per row costs more than the row.
    m_expandedPaths.clear();
    m_expandedPaths.reserve(m_expanded.size());
    for (const QUrl &url : std::as_const(m_expanded))
        m_expandedPaths.insert(FilePaths::normalized(url));
}

void BrowserModel::setSelection(const QUrl &selection)
{
    const QUrl normalized =
        selection.isEmpty() ? QUrl() : FilePaths::fileUrl(FilePaths::normalized(selection));
    if (normalized == m_selection)
        return;
    m_selection = normalized;
    Q_EMIT selectionChanged();

    if (m_selection.isEmpty())
        m_defaults.removeObjectForKey(QStringLiteral("selectedItemPath"));
    else
        m_defaults.setObject(m_selection.toLocalFile(), QStringLiteral("selectedItemPath"));
    setGlobalSearch(false);
    if (isSearching())
        runSearch();
}

void BrowserModel::setSearchText(const QString &text)
{
    if (m_searchText != text) {
        m_searchText = text;
        Q_EMIT searchTextChanged();
    }
    runSearch();
}

void BrowserModel::setGlobalSearch(bool global)
{
    if (m_globalSearch != global) {
        m_globalSearch = global;
        Q_EMIT globalSearchChanged();
    }
    if (isSearching())
        runSearch();
}

void BrowserModel::setResultSelection(const QUrl &url)
{
    if (m_resultSelection == url)
        return;
    m_resultSelection = url;
    Q_EMIT resultSelectionChanged();
}

void BrowserModel::setActiveTagFilters(const FinderTagSet &filters)
{
    if (m_activeTagFilters == filters)
        return;
    m_activeTagFilters = filters;
    Q_EMIT activeTagFiltersChanged();
    recomputeTagScope();
    if (isSearching())
        runSearch();
}

void BrowserModel::setTagScope(const QList<FileNodePtr> &folders, const QList<FileNodePtr> &samples)
{
    if (!sameNodes(m_tagScopeFolders, folders)) {
        m_tagScopeFolders = folders;
        Q_EMIT tagScopeFoldersChanged();
    }
    if (!sameNodes(m_tagScopeSamples, samples)) {
        m_tagScopeSamples = samples;
        Q_EMIT tagScopeSamplesChanged();
    }
}

void BrowserModel::setSearchResults(const QList<FileNodePtr> &results)
{
    if (m_searchResults.isSharedWith(results) || sameNodes(m_searchResults, results))
        return;
    m_searchResults = results;
    Q_EMIT searchResultsChanged();
}

void BrowserModel::setIsIndexing(bool indexing)
{
    if (m_isIndexing == indexing)
        return;
    m_isIndexing = indexing;
    Q_EMIT isIndexingChanged();
}

void BrowserModel::requestSearchFocus()
{
    ++m_searchFocusRequest;
    Q_EMIT searchFocusRequestChanged();
}

void BrowserModel::requestResultsFocus()
{
    ++m_focusResultsRequest;
    Q_EMIT focusResultsRequestChanged();
}

void BrowserModel::requestTreeFocus()
{
    ++m_focusTreeRequest;
    Q_EMIT focusTreeRequestChanged();
}

void BrowserModel::setSearchFieldFocused(bool focused)
{
    if (m_isSearchFieldFocused == focused)
        return;
    m_isSearchFieldFocused = focused;
    Q_EMIT isSearchFieldFocusedChanged();
}

void BrowserModel::setLastError(const QString &message)
{
    if (m_lastError != message) {
        m_lastError = message;
        Q_EMIT lastErrorChanged();
    }
    // A newer message always gets its full time; clearing by hand cancels the pending clear.
    m_errorClearTimer.stop();
    if (!m_lastError.isEmpty())
        m_errorClearTimer.start(errorClearMilliseconds);
}

// Rows.

void BrowserModel::appendRows(QList<VisibleRow> &rows, const FileNodePtr &node, int depth,
                              const QUrl &context) const
{
    rows.append(VisibleRow{node, depth, context});
    if (!isExpanded(*node))
        return;
    const QUrl childContext = context.isEmpty() ? node->url() : context;
    for (const FileNodePtr &child : node->children())
        appendRows(rows, child, depth + 1, childContext);
}

QList<VisibleRow> BrowserModel::visibleRows() const
{
    QList<VisibleRow> rows;
    for (const FileNodePtr &root : m_roots)
        appendRows(rows, root, 0, QUrl());
    return rows;
}

QList<VisibleRow> BrowserModel::tagScopedRows() const
{
    QList<VisibleRow> rows;
    for (const FileNodePtr &folder : m_tagScopeFolders)
        appendRows(rows, folder, 0, QUrl());
    for (const FileNodePtr &sample : m_tagScopeSamples)
        rows.append(VisibleRow{sample, 0, QUrl()});
    return rows;
}

FileNodePtr BrowserModel::node(const QUrl &url) const
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
    for (const FileNodePtr &root : m_roots) {
        if (FileNodePtr found = below(root))
            return found;
    }
    if (!m_activeTagFilters.isEmpty()) {
        for (const FileNodePtr &folder : m_tagScopeFolders) {
            if (FileNodePtr found = below(folder))
                return found;
        }
        for (const FileNodePtr &sample : m_tagScopeSamples) {
            if (sample->path() == path)
                return sample;
        }
    }
    return nullptr;
}

bool BrowserModel::isExpanded(const FileNode &node) const
{
    return node.isDirectory() && m_expandedPaths.contains(node.path());
}

SerialQueue &BrowserModel::indexWriteQueue()
{
    if (!m_indexWriteQueue)
        m_indexWriteQueue =
            std::make_unique<SerialQueue>(QStringLiteral("org.wavelark.Wavelark.indexWrite"));
    return *m_indexWriteQueue;
}

void BrowserModel::waitForIndexWrites()
{
    if (m_indexWriteQueue)
        m_indexWriteQueue->waitForDone();
}
