// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>

class QPainter;

// The waveform as a row of rounded bars: the peaks are reduced to what fits the width, so a
// narrow window shows fewer, wider-spaced bars instead of a smear.
class WaveformBars final
{
public:
    WaveformBars() = delete;

    static constexpr int minimumBarCount = 16;
    // Horizontal room one bar needs, bar and gap together.
    static constexpr qreal pointsPerBar = 7;
    static constexpr qreal maximumBarWidth = 4;

    // How many bars `peakCount` peaks become at `width`.
    static int barCount(qsizetype peakCount, qreal width);
    // Each bar takes the largest peak of its own run of source peaks; runs neither overlap nor
    // leave a peak out.
    static QList<float> reduce(const QList<float> &peaks, qreal width);
    static qreal barWidth(qsizetype barCount, qreal width);
    // The bars in a canvas of `size`, left to right, centred on its middle line; each is drawn
    // with corners of half its width.
    static QList<QRectF> rects(const QList<float> &peaks, const QSizeF &size);
    // Fills the bars with the accent gradient spanning the whole width.
    static void paint(QPainter &painter, const QList<float> &peaks, const QSizeF &size);
};
