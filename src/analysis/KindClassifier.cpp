// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "KindClassifier.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double shortestOneShot = 0.05;
constexpr double longestOneShot = 3.0;
// The envelope is judged on about 45 ms windows, longer than a period of a low kick.
constexpr double envelopeSeconds = 0.045;
// Quieter than this below the peak, the tail is room noise and no longer counts.
constexpr double tailFloorDb = 40.0;
constexpr double quietestPeakDb = -70.0;
constexpr double reattackDb = 6.0;
constexpr double halfwayDecayDb = 6.0;
constexpr double decayDb = 12.0;

std::vector<double> envelopeDb(std::span<const float> meanSquares, double hopSeconds)
{
    const auto width = size_t(std::max(1.0, std::round(envelopeSeconds / hopSeconds)));
    std::vector<double> levels;
    double sum = 0.0;
    for (size_t i = 0; i < meanSquares.size(); ++i) {
        sum += meanSquares[i];
        if (i >= width)
            sum -= meanSquares[i - width];
        const double mean = std::max(sum, 0.0) / double(std::min(i + 1, width));
        levels.push_back(10.0 * std::log10(mean + 1e-20));
    }
    return levels;
}

bool isOneShot(const KindClassifier::Evidence &evidence)
{
    if (evidence.seconds < shortestOneShot || evidence.seconds > longestOneShot ||
        evidence.onsetCount != 1 || evidence.hopSeconds <= 0.0)
        return false;
    const std::vector<double> levels = envelopeDb(evidence.meanSquares, evidence.hopSeconds);
    if (levels.size() < 2)
        return false;
    // The attack: where the sound first comes within 1 dB of its loudest.
    const double loudest = *std::max_element(levels.begin(), levels.end());
    const auto peak = std::find_if(levels.begin(), levels.end(),
                                   [loudest](double level) { return level >= loudest - 1.0; });
    // A sound that swells to its loudest late does not decay from an onset.
    if (*peak < quietestPeakDb || peak - levels.begin() > std::ptrdiff_t(levels.size() / 2))
        return false;
    double lowest = *peak;
    for (auto level = peak; level != levels.end(); ++level) {
        if (*level < *peak - tailFloorDb)
            break;
        if (*level > lowest + reattackDb || *level > *peak + 1.0)
            return false;
        lowest = std::min(lowest, *level);
    }
    // It falls away from the peak at once, not after holding like a sustained note.
    const auto halfway = peak + (levels.end() - peak) / 2;
    return *halfway <= *peak - halfwayDecayDb && levels.back() <= *peak - decayDb;
}

} // namespace

namespace KindClassifier {

SoundFacts::Kind classify(const Evidence &evidence)
{
    if (evidence.wholeBeats > 0)
        return SoundFacts::Kind::Loop;
    if (isOneShot(evidence))
        return SoundFacts::Kind::OneShot;
    return SoundFacts::Kind::Unknown;
}

} // namespace KindClassifier
