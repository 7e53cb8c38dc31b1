// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TimbreTracker.h"

#include "FftPlanner.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace {

constexpr int bandCount = 40;
constexpr double lowestHz = 30.0;
constexpr double highestHz = 16000.0;
constexpr size_t maxFrames = 4096;
constexpr double activeBelowPeak = 1e-6; // 60 dB
constexpr double decayBelowPeak = 1e-2;  // 20 dB

double mel(double hz)
{
    return 2595.0 * std::log10(1.0 + hz / 700.0);
}

double hzOfMel(double m)
{
    return 700.0 * (std::pow(10.0, m / 2595.0) - 1.0);
}

qint8 quantised(double value, double centre, double scale)
{
    if (!std::isfinite(value))
        return 0;
    return qint8(std::clamp(std::lround((value - centre) * scale), -127L, 127L));
}

} // namespace

TimbreTracker::TimbreTracker(int sampleRate) : m_sampleRate(sampleRate)
{
    if (sampleRate <= 0)
        return;
    // About 46 ms a frame, half of it new each time.
    m_size = int(std::max(std::bit_floor(unsigned(sampleRate) * 46 / 1000), 256u));
    m_hop = m_size / 2;
    m_window.resize(size_t(m_size));
    for (int i = 0; i < m_size; ++i)
        m_window[size_t(i)] = float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / m_size));
    m_splitter = FrameSplitter(m_size, m_hop);
    m_power.resize(size_t(m_size / 2 + 1));
    m_logBands.resize(bandCount);
    m_input = fftwf_alloc_real(size_t(m_size));
    auto *spectrum = fftwf_alloc_complex(size_t(m_size / 2 + 1));
    m_spectrum = spectrum;
    FftPlanner::makeThreadSafe();
    m_plan = fftwf_plan_dft_r2c_1d(m_size, m_input, spectrum, FFTW_ESTIMATE);

    // Triangular bands evenly spaced in mel.
    const double top = std::min(highestHz, sampleRate / 2.0);
    const double binHz = double(sampleRate) / m_size;
    std::array<double, bandCount + 2> edges{};
    for (int i = 0; i < bandCount + 2; ++i)
        edges[size_t(i)] =
            hzOfMel(mel(lowestHz) + (mel(top) - mel(lowestHz)) * i / (bandCount + 1));
    m_bands.resize(bandCount);
    for (int b = 0; b < bandCount; ++b) {
        const double low = edges[size_t(b)], mid = edges[size_t(b + 1)],
                     high = edges[size_t(b + 2)];
        Band &band = m_bands[size_t(b)];
        band.firstBin = std::max(1, int(std::ceil(low / binHz)));
        const int lastBin = std::min(m_size / 2, int(std::floor(high / binHz)));
        for (int k = band.firstBin; k <= lastBin; ++k) {
            const double f = k * binHz;
            band.weights.push_back(
                float(f <= mid ? (f - low) / (mid - low) : (high - f) / (high - mid)));
        }
        // A band narrower than a bin still takes the bin it falls in.
        if (band.weights.empty())
            band.weights.push_back(1.0f);
    }
}

TimbreTracker::~TimbreTracker()
{
    if (m_plan != nullptr)
        fftwf_destroy_plan(static_cast<fftwf_plan>(m_plan));
    fftwf_free(m_input);
    fftwf_free(m_spectrum);
}

void TimbreTracker::add(const float *samples, qsizetype count)
{
    if (m_plan == nullptr)
        return;
    m_samples += count;
    m_splitter.add(samples, count,
                   [this](const std::vector<float> &frame, int) { analyseFrame(frame); });
}

void TimbreTracker::finish()
{
    if (m_plan == nullptr)
        return;
    m_splitter.finish([this](const std::vector<float> &frame, int) { analyseFrame(frame); });
    summarise();
}

