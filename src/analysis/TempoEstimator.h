// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OnsetTracker.h"

#include <vector>

// The tempo of a rhythmic sound from its onset detection function and its onsets: the beat
// periods the detection function repeats at most (near 120 BPM when several multiples fit), each
// refined by fitting a straight beat grid through the onsets that fall on it, at the level where
// neighbouring beats are about equally strong.
namespace TempoEstimator {

struct Tempo
{
    double bpm = 0.0; // 0 unless the onsets keep to one grid across the sound
    // The sound's length in beats when it lasts a whole number of them (within 2 %) and a grid of
    // exactly that many beats fits the onsets, as in a loop; 0 otherwise.
    int wholeBeats = 0;
};

// `detection` holds one value per hop of `hopSeconds`; the sound lasts `seconds`.
Tempo estimate(const std::vector<float> &detection, double hopSeconds,
               const std::vector<OnsetTracker::Onset> &onsets, double seconds);

} // namespace TempoEstimator
