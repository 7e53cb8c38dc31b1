// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "LoudnessMeter.h"

#include <ebur128.h>

#include <cmath>

struct LoudnessMeter::State
{
    ebur128_state *meter = nullptr;
    ~State() { ebur128_destroy(&meter); }
};

LoudnessMeter::LoudnessMeter(int channelCount, int sampleRate) : m_channelCount(channelCount)
{
    if (channelCount <= 0 || sampleRate <= 0)
        return;
    ebur128_state *meter =
        ebur128_init(unsigned(channelCount), static_cast<unsigned long>(sampleRate),
                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (meter == nullptr)
        return;
    m_state = std::make_unique<State>();
    m_state->meter = meter;
}

LoudnessMeter::~LoudnessMeter() = default;

bool LoudnessMeter::add(const float *const *channels, int frames)
{
    if (!isValid())
        return false;
    m_interleaved.resize(size_t(frames) * size_t(m_channelCount));
    for (int c = 0; c < m_channelCount; ++c) {
        const float *in = channels[c];
        float *out = m_interleaved.data() + c;
        for (int i = 0; i < frames; ++i, out += m_channelCount)
            *out = in[i];
    }
    return ebur128_add_frames_float(m_state->meter, m_interleaved.data(), size_t(frames)) ==
           EBUR128_SUCCESS;
}

std::optional<double> LoudnessMeter::loudness() const
{
    double value = 0.0;
    if (!isValid() || ebur128_loudness_global(m_state->meter, &value) != EBUR128_SUCCESS ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> LoudnessMeter::truePeak() const
{
    if (!isValid())
        return std::nullopt;
    double highest = 0.0;
    for (int c = 0; c < m_channelCount; ++c) {
        double peak = 0.0;
        if (ebur128_true_peak(m_state->meter, unsigned(c), &peak) != EBUR128_SUCCESS)
            return std::nullopt;
        highest = std::max(highest, peak);
    }
    if (!(highest > 0.0) || !std::isfinite(highest))
        return std::nullopt;
    return 20.0 * std::log10(highest);
}
