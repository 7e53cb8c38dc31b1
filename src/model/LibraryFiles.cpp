// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "LibraryFiles.h"

#include <QFile>

#include "FilePaths.h"

#include <cerrno>
#include <sys/stat.h>

FileNode::Listing LibraryFiles::list(const QString &folder) const
{
    return FileNode::listFolder(folder);
}

LibraryFiles::Kind LibraryFiles::kind(const QString &path) const
{
    struct stat info
    {};
    if (::stat(FilePaths::encoded(path).constData(), &info) != 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG:
        case EACCES:
        case EPERM:
            return Kind::Missing;
        default:
            return Kind::Failed;
        }
    }
    return S_ISDIR(info.st_mode) ? Kind::Folder : Kind::File;
}

QString LibraryFiles::shareOf(const QString &path) const
{
    return FilePaths::shareOf(path);
}

bool LibraryFiles::moveToTrash(const QString &path) const
{
    return QFile::moveToTrash(path);
}
