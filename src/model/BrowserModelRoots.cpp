// Root folders: adding, relinking, removing, healing and remembering them with their bookmarks.
#include "BrowserModel.h"

#include "BackgroundJob.h"
#include "Bookmark.h"
#include "FilePaths.h"
#include "FolderChooser.h"
#include "Preferences.h"
#include "TagStore.h"

namespace {
const QString rootsKey = QStringLiteral("rootFolderPaths");
const QString bookmarksKey = QStringLiteral("rootFolderBookmarks");

std::optional<QByteArray> decodeBase64(const QVariant &value)
{
    const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return decoded.decoded;
}

// The bookmark stored for `path`, resolved; nothing when it is missing, not Base64 or lost.
std::optional<Bookmark::Resolution> resolveStored(const QVariantMap &dictionary,
                                                  const QString &path)
{
    const auto entry = dictionary.constFind(path);
    if (entry == dictionary.cend())
        return std::nullopt;
    const std::optional<QByteArray> data = decodeBase64(entry.value());
    if (!data)
        return std::nullopt;
    return Bookmark::resolve(*data);
}

FileNodePtr folderNode(const QUrl &url)
{
    return FileNode::create(url, true);
}
} // namespace

std::optional<QVariantMap> BrowserModel::bookmarkDictionary() const
{
    std::optional<QVariantMap> dictionary = m_defaults.dictionaryForKey(bookmarksKey);
    if (!dictionary)
        return std::nullopt;
    // An entry that is not Base64 text is left out; the bookmarks beside it are kept.
    for (auto it = dictionary->begin(); it != dictionary->end();) {
        if (it.value().typeId() == QMetaType::QString)
            ++it;
        else
            it = dictionary->erase(it);
    }
    return dictionary;
}

void BrowserModel::loadRoots()
{
    QList<FileNodePtr> roots;
    bool complete = false;
    const QStringList paths = m_defaults.stringsInArrayForKey(rootsKey, &complete);
    m_rootsReadInFull = complete;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            roots.append(folderNode(QUrl::fromLocalFile(path)));
    }
    setRoots(roots);
    restoreBookmarkAccess();
}

void BrowserModel::restoreBookmarkAccess()
{
    std::optional<QVariantMap> dictionary = bookmarkDictionary();
    if (!dictionary)
        return;
    bool refreshed = false;
    for (const FileNodePtr &root : std::as_const(m_roots)) {
        // A missing root would be searched for here, on the GUI thread: healing does that.
        if (!FilePaths::exists(root->path()))
            continue;
        const std::optional<Bookmark::Resolution> resolved =
            resolveStored(*dictionary, root->path());
        if (!resolved)
            continue;
        startAccess(QUrl::fromLocalFile(resolved->path));
        if (resolved->stale) {
            if (const std::optional<QByteArray> fresh = Bookmark::create(resolved->path)) {
                dictionary->insert(root->path(), QString::fromLatin1(fresh->toBase64()));
                refreshed = true;
            }
        }
    }
    if (refreshed)
        m_defaults.setObject(*dictionary, bookmarksKey);
}

void BrowserModel::persistRoots()
{
    QStringList paths;
    for (const FileNodePtr &root : std::as_const(m_roots))
        paths.append(root->path());
    m_defaults.setObject(paths, rootsKey);
}

void BrowserModel::startAccess(const QUrl &url)
{
    const QString key = FilePaths::normalized(url);
    if (m_accessing.contains(key))
        return;
    if (Bookmark::startAccessing(key))
        m_accessing.insert(key, url);
}

void BrowserModel::stopAccess(const QUrl &url)
{
    const QString key = FilePaths::normalized(url);
    const auto it = m_accessing.constFind(key);
    if (it == m_accessing.cend())
        return;
    Bookmark::stopAccessing(FilePaths::normalized(it.value()));
    m_accessing.erase(it);
}

void BrowserModel::removeBookmark(const QUrl &url)
{
    std::optional<QVariantMap> dictionary = bookmarkDictionary();
    if (!dictionary)
        return;
    dictionary->remove(FilePaths::normalized(url));
    m_defaults.setObject(*dictionary, bookmarksKey);
}

