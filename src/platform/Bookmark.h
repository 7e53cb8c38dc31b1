#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A file bookmark: versioned data holding an item's path, device, inode, size and modification
// time, which finds the item again after a rename or a move nearby. Resolution never mounts
// anything and gives up quickly when the item's volume is gone.
class Bookmark final
{
public:
    Bookmark() = delete;

    struct Resolution
    {
        QString path;       // where the item is now (normalised, links not resolved)
        bool stale = false; // found, but the bookmark should be made anew
    };

    // Nothing when nothing exists at `path`.
    static std::optional<QByteArray> create(const QString &path);
    // Nothing when the data is malformed or the item cannot be found.
    static std::optional<Resolution> resolve(const QByteArray &data);

    // There is no sandbox on this platform: access is always granted.
    static bool startAccessing(const QString &path);
    static void stopAccessing(const QString &path);
};
