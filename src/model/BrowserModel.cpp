// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BrowserModel.h"

#include "FileManagerReveal.h"
#include "FilePaths.h"
#include "FileSystemWatcher.h"
#include "FolderChooser.h"
#include "LibraryFiles.h"
#include "Preferences.h"
#include "TagStore.h"

#include <algorithm>

namespace {
constexpr int errorClearMilliseconds = 2500;
constexpr int refreshDebounceMilliseconds = 800;
} // namespace

BrowserModel::BrowserModel(Preferences &defaults, const QString &indexFilePath, bool liveUpdates,
                           TagStore *tagStore, QObject *parent,
                           std::shared_ptr<const LibraryFiles> files)
    : QObject(parent), m_defaults(defaults),
      m_files(files ? std::move(files) : std::make_shared<const LibraryFiles>()),
      m_tagStore(tagStore), m_liveUpdates(liveUpdates), m_roots(defaults, m_files),
      m_lister(m_files), m_tagFilter(tagStore),
      m_navigation(defaults,
                   {[this](const FileNodePtr &folder) { return m_lister.pendingRow(folder); },
                    [this]() -> const QList<FileNodePtr> & { return m_roots.roots(); },
                    [this]() -> const QList<FileNodePtr> & { return m_tagFilter.scopeFolders(); },
                    [this]() -> const QList<FileNodePtr> & { return m_tagFilter.scopeSamples(); },
                    [this] { return m_tagFilter.isFiltering(); }}),
      m_library(indexFilePath), m_exchange(defaults, tagStore), m_sound(defaults)
{
    // The parts tell what changed; the views observe it here.
    connect(&m_roots, &RootFolders::rootsChanged, this, &BrowserModel::rootsChanged);
    connect(&m_roots, &RootFolders::offlineRootsChanged, this, &BrowserModel::offlineRootsChanged);
    connect(&m_roots, &RootFolders::unansweredRootsChanged, this,
            &BrowserModel::unansweredRootsChanged);
    // A root the disk has just said is gone may have moved: its bookmark finds it.
    connect(&m_roots, &RootFolders::offlineRootsChanged, this, [this] {
        if (!m_roots.offlineRoots().isEmpty())
            healMovedRoots([this](bool healed) {
                if (!healed)
                    return;
                relocateTags();
                runAfterChange();
            });
    });
    // Roots are read ahead: opening one shows its contents at once.
    connect(&m_roots, &RootFolders::rootsChanged, this, [this] {
        for (const FileNodePtr &root : m_roots.roots())
            m_lister.readAhead(root);
    });
    connect(&m_lister, &FolderLister::folderChanged, this, [this](const QString &folder) {
        // A folder read ahead, and not open, changes nothing on screen.
        if (m_navigation.isExpanded(folder))
            Q_EMIT folderContentsChanged();
    });
    connect(&m_lister, &FolderLister::idleChanged, this, &BrowserModel::updateSettled);
    connect(&m_roots, &RootFolders::settledChanged, this, &BrowserModel::updateSettled);
    connect(&m_diskJobs, &DiskJobs::idleChanged, this, &BrowserModel::updateSettled);
    connect(&m_roots, &RootFolders::rootMoved, this, &BrowserModel::rootMoved);
    connect(&m_navigation, &TreeNavigation::expandedChanged, this, &BrowserModel::expandedChanged);
    connect(&m_navigation, &TreeNavigation::selectionChanged, this,
            &BrowserModel::selectionChanged);
    connect(&m_search, &SampleSearch::textChanged, this, &BrowserModel::searchTextChanged);
    connect(&m_search, &SampleSearch::resultsChanged, this, &BrowserModel::searchResultsChanged);
    connect(&m_search, &SampleSearch::modeChanged, this, &BrowserModel::searchModeChanged);
    connect(&m_search, &SampleSearch::runningChanged, this, &BrowserModel::searchRunningChanged);
    connect(&m_search, &SampleSearch::problemChanged, this, &BrowserModel::searchProblemChanged);
    connect(&m_tagFilter, &TagFilter::activeChanged, this, &BrowserModel::activeTagFiltersChanged);
    connect(&m_tagFilter, &TagFilter::scopeFoldersChanged, this,
            &BrowserModel::tagScopeFoldersChanged);
    connect(&m_tagFilter, &TagFilter::scopeSamplesChanged, this,
            &BrowserModel::tagScopeSamplesChanged);
    connect(&m_library, &SampleLibrary::isIndexingChanged, this, &BrowserModel::isIndexingChanged);
    // A search started before the index or the colour scope changed ran on what was known then.
    connect(&m_library, &SampleLibrary::indexChanged, this, [this] {
        Q_EMIT indexChanged();
        runSearch();
    });
    connect(&m_library, &SampleLibrary::indexChanged, &m_sound,
            [this] { m_sound.setIndex(m_library.index()); });
    connect(&m_navigation, &TreeNavigation::selectionChanged, &m_sound, [this] {
        const QString path = FilePaths::normalized(selection());
        const FileNodePtr selected = node(selection());
        m_sound.setFocus(selected && selected->isDirectory() ? path : FilePaths::parentPath(path),
                         path);
    });
    connect(&m_sound, &SoundAnalysisQueue::factsChanged, this, [this] {
        if (m_search.hasSoundFilter())
            runSearch();
    });
    connect(&m_tagFilter, &TagFilter::scopeRecomputed, this, [this] {
        if (isSearching())
            runSearch();
    });

    m_errorClearTimer.setSingleShot(true);
    connect(&m_errorClearTimer, &QTimer::timeout, this, [this] { setLastError(QString()); });
    m_refreshDebounce.setSingleShot(true);
    m_refreshDebounce.setInterval(refreshDebounceMilliseconds);
    connect(&m_refreshDebounce, &QTimer::timeout, this, &BrowserModel::refreshAll);

    m_roots.load();
    m_navigation.load();
    m_roots.updateOffline();
    m_library.loadFromDisk();
    startIndexing();
    restartWatcher();
}

