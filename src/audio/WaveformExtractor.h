// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QUrl>

#include <optional>

class CancelFlag;

// The decode pipeline of the waveform overview: the whole file once, front to back, through one
// reused buffer, so memory does not grow with the file's length.
namespace WaveformExtractor {

constexpr int blockFrames = 0x10000;

struct Overview
{
    QList<float> peaks;
    // The frames the peaks span: those the decoder yields, which is what is played.
    qint64 frames = 0;
    int sampleRate = 0;
};

// `count` peaks of the file, each 0…1 with the loudest exactly 1 (all zeros for silence). Absent
// when the file cannot be opened, has no frames, or `count` < 1; a read error part-way keeps the
// slices reached. A cancelled flag ends the work early with an absent result. Any thread.
std::optional<QList<float>> computePeaks(const QUrl &url, int count,
                                         const CancelFlag *cancel = nullptr);
// The same peaks with the length they span.
std::optional<Overview> computeOverview(const QUrl &url, int count,
                                        const CancelFlag *cancel = nullptr);

} // namespace WaveformExtractor
