// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FrameSplitter.h"
#include "SoundDescriptor.h"

#include <QtGlobal>

#include <array>
#include <vector>

// Follows a mono signal frame by frame and sums up what it sounds like as a SoundDescriptor.
// Only frames within 60 dB of the loudest count, so that level and silence around the sound do
// not; the first minute and a half is enough to know a sample by.
class TimbreTracker final
{
public:
    explicit TimbreTracker(int sampleRate);
    ~TimbreTracker();
    Q_DISABLE_COPY_MOVE(TimbreTracker)

    void add(const float *samples, qsizetype count);
    // Takes in the samples short of a whole frame; call once after the last add.
    void finish();
    // Invalid for silence.
    SoundDescriptor descriptor() const { return m_descriptor; }

private:
    static constexpr int cepstrumSize = 12;
    struct Frame
    {
        float energy = 0; // mean square of the samples
        std::array<float, cepstrumSize> cepstrum{};
        float centroid = 0; // log2 Hz
        float flatness = 0; // log10 of the spectral flatness
        float rolloff = 0;  // log2 Hz under which 85 % of the power lies
        float crossings = 0;
    };
    struct Band
    {
        int firstBin = 0;
        std::vector<float> weights;
    };
    void analyseFrame(const std::vector<float> &samples);
    void summarise();

    int m_sampleRate = 0;
    int m_size = 0;
    int m_hop = 0;
    std::vector<float> m_window;
    FrameSplitter m_splitter{1, 1};
    qint64 m_samples = 0;
    float *m_input = nullptr;
    void *m_spectrum = nullptr;
    void *m_plan = nullptr;
    std::vector<Band> m_bands;
    std::vector<float> m_power;
    std::vector<float> m_logBands;
    std::vector<Frame> m_frames;
    SoundDescriptor m_descriptor;
};
