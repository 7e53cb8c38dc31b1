// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Root folders: adding, replacing, removing, healing and remembering them with their bookmarks.
#include "RootFolders.h"

#include "BackgroundJob.h"
#include "Bookmark.h"
#include "FilePaths.h"
#include "LibraryFiles.h"
#include "Preferences.h"

#include <QTimer>

namespace {
constexpr int recheckFailedAfterMs = 2000;
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

RootFolders::RootFolders(Preferences &defaults, std::shared_ptr<const LibraryFiles> files,
                         QObject *parent)
    : QObject(parent), m_defaults(defaults), m_files(std::move(files))
{
    connect(&m_jobs, &DiskJobs::slow, this, &RootFolders::updateRootStates);
    connect(&m_jobs, &DiskJobs::idleChanged, this, &RootFolders::settledChanged);
}

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

void RootFolders::setUnansweredRoots(const QSet<QUrl> &unanswered)
{
    if (m_unansweredRoots == unanswered)
        return;
    m_unansweredRoots = unanswered;
    Q_EMIT unansweredRootsChanged();
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
    const std::optional<QVariantMap> dictionary = bookmarkDictionary();
    if (!dictionary)
        return;
    struct Restored
    {
        QString root;
        QString path;
        std::optional<QByteArray> fresh;
    };
    const std::shared_ptr<const LibraryFiles> files = m_files;
    const QStringList roots = paths();
    const auto resolve = [files, roots, dictionary = *dictionary] {
        QList<Restored> restored;
        for (const QString &root : roots) {
            // A missing root would be searched for here: healing does that.
            if (files->kind(root) == LibraryFiles::Kind::Missing)
                continue;
            const std::optional<Bookmark::Resolution> resolved = resolveStored(dictionary, root);
            if (!resolved)
                continue;
            restored.append({root, resolved->path,
                             resolved->stale ? Bookmark::create(resolved->path) : std::nullopt});
        }
        return restored;
    };
    // Its own job, not the shared pool's: a root on a dead share keeps its thread for good.
    m_jobs.run(QStringLiteral("bookmarks"), QString(), [this, resolve]() -> std::function<void()> {
        return [this, restored = resolve()] {
            for (const Restored &each : restored) {
                if (!contains(each.root))
                    continue;
                startAccess(QUrl::fromLocalFile(each.path));
                if (each.fresh)
                    storeBookmarkData(each.root, *each.fresh);
            }
        };
    });
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
    // Making a bookmark reads the item's identity from the disk: off the GUI thread.
    const QString path = FilePaths::normalized(url);
    m_jobs.run(QStringLiteral("bookmark:") + path, m_files->shareOf(path),
               [this, path]() -> std::function<void()> {
                   const std::optional<QByteArray> data = Bookmark::create(path);
                   return [this, path, data] {
                       if (data && contains(path))
                           storeBookmarkData(path, *data);
                   };
               });
}

void RootFolders::storeBookmarkData(const QString &path, const QByteArray &data)
{
    QVariantMap dictionary = bookmarkDictionary().value_or(QVariantMap());
    const QString encoded = QString::fromLatin1(data.toBase64());
    if (dictionary.value(path) == encoded)
        return;
    dictionary.insert(path, encoded);
    m_defaults.setObject(dictionary, bookmarksKey);
}

void RootFolders::heal(std::function<void(bool healed)> done)
{
    if (m_healCancel)
        m_healCancel->cancel();
    const std::optional<QVariantMap> dictionary = bookmarkDictionary();
    // Only roots the disk has said are gone: a root on a share that does not answer is not
    // missing, and asking here would wait on the GUI thread.
    QList<std::pair<QString, QVariant>> missing;
    if (dictionary) {
        for (const FileNodePtr &root : std::as_const(m_roots)) {
            if (!m_exists.value(root->path(), true))
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
    const QStringList roots = paths();
    m_exists.removeIf([&](const auto &entry) { return !roots.contains(entry.key()); });
    for (const QString &root : roots) {
        const std::shared_ptr<const LibraryFiles> files = m_files;
        m_jobs.run(QStringLiteral("exists:") + root, files->shareOf(root),
                   [this, files, root]() -> std::function<void()> {
                       const LibraryFiles::Kind kind = files->kind(root);
                       return [this, root, kind] {
                           if (kind == LibraryFiles::Kind::Failed) {
                               // Not known to be gone: asked again while it stays a root.
                               m_exists.remove(root);
                               QTimer::singleShot(recheckFailedAfterMs, this, [this, root] {
                                   if (contains(root))
                                       updateOffline();
                               });
                           } else {
                               m_exists.insert(root, kind != LibraryFiles::Kind::Missing);
                           }
                           updateRootStates();
                       };
                   });
    }
    updateRootStates();
}

void RootFolders::updateRootStates()
{
    QSet<QUrl> offline;
    QSet<QUrl> unanswered;
    for (const FileNodePtr &root : std::as_const(m_roots)) {
        const QString key = QStringLiteral("exists:") + root->path();
        const auto known = m_exists.constFind(root->path());
        if (m_jobs.isSlow(key) || (known == m_exists.cend() && !m_jobs.isPending(key)))
            unanswered.insert(root->url());
        else if (known != m_exists.cend() && !*known)
            offline.insert(root->url());
    }
    setUnansweredRoots(unanswered);
    setOfflineRoots(offline);
}
