#pragma once

#include "FinderTag.h"

#include "platform/CancelFlag.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

// The file-system half of importing and exporting the file manager's colours: pure functions
// over copies, run on background jobs; the tag store is touched only by their callers.
namespace FinderTagSync {

struct Scan
{
    // Normalised path of every file or folder carrying at least one file-manager colour.
    QHash<QString, FinderTagSet> perItem;
};

// Visits every root and everything below it (hidden items included, links not followed).
// A cancelled flag ends the walk early with what was found so far.
Scan scan(const QList<QUrl> &roots, const CancelFlagPtr &flag = {});

struct ExportResult
{
    qint64 filesWritten = 0; // items whose every colour is now on the file
    qint64 filesFailed = 0;  // items with at least one failed write
    FinderTagSet skippedColors;
};

// Adds each item's colours to its file as file-manager tags named from `names` (colour index ->
// name), or by the colours' English names when `allowDefaultNames`; colours with neither are
// skipped. Never removes or reorders a tag already on a file.
ExportResult exportItems(const QHash<QUrl, FinderTagSet> &items, const QMap<qint64, QString> &names,
                         bool allowDefaultNames, const CancelFlagPtr &flag = {});

} // namespace FinderTagSync
