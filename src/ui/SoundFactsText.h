// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundFacts.h"

#include <QString>

// How the facts of a sample read in the window: "120 BPM", "Am", and "could not analyse" for a
// file the analysis gave up on. Unknown is empty, never a guess.
namespace SoundFactsText {

// "120 BPM", "92.5 BPM"; empty when unknown.
QString tempo(const SoundFacts &facts);
// "Am", "Eb"; empty when unknown.
QString key(const SoundFacts &facts);
// The known parts joined by middle dots, "could not analyse", or empty.
QString summary(const SoundFacts &facts);

} // namespace SoundFactsText
