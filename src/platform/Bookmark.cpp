// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bookmark.h"

#include "FilePaths.h"

#include "FolderListingCache.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[4] = {'W', 'L', 'B', 'M'};
constexpr quint16 kVersion = 2;
// magic, version, device, inode, size, mtime seconds, mtime nanoseconds, file type, path length;
// version 2 adds the birth time (seconds, nanoseconds) before the path length.
constexpr qsizetype kFixedSizeV1 = 4 + 2 + 8 + 8 + 8 + 8 + 4 + 4 + 4;
constexpr qsizetype kFixedSize = kFixedSizeV1 + 8 + 4;
constexpr int kAncestorLevels = 3;
constexpr int kMaxEntriesVisited = 20000;

struct Identity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeSeconds = 0;
    quint32 mtimeNanoseconds = 0;
    quint32 fileType = 0;
    // Zero when the file system does not report it.
    qint64 birthSeconds = 0;
    quint32 birthNanoseconds = 0;
    QByteArray path;
};

// The birth time tells a moved item from a newcomer that reuses its freed inode number, which
// matters for folders, whose size and modification time say nothing.
std::optional<std::pair<qint64, quint32>> birthTimeOf(const QByteArray &path)
{
    struct statx info;
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) != 0 ||
        !(info.stx_mask & STATX_BTIME)) {
        return std::nullopt;
    }
    return std::make_pair(qint64(info.stx_btime.tv_sec), quint32(info.stx_btime.tv_nsec));
}

Identity identityOf(const struct stat &info, const QByteArray &path)
{
    Identity identity;
    identity.device = quint64(info.st_dev);
    identity.inode = quint64(info.st_ino);
    identity.size = qint64(info.st_size);
    identity.mtimeSeconds = qint64(info.st_mtim.tv_sec);
    identity.mtimeNanoseconds = quint32(info.st_mtim.tv_nsec);
    identity.fileType = quint32(info.st_mode & S_IFMT);
    if (const auto birth = birthTimeOf(path)) {
        identity.birthSeconds = birth->first;
        identity.birthNanoseconds = birth->second;
    }
    identity.path = path;
    return identity;
}

QString normalised(const QString &path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path
                                                      : QDir::current().absoluteFilePath(path));
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return path == "/" ? QByteArray() : QByteArray("/");
    return path.left(slash);
}

QByteArray childOf(const QByteArray &folder, const char *name)
{
    return folder == "/" ? folder + name : folder + '/' + name;
}

QByteArray encode(const Identity &identity)
{
    QByteArray data(kFixedSize, '\0');
    char *out = data.data();
    std::memcpy(out, kMagic, 4);
    qToBigEndian<quint16>(kVersion, out + 4);
    qToBigEndian<quint64>(identity.device, out + 6);
    qToBigEndian<quint64>(identity.inode, out + 14);
    qToBigEndian<qint64>(identity.size, out + 22);
    qToBigEndian<qint64>(identity.mtimeSeconds, out + 30);
    qToBigEndian<quint32>(identity.mtimeNanoseconds, out + 38);
    qToBigEndian<quint32>(identity.fileType, out + 42);
    qToBigEndian<qint64>(identity.birthSeconds, out + 46);
    qToBigEndian<quint32>(identity.birthNanoseconds, out + 54);
    qToBigEndian<quint32>(quint32(identity.path.size()), out + 58);
    return data + identity.path;
}

std::optional<Identity> decode(const QByteArray &data)
{
    if (data.size() < kFixedSizeV1 || std::memcmp(data.constData(), kMagic, 4) != 0)
        return std::nullopt;
    const char *in = data.constData();
    const quint16 version = qFromBigEndian<quint16>(in + 4);
    if (version != 1 && version != kVersion)
        return std::nullopt;
    const qsizetype fixedSize = version == 1 ? kFixedSizeV1 : kFixedSize;
    if (data.size() < fixedSize)
        return std::nullopt;
    Identity identity;
    identity.device = qFromBigEndian<quint64>(in + 6);
    identity.inode = qFromBigEndian<quint64>(in + 14);
    identity.size = qFromBigEndian<qint64>(in + 22);
    identity.mtimeSeconds = qFromBigEndian<qint64>(in + 30);
    identity.mtimeNanoseconds = qFromBigEndian<quint32>(in + 38);
    identity.fileType = qFromBigEndian<quint32>(in + 42);
    if (version == kVersion) {
        identity.birthSeconds = qFromBigEndian<qint64>(in + 46);
        identity.birthNanoseconds = qFromBigEndian<quint32>(in + 54);
    }
    const quint32 length = qFromBigEndian<quint32>(in + fixedSize - 4);
    if (length != quint64(data.size() - fixedSize))
        return std::nullopt;
    identity.path = data.mid(fixedSize);
    if (!identity.path.startsWith('/') || identity.path.contains('\0'))
        return std::nullopt;
    return identity;
}

