// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>
#include <QtGlobal>

#include <optional>

// One version of a file on disk: a rewrite changes the modification time or the size.
struct FileSignature
{
    // Nanoseconds since the epoch, so that two writes within one second still differ.
    qint64 modified = 0;
    qint64 size = 0;

    // Absent when the file's attributes cannot be read.
    static std::optional<FileSignature> of(const QUrl &url);

    friend bool operator==(const FileSignature &, const FileSignature &) = default;
};
