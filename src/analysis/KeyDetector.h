// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FrameSplitter.h"

#include <QtGlobal>

#include <array>
#include <vector>

// The musical key of a mono signal: a chromagram (the spectrum's peaks folded onto the twelve
// pitch classes, summed over the sound) matched against major and minor key profiles, with FFTW.
class KeyDetector final
{
public:
    explicit KeyDetector(int sampleRate);
    ~KeyDetector();
    Q_DISABLE_COPY_MOVE(KeyDetector)

    void add(const float *samples, qsizetype count);
    // Takes in the samples short of a whole frame; call once after the last add.
    void finish();
    // 0…11 major from C, 12…23 minor from C; SoundFacts::unknownKey when no key clearly fits
    // better than the others (silence, noise, drums, a single note).
    int key() const;

private:
    void analyseFrame(const std::vector<float> &frame, int filled);

    int m_sampleRate = 0;
    int m_size = 0;
    std::vector<float> m_window;
    FrameSplitter m_splitter{1, 1};
    float *m_input = nullptr;
    void *m_spectrum = nullptr;
    void *m_plan = nullptr;
    std::array<double, 12> m_chroma{};
};
