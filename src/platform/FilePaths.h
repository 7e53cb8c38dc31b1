// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

#include <string_view>

// The one normalised form of file locations: an absolute path with "." and ".." resolved and no
// trailing slash; symbolic links are not resolved. Every stored path key uses it.
namespace FilePaths {

QString normalized(const QString &path);
QString normalized(const QUrl &url);
QUrl fileUrl(const QString &path); // of the normalised path
QString lastComponent(const QString &path);
QString parentPath(const QString &path);
// By whole path components: "/a/b" is at or below "/a", "/ab" is not.
bool isAtOrBelow(const QString &path, const QString &ancestor);
// The same on UTF-8, for the index's byte paths.
bool isAtOrBelow(std::string_view path, std::string_view ancestor);
// `path` moved from below `from` to the same place below `to`; `path` must be at or below `from`.
QString rebased(const QString &path, const QString &from, const QString &to);

// Following symbolic links, like the file manager's existence test.
bool exists(const QString &path);
bool isDirectory(const QString &path);

// The mount point `path` lives on, read from the kernel's table without touching the path
// itself, so that it answers even while that mount hangs.
QString shareOf(const QString &path);

// "." or ".." as a directory lists them.
bool isSelfOrParentEntry(const char *name);

// Paths are bytes on Linux, and names unpacked from old archives are often not UTF-8 (Latin-1,
// CP437). Such a path must still reach the file system as the very bytes the listing gave, so
// the QString form carries every byte that is not part of valid UTF-8 as one code point of a
// private-use block, U+EF80 + (byte - 0x80). The mapping is lossless both ways: a valid UTF-8
// name that itself holds a code point of that block is carried byte by byte the same way.
constexpr char16_t escapedByteBase = 0xEF00;
inline bool isEscapedByte(QChar c)
{
    return c.unicode() >= 0xEF80 && c.unicode() <= 0xEFFF;
}
// The bytes for the file system, and back.
QByteArray encoded(const QString &path);
QString decoded(QByteArrayView bytes);
// The same carrying form as UTF-8 (always valid), for the index's byte paths; unchanged for valid
// UTF-8 outside that block.
std::string escapedUtf8(std::string_view bytes);
// A name for people to read: every carried byte as "\xE9", every control character (a newline in
// a name) as its visible symbol, so that a name is always one readable line.
QString displayText(const QString &name);
// A text/uri-list of file URLs whose paths are the percent-encoded bytes, as other programs
// expect in a drag.
QByteArray uriList(const QStringList &paths);

} // namespace FilePaths
