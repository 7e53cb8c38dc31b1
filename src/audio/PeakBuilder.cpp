// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeakBuilder.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The loudest |x| of a run, starting from `floor`. NaN never wins, as with `if (a > m) m = a`.
float loudest(const float *samples, qint64 count, float floor)
{
    qint64 i = 0;
    float m = floor;
#if defined(__SSE2__)
    if (count >= 8) {
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        __m128 a = _mm_set1_ps(floor);
        __m128 b = a;
        for (; i + 8 <= count; i += 8) {
            // maxps hands back its second operand when either is NaN.
            a = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), magnitude), a);
            b = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i + 4), magnitude), b);
        }
        a = _mm_max_ps(a, b);
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, a);
        m = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    }
#endif
    for (; i < count; ++i) {
        const float value = std::fabs(samples[i]);
        if (value > m)
            m = value;
    }
    return m;
}

} // namespace

PeakBuilder::PeakBuilder(int count, qint64 length)
    : m_peaks(std::max(count, 1), 0.0f), m_length(std::max<qint64>(length, 1))
{}

qint64 PeakBuilder::sliceStart(qint64 k) const
{
    const qint64 count = m_peaks.size();
    return (k * m_length + count - 1) / count;
}

void PeakBuilder::add(const float *const *channels, int channelCount, qint64 frameCount)
{
    if (frameCount <= 0)
        return;
    const qint64 count = m_peaks.size();
    const qint64 first = m_consumed;
    const qint64 end = first + frameCount;
    m_consumed = end;
    if (first >= m_length)
        return;

    // Walking whole slices gives the same assignment as dividing per frame, at memory speed.
    qint64 k = first * count / m_length;
    while (k < count) {
        const qint64 from = std::max(first, sliceStart(k));
        const qint64 to = std::min(end, sliceStart(k + 1));
        if (from >= end)
            break;
        if (from < to) {
            float m = 0;
            for (int c = 0; c < channelCount; ++c)
                m = loudest(channels[c] + (from - first), to - from, m);
            float &peak = m_peaks[k];
            if (peak < m)
                peak = m;
        }
        ++k;
    }
}

QList<float> PeakBuilder::normalised() const
{
    QList<float> peaks = m_peaks;
    float loudestPeak = 0;
    for (float peak : peaks)
        loudestPeak = std::max(loudestPeak, peak);
    if (loudestPeak > 0) {
        for (float &peak : peaks)
            peak /= loudestPeak;
    }
    return peaks;
}
