// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Appcast.h"

#include "AppcastVersion.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace {

struct Enclosure
{
    QUrl url;
    QString os;
};

bool isWebUrl(const QUrl &url)
{
    return url.isValid() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

QUrl webUrl(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return isWebUrl(url) ? url : QUrl();
}

bool isSparkle(const QXmlStreamReader &xml, QLatin1String name)
{
    return xml.namespaceUri() == Appcast::sparkleNamespace && xml.name() == name;
}

QString sparkleAttribute(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    return attributes.value(Appcast::sparkleNamespace, name).toString().trimmed();
}

// Reads one <item>; the reader stands on its start element and ends on its end element.
AppcastItem readItem(QXmlStreamReader &xml)
{
    AppcastItem item;
    QList<Enclosure> enclosures;
    QString enclosureVersion;
    QString enclosureShortVersion;
    while (xml.readNextStartElement()) {
        if (!xml.namespaceUri().isEmpty() && xml.namespaceUri() != Appcast::sparkleNamespace) {
            xml.skipCurrentElement();
        } else if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("title")) {
            item.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("link")) {
            item.link = webUrl(xml.readElementText());
        } else if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("description")) {
            item.description = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("enclosure")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            enclosures.append({webUrl(attributes.value(QLatin1String("url")).toString()),
                               sparkleAttribute(attributes, QLatin1String("os"))});
            if (enclosureVersion.isEmpty())
                enclosureVersion = sparkleAttribute(attributes, QLatin1String("version"));
            if (enclosureShortVersion.isEmpty())
                enclosureShortVersion =
                    sparkleAttribute(attributes, QLatin1String("shortVersionString"));
            xml.skipCurrentElement();
        } else if (isSparkle(xml, QLatin1String("version"))) {
            item.version = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1String("shortVersionString"))) {
            item.shortVersionString = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QLatin1String("releaseNotesLink"))) {
            item.releaseNotesLink = webUrl(xml.readElementText());
        } else {
            xml.skipCurrentElement();
        }
    }
    if (item.version.isEmpty())
        item.version = enclosureVersion;
    if (item.shortVersionString.isEmpty())
        item.shortVersionString = enclosureShortVersion;
    // A Linux build first, then one meant for every system; other systems' builds never.
    for (const QString &os : {QStringLiteral("linux"), QString()}) {
        for (const Enclosure &enclosure : std::as_const(enclosures)) {
            if (enclosure.os == os && enclosure.url.isValid() && item.enclosureUrl.isEmpty())
                item.enclosureUrl = enclosure.url;
        }
    }
    return item;
}

QString withoutFullStop(QString text)
{
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

} // namespace

Appcast::ParseResult Appcast::parse(const QByteArray &xml)
{
    ParseResult result;
    if (xml.size() > maximumFeedBytes) {
        result.error = QStringLiteral("The update feed is larger than 1 MB.");
        return result;
    }
    QXmlStreamReader reader(xml);
    bool sawChannel = false;
    if (reader.readNextStartElement() && reader.name() == QLatin1String("rss")) {
        while (reader.readNextStartElement()) {
            if (reader.name() != QLatin1String("channel") || !reader.namespaceUri().isEmpty()) {
                reader.skipCurrentElement();
                continue;
            }
            sawChannel = true;
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("item") && reader.namespaceUri().isEmpty())
                    result.items.append(readItem(reader));
                else
                    reader.skipCurrentElement();
            }
        }
    }
    // Reading to the end finds errors after the channel too, such as a truncated document.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError()) {
        result.items.clear();
        result.error = QStringLiteral("The update feed is not valid XML (line %1: %2).")
                           .arg(reader.lineNumber())
                           .arg(withoutFullStop(reader.errorString()));
    } else if (!sawChannel) {
        result.error = QStringLiteral("The update feed is not an RSS channel.");
    }
    return result;
}

std::optional<AppcastItem> Appcast::newestItem(const QList<AppcastItem> &items)
{
    std::optional<AppcastItem> newest;
    for (const AppcastItem &item : items) {
        if (!AppcastVersion::isValid(item.version))
            continue;
        if (!newest || AppcastVersion::compare(item.version, newest->version) > 0)
            newest = item;
    }
    return newest;
}

QString Appcast::sanitizedReleaseNotes(const QString &html)
{
    static const QRegularExpression script(QStringLiteral("<script\\b.*?(</script\\s*>|$)"),
                                           QRegularExpression::CaseInsensitiveOption |
                                               QRegularExpression::DotMatchesEverythingOption);
    QString clean = html;
    clean.remove(script);
    return clean;
}
