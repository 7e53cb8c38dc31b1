// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "KeyDetector.h"

#include "FftPlanner.h"
#include "SoundFacts.h"

#include <QString>
#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <numeric>

namespace {

// Temperley's key profiles from the Kostka–Payne corpus: how often each scale degree sounds in
// a major and a minor key. They tell a minor triad from its relative major better than the
// older probe-tone profiles.
constexpr std::array<double, 12> majorProfile{0.748, 0.060, 0.488, 0.082, 0.670, 0.460,
                                              0.096, 0.715, 0.104, 0.366, 0.057, 0.400};
constexpr std::array<double, 12> minorProfile{0.712, 0.084, 0.474, 0.618, 0.049, 0.460,
                                              0.105, 0.747, 0.404, 0.067, 0.133, 0.330};
constexpr double lowestHz = 60.0;
constexpr double highestHz = 2000.0;
// Frames quieter than this (mean square, about -60 dBFS) carry no key.
constexpr double quietest = 1e-6;
// A key counts when it matches this well and clearly better than the runner-up.
constexpr double leastCorrelation = 0.7;
constexpr double leastLead = 0.1;
// A spectral peak is a tone when it stands this many times above the median of the bins around.
constexpr double prominence = 8.0;
constexpr int neighbourhood = 24;

double correlation(const std::array<double, 12> &chroma, const std::array<double, 12> &profile,
                   int tonic)
{
    const double chromaMean = std::accumulate(chroma.begin(), chroma.end(), 0.0) / 12.0;
    const double profileMean = std::accumulate(profile.begin(), profile.end(), 0.0) / 12.0;
    double product = 0.0;
    double chromaSquares = 0.0;
    double profileSquares = 0.0;
    for (int pitch = 0; pitch < 12; ++pitch) {
        const double a = chroma[size_t(pitch)] - chromaMean;
        const double b = profile[size_t((pitch - tonic + 12) % 12)] - profileMean;
        product += a * b;
        chromaSquares += a * a;
        profileSquares += b * b;
    }
    if (chromaSquares <= 0.0)
        return 0.0;
    return product / std::sqrt(chromaSquares * profileSquares);
}

} // namespace

KeyDetector::KeyDetector(int sampleRate) : m_sampleRate(sampleRate)
{
    if (sampleRate <= 0)
        return;
    // About 0.4 s: fine enough to tell semitones apart in the bass.
    m_size = int(std::max(std::bit_floor(unsigned(sampleRate) * 2 / 5), 256u));
    m_window.resize(size_t(m_size));
    for (int i = 0; i < m_size; ++i)
        m_window[size_t(i)] = float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / m_size));
    m_splitter = FrameSplitter(m_size, m_size / 2);
    m_input = fftwf_alloc_real(size_t(m_size));
    auto *spectrum = fftwf_alloc_complex(size_t(m_size / 2 + 1));
    m_spectrum = spectrum;
    FftPlanner::makeThreadSafe();
    m_plan = fftwf_plan_dft_r2c_1d(m_size, m_input, spectrum, FFTW_ESTIMATE);
}

KeyDetector::~KeyDetector()
{
    if (m_plan != nullptr)
        fftwf_destroy_plan(static_cast<fftwf_plan>(m_plan));
    fftwf_free(m_input);
    fftwf_free(m_spectrum);
}

void KeyDetector::add(const float *samples, qsizetype count)
{
    if (m_plan == nullptr)
        return;
    m_splitter.add(samples, count, [this](const std::vector<float> &frame, int filled) {
        analyseFrame(frame, filled);
    });
}

void KeyDetector::finish()
{
    if (m_plan == nullptr)
        return;
    m_splitter.finish(
        [this](const std::vector<float> &frame, int filled) { analyseFrame(frame, filled); });
}

void KeyDetector::analyseFrame(const std::vector<float> &frame, int filled)
{
    double energy = 0.0;
    for (int i = 0; i < m_size; ++i) {
        energy += double(frame[size_t(i)]) * frame[size_t(i)];
        m_input[i] = frame[size_t(i)] * m_window[size_t(i)];
    }
    if (energy / filled < quietest)
        return;
    fftwf_execute(static_cast<fftwf_plan>(m_plan));
    const auto *spectrum = static_cast<const fftwf_complex *>(m_spectrum);
    const double binHz = double(m_sampleRate) / m_size;
    const int first = std::max(2, int(lowestHz / binHz));
    const int last = std::min(m_size / 2 - 1, int(highestHz / binHz));
    std::vector<double> magnitude(size_t(last + 2), 0.0);
    for (int k = first - 1; k <= last + 1; ++k)
        magnitude[size_t(k)] = std::hypot(spectrum[k][0], spectrum[k][1]);
    const double loudest = *std::max_element(magnitude.begin(), magnitude.end());
    std::vector<double> neighbours;
    for (int k = first; k <= last; ++k) {
        const double here = magnitude[size_t(k)];
        if (here < loudest * 0.01 || here <= magnitude[size_t(k - 1)] ||
            here < magnitude[size_t(k + 1)])
            continue;
        // A tone towers over the spectrum around it; the peaks of noise and of drums do not.
        const int from = std::max(first - 1, k - neighbourhood);
        const int to = std::min(last + 1, k + neighbourhood);
        neighbours.assign(magnitude.begin() + from, magnitude.begin() + to + 1);
        const auto median = neighbours.begin() + std::ptrdiff_t(neighbours.size() / 2);
        std::nth_element(neighbours.begin(), median, neighbours.end());
        if (here < *median * prominence)
            continue;
        // The peak's true frequency lies between bins: a parabola through the log magnitudes.
        const double a = std::log(magnitude[size_t(k - 1)] + 1e-12);
        const double b = std::log(here);
        const double c = std::log(magnitude[size_t(k + 1)] + 1e-12);
        const double curve = a - 2.0 * b + c;
        const double offset = curve < 0.0 ? 0.5 * (a - c) / curve : 0.0;
        const double pitch = 12.0 * std::log2((k + offset) * binHz / 440.0) + 69.0;
        const double nearest = std::round(pitch);
        // Energy between two semitones belongs to neither.
        const double centred = std::cos(std::numbers::pi * (pitch - nearest));
        m_chroma[size_t((int(nearest) % 12 + 12) % 12)] += here * centred * centred;
    }
}

int KeyDetector::key() const
{
    if (std::accumulate(m_chroma.begin(), m_chroma.end(), 0.0) <= 0.0)
        return SoundFacts::unknownKey;
    double best = -2.0;
    double runnerUp = -2.0;
    int bestKey = SoundFacts::unknownKey;
    for (int key = 0; key < SoundFacts::keyCount; ++key) {
        const double r = correlation(m_chroma, key < 12 ? majorProfile : minorProfile, key % 12);
        if (r > best) {
            runnerUp = best;
            best = r;
            bestKey = key;
        } else if (r > runnerUp) {
            runnerUp = r;
        }
    }
    if (best < leastCorrelation || best - runnerUp < leastLead)
        return SoundFacts::unknownKey;
    return bestKey;
}
