// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// A 64-bit fingerprint of decoded audio, sample for sample: two files hash alike exactly when
// they decode to the same samples at the same rate and channel count, whatever their container,
// name or metadata. A sound made quieter or trimmed by one sample hashes otherwise.
class AudioHasher final
{
public:
    // Planar float channels, `frames` frames each.
    void add(const float *const *channels, int channelCount, qsizetype frames);
    quint64 finish(int sampleRate, int channelCount) const;

private:
    void mix(quint64 word);

    quint64 m_hash = 0x6a09e667f3bcc909ULL;
    qint64 m_frames = 0;
};