BrowserModel::~BrowserModel()
{
    // Stops the reader thread before anything it could post to goes away.
    m_watcher.reset();
}

// Observed fields: a setter stores and notifies only on a real change; side effects run on
// every assignment where the behaviour asks for it.

void BrowserModel::setSelection(const QUrl &selection)
{
    if (!m_navigation.setSelection(selection))
        return;
    setGlobalSearch(false);
    if (isSearching())
        runSearch();
}

void BrowserModel::setSearchText(const QString &text)
{
    m_search.setText(text);
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
    if (!m_tagFilter.setActive(filters))
        return;
    recomputeTagScope();
    if (isSearching())
        runSearch();
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

bool BrowserModel::isSettled() const
{
    return m_lister.isIdle() && m_roots.isSettled() && m_diskJobs.isIdle();
}

void BrowserModel::updateSettled()
{
    const bool settled = isSettled();
    if (m_settled == settled)
        return;
    m_settled = settled;
    Q_EMIT isSettledChanged();
}

// Roots: each change of the list is followed by the same steps.

void BrowserModel::runAfterChange()
{
    m_roots.persist();
    startIndexing();
    restartWatcher();
    recomputeTagScope();
    m_roots.updateOffline();
}

void BrowserModel::addFolder()
{
    if (!m_folderChooser)
        return;
    const QList<QUrl> chosen = m_folderChooser->chooseFolders(
        {QStringLiteral("Add"), QStringLiteral("Choose a samples folder or drive"), true});
    if (chosen.isEmpty())
        return;
    for (const QUrl &url : chosen)
        m_roots.add(url);
    runAfterChange();
}

void BrowserModel::addDroppedFolders(const QList<QUrl> &urls)
{
    QStringList paths;
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths.append(FilePaths::normalized(url));
    }
    if (paths.isEmpty())
        return;
    using Kinds = QList<std::pair<QString, LibraryFiles::Kind>>;
    const std::shared_ptr<const LibraryFiles> files = m_files;
    m_diskJobs.run(QStringLiteral("add:") + paths.join(QLatin1Char('\n')),
                   files->shareOf(paths.first()), [this, files, paths]() -> std::function<void()> {
                       Kinds kinds;
                       for (const QString &path : paths)
                           kinds.append({path, files->kind(path)});
                       return [this, kinds] {
                           bool added = false;
                           for (const auto &[path, kind] : kinds) {
                               if (kind == LibraryFiles::Kind::Folder) {
                                   added = m_roots.add(QUrl::fromLocalFile(path)) || added;
                               } else if (kind == LibraryFiles::Kind::File) {
                                   // A sample dropped or named by mistake is a mistake worth a
                                   // word; a path that does not exist (a stale argument) is not.
                                   setLastError(
                                       QStringLiteral("Only folders can be added: \u201C") +
                                       FilePaths::displayText(FilePaths::lastComponent(path)) +
                                       QStringLiteral("\u201D is a file"));
                               }
                           }
                           if (added)
                               runAfterChange();
                       };
                   });
}

