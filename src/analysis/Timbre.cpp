// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Timbre.h"

#include <QtEndian>

QByteArray Timbre::toBytes() const
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian(m_audioHash, bytes.data());
    bytes.append(m_descriptor.isValid() ? '\1' : '\0');
    bytes.append(m_descriptor.isValid() ? m_descriptor.toBytes()
                                        : QByteArray(SoundDescriptor::size, '\0'));
    return bytes;
}

std::optional<Timbre> Timbre::fromBytes(QByteArrayView bytes)
{
    if (bytes.size() != serializedSize || quint8(bytes[8]) > 1)
        return std::nullopt;
    std::optional<SoundDescriptor> descriptor;
    if (bytes[8] != 0)
        descriptor = SoundDescriptor::fromBytes(bytes.sliced(9));
    return Timbre(qFromLittleEndian<quint64>(bytes.data()), descriptor.value_or(SoundDescriptor()));
}
