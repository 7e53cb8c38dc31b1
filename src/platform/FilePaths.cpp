// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
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
    return !path.isEmpty() && ::stat(encoded(path).constData(), &st) == 0;
}

bool isDirectory(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(encoded(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// The length of the valid UTF-8 sequence at `p` that decodes outside the carrying block, or 0.
size_t validSequence(const unsigned char *p, const unsigned char *end, char32_t &code)
{
    const unsigned char lead = *p;
    size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (size_t(end - p) < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
        (code >= 0xEF80 && code <= 0xEFFF))
        return 0;
    return length;
}

template <typename Sink> void walkBytes(QByteArrayView bytes, Sink &&sink)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        char32_t code = 0;
        const size_t length = validSequence(p, end, code);
        if (length == 0) {
            sink(char32_t(escapedByteBase + *p), p, size_t(0));
            ++p;
        } else {
            sink(code, p, length);
            p += length;
        }
    }
}

} // namespace

QByteArray encoded(const QString &path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c.unicode() < 0x80) {
            bytes.append(char(c.unicode()));
        } else if (isEscapedByte(c)) {
            bytes.append(char(c.unicode() - escapedByteBase));
        } else if (c.isHighSurrogate() && i + 1 < path.size() && path.at(i + 1).isLowSurrogate()) {
            bytes.append(QStringView(path).mid(i, 2).toUtf8());
            ++i;
        } else {
            bytes.append(QStringView(&c, 1).toUtf8());
        }
    }
    return bytes;
}

QString decoded(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    QString text;
    text.reserve(bytes.size());
    walkBytes(bytes, [&text](char32_t code, const unsigned char *, size_t) {
        if (QChar::requiresSurrogates(code)) {
            text.append(QChar(QChar::highSurrogate(code)));
            text.append(QChar(QChar::lowSurrogate(code)));
        } else {
            text.append(QChar(char16_t(code)));
        }
    });
    return text;
}

std::string escapedUtf8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    walkBytes(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
              [&text](char32_t code, const unsigned char *p, size_t length) {
                  if (length > 0) {
                      text.append(reinterpret_cast<const char *>(p), length);
                  } else {
                      // Three bytes of UTF-8 for a code point of the carrying block.
                      text.push_back(char(0xE0 | (code >> 12)));
                      text.push_back(char(0x80 | ((code >> 6) & 0x3F)));
                      text.push_back(char(0x80 | (code & 0x3F)));
                  }
              });
    return text;
}

QString displayText(const QString &name)
{
    QString text;
    text.reserve(name.size());
    for (const QChar c : name) {
        if (isEscapedByte(c))
            text += QStringLiteral("\\x") +
                    QString::number(c.unicode() - escapedByteBase, 16).toUpper();
        else if (c.unicode() < 0x20)
            text += QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7F)
            text += QChar(0x2421);
        else
            text += c;
    }
    return text;
}

QByteArray uriList(const QStringList &paths)
{
    QByteArray list;
    for (const QString &path : paths)
        list += QByteArrayLiteral("file://") + encoded(path).toPercentEncoding("/") + "\r\n";
    return list;
}

bool isSelfOrParentEntry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

namespace {

// mountinfo writes a space, tab, newline or backslash in a mount point as \040, \011, \012, \134.
QByteArray unescapedMountPoint(const QByteArray &field)
{
    QByteArray point;
    point.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                point.append(char(code));
                i += 3;
                continue;
            }
        }
        point.append(field[i]);
    }
    return point;
}

bool isAtOrBelowMount(const QByteArray &path, const QByteArray &point)
{
    if (point == "/")
        return path.startsWith('/');
    return path.startsWith(point) && (path.size() == point.size() || path[point.size()] == '/');
}

} // namespace

QString shareOf(const QString &path)
{
    // The kernel's own table: it answers from memory even while a mount hangs.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    const QByteArray bytes = FilePaths::encoded(path);
    QByteArray best = "/";
    if (table.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 5)
                continue;
            const QByteArray point = unescapedMountPoint(fields[4]);
            if (point.size() > best.size() && isAtOrBelowMount(bytes, point))
                best = point;
        }
    }
    return FilePaths::decoded(best);
}

} // namespace FilePaths