void BrowserModel::storeBookmark(const QUrl &url)
{
    const QString path = FilePaths::normalized(url);
    const std::optional<QByteArray> data = Bookmark::create(path);
    if (!data)
        return;
    QVariantMap dictionary = bookmarkDictionary().value_or(QVariantMap());
    dictionary.insert(path, QString::fromLatin1(data->toBase64()));
    m_defaults.setObject(dictionary, bookmarksKey);
}

void BrowserModel::healMovedRoots(std::function<void(bool healed)> done)
{
    if (m_healCancel)
        m_healCancel->cancel();
    const std::optional<QVariantMap> dictionary = bookmarkDictionary();
    QList<std::pair<QString, QVariant>> missing;
    if (dictionary) {
        for (const FileNodePtr &root : std::as_const(m_roots)) {
            if (!FilePaths::exists(root->path()))
                missing.append({root->path(), dictionary->value(root->path())});
        }
    }
    if (missing.isEmpty()) {
        if (done)
            done(false);
        return;
    }
    m_healCancel = std::make_shared<CancelFlag>();
    const auto find = [missing, flag = m_healCancel] {
        QList<std::pair<QString, QString>> moves;
        for (const auto &[path, stored] : missing) {
            if (flag->isCancelled())
                break;
            const std::optional<QByteArray> data = decodeBase64(stored);
            const std::optional<Bookmark::Resolution> resolved =
                data ? Bookmark::resolve(*data) : std::nullopt;
            const QString newPath = resolved ? FilePaths::normalized(resolved->path) : QString();
            if (!newPath.isEmpty() && newPath != path && FilePaths::exists(newPath))
                moves.append({path, newPath});
        }
        return moves;
    };
    const auto apply = [this, done](const QList<std::pair<QString, QString>> &moves) {
        bool changed = false;
        for (const auto &[oldPath, newPath] : moves) {
            const auto has = [&](const QString &path) {
                return std::find_if(m_roots.cbegin(), m_roots.cend(),
                                    [&](const FileNodePtr &r) { return r->path() == path; });
            };
            const auto root = has(oldPath);
            if (root == m_roots.cend() || has(newPath) != m_roots.cend())
                continue;
            replaceRoot(int(root - m_roots.cbegin()), (*root)->url(), QUrl::fromLocalFile(newPath));
            changed = true;
        }
        if (changed)
            persistRoots();
        if (done)
            done(changed);
    };
    BackgroundJob::run(this, m_healCancel, BackgroundJob::Priority::UserInitiated, find, apply);
}

void BrowserModel::replaceRoot(int index, const QUrl &oldUrl, const QUrl &newUrl)
{
    stopAccess(oldUrl);
    startAccess(newUrl);
    QList<FileNodePtr> roots = m_roots;
    roots[index] = folderNode(newUrl);
    setRoots(roots);

    QVariantMap dictionary = bookmarkDictionary().value_or(QVariantMap());
    dictionary.remove(FilePaths::normalized(oldUrl));
    const QString newPath = FilePaths::normalized(newUrl);
    if (const std::optional<QByteArray> data = Bookmark::create(newPath))
        dictionary.insert(newPath, QString::fromLatin1(data->toBase64()));
    m_defaults.setObject(dictionary, bookmarksKey);

    mapExpandedAndSelection(FilePaths::normalized(oldUrl), newPath);
}

void BrowserModel::mapExpandedAndSelection(const QString &oldPath, const QString &newPath)
{
    QSet<QUrl> mapped;
    for (const QUrl &url : std::as_const(m_expanded)) {
        const QString path = FilePaths::normalized(url);
        mapped.insert(FilePaths::isAtOrBelow(path, oldPath)
                          ? QUrl::fromLocalFile(FilePaths::rebased(path, oldPath, newPath))
                          : url);
    }
    setExpanded(mapped);
    if (!m_selection.isEmpty()) {
        const QString selected = FilePaths::normalized(m_selection);
        if (FilePaths::isAtOrBelow(selected, oldPath))
            setSelection(QUrl::fromLocalFile(FilePaths::rebased(selected, oldPath, newPath)));
    }
}

