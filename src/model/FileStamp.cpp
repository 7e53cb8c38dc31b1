// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileStamp.h"

#include "FilePaths.h"

#include <sys/stat.h>

std::optional<FileStamp> FileStamp::of(const QString &filePath)
{
    struct stat st;
    if (::stat(FilePaths::encoded(filePath).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{quint64(st.st_dev), quint64(st.st_ino), quint64(st.st_size),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}
