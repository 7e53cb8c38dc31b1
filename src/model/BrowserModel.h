// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileNode.h"
#include "FileSystemChanges.h"
#include "FinderTag.h"
#include "FinderTagExchange.h"
#include "FolderLister.h"
#include "RootFolders.h"
#include "SampleLibrary.h"
#include "SampleSearch.h"
#include "SoundAnalysisQueue.h"
#include "TagFilter.h"
#include "TreeNavigation.h"
#include "VisibleRow.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class FileManagerReveal;
class FileSystemWatcher;
class FolderChooser;
class LibraryFiles;
class Preferences;
class TagStore;

// Everything the browser window shows about files, as one object for the views. It owns one part
// per concern and keeps only what ties them together: the roots (`RootFolders`), expansion,
// selection and rows (`TreeNavigation`), the index and its file (`SampleLibrary`), name search
// (`SampleSearch`), the colour filters (`TagFilter`) and the colour exchange with the file
// manager (`FinderTagExchange`); here live what a change of one means for the others, the live
// updates from the disk, the focus requests and the last error. Main thread only.
class BrowserModel final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<FileNodePtr> roots READ roots NOTIFY rootsChanged)
    Q_PROPERTY(QSet<QUrl> offlineRoots READ offlineRoots NOTIFY offlineRootsChanged)
    Q_PROPERTY(QSet<QUrl> unansweredRoots READ unansweredRoots NOTIFY unansweredRootsChanged)
    Q_PROPERTY(bool isSettled READ isSettled NOTIFY isSettledChanged)
    Q_PROPERTY(QSet<QUrl> expanded READ expanded WRITE setExpanded NOTIFY expandedChanged)
    Q_PROPERTY(QUrl selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(bool globalSearch READ globalSearch WRITE setGlobalSearch NOTIFY globalSearchChanged)
    Q_PROPERTY(QUrl resultSelection READ resultSelection WRITE setResultSelection NOTIFY
                   resultSelectionChanged)
    Q_PROPERTY(FinderTagSet activeTagFilters READ activeTagFilters WRITE setActiveTagFilters NOTIFY
                   activeTagFiltersChanged)
    Q_PROPERTY(
        QList<FileNodePtr> tagScopeFolders READ tagScopeFolders NOTIFY tagScopeFoldersChanged)
    Q_PROPERTY(
        QList<FileNodePtr> tagScopeSamples READ tagScopeSamples NOTIFY tagScopeSamplesChanged)
    Q_PROPERTY(QList<FileNodePtr> searchResults READ searchResults NOTIFY searchResultsChanged)
    Q_PROPERTY(bool isIndexing READ isIndexing NOTIFY isIndexingChanged)
    Q_PROPERTY(qint64 searchFocusRequest READ searchFocusRequest NOTIFY searchFocusRequestChanged)
    Q_PROPERTY(
        qint64 focusResultsRequest READ focusResultsRequest NOTIFY focusResultsRequestChanged)
    Q_PROPERTY(qint64 focusTreeRequest READ focusTreeRequest NOTIFY focusTreeRequestChanged)
    Q_PROPERTY(bool isSearchFieldFocused READ isSearchFieldFocused WRITE setSearchFieldFocused
                   NOTIFY isSearchFieldFocusedChanged)
    Q_PROPERTY(QString lastError READ lastError WRITE setLastError NOTIFY lastErrorChanged)

public:
    using ExportSummary = FinderTagExchange::ExportSummary;

    // `indexFilePath` empty: the default location. `tagStore` may be null: every tag step is
    // skipped. The model does not own the store or the preferences. `files` (null: the disk
    // itself) is where the tree and the roots read the disk, always off the GUI thread.
    BrowserModel(Preferences &defaults, const QString &indexFilePath, bool liveUpdates,
                 TagStore *tagStore, QObject *parent = nullptr,
                 std::shared_ptr<const LibraryFiles> files = nullptr);
    ~BrowserModel() override;
    Q_DISABLE_COPY_MOVE(BrowserModel)

    static QString defaultIndexFilePath() { return SampleLibrary::defaultFilePath(); }

    // Services. Without a chooser the open panels answer "cancel".
    void setFolderChooser(FolderChooser *chooser) { m_folderChooser = chooser; }
    void setFileManagerReveal(FileManagerReveal *reveal) { m_reveal = reveal; }

    TagStore *tagStore() const { return m_tagStore; }
    Preferences &defaults() const { return m_defaults; }
    QString indexFilePath() const { return m_library.filePath(); }
    bool liveUpdates() const { return m_liveUpdates; }
    bool rootsReadInFull() const { return m_roots.readInFull(); }

    // Observed fields.
    const QList<FileNodePtr> &roots() const { return m_roots.roots(); }
    const QSet<QUrl> &offlineRoots() const { return m_roots.offlineRoots(); }
    const QSet<QUrl> &unansweredRoots() const { return m_roots.unansweredRoots(); }
    // Nothing asked of the disk for the tree, the roots or a user's request is still unanswered.
    bool isSettled() const;
    const QSet<QUrl> &expanded() const { return m_navigation.expanded(); }
    void setExpanded(const QSet<QUrl> &expanded) { m_navigation.setExpanded(expanded); }
    QUrl selection() const { return m_navigation.selection(); }
    void setSelection(const QUrl &selection);
    QString searchText() const { return m_search.text(); }
    void setSearchText(const QString &text);
    bool globalSearch() const { return m_globalSearch; }
    void setGlobalSearch(bool global);
    QUrl resultSelection() const { return m_resultSelection; }
    void setResultSelection(const QUrl &url);
    const FinderTagSet &activeTagFilters() const { return m_tagFilter.active(); }
    void setActiveTagFilters(const FinderTagSet &filters);
    const QList<FileNodePtr> &tagScopeFolders() const { return m_tagFilter.scopeFolders(); }
    const QList<FileNodePtr> &tagScopeSamples() const { return m_tagFilter.scopeSamples(); }
    const QList<FileNodePtr> &searchResults() const { return m_search.results(); }
    bool isIndexing() const { return m_library.isIndexing(); }
    qint64 searchFocusRequest() const { return m_searchFocusRequest; }
    qint64 focusResultsRequest() const { return m_focusResultsRequest; }
    qint64 focusTreeRequest() const { return m_focusTreeRequest; }
    void requestSearchFocus();
    void requestResultsFocus();
    void requestTreeFocus();
    bool isSearchFieldFocused() const { return m_isSearchFieldFocused; }
    void setSearchFieldFocused(bool focused);
    QString lastError() const { return m_lastError; }
    // Any assignment restarts the 2.5 s auto-clear; an empty text means no message.
    void setLastError(const QString &message);

    // Rows of the tree, rebuilt on every call from the nodes' cached contents.
    QList<VisibleRow> visibleRows() const { return m_navigation.visibleRows(); }
    QList<VisibleRow> tagScopedRows() const { return m_navigation.tagScopedRows(); }
    FileNodePtr node(const QUrl &url) const { return m_navigation.node(url); }
    bool isExpanded(const FileNode &node) const { return m_navigation.isExpanded(node); }

    // Roots.
    void addFolder();
    void addRoot(const QUrl &url) { m_roots.add(url); }
    // Adds the folders among `urls` once the disk has said which are folders; a file is refused
    // with a message.
    void addDroppedFolders(const QList<QUrl> &urls);
    void relinkRoot(const FileNodePtr &node);
    void relink(const FileNodePtr &node, const QUrl &to);
    void removeRoot(const FileNodePtr &node);
    // Roots missing on disk are looked for through their bookmarks on a background job; `done`
    // learns on the main thread whether any root moved.
    void healMovedRoots(std::function<void(bool healed)> done = {});
    void updateOfflineRoots() { m_roots.updateOffline(); }

    // Navigation.
    void toggle(const FileNodePtr &node) { m_navigation.toggle(node); }
    void expand(const FileNodePtr &node) { m_navigation.expand(node); }
    void collapse(const FileNodePtr &node) { m_navigation.collapse(node); }
    void collapseAll() { m_navigation.collapseAll(); }
    void revealInBrowser(const QUrl &url);
    void revealInFinder(const QUrl &url);
    void searchInFolder(const QUrl &url);

    // Index and search.
    void startIndexing() { m_library.build(m_roots.paths(), false); }
    std::shared_ptr<const SampleIndex> index() const { return m_library.index(); }
    bool isSearching() const { return m_search.isSearching(); }
    QStringList searchTerms() const { return m_search.terms(); }
    static QStringList searchTermsFor(const QString &text) { return SampleSearch::termsFor(text); }
    QUrl selectedFolder() { return m_navigation.selectedFolder(); }
    void runSearch();
    void searchAllFolders();
    void clearSearch();

    // Sound searches, in the same results list and scope as a name search; the search text
    // narrows them. The sounds most like `file`, nearest first, in all folders to begin with.
    void findSimilar(const QUrl &file);
    // Files of identical audio in `folder`, or in every root when it is empty.
    void showCopies(const QUrl &folder);
    // Back to searching by name; the text stays.
    void searchByName();
    SampleSearch::Mode searchMode() const { return m_search.mode(); }
    // A search was asked for and its results have not come yet.
    bool isSearchRunning() const { return m_search.isRunning(); }
    QUrl similarTo() const;
    // In copies mode, the group of each result (0, 0, 1, 1, 1, …).
    const QList<int> &searchResultGroups() const { return m_search.resultGroups(); }
    // Why a sound search could not compare anything; empty when it could.
    QString searchProblem() const { return m_search.problem(); }
    // Moves the other copies of `keep` in its group to the desktop's trash and gives `keep`
    // their colour tags.
    void keepOnlyCopy(const QUrl &keep);
    // Where the analysis keeps what files sound like.
    void setTimbreStoreFile(const QString &filePath) { m_search.setTimbreStoreFile(filePath); }
    SampleSearch &searchForTesting() { return m_search; }

    // What analysis learnt of the files of the index, and its progress.
    SoundAnalysisQueue &soundAnalysis() { return m_sound; }
    SoundFacts soundFacts(const QUrl &url) const { return m_sound.factsFor(url.toLocalFile()); }

    // Tag filters.
    void toggleTagFilter(FinderTag tag);
    void recomputeTagScope() { m_tagFilter.recompute(m_roots.paths()); }
    QString tagFilterDescription() const { return m_tagFilter.description(); }

    // Live updates. The refresh patches the index from what changed; without a list of changes
    // (or when events were lost) it rebuilds it.
    void restartWatcher();
    void scheduleRefresh();
    void scheduleRefresh(const FileSystemChanges &changes);
    void refreshAll();
    void reloadTree();
    // Tells the observers of the roots that the tree changed although the list did not.
    void notifyTreeChanged() { m_roots.notifyTreeChanged(); }

    // Colour exchange with the file manager; the completions run on the main thread.
    void importFinderTags(std::function<void(qint64 changed)> completion);
    void exportFinderTags(bool allowDefaultNames, std::function<void(ExportSummary)> completion);

    // Waits for pending index writes; for tests and shutdown.
    void waitForIndexWrites() { m_library.waitForWrites(); }
    // How long journaled live changes rest before the index file is written whole; for tests.
    void setIndexCompactionDelayForTesting(int milliseconds)
    {
        m_library.setCompactionDelayForTesting(milliseconds);
    }

Q_SIGNALS:
    void rootsChanged();
    void offlineRootsChanged();
    void unansweredRootsChanged();
    void isSettledChanged();
    // The contents of an open folder arrived, or the folder stopped answering.
    void folderContentsChanged();
    void expandedChanged();
    void selectionChanged();
    void searchTextChanged();
    void globalSearchChanged();
    void resultSelectionChanged();
    void activeTagFiltersChanged();
    void tagScopeFoldersChanged();
    void tagScopeSamplesChanged();
    void searchResultsChanged();
    void searchModeChanged();
    void searchRunningChanged();
    void searchProblemChanged();
    void isIndexingChanged();
    void searchFocusRequestChanged();
    void focusResultsRequestChanged();
    void focusTreeRequestChanged();
    void isSearchFieldFocusedChanged();
    void lastErrorChanged();
    // An index (stored or freshly built) was applied.
    void indexChanged();

private:
    void runAfterChange();
    void rootMoved(const QString &oldPath, const QString &newPath);
    void relocateTags();
    void updateSettled();

    Preferences &m_defaults;
    std::shared_ptr<const LibraryFiles> m_files;
    TagStore *m_tagStore;
    bool m_liveUpdates;
    FolderChooser *m_folderChooser = nullptr;
    FileManagerReveal *m_reveal = nullptr;

    RootFolders m_roots;
    FolderLister m_lister;
    DiskJobs m_diskJobs; // the user's own requests: a drop, a reveal
    TagFilter m_tagFilter;
    TreeNavigation m_navigation;
    SampleLibrary m_library;
    SampleSearch m_search;
    FinderTagExchange m_exchange;
    SoundAnalysisQueue m_sound;

    bool m_globalSearch = false;
    QUrl m_resultSelection;
    qint64 m_searchFocusRequest = 0;
    qint64 m_focusResultsRequest = 0;
    qint64 m_focusTreeRequest = 0;
    bool m_isSearchFieldFocused = false;
    QString m_lastError;
    QTimer m_errorClearTimer;
    bool m_settled = true;

    FileSystemChanges m_pendingChanges; // since the last refresh
    QTimer m_refreshDebounce;
    std::unique_ptr<FileSystemWatcher> m_watcher;
};

Q_DECLARE_METATYPE(FinderTagSet)
