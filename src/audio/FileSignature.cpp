// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileSignature.h"

#include "FilePaths.h"

#include <QFile>

#include <sys/stat.h>

std::optional<FileSignature> FileSignature::of(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QByteArray path = FilePaths::encoded(url.toLocalFile());
    struct stat info
    {};
    if (::stat(path.constData(), &info) != 0)
        return std::nullopt;
    FileSignature signature;
    signature.modified = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    signature.size = qint64(info.st_size);
    return signature;
}
