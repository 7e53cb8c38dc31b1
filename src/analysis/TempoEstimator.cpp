// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TempoEstimator.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>

namespace {

using Onset = OnsetTracker::Onset;

constexpr double slowestBpm = 50.0;
constexpr double fastestBpm = 220.0;
constexpr double preferredBpm = 120.0;
// How far from the preferred tempo, in octaves, a period still counts fully (a Gaussian's width):
// a click every 0.5 s fits 60 and 120 BPM alike, and people tap the faster one.
constexpr double preferenceOctaves = 1.0;
// An onset belongs to a beat when it is this close to it, as a fraction of the period.
constexpr double onBeat = 0.1;
constexpr int candidateCount = 3;
// Beats this much weaker than their neighbours are a subdivision, not the beat.
constexpr double weakBeat = 0.5;
// How far from a whole number of beats a loop may last, as a fraction of its beats.
constexpr double loopTolerance = 0.02;
// Within this, the measured tempo and the one the length implies are the same within the error
// of measuring onsets in whole hops.
constexpr double sameTempo = 0.005;

struct Fit
{
    double period = 0.0;
    double phase = 0.0;
    int matched = 0;
    int distinctBeats = 0;
    long long firstBeat = 0;
    long long lastBeat = 0;
    double rms = 0.0;
    // Mean rise of the onsets on even and on odd beats.
    double evenStrength = 0.0;
    double oddStrength = 0.0;
    // The share of all onsets' rise that falls on the beats.
    double onBeatShare = 0.0;
    // The rise on the beats per beat of the grid's span, silent beats included.
    double risePerBeat = 0.0;
};

// The periods, in seconds, the detection function repeats at most, best first.
std::vector<double> candidatePeriods(const std::vector<float> &detection, double hop)
{
    const auto n = qsizetype(detection.size());
    const qsizetype shortest = qsizetype(std::ceil(60.0 / (fastestBpm * hop)));
    // At least two whole periods must fit for a period to show.
    const qsizetype longest = std::min(qsizetype(60.0 / (slowestBpm * hop)), n / 2);
    if (n == 0 || shortest < 2 || longest <= shortest + 1)
        return {};
    const double mean = std::accumulate(detection.begin(), detection.end(), 0.0) / double(n);
    std::vector<float> rectified(detection.size());
    std::transform(detection.begin(), detection.end(), rectified.begin(),
                   [mean](float value) { return float(std::max(0.0, value - mean)); });
    std::vector<double> acf(size_t(longest + 2), 0.0);
    for (qsizetype lag = shortest - 1; lag <= longest + 1 && lag < n; ++lag) {
        double sum = 0.0;
        for (qsizetype i = 0; i + lag < n; ++i)
            sum += double(rectified[size_t(i)]) * rectified[size_t(i + lag)];
        acf[size_t(lag)] = sum / double(n);
    }
    std::vector<std::pair<double, double>> peaks; // score, period
    for (qsizetype lag = shortest; lag <= longest; ++lag) {
        const double here = acf[size_t(lag)];
        const double before = acf[size_t(lag - 1)];
        const double after = acf[size_t(lag + 1)];
        if (here <= 0.0 || here < before || here < after)
            continue;
        const double curve = before - 2.0 * here + after;
        const double offset = curve < 0.0 ? 0.5 * (before - after) / curve : 0.0;
        const double period = (double(lag) + offset) * hop;
        const double octaves = std::log2(60.0 / period / preferredBpm) / preferenceOctaves;
        peaks.emplace_back(here * std::exp(-0.5 * octaves * octaves), period);
    }
    std::sort(peaks.begin(), peaks.end(), std::greater<>());
    std::vector<double> periods;
    for (const auto &[score, period] : peaks) {
        if (int(periods.size()) == candidateCount)
            break;
        periods.push_back(period);
    }
    return periods;
}

double beatOffset(double seconds, double phase, double period)
{
    const double beats = (seconds - phase) / period;
    return beats - std::round(beats);
}

// With `fixedPeriod`, only the grid's phase is fitted.
Fit fitGrid(const std::vector<Onset> &onsets, double estimate, bool fixedPeriod = false)
{
    // The grid starts at the onset that the strongest others fall in line with; a few dozen
    // candidates are plenty in a steady sound.
    Fit fit;
    fit.period = estimate;
    double totalRise = 0.0;
    for (const Onset &onset : onsets)
        totalRise += onset.rise;
    double bestWeight = -1.0;
    for (size_t a = 0; a < std::min<size_t>(onsets.size(), 64); ++a) {
        double weight = 0.0;
        for (const Onset &onset : onsets) {
            if (std::abs(beatOffset(onset.seconds, onsets[a].seconds, estimate)) <= onBeat)
                weight += onset.rise;
        }
        if (weight > bestWeight) {
            bestWeight = weight;
            fit.phase = onsets[a].seconds;
        }
    }
    for (int round = 0; round < 3; ++round) {
        struct Point
        {
            double beat;
            double seconds;
            float rise;
        };
        std::vector<Point> points;
        for (const Onset &onset : onsets) {
            if (std::abs(beatOffset(onset.seconds, fit.phase, fit.period)) <= onBeat) {
                points.push_back({std::round((onset.seconds - fit.phase) / fit.period),
                                  onset.seconds, onset.rise});
            }
        }
        if (points.size() < 2)
            return {};
        double meanBeat = 0.0;
        double meanTime = 0.0;
        for (const Point &point : points) {
            meanBeat += point.beat;
            meanTime += point.seconds;
        }
        meanBeat /= double(points.size());
        meanTime /= double(points.size());
        double covariance = 0.0;
        double variance = 0.0;
        for (const Point &point : points) {
            covariance += (point.beat - meanBeat) * (point.seconds - meanTime);
            variance += (point.beat - meanBeat) * (point.beat - meanBeat);
        }
        if (variance <= 0.0 || covariance <= 0.0)
            return {};
        if (!fixedPeriod)
            fit.period = covariance / variance;
        fit.phase = meanTime - fit.period * meanBeat;
        double squares = 0.0;
        std::set<long long> beats;
        double strength[2] = {0.0, 0.0};
        int count[2] = {0, 0};
        for (const Point &point : points) {
            const double residual = point.seconds - (fit.phase + fit.period * point.beat);
            squares += residual * residual;
            const long long beat = std::llround(point.beat);
            beats.insert(beat);
            strength[beat & 1] += point.rise;
            ++count[beat & 1];
        }
        fit.matched = int(points.size());
        fit.distinctBeats = int(beats.size());
        fit.firstBeat = *beats.begin();
        fit.lastBeat = *beats.rbegin();
        fit.rms = std::sqrt(squares / double(points.size()));
        fit.evenStrength = count[0] > 0 ? strength[0] / count[0] : 0.0;
        fit.oddStrength = count[1] > 0 ? strength[1] / count[1] : 0.0;
        fit.onBeatShare = totalRise > 0.0 ? (strength[0] + strength[1]) / totalRise : 0.0;
        fit.risePerBeat = (strength[0] + strength[1]) / double(fit.lastBeat - fit.firstBeat + 1);
    }
    return fit;
}

bool isSteady(const Fit &fit, double seconds)
{
    if (fit.period <= 0.0 || fit.matched < 4)
        return false;
    const double bpm = 60.0 / fit.period;
    const long long span = fit.lastBeat - fit.firstBeat;
    // The beats must run through most of the sound, most of them marked by an onset, carry most
    // of what the onsets bring, and keep time to within a few percent of a beat.
    return bpm >= slowestBpm && bpm <= fastestBpm && span >= 3 &&
           double(span) * fit.period >= 0.5 * seconds && fit.distinctBeats * 2 >= span + 1 &&
           fit.onBeatShare >= 0.5 && fit.rms <= 0.04 * fit.period;
}

bool alternateBeatsAreWeak(const Fit &fit)
{
    return std::min(fit.evenStrength, fit.oddStrength) <
           weakBeat * std::max(fit.evenStrength, fit.oddStrength);
}

} // namespace