void TimbreTracker::analyseFrame(const std::vector<float> &samples)
{
    if (m_frames.size() >= maxFrames)
        return;
    Frame frame;
    double energy = 0.0;
    int crossings = 0;
    for (int i = 0; i < m_size; ++i) {
        const float x = samples[size_t(i)];
        energy += double(x) * x;
        if (i > 0 && (x >= 0.0f) != (samples[size_t(i - 1)] >= 0.0f))
            ++crossings;
        m_input[i] = x * m_window[size_t(i)];
    }
    frame.energy = float(energy / m_size);
    frame.crossings = float(crossings) / float(m_size);
    fftwf_execute(static_cast<fftwf_plan>(m_plan));
    const auto *spectrum = static_cast<const fftwf_complex *>(m_spectrum);
    const int bins = m_size / 2;
    const double binHz = double(m_sampleRate) / m_size;
    double total = 0.0, weighted = 0.0, logSum = 0.0;
    for (int k = 1; k <= bins; ++k) {
        const double p =
            double(spectrum[k][0]) * spectrum[k][0] + double(spectrum[k][1]) * spectrum[k][1];
        m_power[size_t(k)] = float(p);
        total += p;
        weighted += p * k * binHz;
    }
    if (total <= 0.0) {
        m_frames.push_back(frame);
        return;
    }
    // Every floor is relative to the frame's own power, so that the level never counts.
    const double floor = total * 1e-12;
    for (int k = 1; k <= bins; ++k)
        logSum += std::log(double(m_power[size_t(k)]) + floor);
    const double arithmetic = total / bins + floor;
    frame.flatness = float(std::log10(std::max(std::exp(logSum / bins) / arithmetic, 1e-6)));
    frame.centroid = float(std::log2(std::max(weighted / total, 20.0)));
    double running = 0.0;
    int rolloffBin = bins;
    for (int k = 1; k <= bins; ++k) {
        running += m_power[size_t(k)];
        if (running >= 0.85 * total) {
            rolloffBin = k;
            break;
        }
    }
    frame.rolloff = float(std::log2(std::max(rolloffBin * binHz, 20.0)));
    for (int b = 0; b < bandCount; ++b) {
        const Band &band = m_bands[size_t(b)];
        double sum = 0.0;
        for (size_t i = 0; i < band.weights.size() && band.firstBin + int(i) <= bins; ++i)
            sum += double(band.weights[i]) * m_power[size_t(band.firstBin) + i];
        m_logBands[size_t(b)] = float(std::log10(sum + floor));
    }
    // The cepstrum without its first term, which is the level.
    const double norm = std::sqrt(2.0 / bandCount);
    for (int c = 1; c <= cepstrumSize; ++c) {
        double sum = 0.0;
        for (int b = 0; b < bandCount; ++b)
            sum += m_logBands[size_t(b)] * std::cos(std::numbers::pi * c * (b + 0.5) / bandCount);
        frame.cepstrum[size_t(c - 1)] = float(sum * norm);
    }
    m_frames.push_back(frame);
}

void TimbreTracker::summarise()
{
    if (m_frames.empty())
        return;
    const auto loudest =
        std::max_element(m_frames.begin(), m_frames.end(),
                         [](const Frame &a, const Frame &b) { return a.energy < b.energy; });
    const double peak = loudest->energy;
    if (peak <= 1e-10) // silence, to 100 dB below full scale
        return;
    std::array<double, cepstrumSize> mean{}, square{};
    double centroid = 0, centroidSquare = 0, flatness = 0, rolloff = 0, crossings = 0;
    int active = 0;
    for (const Frame &frame : m_frames) {
        if (frame.energy < peak * activeBelowPeak)
            continue;
        ++active;
        for (int c = 0; c < cepstrumSize; ++c) {
            mean[size_t(c)] += frame.cepstrum[size_t(c)];
            square[size_t(c)] += double(frame.cepstrum[size_t(c)]) * frame.cepstrum[size_t(c)];
        }
        centroid += frame.centroid;
        centroidSquare += double(frame.centroid) * frame.centroid;
        flatness += frame.flatness;
        rolloff += frame.rolloff;
        crossings += frame.crossings;
    }
    const auto spread = [&](double sum, double squares) {
        const double m = sum / active;
        return std::sqrt(std::max(0.0, squares / active - m * m));
    };
    const double hopSeconds = double(m_hop) / m_sampleRate;
    const auto peakIndex = loudest - m_frames.begin();
    auto decayEnd = std::find_if(loudest, m_frames.end(), [&](const Frame &frame) {
        return frame.energy < peak * decayBelowPeak;
    });
    const double attack = double(peakIndex) * hopSeconds;
    const double decay = double(decayEnd - loudest) * hopSeconds;
    const double seconds = double(m_samples) / m_sampleRate;

    SoundDescriptor::Values values{};
    // The first terms of the cepstrum swing widest.
    for (int c = 0; c < cepstrumSize; ++c) {
        values[size_t(c)] = quantised(mean[size_t(c)] / active, 0.0,
                                      c == 0   ? 8.0
                                      : c == 1 ? 12.0
                                               : 20.0);
        values[size_t(cepstrumSize + c)] =
            quantised(spread(mean[size_t(c)], square[size_t(c)]), 0.4, 80.0);
    }
    values[24] = quantised(centroid / active, 9.5, 25.0);
    values[25] = quantised(spread(centroid, centroidSquare), 1.5, 40.0);
    values[26] = quantised(flatness / active, -3.0, 40.0);
    values[27] = quantised(crossings / active, 0.25, 500.0);
    values[28] = quantised(std::log10(attack + 0.005), -0.7, 60.0);
    values[29] = quantised(std::log10(decay + 0.005), -0.7, 60.0);
    values[30] = quantised(std::log10(seconds + 0.005), 1.0, 40.0);
    values[31] = quantised(rolloff / active, 9.5, 25.0);
    m_descriptor = SoundDescriptor(values);
}
