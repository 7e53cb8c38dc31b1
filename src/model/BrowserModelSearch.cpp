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
    if (m_indexCancel)
        m_indexCancel->cancel();
    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_indexCancel = flag;
    QStringList rootPaths;
    for (const FileNodePtr &root : std::as_const(m_roots))
        rootPaths.append(root->path());
    setIsIndexing(true);
    const QString filePath = m_indexFilePath;
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [rootPaths, flag] {
            return std::shared_ptr<const SampleIndex>(IndexBuilder::buildIndex(rootPaths, *flag));
        },
        [this, filePath](std::shared_ptr<const SampleIndex> built) {
            applyIndex(built);
            setIsIndexing(false);
            // Each write owns its snapshot, so later builds never change what is being written.
            indexWriteQueue().enqueue([built, filePath] { IndexFile::write(*built, filePath); });
        });
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
            [snapshot, scope = std::move(scope), terms = std::move(terms), flag] {
                QList<FileNodePtr> results;
                const std::vector<quint32> hits = snapshot->search(terms, scope, *flag);
                results.reserve(static_cast<qsizetype>(hits.size()));
                for (quint32 entry : hits)
                    results.append(
                        FileNode::fromNormalizedPath(snapshot->pathString(entry), false));
                return results;
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