namespace TempoEstimator {

Tempo estimate(const std::vector<float> &detection, double hopSeconds,
               const std::vector<Onset> &onsets, double seconds)
{
    if (hopSeconds <= 0.0 || onsets.size() < 4)
        return {};
    for (const double period : candidatePeriods(detection, hopSeconds)) {
        Fit fit = fitGrid(onsets, period);
        if (!isSteady(fit, seconds))
            continue;
        // The beat is the level where neighbours are about equally strong: kick and snare, not
        // kick and hi-hat.
        if (alternateBeatsAreWeak(fit)) {
            const Fit slower = fitGrid(onsets, fit.period * 2.0);
            if (isSteady(slower, seconds))
                fit = slower;
        } else {
            const Fit faster = fitGrid(onsets, fit.period / 2.0);
            if (isSteady(faster, seconds) && !alternateBeatsAreWeak(faster))
                fit = faster;
        }
        Tempo tempo{60.0 / fit.period, 0};
        // A loop: the length is close to a whole number of beats, and a grid of exactly that
        // many beats still fits the onsets. When the two tempi agree closely, the length's is the
        // finer measure.
        const double beats = seconds / fit.period;
        const double whole = std::round(beats);
        if (whole >= 2.0 && std::abs(beats - whole) <= loopTolerance * whole &&
            isSteady(fitGrid(onsets, seconds / whole, true), seconds)) {
            tempo.wholeBeats = int(whole);
            if (std::abs(beats - whole) <= sameTempo * whole)
                tempo.bpm = 60.0 * whole / seconds;
        }
        return tempo;
    }
    return {};
}

} // namespace TempoEstimator
