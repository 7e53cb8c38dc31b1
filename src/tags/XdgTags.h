// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <optional>

// The freedesktop tag list that Dolphin and KDE's file indexer show and search: UTF-8 names
// joined by "," with no escaping. Older writers joined with ", ", so names are trimmed on reading.
// Pure functions over the attribute's value; FinderTagsIO reads and writes the attribute.
namespace XdgTags {

inline constexpr char attributeName[] = "user.xdg.tags";

// The names in order, without empty parts; nothing when the value is not valid UTF-8, so that
// a value this code cannot read is never rewritten.
std::optional<QStringList> decode(QByteArrayView value);
QByteArray encode(const QStringList &names);
// `existing` followed by every name of `added` not already there (compared case-insensitively).
// Names holding a comma cannot be stored and are left out. Nothing when no name is added.
std::optional<QStringList> merged(const QStringList &existing, const QStringList &added);

} // namespace XdgTags
