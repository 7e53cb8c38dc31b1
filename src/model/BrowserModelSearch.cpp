// The sample index and name search over it.
#include "BrowserModel.h"

#include "BackgroundJob.h"
#include "FilePaths.h"
#include "Fold.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "SerialQueue.h"

#include <QFile>

#include <algorithm>

namespace {
constexpr int searchPauseMilliseconds = 30;

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
} // namespace

void BrowserModel::loadIndexFromDisk()
{
    const QString path = m_indexFilePath;
    BackgroundJob::run(
        this, std::make_shared<CancelFlag>(), BackgroundJob::Priority::UserInitiated,
        [path] { return std::shared_ptr<const SampleIndex>(IndexFile::read(path)); },
        [this](std::shared_ptr<const SampleIndex> loaded) {
            // A finished build always wins over the stored list.
            if (m_index->isEmpty() && !loaded->isEmpty())
                applyIndex(std::move(loaded));
        });
}

void BrowserModel::applyIndex(std::shared_ptr<const SampleIndex> index)
{
    m_index = std::move(index);
    Q_EMIT indexChanged();
    runSearch();
}

void BrowserModel::startIndexing()
{
    startIndexBuild(false);
}

void BrowserModel::startIndexBuild(bool live)
{
    if (m_indexCancel)
        m_indexCancel->cancel();
    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_indexCancel = flag;
    m_indexJob = IndexJob::Build;
    m_changesInFlight = {};
    QStringList rootPaths;
    for (const FileNodePtr &root : std::as_const(m_roots))
        rootPaths.append(root->path());
    setIsIndexing(true);
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [rootPaths, flag] {
            return std::shared_ptr<const SampleIndex>(IndexBuilder::buildIndex(rootPaths, *flag));
        },
        [this, live](std::shared_ptr<const SampleIndex> built) {
            m_indexJob = IndexJob::None;
            applyIndex(std::move(built));
            setIsIndexing(false);
            storeIndex(live);
        });
}

void BrowserModel::updateIndex(FileSystemChanges changes)
{
    // A build that is still walking may already have passed what changed: it starts over.
    if (!changes.complete || m_indexJob == IndexJob::Build) {
        startIndexBuild(true);
        return;
    }
    if (m_indexJob == IndexJob::Patch) {
        m_indexCancel->cancel();
        changes.merge(m_changesInFlight);
    }
    QStringList rootPaths;
    std::vector<std::string> roots;
    for (const FileNodePtr &root : std::as_const(m_roots)) {
        rootPaths.append(root->path());
        roots.push_back(utf8(FilePaths::normalized(root->path())));
    }
    bool holdsRoot = false;
    const auto normalized = [&](const QStringList &paths) {
        std::vector<std::string> kept;
        for (const QString &path : paths) {
            std::string clean = utf8(FilePaths::normalized(path));
            holdsRoot = holdsRoot || std::any_of(roots.begin(), roots.end(), [&](auto &root) {
                            return root != clean && FilePaths::isAtOrBelow(root, clean);
                        });
            if (std::find(kept.begin(), kept.end(), clean) == kept.end())
                kept.push_back(std::move(clean));
        }
        return kept;
    };
    const std::vector<std::string> changedTrees = normalized(changes.trees);
    const std::vector<std::string> changedFolders = normalized(changes.folders);
    // A change above a root is the root's own: the roots are walked again.
    if (holdsRoot) {
        startIndexBuild(true);
        return;
    }
    // Nested trees and folders inside a tree are listed with the tree, never twice.
    const auto insideAnother = [&](const std::string &path) {
        return std::any_of(changedTrees.begin(), changedTrees.end(), [&](const std::string &tree) {
            return tree != path && FilePaths::isAtOrBelow(path, tree);
        });
    };
    std::vector<std::string> trees;
    for (const std::string &tree : changedTrees) {
        if (!insideAnother(tree))
            trees.push_back(tree);
    }
    std::vector<std::string> folders;
    for (const std::string &folder : changedFolders) {
        if (!insideAnother(folder) && std::find(trees.begin(), trees.end(), folder) == trees.end())
            folders.push_back(folder);
    }

    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_indexCancel = flag;
    m_indexJob = IndexJob::Patch;
    m_changesInFlight = changes;
    setIsIndexing(true);
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [snapshot = m_index, rootPaths, folders = std::move(folders), trees = std::move(trees),
         flag] {
            const std::shared_ptr<SampleIndex> part =
                IndexBuilder::buildPart(rootPaths, folders, trees, *flag);
            return std::shared_ptr<const SampleIndex>(snapshot->patched(folders, trees, *part));
        },
        [this](std::shared_ptr<const SampleIndex> patched) {
            m_indexJob = IndexJob::None;
            m_changesInFlight = {};
            applyIndex(std::move(patched));
            setIsIndexing(false);
            storeIndex(true);
        });
}

void BrowserModel::storeIndex(bool live)
{
    if (!live) {
        writeIndexNow();
        return;
    }
    m_indexWriteDue = true;
    writeIndexWhenRested();
}

void BrowserModel::writeIndexWhenRested()
{
    // The write still running calls again when it ends.
    if (m_indexWritesRunning > 0)
        return;
    // A large index takes a while to write: during a long copy the disk rests four times as long
    // as it writes, while a small one is written after every change.
    const qint64 rest = std::max<qint64>(m_minimumWriteRest, 4 * m_lastIndexWriteMs);
    const qint64 rested = m_sinceIndexWrite.isValid() ? m_sinceIndexWrite.elapsed() : rest;
    if (rested >= rest) {
        writeIndexNow();
        return;
    }
    if (!m_indexWriteTimer.isActive())
        m_indexWriteTimer.start(int(rest - rested));
}

