// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FolderListingCache.h"

#include "FilePaths.h"

#include <algorithm>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

const FolderListingCache::Listing &FolderListingCache::listing(const QByteArray &folder)
{
    const auto [place, added] = m_listings.try_emplace(folder);
    Listing &listing = place->second;
    if (!added)
        return listing;
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return listing;
    struct stat info;
    if (::fstat(fd, &info) == 0) {
        listing.seconds = qint64(info.st_mtim.tv_sec);
        listing.nanoseconds = quint32(info.st_mtim.tv_nsec);
    }
    // Overlay and FUSE file systems may list other inode numbers than lstat reports.
    struct statfs volume;
    listing.listsTrueInodes = ::fstatfs(fd, &volume) == 0 &&
                              volume.f_type != OVERLAYFS_SUPER_MAGIC &&
                              volume.f_type != FUSE_SUPER_MAGIC;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return listing;
    }
    listing.readable = true;
    while (const dirent *entry = ::readdir(dir)) {
        if (!FilePaths::isSelfOrParentEntry(entry->d_name))
            listing.entries.push_back(
                {QByteArray(entry->d_name), quint64(entry->d_ino), entry->d_type});
    }
    ::closedir(dir);
    return listing;
}

const struct stat *FolderListingCache::status(const QByteArray &path)
{
    const auto [place, added] = m_statuses.try_emplace(path);
    if (added) {
        struct stat info;
        if (::lstat(path.constData(), &info) == 0)
            place->second = info;
    }
    return place->second ? &*place->second : nullptr;
}

const std::vector<FolderListingCache::Subfolder> &
FolderListingCache::subfolders(const QByteArray &folder)
{
    const auto [place, added] = m_subfolders.try_emplace(folder);
    if (!added)
        return place->second;
    std::vector<std::pair<timespec, Subfolder>> found;
    for (const Entry &entry : listing(folder).entries) {
        if (entry.type != DT_DIR && entry.type != DT_UNKNOWN)
            continue;
        QByteArray path = folder == "/" ? folder + entry.name : folder + '/' + entry.name;
        const struct stat *info = status(path);
        if (info && S_ISDIR(info->st_mode))
            found.push_back(
                {info->st_ctim, {std::move(path), quint64(info->st_dev), quint64(info->st_ino)}});
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return std::pair(a.first.tv_sec, a.first.tv_nsec) >
               std::pair(b.first.tv_sec, b.first.tv_nsec);
    });
    place->second.reserve(found.size());
    for (auto &[changed, subfolder] : found)
        place->second.push_back(std::move(subfolder));
    return place->second;
}
