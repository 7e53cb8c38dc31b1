// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QtGlobal>

// Folds a file's frames, in order, into `count` peaks: frame f belongs to slice
// floor(f * count / length), and a slice keeps the loudest absolute sample of any channel.
// Pure arithmetic, no decoding, so every mapping rule can be tested on plain arrays.
class PeakBuilder final
{
public:
    // `count` ≥ 1 and `length` ≥ 1 frames.
    PeakBuilder(int count, qint64 length);

    // The next `frameCount` frames, one plane of floats per channel.
    void add(const float *const *channels, int channelCount, qint64 frameCount);
    qint64 framesConsumed() const { return m_consumed; }

    // The peaks divided by the loudest one; all zeros when nothing above 0 was seen.
    QList<float> normalised() const;

private:
    // First frame of slice k: the smallest f with f * count >= k * length.
    qint64 sliceStart(qint64 k) const;

    QList<float> m_peaks;
    qint64 m_length = 0;
    qint64 m_consumed = 0;
};
