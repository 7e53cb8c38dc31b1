// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class FolderListingCache;

// A file bookmark: versioned data holding an item's path, device, inode and birth time (size and
// modification time where the file system reports no birth time), which finds the item again
// after a rename or a move nearby. Resolution never mounts anything and gives up quickly when the
// item's volume is gone. Resolving may search thousands of entries: never call it on the GUI
// thread.
class Bookmark final
{
public:
    Bookmark() = delete;

    struct Resolution
    {
        QString path;       // where the item is now (normalised, links not resolved)
        bool stale = false; // found, but the bookmark should be made anew
    };

    // A folder a failed search read, with the modification time it had then.
    struct FolderStamp
    {
        QByteArray path;
        qint64 seconds = 0;
        quint32 nanoseconds = 0;
        bool operator==(const FolderStamp &) const = default;
    };
    using SearchTrace = QList<FolderStamp>;

    // Nothing when nothing exists at `path`.
    static std::optional<QByteArray> create(const QString &path);
    // Nothing when the data is malformed or the item cannot be found.
    static std::optional<Resolution> resolve(const QByteArray &data);
    // As above; when the search fails, `searched` receives the folders it read.
    static std::optional<Resolution> resolve(const QByteArray &data, SearchTrace *searched);
    // As above, reading folders through `listings`, which the searches of one pass share.
    static std::optional<Resolution> resolve(const QByteArray &data, SearchTrace *searched,
                                             FolderListingCache &listings);
    // Whether every folder of a failed search is still as it was, so the search would fail again.
    static bool isUnchanged(const SearchTrace &searched);
    // As above, looking at folders through `listings`.
    static bool isUnchanged(const SearchTrace &searched, FolderListingCache &listings);

    // There is no sandbox on this platform: access is always granted.
    static bool startAccessing(const QString &path);
    static void stopAccessing(const QString &path);
};