void BrowserModel::relinkRoot(const FileNodePtr &node)
{
    if (!m_folderChooser || !node)
        return;
    const QString message = QStringLiteral("Choose the new location of \u201C") +
                            FilePaths::displayText(node->name()) + QStringLiteral("\u201D");
    const QList<QUrl> chosen =
        m_folderChooser->chooseFolders({QStringLiteral("Relink"), message, false});
    if (chosen.isEmpty())
        return;
    relink(node, chosen.first());
}

void BrowserModel::relink(const FileNodePtr &node, const QUrl &to)
{
    if (!node)
        return;
    const QString newPath = FilePaths::normalized(to);
    const QString oldPath = node->path();
    if (newPath == oldPath || !m_roots.replace(oldPath, to))
        return;
    if (m_tagStore)
        m_tagStore->moveTags(QUrl::fromLocalFile(oldPath), QUrl::fromLocalFile(newPath));
    rootMoved(oldPath, newPath);
    runAfterChange();
}

void BrowserModel::removeRoot(const FileNodePtr &node)
{
    if (!node)
        return;
    const QString path = node->path();
    m_roots.remove(path);
    m_navigation.forget(path);
    if (!selection().isEmpty() && FilePaths::isAtOrBelow(FilePaths::normalized(selection()), path))
        setSelection(QUrl());
    runAfterChange();
}

void BrowserModel::healMovedRoots(std::function<void(bool healed)> done)
{
    m_roots.heal(std::move(done));
}

// What was open and selected inside a moved root stays open and selected at its new place.
void BrowserModel::rootMoved(const QString &oldPath, const QString &newPath)
{
    m_navigation.rebase(oldPath, newPath);
    const QString selected = FilePaths::normalized(selection());
    if (!selection().isEmpty() && FilePaths::isAtOrBelow(selected, oldPath))
        setSelection(QUrl::fromLocalFile(FilePaths::rebased(selected, oldPath, newPath)));
}

// Navigation.

void BrowserModel::revealInBrowser(const QUrl &url)
{
    setActiveTagFilters({});
    setSearchText(QString());
    setGlobalSearch(false);
    const QString target = FilePaths::normalized(url);
    const QStringList roots = m_roots.paths();
    const auto root = std::find_if(roots.cbegin(), roots.cend(), [&](const QString &path) {
        return FilePaths::isAtOrBelow(target, path);
    });
    if (root == roots.cend()) {
        setSelection(url);
        return;
    }
    // The deepest item of the path that still exists, and whether it is a folder, are the
    // disk's to say: a file deleted since the search shows where it was.
    const std::shared_ptr<const LibraryFiles> files = m_files;
    m_diskJobs.run(QStringLiteral("show:") + target, files->shareOf(target),
                   [this, files, target, root = *root]() -> std::function<void()> {
                       QString at = target;
                       LibraryFiles::Kind kind = files->kind(at);
                       while (kind != LibraryFiles::Kind::Folder &&
                              kind != LibraryFiles::Kind::File && at != root) {
                           at = FilePaths::parentPath(at);
                           kind = files->kind(at);
                       }
                       return [this, at, kind] {
                           const QUrl shown = QUrl::fromLocalFile(at);
                           m_navigation.reveal(shown, kind == LibraryFiles::Kind::Folder);
                           setSelection(shown);
                       };
                   });
}

void BrowserModel::revealInFinder(const QUrl &url)
{
    const QString path = FilePaths::normalized(url);
    const std::shared_ptr<const LibraryFiles> files = m_files;
    m_diskJobs.run(QStringLiteral("reveal:") + path, files->shareOf(path),
                   [this, files, path]() -> std::function<void()> {
                       const LibraryFiles::Kind kind = files->kind(path);
                       return [this, path, kind] {
                           if (kind == LibraryFiles::Kind::Missing ||
                               kind == LibraryFiles::Kind::Failed) {
                               setLastError(FilePaths::displayText(FilePaths::lastComponent(path)) +
                                            QStringLiteral(" isn't available right now"));
                               return;
                           }
                           (m_reveal ? *m_reveal : FileManagerReveal::systemDefault()).reveal(path);
                       };
                   });
}

void BrowserModel::searchInFolder(const QUrl &url)
{
    setSelection(url);
    requestSearchFocus();
}

// Search: where it looks follows from the colour filters, the scope and the selection.

