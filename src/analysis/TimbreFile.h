// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundDescriptor.h"

#include <QString>

#include <optional>
#include <vector>

// What each entry of an index file sounds like, in a file beside it ("index.plist.timbre"): for
// every entry in the index's order, the fingerprint of its decoded audio and its descriptor, 41
// bytes. Kept apart from the index so that loading the index costs nothing for it: it is read
// only when a similar-sound or duplicate search asks.
class TimbreFile final
{
public:
    TimbreFile() = delete;

    struct Entry
    {
        quint64 audioHash = 0; // 0: not known
        SoundDescriptor descriptor;
        friend bool operator==(const Entry &, const Entry &) = default;
    };

    static QString pathBeside(const QString &indexFilePath);
    // Replaces the file atomically; false on any failure.
    static bool write(const QString &filePath, const std::vector<Entry> &entries);
    // Absent when the file is missing, damaged or holds another number of entries than
    // `expectedCount` (written for another index).
    static std::optional<std::vector<Entry>> read(const QString &filePath, size_t expectedCount);
};
