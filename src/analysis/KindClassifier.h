// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundFacts.h"

#include <QtGlobal>

#include <span>

// Loop or one-shot, from what the onset tracker and the tempo estimate found. A loop keeps a
// steady tempo and lasts a whole number of beats; a one-shot is short, with one onset whose sound
// then decays. Anything else stays unknown.
namespace KindClassifier {

struct Evidence
{
    double seconds = 0.0;
    int wholeBeats = 0; // the length in beats when it is a whole number of a steady tempo
    qsizetype onsetCount = 0;
    std::span<const float> meanSquares; // one per hop
    double hopSeconds = 0.0;
};

SoundFacts::Kind classify(const Evidence &evidence);

} // namespace KindClassifier
