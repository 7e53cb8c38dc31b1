#pragma once

#include "CancelFlag.h"
#include "FileNode.h"
#include "FileSystemChanges.h"
#include "FinderTag.h"
#include "SampleIndex.h"
#include "VisibleRow.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class FileManagerReveal;
class FileSystemWatcher;
class FolderChooser;
class Preferences;
class SerialQueue;
class TagStore;

// Everything the browser window shows about files: the roots, expansion, selection, search,
// the sample index, the tag filters and the last error. Main thread only; background jobs get
// copies and hand values back.
class BrowserModel final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<FileNodePtr> roots READ roots NOTIFY rootsChanged)
    Q_PROPERTY(QSet<QUrl> offlineRoots READ offlineRoots NOTIFY offlineRootsChanged)
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
    struct ExportSummary
    {
        qint64 filesWritten = 0;
        qint64 filesFailed = 0;
        FinderTagSet skippedColors;
    };

    // `indexFilePath` empty: the default location. `tagStore` may be null: every tag step is
    // skipped. The model does not own the store or the preferences.
    BrowserModel(Preferences &defaults, const QString &indexFilePath, bool liveUpdates,
                 TagStore *tagStore, QObject *parent = nullptr);
    ~BrowserModel() override;
    Q_DISABLE_COPY_MOVE(BrowserModel)

    static QString defaultIndexFilePath();

    // Services. Without a chooser the open panels answer "cancel".
    void setFolderChooser(FolderChooser *chooser) { m_folderChooser = chooser; }
    void setFileManagerReveal(FileManagerReveal *reveal) { m_reveal = reveal; }

    TagStore *tagStore() const { return m_tagStore; }
    Preferences &defaults() const { return m_defaults; }
    QString indexFilePath() const { return m_indexFilePath; }
    bool liveUpdates() const { return m_liveUpdates; }

    // False when the stored roots held something that could not be read: then nothing may be
    // forgotten for lying outside them, since a root may be missing from the list.
    bool rootsReadInFull() const { return m_rootsReadInFull; }

    // Observed fields.
    const QList<FileNodePtr> &roots() const { return m_roots; }
    const QSet<QUrl> &offlineRoots() const { return m_offlineRoots; }
    const QSet<QUrl> &expanded() const { return m_expanded; }
    void setExpanded(const QSet<QUrl> &expanded);
    QUrl selection() const { return m_selection; }
    void setSelection(const QUrl &selection);
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    bool globalSearch() const { return m_globalSearch; }
    void setGlobalSearch(bool global);
    QUrl resultSelection() const { return m_resultSelection; }
    void setResultSelection(const QUrl &url);
    const FinderTagSet &activeTagFilters() const { return m_activeTagFilters; }
    void setActiveTagFilters(const FinderTagSet &filters);
    const QList<FileNodePtr> &tagScopeFolders() const { return m_tagScopeFolders; }
    const QList<FileNodePtr> &tagScopeSamples() const { return m_tagScopeSamples; }
    const QList<FileNodePtr> &searchResults() const { return m_searchResults; }
    bool isIndexing() const { return m_isIndexing; }
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
    QList<VisibleRow> visibleRows() const;
    QList<VisibleRow> tagScopedRows() const;
    FileNodePtr node(const QUrl &url) const;
    bool isExpanded(const FileNode &node) const;

    // Roots.
    void addFolder();
    void addRoot(const QUrl &url);
    bool addDroppedFolders(const QList<QUrl> &urls);
    void relinkRoot(const FileNodePtr &node);
    void relink(const FileNodePtr &node, const QUrl &to);
    void removeRoot(const FileNodePtr &node);
    // Roots missing on disk are looked for through their bookmarks on a background job; `done`
    // learns on the main thread whether any root moved.
    void healMovedRoots(std::function<void(bool healed)> done = {});
    void updateOfflineRoots();

    // Navigation.
    void toggle(const FileNodePtr &node);
    void expand(const FileNodePtr &node);
    void collapse(const FileNodePtr &node);
    void collapseAll();
    void revealInBrowser(const QUrl &url);
    void revealInFinder(const QUrl &url);
    void searchInFolder(const QUrl &url);

    // Index and search.
    void startIndexing();
    std::shared_ptr<const SampleIndex> index() const { return m_index; }
    bool isSearching() const;
    QStringList searchTerms() const;
    // `fold` of the text, split at every white-space character, empty pieces dropped.
    static QStringList searchTermsFor(const QString &text);
    QUrl selectedFolder();
    void runSearch();
    void searchAllFolders();
    void clearSearch();

    // Tag filters.
    void toggleTagFilter(FinderTag tag);
    void recomputeTagScope();
    QString tagFilterDescription() const;

    // Live updates. The refresh patches the index from what changed; without a list of changes
    // (or when events were lost) it rebuilds it.
    void restartWatcher();
    void scheduleRefresh();
    void scheduleRefresh(const FileSystemChanges &changes);
    void refreshAll();
    void reloadTree();
    // Tells the observers of the roots that the tree changed although the list did not.
    void notifyTreeChanged();

    // Colour exchange with the file manager; the completions run on the main thread.
    void importFinderTags(std::function<void(qint64 changed)> completion);
    void exportFinderTags(bool allowDefaultNames, std::function<void(ExportSummary)> completion);

    // Waits for pending index writes; for tests and shutdown.
    void waitForIndexWrites();
    // The least rest of the disk between two writes of live changes; for tests.
    void setIndexWriteRestForTesting(int milliseconds);

