#include "FilePaths.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace FilePaths {

QString normalized(const QString &path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path
                                                      : QDir::current().absoluteFilePath(path));
}

QString normalized(const QUrl &url)
{
    return normalized(url.toLocalFile());
}

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(normalized(path));
}

QString lastComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString parentPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

bool isAtOrBelow(const QString &path, const QString &ancestor)
{
    if (path == ancestor)
        return true;
    if (ancestor == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path.size() > ancestor.size() && path.startsWith(ancestor) &&
           path.at(ancestor.size()) == QLatin1Char('/');
}

bool isAtOrBelow(std::string_view path, std::string_view ancestor)
{
    if (path.substr(0, ancestor.size()) != ancestor)
        return false;
    return path.size() == ancestor.size() || ancestor == "/" || path[ancestor.size()] == '/';
}

QString rebased(const QString &path, const QString &from, const QString &to)
{
    if (path == from)
        return to;
    const QString rest = from == QLatin1String("/") ? path.mid(1) : path.mid(from.size() + 1);
    if (to == QLatin1String("/"))
        return QLatin1Char('/') + rest;
    return to + QLatin1Char('/') + rest;
}

bool exists(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isDirectory(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

bool isSelfOrParentEntry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace FilePaths
