// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>
#include <optional>

// What a sample sounds like, in 32 small numbers: the spread and shape of its spectrum over time
// (mel cepstrum without the energy term, centroid, flatness, roll-off, zero crossings) and of its
// loudness (attack, decay, length). Two files of the same sound lie close together whatever their
// level, container or a few milliseconds trimmed off; the distance between two descriptors says
// how alike they sound.
class SoundDescriptor final
{
public:
    static constexpr int size = 32;
    using Values = std::array<qint8, size>;

    SoundDescriptor() = default;
    explicit SoundDescriptor(const Values &values) : m_values(values), m_valid(true) {}

    bool isValid() const { return m_valid; }
    const Values &values() const { return m_values; }
    // Squared Euclidean distance; only meaningful between valid descriptors.
    static int distance(const Values &a, const Values &b);

    // Exactly `size` bytes, the same on every machine.
    QByteArray toBytes() const;
    static std::optional<SoundDescriptor> fromBytes(QByteArrayView bytes);

    friend bool operator==(const SoundDescriptor &, const SoundDescriptor &) = default;

private:
    Values m_values{};
    bool m_valid = false;
};
