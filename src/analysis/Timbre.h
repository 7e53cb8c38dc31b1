// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundDescriptor.h"

#include <QByteArray>

#include <optional>

// What one file sounds like for comparing it with others: the fingerprint of its decoded audio,
// which finds copies, and its descriptor, which finds the like.
class Timbre final
{
public:
    static constexpr qsizetype serializedSize = 8 + 1 + SoundDescriptor::size;

    Timbre() = default;
    Timbre(quint64 audioHash, const SoundDescriptor &descriptor)
        : m_audioHash(audioHash), m_descriptor(descriptor)
    {}

    // 0: the file was not decoded whole.
    quint64 audioHash() const { return m_audioHash; }
    // Invalid for silence and whatever failed.
    const SoundDescriptor &descriptor() const { return m_descriptor; }

    // Exactly serializedSize bytes, the same on every machine.
    QByteArray toBytes() const;
    static std::optional<Timbre> fromBytes(QByteArrayView bytes);

    friend bool operator==(const Timbre &, const Timbre &) = default;

private:
    quint64 m_audioHash = 0;
    SoundDescriptor m_descriptor;
};
