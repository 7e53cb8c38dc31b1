// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTagsIO.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class Preferences;

// Learns the user's names for the seven colours from the tags files carry, because Linux keeps no
// list of them: per file-manager colour index, the name seen most often with it (ties go to the
// name seen first). Plain value; each background job fills its own and hands it back.
class TagNameLearner final
{
public:
    // Counts every coloured entry of one item; names that are empty or hold a line feed are left
    // out, since written back they would not read as that colour again.
    void record(const QList<FinderTagsIO::Entry> &entries);
    bool isEmpty() const;
    // The most frequent name for a colour index (1...7); empty when none was seen.
    QString mostFrequent(qint64 colorIndex) const;
    // `previous` with every colour seen here renamed; colours not seen keep their old name.
    // Nothing when nothing was seen and there was no list before.
    std::optional<QStringList> learntNames(const std::optional<QStringList> &previous) const;

    // Stores what this learner saw over the list kept under FinderTagsIO::favoriteTagNamesKey,
    // writing only on a real change.
    void storeInto(Preferences &defaults) const;

private:
    struct Count
    {
        QString name;
        qint64 count = 0;
    };
    // Indexed by colour index; few names per colour, so a list in first-seen order is enough.
    std::array<QList<Count>, 8> m_counts;
};
