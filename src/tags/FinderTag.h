// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <optional>

// The seven colour tags, in the order they are listed everywhere (raw values 0 to 6).
enum class FinderTag : qint64
{
    Red = 0,
    Orange,
    Yellow,
    Green,
    Blue,
    Purple,
    Gray
};

using FinderTagSet = QSet<FinderTag>;

namespace FinderTags {

inline constexpr std::array<FinderTag, 7> all = {
    FinderTag::Red,  FinderTag::Orange, FinderTag::Yellow, FinderTag::Green,
    FinderTag::Blue, FinderTag::Purple, FinderTag::Gray};

inline qint64 rawValue(FinderTag tag)
{
    return static_cast<qint64>(tag);
}
std::optional<FinderTag> fromRawValue(qint64 raw);
QString displayName(FinderTag tag);
QColor displayColor(FinderTag tag);
// The number the file manager's tag attribute carries for the colour (1...7).
int finderColorIndex(FinderTag tag);
// Index 0 (no colour) and anything outside 1...7 have no tag.
std::optional<FinderTag> fromFinderColorIndex(qint64 index);
// A set listed in raw-value order.
QList<FinderTag> sorted(const FinderTagSet &tags);

} // namespace FinderTags

inline size_t qHash(FinderTag tag, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<qint64>(tag), seed);
}
