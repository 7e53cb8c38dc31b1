// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundDescriptor.h"

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <vector>

class CancelFlag;

// The descriptors of many files, row by row in one block, searched for the rows nearest a sound
// by an exact scan: 32 bytes a row, so that a million rows are read in a few milliseconds. Rows
// without a descriptor are never found. Not thread-safe while it is filled; searches may run side
// by side once it is.
class DescriptorTable final
{
public:
    void reserve(qsizetype rows);
    void append(const SoundDescriptor &descriptor);
    qsizetype size() const { return qsizetype(m_present.size()); }
    bool has(qsizetype row) const { return m_present[size_t(row)] != 0; }
    SoundDescriptor at(qsizetype row) const;
    qsizetype memoryBytes() const;

    struct Hit
    {
        int distance = 0;
        quint32 row = 0;
        friend bool operator<(const Hit &a, const Hit &b)
        {
            return a.distance != b.distance ? a.distance < b.distance : a.row < b.row;
        }
    };
    // The `count` rows nearest `query`, nearest first (ties in row order), among the rows
    // `include` accepts (every row when it is empty). Empty when cancelled.
    std::vector<Hit> nearest(const SoundDescriptor::Values &query, qsizetype count,
                             const std::function<bool(quint32 row)> &include = {},
                             const CancelFlag *cancel = nullptr) const;

private:
    std::vector<qint8> m_values;
    std::vector<quint8> m_present;
};
