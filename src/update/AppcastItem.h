// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

// One release as an appcast item describes it.
struct AppcastItem
{
    QString title;
    QString version;            // sparkle:version, the one compared
    QString shortVersionString; // the one shown; empty when the feed gives none
    QUrl releaseNotesLink;
    QString description; // rich text, as the feed has it
    QUrl link;           // the item's web page
    QUrl enclosureUrl;   // the download chosen for this system

    QString displayVersion() const
    {
        return shortVersionString.isEmpty() ? version : shortVersionString;
    }
    // The page the user is sent to: the item's link, else its download.
    QUrl downloadPage() const { return link.isValid() && !link.isEmpty() ? link : enclosureUrl; }
};
