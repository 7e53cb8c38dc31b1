// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FinderTag.h"

namespace FinderTags {

namespace {
struct Info
{
    const char *name;
    float red, green, blue;
    int finderIndex;
};

constexpr std::array<Info, 7> infos = {{
    {"Red", 1.0f, 0.32f, 0.34f, 6},
    {"Orange", 1.0f, 0.62f, 0.04f, 7},
    {"Yellow", 1.0f, 0.81f, 0.04f, 5},
    {"Green", 0.36f, 0.81f, 0.31f, 2},
    {"Blue", 0.21f, 0.56f, 1.0f, 4},
    {"Purple", 0.69f, 0.43f, 0.9f, 3},
    {"Gray", 0.6f, 0.6f, 0.64f, 1},
}};

const Info &info(FinderTag tag)
{
    return infos[static_cast<size_t>(tag)];
}
} // namespace

std::optional<FinderTag> fromRawValue(qint64 raw)
{
    if (raw < 0 || raw > 6)
        return std::nullopt;
    return static_cast<FinderTag>(raw);
}

QString displayName(FinderTag tag)
{
    return QString::fromLatin1(info(tag).name);
}

QColor displayColor(FinderTag tag)
{
    const Info &i = info(tag);
    return QColor::fromRgbF(i.red, i.green, i.blue);
}

int finderColorIndex(FinderTag tag)
{
    return info(tag).finderIndex;
}

std::optional<FinderTag> fromFinderColorIndex(qint64 index)
{
    for (FinderTag tag : all) {
        if (info(tag).finderIndex == index)
            return tag;
    }
    return std::nullopt;
}

QList<FinderTag> sorted(const FinderTagSet &tags)
{
    QList<FinderTag> list;
    for (FinderTag tag : all) {
        if (tags.contains(tag))
            list.append(tag);
    }
    return list;
}

} // namespace FinderTags
