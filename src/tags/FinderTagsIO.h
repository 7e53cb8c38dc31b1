// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class Preferences;

// The file manager's own tags on one file, kept in an extended attribute as a binary property
// list of strings: the tag name, optionally followed by a line feed and the colour index.
// Stateless; safe on any thread.
namespace FinderTagsIO {

struct Entry
{
    QString name;
    qint64 colorIndex = 0; // 0: no colour; 1...7: a colour
    friend bool operator==(const Entry &, const Entry &) = default;
};

// The attribute as rsync -X carries it between macOS and Linux.
inline constexpr char attributeName[] = "user.com.apple.metadata:_kMDItemUserTags";
// Where other carriers keep the same tags; read only when attributeName is absent.
inline constexpr char hfsAttributeName[] = "osx.com.apple.metadata:_kMDItemUserTags";
inline constexpr char sambaAttributeName[] =
    "user.DosStream.com.apple.metadata:_kMDItemUserTags:$DATA";
inline constexpr char sambaMappedAttributeName[] =
    "user.DosStream.com.apple.metadata\xEF\x80\xA2_kMDItemUserTags:$DATA";

// The largest attribute value read; the kernel caps values at 64 KiB.
inline constexpr qsizetype maxAttributeSize = 64 * 1024;

// The tags of one item as both file managers see them.
struct ItemTags
{
    QList<Entry> entries; // the macOS attribute, in order
    QStringList xdgNames; // the freedesktop list (XdgTags), in order
};

// In attribute order; empty when the file has no readable, well-formed attribute.
QList<Entry> readEntries(const QUrl &url);
// The same for a file-system path as its bytes (FilePaths::encoded), for walks
// that never make URLs of the items they pass.
QList<Entry> readEntriesAtPath(const QByteArray &localPath);
// Both attributes from one listing of the item's attributes, for the import's walk.
ItemTags readItemTagsAtPath(const QByteArray &localPath);
// Replaces the attribute with exactly `entries`; an empty list removes it.
bool writeEntries(const QList<Entry> &entries, const QUrl &url);

QStringList readXdgTags(const QUrl &url);
// Adds `names` to the freedesktop list, keeping every name already there. True when the list
// already held them or the write succeeded; a list that is not UTF-8 is left untouched.
bool addXdgTags(const QStringList &names, const QUrl &url);

// Where Wavelark keeps the names it learnt from the files (TagNameLearner), in the layout of the
// macOS file manager's own list, since Linux keeps no list of colour names.
inline constexpr char favoriteTagNamesKey[] = "FavoriteTagNames";
// That list; absent when it is missing or holds anything but strings.
std::optional<QStringList> favoriteTagNames(const Preferences &defaults);
// File-manager colour index (1...7) -> name, from a list whose elements 1...7 name the colours
// red...gray; empty for an absent or short list.
QMap<qint64, QString> tagNameMap(const std::optional<QStringList> &names);

// The attribute's value <-> entries, without touching a file.
QList<Entry> decodeEntries(QByteArrayView bytes);
std::optional<QByteArray> encodeEntries(const QList<Entry> &entries);

} // namespace FinderTagsIO
