// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "OnsetTracker.h"

#include "FftPlanner.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <bit>
#include <numeric>

namespace {

constexpr float aboveUsual = 5.0f;
// aubio's peak picker answers this many hops after the peak it picked, at most.
constexpr std::ptrdiff_t pickerDelayHops = 8;
// The power before and after an onset is measured over about 50 ms, leaving out a few hops
// before it where the onset time may be late; after must exceed before by about 0.5 dB.
constexpr std::ptrdiff_t riseHops = 8;
constexpr std::ptrdiff_t gapHops = 2;
constexpr double leastStep = 1.12;

} // namespace

OnsetTracker::OnsetTracker(int sampleRate) : m_sampleRate(sampleRate)
{
    if (sampleRate <= 0)
        return;
    // About 6 ms whatever the rate: onset times are whole hops, and a coarser grid would skew the
    // tempo of a short loop. Windows of two hops halve aubio's work per sample against the usual
    // four, and spectral flux does not miss the difference.
    m_hop = int(std::clamp(std::bit_floor(unsigned(sampleRate) / 128u), 32u, 2048u));
    FftPlanner::makeThreadSafe();
    m_onset = new_aubio_onset("specflux", uint_t(m_hop * 2), uint_t(m_hop), uint_t(sampleRate));
    if (m_onset == nullptr)
        return;
    aubio_onset_set_minioi_ms(m_onset, 40);
    m_input.resize(size_t(m_hop));
}

OnsetTracker::~OnsetTracker()
{
    if (m_onset != nullptr)
        del_aubio_onset(m_onset);
}

void OnsetTracker::add(const float *samples, qsizetype count)
{
    if (!isValid())
        return;
    while (count > 0) {
        const int n = int(std::min<qsizetype>(count, m_hop - m_filled));
        std::copy(samples, samples + n, m_input.begin() + m_filled);
        m_filled += n;
        samples += n;
        count -= n;
        if (m_filled == m_hop) {
            processHop();
            m_filled = 0;
        }
    }
}

void OnsetTracker::processHop()
{
    double sum = 0.0;
    for (const float sample : m_input)
        sum += double(sample) * sample;
    m_meanSquares.push_back(float(sum / m_hop));
    const fvec_t input{uint_t(m_hop), m_input.data()};
    smpl_t found = 0;
    fvec_t output{1, &found};
    aubio_onset_do(m_onset, &input, &output);
    m_detection.push_back(aubio_onset_get_descriptor(m_onset));
    if (found > 0) {
        const auto recent =
            m_detection.end() - std::min<std::ptrdiff_t>(m_detection.size(), pickerDelayHops);
        m_onsets.push_back({std::max(0.0, double(aubio_onset_get_last_s(m_onset))),
                            *std::max_element(recent, m_detection.end()), 0.0f});
    }
}

void OnsetTracker::finish()
{
    if (m_onsets.empty())
        return;
    // aubio's adaptive threshold also picks the ripples of a steady sound, and a sound that only
    // wavers as it decays (a low kick seen through short windows). A real onset rises far above
    // the sound's usual change, and the power steps up.
    std::vector<float> sorted = m_detection;
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const float least = *middle * aboveUsual;
    const auto hops = std::ptrdiff_t(m_meanSquares.size());
    const auto mean = [this, hops](std::ptrdiff_t from, std::ptrdiff_t to) {
        from = std::clamp<std::ptrdiff_t>(from, 0, hops);
        to = std::clamp<std::ptrdiff_t>(to, 0, hops);
        if (to <= from)
            return 0.0;
        return std::accumulate(m_meanSquares.begin() + from, m_meanSquares.begin() + to, 0.0) /
               double(to - from);
    };
    std::vector<Onset> stepping;
    for (Onset onset : m_onsets) {
        if (onset.sharpness < least)
            continue;
        const auto at = std::ptrdiff_t(onset.seconds / hopSeconds());
        const double before = mean(at - riseHops - gapHops, at - gapHops);
        const double after = mean(at, at + riseHops);
        if (after < before * leastStep)
            continue;
        onset.rise = float(after - before);
        stepping.push_back(onset);
    }
    m_onsets = std::move(stepping);
}
