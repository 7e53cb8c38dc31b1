// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHashFunctions>

#include <optional>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

// Folder listings and lstat results read once and handed to every bookmark search of one pass: the
// tags of a deleted or moved folder leave many items missing from the same place, and each of them
// searches the same ancestors and the same folders below them. Not thread-safe; keep one only
// while the disk may be taken as unchanged.
class FolderListingCache final
{
public:
    struct Entry
    {
        QByteArray name;
        quint64 inode = 0;      // as the directory lists it
        unsigned char type = 0; // DT_* as the directory lists it
    };

    struct Listing
    {
        bool readable = false;
        bool listsTrueInodes = false; // whether `Entry::inode` is the one lstat reports
        qint64 seconds = 0;           // the folder's modification time when it was read
        quint32 nanoseconds = 0;
        std::vector<Entry> entries;
    };

    // Reads the folder on first use, without following a link at its place. The listing stays
    // where it is as long as the cache lives.
    const Listing &listing(const QByteArray &folder);
    // lstat of `path` on first use; nullptr when it failed.
    const struct stat *status(const QByteArray &path);

    struct Subfolder
    {
        QByteArray path;
        quint64 device = 0;
        quint64 inode = 0;
    };
    // The folders in `folder`, links left out, most recently changed first: a move changes the
    // folder moved and the one it went to.
    const std::vector<Subfolder> &subfolders(const QByteArray &folder);

private:
    std::unordered_map<QByteArray, Listing> m_listings;
    std::unordered_map<QByteArray, std::optional<struct stat>> m_statuses;
    std::unordered_map<QByteArray, std::vector<Subfolder>> m_subfolders;
};