void BrowserModel::updateOfflineRoots()
{
    QSet<QUrl> offline;
    for (const FileNodePtr &root : std::as_const(m_roots)) {
        if (!FilePaths::exists(root->path()))
            offline.insert(root->url());
    }
    setOfflineRoots(offline);
}

void BrowserModel::runAfterChange()
{
    persistRoots();
    startIndexing();
    restartWatcher();
    recomputeTagScope();
    updateOfflineRoots();
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
        addRoot(url);
    runAfterChange();
}

void BrowserModel::addRoot(const QUrl &url)
{
    const QString path = FilePaths::normalized(url);
    const bool known = std::any_of(m_roots.cbegin(), m_roots.cend(),
                                   [&](const FileNodePtr &root) { return root->path() == path; });
    if (known)
        return;
    const QUrl normalized = QUrl::fromLocalFile(path);
    storeBookmark(normalized);
    startAccess(normalized);
    setRoots(m_roots + QList<FileNodePtr>{folderNode(normalized)});
}

bool BrowserModel::addDroppedFolders(const QList<QUrl> &urls)
{
    bool added = false;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = FilePaths::normalized(url);
        if (!FilePaths::isDirectory(path)) {
            // A sample dropped or named by mistake is a mistake worth a word; a path that does
            // not exist (a stale argument) is not.
            if (FilePaths::exists(path))
                setLastError(QStringLiteral("Only folders can be added: \u201C") +
                             FilePaths::displayText(FilePaths::lastComponent(path)) +
                             QStringLiteral("\u201D is a file"));
            continue;
        }
        const bool known =
            std::any_of(m_roots.cbegin(), m_roots.cend(),
                        [&](const FileNodePtr &root) { return root->path() == path; });
        if (known)
            continue;
        addRoot(url);
        added = true;
    }
    if (added)
        runAfterChange();
    return added;
}

void BrowserModel::relinkRoot(const FileNodePtr &node)
{
    if (!m_folderChooser || !node)
        return;
    const QString message = QStringLiteral("Choose the new location of \u201C") + node->name() +
                            QStringLiteral("\u201D");
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
    if (newPath == oldPath)
        return;
    const auto found = std::find_if(m_roots.cbegin(), m_roots.cend(), [&](const FileNodePtr &root) {
        return root->path() == oldPath;
    });
    if (found == m_roots.cend())
        return;
    const int index = static_cast<int>(found - m_roots.cbegin());
    const QUrl oldUrl = QUrl::fromLocalFile(oldPath);
    const QUrl newUrl = QUrl::fromLocalFile(newPath);

    stopAccess(oldUrl);
    removeBookmark(oldUrl);
    storeBookmark(newUrl);
    startAccess(newUrl);
    QList<FileNodePtr> roots = m_roots;
    roots[index] = folderNode(newUrl);
    setRoots(roots);
    if (m_tagStore)
        m_tagStore->moveTags(oldUrl, newUrl);
    mapExpandedAndSelection(oldPath, newPath);
    runAfterChange();
}

void BrowserModel::removeRoot(const FileNodePtr &node)
{
    if (!node)
        return;
    const QString path = node->path();
    stopAccess(node->url());
    removeBookmark(node->url());
    QList<FileNodePtr> roots = m_roots;
    roots.removeIf([&](const FileNodePtr &root) { return root->path() == path; });
    setRoots(roots);

    QSet<QUrl> expanded = m_expanded;
    expanded.removeIf(
        [&](const QUrl &url) { return FilePaths::isAtOrBelow(FilePaths::normalized(url), path); });
    setExpanded(expanded);
    if (!m_selection.isEmpty() && FilePaths::isAtOrBelow(FilePaths::normalized(m_selection), path))
        setSelection(QUrl());
    runAfterChange();
}
