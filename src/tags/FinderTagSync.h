// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"
#include "TagNameLearner.h"

#include "platform/CancelFlag.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The file-system half of importing and exporting the file manager's colours: pure functions
// over copies, run on background jobs; the tag store is touched only by their callers.
namespace FinderTagSync {

struct Scan
{
    // Normalised path of every file or folder carrying at least one file-manager colour.
    QHash<QString, FinderTagSet> perItem;
    // The names the walk saw with each colour, for the caller to store on the main thread.
    TagNameLearner names;
};

// Visits every root and everything below it (hidden items included, links not followed).
// Freedesktop tags count as the colour whose name they carry: a name of `favoriteNames` (a
// learnt list, see TagNameLearner) as updated by this walk, or an English display name.
// A cancelled flag ends the walk early with what was found so far.
Scan scan(const QList<QUrl> &roots, const std::optional<QStringList> &favoriteNames = {},
          const CancelFlagPtr &flag = {});

struct ExportResult
{
    qint64 filesWritten = 0; // items whose every colour is now on the file
    qint64 filesFailed = 0;  // items with at least one failed write
    FinderTagSet skippedColors;
    // The names found on the files as they were before the export wrote to them.
    TagNameLearner names;
};

// Adds each item's colours to its file as file-manager tags named from `names` (colour index ->
// name), or by the colours' English names when `allowDefaultNames`; colours with neither are
// skipped. Each colour's name also joins the freedesktop list. Never removes or reorders a tag
// already on a file.
ExportResult exportItems(const QHash<QUrl, FinderTagSet> &items, const QMap<qint64, QString> &names,
                         bool allowDefaultNames, const CancelFlagPtr &flag = {});

// English default names may be written only for a user whose first language is English.
bool defaultNamesAllowed(const QStringList &preferredLanguages);

} // namespace FinderTagSync