void BrowserModel::setIndexWriteRestForTesting(int milliseconds)
{
    m_minimumWriteRest = milliseconds;
}

void BrowserModel::writeIndexNow()
{
    m_indexWriteDue = false;
    m_indexWriteTimer.stop();
    ++m_indexWritesRunning;
    // Each write owns its snapshot, so later changes never touch what is being written. The
    // model waits for the queue before it goes, so the call back always finds it.
    indexWriteQueue().enqueue([this, snapshot = m_index, filePath = m_indexFilePath] {
        QElapsedTimer took;
        took.start();
        IndexFile::write(*snapshot, filePath);
        QMetaObject::invokeMethod(
            this, [this, ms = took.elapsed()] { indexWriteFinished(ms); }, Qt::QueuedConnection);
    });
}

void BrowserModel::indexWriteFinished(qint64 milliseconds)
{
    --m_indexWritesRunning;
    m_lastIndexWriteMs = milliseconds;
    m_sinceIndexWrite.start();
    if (m_indexWriteDue)
        writeIndexWhenRested();
}

bool BrowserModel::isSearching() const
{
    return !m_searchText.trimmed().isEmpty();
}

QStringList BrowserModel::searchTerms() const
{
    return searchTermsFor(m_searchText);
}

QStringList BrowserModel::searchTermsFor(const QString &text)
{
    const QString folded = fold(text);
    QStringList terms;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= folded.size(); ++i) {
        const bool space = i == folded.size() || folded.at(i).isSpace();
        if (space && start >= 0) {
            terms.append(folded.mid(start, i - start));
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return terms;
}

QUrl BrowserModel::selectedFolder()
{
    if (m_selection.isEmpty())
        return QUrl();
    if (m_selectedFolderCache && m_selectedFolderCache->first == m_selection)
        return m_selectedFolderCache->second;
    const QString path = FilePaths::normalized(m_selection);
    bool isDirectory;
    if (const FileNodePtr found = node(m_selection))
        isDirectory = found->isDirectory();
    else
        isDirectory = FilePaths::isDirectory(path);
    const QUrl folder =
        isDirectory ? m_selection : QUrl::fromLocalFile(FilePaths::parentPath(path));
    m_selectedFolderCache = std::make_pair(m_selection, folder);
    return folder;
}

void BrowserModel::runSearch()
{
    m_searchDelay.stop();
    m_pendingSearch = nullptr;
    if (m_searchCancel)
        m_searchCancel->cancel();
    if (!isSearching()) {
        setSearchResults({});
        return;
    }
    const QStringList terms = searchTerms();
    if (terms.isEmpty()) {
        setSearchResults({});
        return;
    }
    std::vector<std::string> utf8Terms;
    for (const QString &term : terms)
        utf8Terms.push_back(utf8(term));

    std::shared_ptr<const SampleIndex> snapshot = m_index;
    SampleIndex::Scope scope;
    if (!m_activeTagFilters.isEmpty()) {
        scope.kind = SampleIndex::Scope::Kind::Tags;
        for (const FileNodePtr &folder : std::as_const(m_tagScopeFolders))
            scope.folders.push_back(utf8(folder->path()));
        for (const FileNodePtr &sample : std::as_const(m_tagScopeSamples))
            scope.files.push_back(utf8(sample->path()));
        std::sort(scope.files.begin(), scope.files.end());
    } else if (!m_globalSearch) {
        const QUrl folder = selectedFolder();
        if (!folder.isEmpty()) {
            scope.kind = SampleIndex::Scope::Kind::Folder;
            scope.folder = utf8(FilePaths::normalized(folder));
        }
    }

    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_searchCancel = flag;
    // The pause lets a burst of triggers collapse into one walk of the index.
    m_pendingSearch = [this, flag, snapshot, scope = std::move(scope),
                       terms = std::move(utf8Terms)]() mutable {
        if (flag->isCancelled())
            return;
        BackgroundJob::run(
            this, flag, BackgroundJob::Priority::UserInitiated,
            [snapshot, scope = std::move(scope), terms = std::move(terms), flag,
             shown = m_searchResults] {
                QList<FileNodePtr> results;
                const std::vector<quint32> hits = snapshot->search(terms, scope, *flag);
                results.reserve(static_cast<qsizetype>(hits.size()));
                for (quint32 entry : hits) {
                    if (flag->isCancelled())
                        return results;
                    results.append(
                        FileNode::fromNormalizedPath(snapshot->pathString(entry), false));
                }
                // Handing back the list on screen tells the GUI thread that nothing changed
                // without comparing a million paths there.
                return sameNodes(results, shown) ? shown : results;
            },
            [this](QList<FileNodePtr> results) { setSearchResults(results); });
    };
    m_searchDelay.start(searchPauseMilliseconds);
}

void BrowserModel::searchAllFolders()
{
    if (!m_activeTagFilters.isEmpty())
        setActiveTagFilters({});
    setGlobalSearch(true);
    requestSearchFocus();
}

void BrowserModel::clearSearch()
{
    setSearchText(QString());
    setGlobalSearch(false);
    if (!m_activeTagFilters.isEmpty())
        setActiveTagFilters({});
    setResultSelection(QUrl());
}
