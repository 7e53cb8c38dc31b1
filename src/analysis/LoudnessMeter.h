// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

// Integrated loudness (EBU R128, LUFS) and true peak (dBTP) of a whole sound, fed block by block
// in planar floats, with libebur128.
class LoudnessMeter final
{
public:
    LoudnessMeter(int channelCount, int sampleRate);
    ~LoudnessMeter();
    Q_DISABLE_COPY_MOVE(LoudnessMeter)

    bool isValid() const { return m_state != nullptr; }
    // False when the meter refuses the frames.
    bool add(const float *const *channels, int frames);
    // Absent for silence, and for sounds too short for one 400 ms gating block.
    std::optional<double> loudness() const;
    // The highest of the channels; absent for digital silence.
    std::optional<double> truePeak() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
    int m_channelCount = 0;
    std::vector<float> m_interleaved;
};
