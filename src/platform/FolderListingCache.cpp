#include "FolderListingCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return listing;
    }
    listing.readable = true;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        listing.entries.push_back({QByteArray(name), quint64(entry->d_ino), entry->d_type});
    }
    ::closedir(dir);
    return listing;
}