void BrowserModel::runSearch()
{
    SampleIndex::Scope scope;
    const auto utf8 = [](const QString &text) { return text.toUtf8().toStdString(); };
    if (m_tagFilter.isFiltering()) {
        scope.kind = SampleIndex::Scope::Kind::Tags;
        for (const FileNodePtr &folder : m_tagFilter.scopeFolders())
            scope.folders.push_back(utf8(folder->path()));
        for (const FileNodePtr &sample : m_tagFilter.scopeSamples())
            scope.files.push_back(utf8(sample->path()));
        std::sort(scope.files.begin(), scope.files.end());
    } else if (!m_globalSearch && isSearching()) {
        const QUrl folder = selectedFolder();
        if (!folder.isEmpty()) {
            scope.kind = SampleIndex::Scope::Kind::Folder;
            scope.folder = utf8(FilePaths::normalized(folder));
        }
    }
    m_search.run(m_library.index(), std::move(scope), m_sound.index(), m_sound.facts());
}

void BrowserModel::searchAllFolders()
{
    if (m_tagFilter.isFiltering())
        setActiveTagFilters({});
    setGlobalSearch(true);
    requestSearchFocus();
}

void BrowserModel::clearSearch()
{
    m_search.setMode(SampleSearch::Mode::Names);
    setSearchText(QString());
    setGlobalSearch(false);
    if (m_tagFilter.isFiltering())
        setActiveTagFilters({});
    setResultSelection(QUrl());
}

void BrowserModel::findSimilar(const QUrl &file)
{
    m_search.setText(QString());
    m_search.setMode(SampleSearch::Mode::Similar, FilePaths::normalized(file));
    if (m_tagFilter.isFiltering())
        setActiveTagFilters({});
    setGlobalSearch(true);
    runSearch();
}

void BrowserModel::showCopies(const QUrl &folder)
{
    m_search.setText(QString());
    m_search.setMode(SampleSearch::Mode::Copies);
    if (m_tagFilter.isFiltering())
        setActiveTagFilters({});
    if (!folder.isEmpty())
        m_navigation.setSelection(folder);
    setGlobalSearch(folder.isEmpty());
    runSearch();
}

void BrowserModel::searchByName()
{
    if (m_search.setMode(SampleSearch::Mode::Names))
        runSearch();
}

QUrl BrowserModel::similarTo() const
{
    const QString path = m_search.queryPath();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

void BrowserModel::keepOnlyCopy(const QUrl &keep)
{
    const QList<FileNodePtr> &results = m_search.results();
    const QList<int> &groups = m_search.resultGroups();
    const QString kept = FilePaths::normalized(keep);
    qsizetype row = 0;
    while (row < results.size() && results[row]->path() != kept)
        ++row;
    if (m_search.mode() != SampleSearch::Mode::Copies || row == results.size() ||
        groups.size() != results.size())
        return;
    QStringList others;
    for (qsizetype i = 0; i < results.size(); ++i) {
        if (groups[i] == groups[row] && i != row)
            others.append(results[i]->path());
    }
    const std::shared_ptr<const LibraryFiles> files = m_files;
    m_diskJobs.run(
        QStringLiteral("trash:") + kept, files->shareOf(kept),
        [this, files, kept, others]() -> std::function<void()> {
            QStringList trashed;
            QStringList failed;
            for (const QString &path : others)
                (files->moveToTrash(path) ? trashed : failed).append(path);
            return [this, kept, trashed, failed] {
                // The copies' colours live on in the one kept; the trashed ones keep none, so
                // nothing follows them into the trash.
                if (m_tagStore) {
                    FinderTagSet tags = m_tagStore->tagsFor(QUrl::fromLocalFile(kept));
                    for (const QString &path : trashed) {
                        tags.unite(m_tagStore->tagsFor(QUrl::fromLocalFile(path)));
                        m_tagStore->setTags({}, QUrl::fromLocalFile(path));
                    }
                    m_tagStore->setTags(tags, QUrl::fromLocalFile(kept));
                }
                if (!failed.isEmpty())
                    setLastError(QStringLiteral("Couldn’t move “") +
                                 FilePaths::displayText(FilePaths::lastComponent(failed.first())) +
                                 QStringLiteral("” to the trash"));
                FileSystemChanges changes;
                for (const QString &path : trashed)
                    changes.folders.append(FilePaths::parentPath(path));
                changes.normalise();
                if (!changes.isEmpty())
                    scheduleRefresh(changes);
            };
        });
}

void BrowserModel::toggleTagFilter(FinderTag tag)
{
    FinderTagSet filters = activeTagFilters();
    if (!filters.remove(tag))
        filters.insert(tag);
    setActiveTagFilters(filters);
}

// Colour exchange.

void BrowserModel::importFinderTags(std::function<void(qint64 changed)> completion)
{
    m_exchange.importTags(m_roots.urls(), std::move(completion));
}

void BrowserModel::exportFinderTags(bool allowDefaultNames,
                                    std::function<void(ExportSummary)> completion)
{
    m_exchange.exportTags(allowDefaultNames, std::move(completion));
}
