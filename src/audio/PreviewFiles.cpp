// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "PreviewFiles.h"

#include "FilePaths.h"

#include <sys/stat.h>

QString PreviewFiles::shareOf(const QString &path) const
{
    return FilePaths::shareOf(path);
}

PreviewFiles::Status PreviewFiles::status(const QString &path) const
{
    struct stat info
    {};
    if (::stat(FilePaths::encoded(path).constData(), &info) != 0)
        return {};
    if (!S_ISREG(info.st_mode))
        return {Kind::Other, std::nullopt};
    return {Kind::Regular,
            FileSignature{qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
                          qint64(info.st_size)}};
}

std::unique_ptr<AudioDecoder> PreviewFiles::open(const QString &path,
                                                 AudioDecoder::Interrupt interrupt) const
{
    return AudioDecoder::open(path, std::move(interrupt));
}
