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

// "." or ".." as a directory lists them.
bool isSelfOrParentEntry(const char *name);

} // namespace FilePaths