// Whether the item found elsewhere is the bookmarked one and not a newcomer that reuses a freed
// inode number. Where both sides know the birth time it decides alone, so an edited file is still
// found; otherwise a file is held to its size and time (a folder's time changes with its contents).
bool isSameItem(const struct stat &info, const QByteArray &path, const Identity &target)
{
    if (quint64(info.st_dev) != target.device || quint64(info.st_ino) != target.inode ||
        quint32(info.st_mode & S_IFMT) != target.fileType) {
        return false;
    }
    if (target.birthSeconds != 0 || target.birthNanoseconds != 0) {
        if (const auto birth = birthTimeOf(path))
            return birth->first == target.birthSeconds && birth->second == target.birthNanoseconds;
    }
    if (!S_ISREG(info.st_mode))
        return true;
    return qint64(info.st_size) == target.size &&
           qint64(info.st_mtim.tv_sec) == target.mtimeSeconds &&
           quint32(info.st_mtim.tv_nsec) == target.mtimeNanoseconds;
}

std::optional<Bookmark::FolderStamp> stampOf(const QByteArray &folder, FolderListingCache &listings)
{
    const struct stat *info = listings.status(folder);
    if (!info || !S_ISDIR(info->st_mode))
        return std::nullopt;
    return Bookmark::FolderStamp{folder, qint64(info->st_mtim.tv_sec),
                                 quint32(info->st_mtim.tv_nsec)};
}

// Breadth-first search below one folder, on the item's own file system, without following links.
// A missing item's tags are searched for at every refresh, often many of them at once: where the
// directory entry already tells that an entry is not the item, it is not statted. The folders of
// each level are entered most recently changed first, so that a crowded sibling untouched by the
// move does not use up the budget before the folder the item went to.
class Search
{
public:
    Search(const Identity &target, Bookmark::SearchTrace *trace, FolderListingCache &listings)
        : m_target(target), m_trace(trace), m_listings(listings)
    {}

    std::optional<QByteArray> below(const QByteArray &root, quint64 skipInode)
    {
        std::deque<QByteArray> folders{root};
        while (!folders.empty()) {
            const QByteArray folder = std::move(folders.front());
            folders.pop_front();
            const FolderListingCache::Listing &listing = m_listings.listing(folder);
            if (!listing.readable)
                continue;
            if (m_trace)
                m_trace->append({folder, listing.seconds, listing.nanoseconds});
            for (const FolderListingCache::Entry &entry : listing.entries) {
                if (++m_visited > kMaxEntriesVisited) {
                    m_exhausted = true;
                    return std::nullopt;
                }
                if (listing.listsTrueInodes && entry.inode != m_target.inode)
                    continue;
                const QByteArray path = childOf(folder, entry.name.constData());
                const struct stat *info = m_listings.status(path);
                if (info && isSameItem(*info, path, m_target))
                    return path;
            }
            for (const FolderListingCache::Subfolder &subfolder : m_listings.subfolders(folder)) {
                if (subfolder.device == m_target.device && subfolder.inode != skipInode)
                    folders.push_back(subfolder.path);
            }
        }
        return std::nullopt;
    }

    bool exhausted() const { return m_exhausted; }

private:
    const Identity &m_target;
    Bookmark::SearchTrace *m_trace;
    FolderListingCache &m_listings;
    int m_visited = 0;
    bool m_exhausted = false;
};

