// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AppcastItem.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reads an appcast: an RSS 2.0 channel whose items carry the update framework's namespace.
namespace Appcast {

inline constexpr qsizetype maximumFeedBytes = 1024 * 1024;
inline const QLatin1String sparkleNamespace("http://www.andymatuschak.org/xml-namespaces/sparkle");

struct ParseResult
{
    // Every item, in feed order, with or without a version.
    QList<AppcastItem> items;
    // A text for the user when the feed is not readable as a whole; empty on success.
    QString error;
};

ParseResult parse(const QByteArray &xml);

// The item with the newest valid version; absent when no item has one.
std::optional<AppcastItem> newestItem(const QList<AppcastItem> &items);

// Release notes with every script element removed; the rest is left to a viewer that loads nothing.
QString sanitizedReleaseNotes(const QString &html);

} // namespace Appcast
