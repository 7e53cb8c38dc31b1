// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FinderTagsIO.h"

#include "FilePaths.h"

#include "FinderTag.h"
#include "XdgTags.h"

#include "platform/BinaryPlist.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QVariant>
#include <QXmlStreamReader>

#include <array>
#include <cerrno>
#include <cstring>

#include <sys/xattr.h>

namespace FinderTagsIO {

namespace {

// Attribute values and name lists are usually tiny: one call into a stack buffer answers them,
// and only larger ones pay for a size query and an allocation.
constexpr qsizetype smallBufferSize = 1024;

// One read of a named attribute; the calls follow symbolic links, as the file manager's do.
// Nothing when the attribute is absent, empty, unreadable or larger than the bound.
std::optional<QByteArray> readAttribute(const char *path, const char *name)
{
    std::array<char, smallBufferSize> small;
    ssize_t n = ::getxattr(path, name, small.data(), small.size());
    if (n > 0)
        return QByteArray(small.data(), n);
    if (n == 0 || errno != ERANGE)
        return std::nullopt;
    // The value may change between the size query and the read; a read that then fails with
    // ERANGE counts as unreadable.
    const ssize_t size = ::getxattr(path, name, nullptr, 0);
    if (size < 1 || size > maxAttributeSize)
        return std::nullopt;
    QByteArray buffer(size, '\0');
    n = ::getxattr(path, name, buffer.data(), buffer.size());
    if (n < 1)
        return std::nullopt;
    buffer.truncate(n);
    return buffer;
}

// The names of the file's attributes, NUL-separated, in `names`. Answers the length of the list,
// or -1 when the file system cannot list them (or the list is implausibly long).
ssize_t listAttributes(const char *path, QByteArray &names)
{
    std::array<char, smallBufferSize> small;
    ssize_t n = ::listxattr(path, small.data(), small.size());
    if (n >= 0) {
        names = QByteArray(small.data(), n);
        return n;
    }
    if (errno != ERANGE)
        return -1;
    const ssize_t size = ::listxattr(path, nullptr, 0);
    if (size < 0 || size > maxAttributeSize)
        return -1;
    names = QByteArray(size, '\0');
    n = ::listxattr(path, names.data(), names.size());
    if (n < 0)
        return -1;
    names.truncate(n);
    return n;
}

bool listContains(QByteArrayView list, const char *name)
{
    const QByteArrayView wanted(name, qsizetype(std::strlen(name)));
    qsizetype start = 0;
    while (start < list.size()) {
        qsizetype end = list.indexOf('\0', start);
        if (end < 0)
            end = list.size();
        if (list.sliced(start, end - start) == wanted)
            return true;
        start = end + 1;
    }
    return false;
}

// Tools on other systems may leave the list as an XML property list; only an array of strings
// is of interest, so anything else reads as nothing.
std::optional<QStringList> xmlStringArray(QByteArrayView bytes)
{
    QXmlStreamReader xml(bytes.toByteArray());
    QStringList strings;
    int depth = 0; // 1 inside <plist>, 2 inside its <array>
    bool sawArray = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (depth == 0 && xml.name() == QLatin1String("plist")) {
                depth = 1;
            } else if (depth == 1 && !sawArray && xml.name() == QLatin1String("array")) {
                depth = 2;
                sawArray = true;
            } else if (depth == 2 && xml.name() == QLatin1String("string")) {
                strings.append(xml.readElementText());
                if (xml.hasError())
                    return std::nullopt;
            } else {
                return std::nullopt;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (!xml.isWhitespace())
                return std::nullopt;
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !sawArray)
        return std::nullopt;
    return strings;
}

bool looksLikeXml(QByteArrayView bytes)
{
    const QByteArrayView start = bytes.trimmed();
    return start.startsWith("<?xml") || start.startsWith("<!DOCTYPE") ||
           start.startsWith("<plist") || start.startsWith("\xEF\xBB\xBF<");
}

bool isStringArray(const QVariant &root)
{
    if (root.typeId() != QMetaType::QVariantList)
        return false;
    const QVariantList list = root.toList();
    for (const QVariant &element : list) {
        if (element.typeId() != QMetaType::QString)
            return false;
    }
    return true;
}

QList<Entry> decodeCarrier(const char *name, const QByteArray &value)
{
    // Samba stores the stream with one NUL appended; a property list may itself end in a zero
    // byte, so the value is taken as it stands when the shorter one does not parse.
    const bool samba = std::strcmp(name, sambaAttributeName) == 0 ||
                       std::strcmp(name, sambaMappedAttributeName) == 0;
    if (samba && value.endsWith('\0')) {
        const QByteArrayView trimmed = QByteArrayView(value).chopped(1);
        if (BinaryPlist::read(trimmed))
            return decodeEntries(trimmed);
    }
    return decodeEntries(value);
}

} // namespace

namespace {

QList<Entry> readCarriers(const QByteArray &path, const QByteArray &names, ssize_t listed)
{
    for (const char *carrier :
         {attributeName, hfsAttributeName, sambaAttributeName, sambaMappedAttributeName}) {
        if (listed > 0 && !listContains(names, carrier))
            continue;
        errno = 0;
        const std::optional<QByteArray> value = readAttribute(path.constData(), carrier);
        if (value)
            return decodeCarrier(carrier, *value);
        // Only an absent attribute lets a later carrier answer.
        if (listed > 0 || errno != ENODATA)
            return {};
    }
    return {};
}

QStringList readXdgAt(const QByteArray &path, const QByteArray &names, ssize_t listed)
{
    if (listed > 0 && !listContains(names, XdgTags::attributeName))
        return {};
    const std::optional<QByteArray> value = readAttribute(path.constData(), XdgTags::attributeName);
    return value ? XdgTags::decode(*value).value_or(QStringList()) : QStringList();
}

} // namespace

// Most files carry no attribute at all, so one listing answers them in a single call; values are
// read only when the listing names a carrier. A file system that cannot list is asked directly.
QList<Entry> readEntriesAtPath(const QByteArray &path)
{
    if (path.isEmpty())
        return {};
    QByteArray names;
    const ssize_t listed = listAttributes(path.constData(), names);
    return listed == 0 ? QList<Entry>() : readCarriers(path, names, listed);
}

ItemTags readItemTagsAtPath(const QByteArray &path)
{
    if (path.isEmpty())
        return {};
    QByteArray names;
    const ssize_t listed = listAttributes(path.constData(), names);
    if (listed == 0)
        return {};
    return {readCarriers(path, names, listed), readXdgAt(path, names, listed)};
}

namespace {

Entry entryFromString(const QString &text)
{
    const qsizetype lineFeed = text.indexOf(QLatin1Char('\n'));
    if (lineFeed < 0)
        return {text, 0};
    const QStringView rest = QStringView(text).sliced(lineFeed + 1);
    // A decimal integer: an optional sign and at least one digit, nothing else.
    const qsizetype firstDigit =
        rest.startsWith(QLatin1Char('+')) || rest.startsWith(QLatin1Char('-'));
    bool digits = rest.size() > firstDigit;
    for (QChar c : rest.sliced(firstDigit))
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    bool ok = false;
    const qint64 index = digits ? rest.toLongLong(&ok) : -1;
    if (!ok || index < 0 || index > 7)
        return {text, 0};
    return {text.left(lineFeed), index};
}

} // namespace

QList<Entry> decodeEntries(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    QStringList strings;
    if (looksLikeXml(bytes)) {
        std::optional<QStringList> xml = xmlStringArray(bytes);
        if (!xml)
            return {};
        strings = std::move(*xml);
    } else {
        const std::optional<QVariant> root = BinaryPlist::read(bytes);
        if (!root || !isStringArray(*root))
            return {};
        strings = root->toStringList();
    }
    QList<Entry> entries;
    entries.reserve(strings.size());
    for (const QString &string : std::as_const(strings))
        entries.append(entryFromString(string));
    return entries;
}

std::optional<QByteArray> encodeEntries(const QList<Entry> &entries)
{
    QStringList strings;
    strings.reserve(entries.size());
    for (const Entry &entry : entries) {
        if (entry.colorIndex < 1)
            strings.append(entry.name);
        else
            strings.append(entry.name + QLatin1Char('\n') + QString::number(entry.colorIndex));
    }
    return BinaryPlist::write(QVariant(strings));
}

QList<Entry> readEntries(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return {};
    return readEntriesAtPath(FilePaths::encoded(path));
}

bool writeEntries(const QList<Entry> &entries, const QUrl &url)
{
    if (!url.isLocalFile() || url.toLocalFile().isEmpty())
        return false;
    const QByteArray path = FilePaths::encoded(url.toLocalFile());
    if (entries.isEmpty())
        return ::removexattr(path.constData(), attributeName) == 0 || errno == ENODATA;
    const std::optional<QByteArray> bytes = encodeEntries(entries);
    if (!bytes || bytes->size() > maxAttributeSize)
        return false;
    return ::setxattr(path.constData(), attributeName, bytes->constData(), bytes->size(), 0) == 0;
}

QStringList readXdgTags(const QUrl &url)
{
    if (!url.isLocalFile() || url.toLocalFile().isEmpty())
        return {};
    return readXdgAt(FilePaths::encoded(url.toLocalFile()), {}, -1);
}

bool addXdgTags(const QStringList &names, const QUrl &url)
{
    if (!url.isLocalFile() || url.toLocalFile().isEmpty())
        return false;
    const QByteArray path = FilePaths::encoded(url.toLocalFile());
    errno = 0;
    const std::optional<QByteArray> value = readAttribute(path.constData(), XdgTags::attributeName);
    // Absent reads as an empty list; any other read failure must not lose the names there.
    if (!value && errno != 0 && errno != ENODATA)
        return false;
    const std::optional<QStringList> existing =
        value ? XdgTags::decode(*value) : std::optional(QStringList());
    if (!existing)
        return true;
    const std::optional<QStringList> merged = XdgTags::merged(*existing, names);
    if (!merged)
        return true;
    const QByteArray bytes = XdgTags::encode(*merged);
    if (bytes.size() > maxAttributeSize)
        return false;
    return ::setxattr(path.constData(), XdgTags::attributeName, bytes.constData(), bytes.size(),
                      0) == 0;
}

std::optional<QStringList> favoriteTagNames(const Preferences &defaults)
{
    return defaults.stringArrayForKey(QString::fromLatin1(favoriteTagNamesKey));
}

QMap<qint64, QString> tagNameMap(const std::optional<QStringList> &names)
{
    QMap<qint64, QString> map;
    if (!names || names->size() < 8)
        return map;
    for (FinderTag tag : FinderTags::all) {
        const QString &name = names->at(FinderTags::rawValue(tag) + 1);
        if (!name.isEmpty())
            map.insert(FinderTags::finderColorIndex(tag), name);
    }
    return map;
}

} // namespace FinderTagsIO