Q_SIGNALS:
    void rootsChanged();
    void offlineRootsChanged();
    void expandedChanged();
    void selectionChanged();
    void searchTextChanged();
    void globalSearchChanged();
    void resultSelectionChanged();
    void activeTagFiltersChanged();
    void tagScopeFoldersChanged();
    void tagScopeSamplesChanged();
    void searchResultsChanged();
    void isIndexingChanged();
    void searchFocusRequestChanged();
    void focusResultsRequestChanged();
    void focusTreeRequestChanged();
    void isSearchFieldFocusedChanged();
    void lastErrorChanged();
    // An index (stored or freshly built) was applied.
    void indexChanged();

private:
    void setRoots(const QList<FileNodePtr> &roots);
    void setOfflineRoots(const QSet<QUrl> &offline);
    void setTagScope(const QList<FileNodePtr> &folders, const QList<FileNodePtr> &samples);
    void applyTagScope(const QStringList &folders, const QStringList &files);
    void setSearchResults(const QList<FileNodePtr> &results);
    void setIsIndexing(bool indexing);
    void appendRows(QList<VisibleRow> &rows, const FileNodePtr &node, int depth,
                    const QUrl &context) const;

    void loadRoots();
    void restoreBookmarkAccess();
    void persistRoots();
    void startAccess(const QUrl &url);
    void stopAccess(const QUrl &url);
    void removeBookmark(const QUrl &url);
    void storeBookmark(const QUrl &url);
    void replaceRoot(int index, const QUrl &oldUrl, const QUrl &newUrl);
    void mapExpandedAndSelection(const QString &oldPath, const QString &newPath);
    void runAfterChange();
    void relocateTags();
    std::optional<QVariantMap> bookmarkDictionary() const;

    void loadExpandedAndSelection();
    void persistExpanded();
    void storeExpanded(QSet<QUrl> expanded);

    void loadIndexFromDisk();
    void applyIndex(std::shared_ptr<const SampleIndex> index);
    void startIndexBuild(bool live);
    void updateIndex(FileSystemChanges changes);
    // Writes at once, or (for live changes) as soon as the last write is done and the disk has
    // rested for a few times as long as that write took.
    void storeIndex(bool live);
    void writeIndexWhenRested();
    void writeIndexNow();
    void indexWriteFinished(qint64 milliseconds);
    SerialQueue &indexWriteQueue();

    Preferences &m_defaults;
    TagStore *m_tagStore;
    QString m_indexFilePath;
    bool m_liveUpdates;
    FolderChooser *m_folderChooser = nullptr;
    FileManagerReveal *m_reveal = nullptr;

    QList<FileNodePtr> m_roots;
    bool m_rootsReadInFull = true;
    QSet<QUrl> m_offlineRoots;
    QSet<QUrl> m_expanded;
    QSet<QString> m_expandedPaths;
    QUrl m_selection;
    QString m_searchText;
    bool m_globalSearch = false;
    QUrl m_resultSelection;
    FinderTagSet m_activeTagFilters;
    QList<FileNodePtr> m_tagScopeFolders;
    QList<FileNodePtr> m_tagScopeSamples;
    QList<FileNodePtr> m_searchResults;
    bool m_isIndexing = false;
    qint64 m_searchFocusRequest = 0;
    qint64 m_focusResultsRequest = 0;
    qint64 m_focusTreeRequest = 0;
    bool m_isSearchFieldFocused = false;
    QString m_lastError;
    QTimer m_errorClearTimer;

    std::shared_ptr<const SampleIndex> m_index;
    CancelFlagPtr m_indexCancel; // of the running build or patch
    enum class IndexJob
    {
        None,
        Build,
        Patch
    };
    IndexJob m_indexJob = IndexJob::None;
    FileSystemChanges m_pendingChanges;  // since the last refresh
    FileSystemChanges m_changesInFlight; // of the running patch
    QTimer m_indexWriteTimer;
    bool m_indexWriteDue = false;
    int m_indexWritesRunning = 0;
    qint64 m_lastIndexWriteMs = 0;   // how long the last write took
    QElapsedTimer m_sinceIndexWrite; // since the last write ended
    int m_minimumWriteRest = 0;
    CancelFlagPtr m_searchCancel;
    CancelFlagPtr m_healCancel;
    CancelFlagPtr m_tagScopeCancel;
    QTimer m_searchDelay;
    std::function<void()> m_pendingSearch;
    QTimer m_refreshDebounce;
    std::unique_ptr<FileSystemWatcher> m_watcher;
    QHash<QString, QUrl> m_accessing;
    std::optional<std::pair<QUrl, QUrl>> m_selectedFolderCache;
    std::unique_ptr<SerialQueue> m_indexWriteQueue;
};

Q_DECLARE_METATYPE(FinderTagSet)
