// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundDescriptor.h"

#include <QByteArray>

int SoundDescriptor::distance(const Values &a, const Values &b)
{
    int sum = 0;
    for (int i = 0; i < size; ++i) {
        const int d = int(a[size_t(i)]) - int(b[size_t(i)]);
        sum += d * d;
    }
    return sum;
}

QByteArray SoundDescriptor::toBytes() const
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(m_values[size_t(i)]);
    return bytes;
}

std::optional<SoundDescriptor> SoundDescriptor::fromBytes(QByteArrayView bytes)
{
    if (bytes.size() != size)
        return std::nullopt;
    Values values{};
    for (int i = 0; i < size; ++i)
        values[size_t(i)] = qint8(bytes[i]);
    return SoundDescriptor(values);
}
