// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <algorithm>
#include <vector>

// Cuts a stream of samples into frames of `size` that overlap: each frame starts `hop` samples
// after the one before. The last frame is padded with silence; `filled` says how many samples of
// a frame are the stream's own.
class FrameSplitter final
{
public:
    FrameSplitter(int size, int hop) : m_frame(size_t(std::max(size, 1))), m_hop(hop) {}

    const std::vector<float> &frame() const { return m_frame; }

    // Calls `analyse(const std::vector<float> &frame, int filled)` for every frame completed.
    template <typename Analyse> void add(const float *samples, qsizetype count, Analyse &&analyse)
    {
        const int size = int(m_frame.size());
        while (count > 0) {
            const int n = int(std::min<qsizetype>(count, size - m_filled));
            std::copy(samples, samples + n, m_frame.begin() + m_filled);
            m_filled += n;
            m_fresh += n;
            samples += n;
            count -= n;
            if (m_filled == size) {
                m_fresh = 0;
                analyse(m_frame, m_filled);
                std::copy(m_frame.begin() + m_hop, m_frame.end(), m_frame.begin());
                m_filled = size - m_hop;
            }
        }
    }

    // The samples that no frame has covered yet, padded to a frame; once, after the last add.
    template <typename Analyse> void finish(Analyse &&analyse)
    {
        if (m_fresh == 0)
            return;
        std::fill(m_frame.begin() + m_filled, m_frame.end(), 0.0f);
        m_fresh = 0;
        analyse(m_frame, m_filled);
        m_filled = 0;
    }

private:
    std::vector<float> m_frame;
    int m_hop = 1;
    int m_filled = 0;
    // Samples at the end of the frame that no analysed frame has covered yet.
    int m_fresh = 0;
};
