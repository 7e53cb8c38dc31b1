// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioHasher.h"

#include <bit>

void AudioHasher::mix(quint64 word)
{
    m_hash = (m_hash ^ word) * 0x9e3779b97f4a7c15ULL;
    m_hash ^= m_hash >> 29;
}

void AudioHasher::add(const float *const *channels, int channelCount, qsizetype frames)
{
    for (qsizetype i = 0; i < frames; ++i) {
        for (int c = 0; c < channelCount; ++c) {
            float sample = channels[c][i];
            // Minus zero and zero are the same silence.
            if (sample == 0.0f)
                sample = 0.0f;
            mix(std::bit_cast<quint32>(sample));
        }
    }
    m_frames += frames;
}

quint64 AudioHasher::finish(int sampleRate, int channelCount) const
{
    AudioHasher copy = *this;
    copy.mix(quint64(m_frames));
    copy.mix(quint64(sampleRate) << 8 | quint64(channelCount));
    return copy.m_hash;
}
