// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DescriptorTable.h"

#include "platform/CancelFlag.h"

#include <algorithm>

namespace {
constexpr int width = SoundDescriptor::size;
constexpr quint32 cancelCheckRows = 1 << 16;

int distanceAt(const qint8 *a, const qint8 *b)
{
    // Plain enough for the compiler to turn into vector instructions.
    int sum = 0;
    for (int i = 0; i < width; ++i) {
        const int d = int(a[i]) - int(b[i]);
        sum += d * d;
    }
    return sum;
}
} // namespace

void DescriptorTable::reserve(qsizetype rows)
{
    m_values.reserve(size_t(rows) * width);
    m_present.reserve(size_t(rows));
}

void DescriptorTable::append(const SoundDescriptor &descriptor)
{
    const SoundDescriptor::Values &values = descriptor.values();
    m_values.insert(m_values.end(), values.begin(), values.end());
    m_present.push_back(descriptor.isValid() ? 1 : 0);
}

SoundDescriptor DescriptorTable::at(qsizetype row) const
{
    if (!has(row))
        return {};
    SoundDescriptor::Values values{};
    std::copy_n(m_values.begin() + row * width, width, values.begin());
    return SoundDescriptor(values);
}

qsizetype DescriptorTable::memoryBytes() const
{
    return qsizetype(m_values.capacity() + m_present.capacity());
}

std::vector<DescriptorTable::Hit>
DescriptorTable::nearest(const SoundDescriptor::Values &query, qsizetype count,
                         const std::function<bool(quint32 row)> &include,
                         const CancelFlag *cancel) const
{
    std::vector<Hit> best; // a max-heap of the nearest so far
    if (count <= 0)
        return best;
    best.reserve(size_t(count) + 1);
    const quint32 rows = quint32(m_present.size());
    for (quint32 row = 0; row < rows; ++row) {
        if (cancel != nullptr && row % cancelCheckRows == 0 && cancel->isCancelled())
            return {};
        if (m_present[row] == 0)
            continue;
        const int distance = distanceAt(query.data(), m_values.data() + size_t(row) * width);
        if (qsizetype(best.size()) == count && !(Hit{distance, row} < best.front()))
            continue;
        if (include && !include(row))
            continue;
        best.push_back({distance, row});
        std::push_heap(best.begin(), best.end());
        if (qsizetype(best.size()) > count) {
            std::pop_heap(best.begin(), best.end());
            best.pop_back();
        }
    }
    std::sort_heap(best.begin(), best.end());
    return best;
}
