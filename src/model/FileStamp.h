// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Which version of a regular file is on disk: a file beside it that was made from it names it
// this way, so that a file replaced since (by this process or another) is told apart at once.
struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modifiedNs = 0;

    friend bool operator==(const FileStamp &, const FileStamp &) = default;

    // None when `filePath` is missing or not a regular file.
    static std::optional<FileStamp> of(const QString &filePath);
};
