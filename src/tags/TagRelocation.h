// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Bookmark.h"
#include "platform/CancelFlag.h"
#include "platform/FolderListingCache.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Finds tagged items moved outside the application through their bookmarks. It touches the disk,
// so it runs on a background job with copies; a failed search is handed back with the folders it
// read, and is not repeated until one of them changes.
class TagRelocation final
{
public:
    TagRelocation() = delete;

    using Resolver = std::function<std::optional<Bookmark::Resolution>(
        const QByteArray &, Bookmark::SearchTrace *, FolderListingCache &)>;
    using FailedSearches = QHash<QString, Bookmark::SearchTrace>;

    struct Input
    {
        QMap<QString, QByteArray> bookmarks; // of the tagged items, by normalised path
        QStringList roots;                   // normalised; a move out of every root is ignored
        FailedSearches failed;               // from the previous pass
        Resolver resolver;
    };

    struct Move
    {
        QString to;
        QByteArray bookmark; // made at the new place
    };

    struct Result
    {
        QMap<QString, Move> moves; // old path -> new place
        FailedSearches failed;
    };

    static Result find(const Input &input, const CancelFlag &flag);
    static Resolver defaultResolver();
};