// A folder above the item's own that was renamed, or moved into a folder beside it, leaves the
// rest of the path as it was. That is looked for below each folder beside the missing one, at any
// height, before the breadth-first search, which may use up its budget in a crowded sibling. The
// items in one missing folder share these looks: each is one lstat per folder beside it.
std::optional<QByteArray> searchBelowRenamedFolder(const Identity &target,
                                                   Bookmark::SearchTrace *trace,
                                                   FolderListingCache &listings)
{
    QByteArray gone = parentOf(target.path);
    if (gone.isEmpty() || listings.status(gone))
        return std::nullopt;
    QByteArray folder = parentOf(gone);
    const struct stat *info = nullptr;
    while (!folder.isEmpty() && !(info = listings.status(folder))) {
        gone = folder;
        folder = parentOf(folder);
    }
    // The item's own folder missing, and nothing more, is the breadth-first search's case.
    if (!info || !S_ISDIR(info->st_mode) || quint64(info->st_dev) != target.device ||
        gone == parentOf(target.path)) {
        return std::nullopt;
    }
    const QByteArray name = gone.mid(gone.lastIndexOf('/') + 1);
    const QByteArray rest = target.path.mid(gone.size() + 1);
    const QByteArray first = rest.first(rest.indexOf('/'));
    const FolderListingCache::Listing &listing = listings.listing(folder);
    if (!listing.readable)
        return std::nullopt;
    if (trace)
        trace->append({folder, listing.seconds, listing.nanoseconds});
    const auto isFolder = [&listings](const QByteArray &path) {
        const struct stat *found = listings.status(path);
        return found && S_ISDIR(found->st_mode);
    };
    const auto isItem = [&listings, &target](const QByteArray &path) {
        const struct stat *found = listings.status(path);
        return found && isSameItem(*found, path, target);
    };
    int looked = 0;
    for (const FolderListingCache::Entry &entry : listing.entries) {
        if (entry.type != DT_DIR && entry.type != DT_UNKNOWN)
            continue;
        if (++looked > kMaxEntriesVisited)
            break;
        const QByteArray renamed = childOf(folder, entry.name.constData());
        if (isFolder(renamed + '/' + first) && isItem(renamed + '/' + rest))
            return renamed + '/' + rest;
        const QByteArray moved = renamed + '/' + name;
        if (isFolder(moved + '/' + first) && isItem(moved + '/' + rest))
            return moved + '/' + rest;
    }
    return std::nullopt;
}

std::optional<QByteArray> searchNearby(const Identity &target, Bookmark::SearchTrace *trace,
                                       FolderListingCache &listings)
{
    if (std::optional<QByteArray> found = searchBelowRenamedFolder(target, trace, listings))
        return found;
    Search search(target, trace, listings);
    QByteArray folder = parentOf(target.path);
    quint64 searched = 0; // the inode of the folder searched at the level below
    for (int level = 0; level <= kAncestorLevels && !folder.isEmpty(); ++level) {
        const struct stat *info = listings.status(folder);
        if (!info) {
            // A missing ancestor that reappears must count as a change.
            if (trace)
                trace->append({folder, -1, 0});
        } else if (S_ISDIR(info->st_mode)) {
            // Another file system: the item's volume is gone or this is above its mount point.
            if (quint64(info->st_dev) != target.device)
                return std::nullopt;
            if (std::optional<QByteArray> found = search.below(folder, searched))
                return found;
            if (search.exhausted())
                return std::nullopt;
            searched = quint64(info->st_ino);
        }
        folder = parentOf(folder);
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> Bookmark::create(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray local = FilePaths::encoded(normalised(path));
    struct stat info;
    if (::lstat(local.constData(), &info) != 0)
        return std::nullopt;
    return encode(identityOf(info, local));
}

std::optional<Bookmark::Resolution> Bookmark::resolve(const QByteArray &data)
{
    return resolve(data, nullptr);
}

std::optional<Bookmark::Resolution> Bookmark::resolve(const QByteArray &data, SearchTrace *searched)
{
    FolderListingCache listings;
    return resolve(data, searched, listings);
}

std::optional<Bookmark::Resolution> Bookmark::resolve(const QByteArray &data, SearchTrace *searched,
                                                      FolderListingCache &listings)
{
    const std::optional<Identity> target = decode(data);
    if (!target)
        return std::nullopt;
    struct stat info;
    if (::lstat(target->path.constData(), &info) == 0) {
        const bool same = quint64(info.st_dev) == target->device &&
                          quint64(info.st_ino) == target->inode &&
                          (S_ISREG(info.st_mode) || isSameItem(info, target->path, *target));
        return Resolution{FilePaths::decoded(target->path), !same};
    }
    SearchTrace trace;
    if (const std::optional<QByteArray> found =
            searchNearby(*target, searched ? &trace : nullptr, listings))
        return Resolution{FilePaths::decoded(*found), true};
    if (searched)
        *searched = std::move(trace);
    return std::nullopt;
}

bool Bookmark::isUnchanged(const SearchTrace &searched)
{
    FolderListingCache listings;
    return isUnchanged(searched, listings);
}

bool Bookmark::isUnchanged(const SearchTrace &searched, FolderListingCache &listings)
{
    if (searched.isEmpty())
        return false;
    for (const FolderStamp &stamp : searched) {
        const std::optional<FolderStamp> now = stampOf(stamp.path, listings);
        if (now ? !(*now == stamp) : stamp.seconds != -1)
            return false;
    }
    return true;
}

bool Bookmark::startAccessing(const QString &path)
{
    Q_UNUSED(path);
    return true;
}

void Bookmark::stopAccessing(const QString &path)
{
    Q_UNUSED(path);
}
