// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <vector>

struct _aubio_onset_t;

// Onsets of a mono signal with aubio, and per hop of about 6 ms the onset detection function and
// the signal's mean square, from which the tempo and the envelope are judged afterwards.
class OnsetTracker final
{
public:
    struct Onset
    {
        double seconds = 0.0;
        // The detection function's peak: how sharp the onset is.
        float sharpness = 0.0f;
        // How much the mean square rises over the onset: how loud the new sound is.
        float rise = 0.0f;
    };

    explicit OnsetTracker(int sampleRate);
    ~OnsetTracker();
    Q_DISABLE_COPY_MOVE(OnsetTracker)

    bool isValid() const { return m_onset != nullptr; }
    void add(const float *samples, qsizetype count);
    // Keeps the onsets that stand out from the whole sound; call once after the last add.
    void finish();

    double hopSeconds() const { return double(m_hop) / m_sampleRate; }
    // One value per complete hop.
    const std::vector<float> &detection() const { return m_detection; }
    const std::vector<float> &meanSquares() const { return m_meanSquares; }
    // In order of time; after finish() only the clear ones.
    const std::vector<Onset> &onsets() const { return m_onsets; }

private:
    void processHop();

    int m_sampleRate = 0;
    int m_hop = 0;
    _aubio_onset_t *m_onset = nullptr;
    std::vector<float> m_input;
    int m_filled = 0;
    std::vector<float> m_detection;
    std::vector<float> m_meanSquares;
    std::vector<Onset> m_onsets;
};
