// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagNameLearner.h"

#include "FinderTag.h"

#include "platform/Preferences.h"

#include <algorithm>

void TagNameLearner::record(const QList<FinderTagsIO::Entry> &entries)
{
    for (const FinderTagsIO::Entry &entry : entries) {
        if (entry.colorIndex < 1 || entry.colorIndex > 7 || entry.name.isEmpty() ||
            entry.name.contains(QLatin1Char('\n')))
            continue;
        QList<Count> &counts = m_counts[size_t(entry.colorIndex)];
        auto known = std::find_if(counts.begin(), counts.end(),
                                  [&entry](const Count &c) { return c.name == entry.name; });
        if (known == counts.end())
            counts.append({entry.name, 1});
        else
            ++known->count;
    }
}

bool TagNameLearner::isEmpty() const
{
    return std::all_of(m_counts.cbegin(), m_counts.cend(),
                       [](const QList<Count> &counts) { return counts.isEmpty(); });
}

QString TagNameLearner::mostFrequent(qint64 colorIndex) const
{
    if (colorIndex < 1 || colorIndex > 7)
        return {};
    const Count *best = nullptr;
    for (const Count &count : m_counts[size_t(colorIndex)]) {
        if (!best || count.count > best->count)
            best = &count;
    }
    return best ? best->name : QString();
}

std::optional<QStringList>
TagNameLearner::learntNames(const std::optional<QStringList> &previous) const
{
    const bool usable = previous && previous->size() >= 8;
    if (isEmpty() && !usable)
        return std::nullopt;
    QStringList names(8);
    for (FinderTag tag : FinderTags::all) {
        const qsizetype slot = FinderTags::rawValue(tag) + 1;
        const QString learnt = mostFrequent(FinderTags::finderColorIndex(tag));
        names[slot] = !learnt.isEmpty() ? learnt : usable ? previous->at(slot) : QString();
    }
    return names;
}

void TagNameLearner::storeInto(Preferences &defaults) const
{
    const std::optional<QStringList> previous = FinderTagsIO::favoriteTagNames(defaults);
    const std::optional<QStringList> names = learntNames(previous);
    if (names && names != previous)
        defaults.setObject(*names, QString::fromLatin1(FinderTagsIO::favoriteTagNamesKey));
}
