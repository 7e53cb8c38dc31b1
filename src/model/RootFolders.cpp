// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Root folders: adding, replacing, removing, healing and remembering them with their bookmarks.
#include "RootFolders.h"

#include "BackgroundJob.h"
#include "Bookmark.h"
#include "FilePaths.h"
#include "Preferences.h"

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

RootFolders::RootFolders(Preferences &defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults)
{}

RootFolders::~RootFolders()
{
    if (m_healCancel)
        m_healCancel->cancel();
}

QStringList RootFolders::paths() const
{
    QStringList paths;
    for (const FileNodePtr &root : m_roots)
        paths.append(root->path());
    return paths;
}

QList<QUrl> RootFolders::urls() const
{
    QList<QUrl> urls;
    for (const FileNodePtr &root : m_roots)
        urls.append(root->url());
    return urls;
}

bool RootFolders::contains(const QString &path) const
{
    return std::any_of(m_roots.cbegin(), m_roots.cend(),
                       [&](const FileNodePtr &root) { return root->path() == path; });
}

void RootFolders::setRoots(const QList<FileNodePtr> &roots)
{
    if (sameNodes(m_roots, roots))
        return;
    m_roots = roots;
    Q_EMIT rootsChanged();
}

void RootFolders::setOfflineRoots(const QSet<QUrl> &offline)
{
    if (m_offlineRoots == offline)
        return;
    m_offlineRoots = offline;
    Q_EMIT offlineRootsChanged();
}

bool RootFolders::add(const QUrl &url)
{
    const QString path = FilePaths::normalized(url);
    if (contains(path))
        return false;
    const QUrl normalized = QUrl::fromLocalFile(path);
    storeBookmark(normalized);
    startAccess(normalized);
    setRoots(m_roots + QList<FileNodePtr>{folderNode(normalized)});
    return true;
}

bool RootFolders::replace(const QString &from, const QUrl &to)
{
    const auto found = std::find_if(m_roots.cbegin(), m_roots.cend(),
                                    [&](const FileNodePtr &root) { return root->path() == from; });
    if (found == m_roots.cend())
        return false;
    const qsizetype index = found - m_roots.cbegin();
    const QUrl oldUrl = QUrl::fromLocalFile(from);
    const QUrl newUrl = QUrl::fromLocalFile(FilePaths::normalized(to));
    stopAccess(oldUrl);
    removeBookmark(oldUrl);
    storeBookmark(newUrl);
    startAccess(newUrl);
    QList<FileNodePtr> roots = m_roots;
    roots[index] = folderNode(newUrl);
    setRoots(roots);
    return true;
}

void RootFolders::remove(const QString &path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    stopAccess(url);
    removeBookmark(url);
    QList<FileNodePtr> roots = m_roots;
    roots.removeIf([&](const FileNodePtr &root) { return root->path() == path; });
    setRoots(roots);
}

std::optional<QVariantMap> RootFolders::bookmarkDictionary() const
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

void RootFolders::load()
{
    QList<FileNodePtr> roots;
    bool complete = false;
    const QStringList paths = m_defaults.stringsInArrayForKey(rootsKey, &complete);
    m_readInFull = complete;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            roots.append(folderNode(QUrl::fromLocalFile(path)));
    }
    setRoots(roots);
    restoreBookmarkAccess();
}

void RootFolders::restoreBookmarkAccess()
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

void RootFolders::persist()
{
    QStringList paths;
    for (const FileNodePtr &root : std::as_const(m_roots))
        paths.append(root->path());
    m_defaults.setObject(paths, rootsKey);
}

void RootFolders::startAccess(const QUrl &url)
{
    const QString key = FilePaths::normalized(url);
    if (m_accessing.contains(key))
        return;
    if (Bookmark::startAccessing(key))
        m_accessing.insert(key, url);
}

void RootFolders::stopAccess(const QUrl &url)
{
    const QString key = FilePaths::normalized(url);
    const auto it = m_accessing.constFind(key);
    if (it == m_accessing.cend())
        return;
    Bookmark::stopAccessing(FilePaths::normalized(it.value()));
    m_accessing.erase(it);
}

void RootFolders::removeBookmark(const QUrl &url)
{
    std::optional<QVariantMap> dictionary = bookmarkDictionary();
    if (!dictionary)
        return;
    dictionary->remove(FilePaths::normalized(url));
    m_defaults.setObject(*dictionary, bookmarksKey);
}

void RootFolders::storeBookmark(const QUrl &url)
{
    const QString path = FilePaths::normalized(url);
    const std::optional<QByteArray> data = Bookmark::create(path);
    if (!data)
        return;
    QVariantMap dictionary = bookmarkDictionary().value_or(QVariantMap());
    dictionary.insert(path, QString::fromLatin1(data->toBase64()));
    m_defaults.setObject(dictionary, bookmarksKey);
}

void RootFolders::heal(std::function<void(bool healed)> done)
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
            replace(oldPath, QUrl::fromLocalFile(newPath));
            Q_EMIT rootMoved(oldPath, newPath);
            changed = true;
        }
        if (changed)
            persist();
        if (done)
            done(changed);
    };
    BackgroundJob::run(this, m_healCancel, BackgroundJob::Priority::UserInitiated, find, apply);
}

void RootFolders::updateOffline()
{
    QSet<QUrl> offline;
    for (const FileNodePtr &root : std::as_const(m_roots)) {
        if (!FilePaths::exists(root->path()))
            offline.insert(root->url());
    }
    setOfflineRoots(offline);
}
