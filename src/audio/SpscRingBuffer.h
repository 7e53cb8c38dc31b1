// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <memory>

// A ring of floats between exactly one producer thread and one consumer thread, without locks.
// The indices count samples since the start and only grow, so full and empty never look alike.
class SpscRingBuffer final
{
public:
    // The capacity is rounded up to a power of two.
    explicit SpscRingBuffer(qsizetype minimumCapacity);
    Q_DISABLE_COPY_MOVE(SpscRingBuffer)

    qsizetype capacity() const { return qsizetype(m_mask + 1); }

    // Producer side.
    qsizetype freeSpace() const;
    // Writes as much of `samples` as fits and returns how many were written.
    qsizetype write(const float *samples, qsizetype count);
    std::uint64_t writeIndex() const { return m_write.load(std::memory_order_relaxed); }

    // Consumer side.
    qsizetype available() const;
    qsizetype read(float *samples, qsizetype count);
    // Drops everything written before `index`.
    void discardUntil(std::uint64_t index);

    // Either side.
    bool isEmpty() const;

private:
    std::unique_ptr<float[]> m_samples;
    std::uint64_t m_mask = 0;
    alignas(64) std::atomic<std::uint64_t> m_write{0};
    alignas(64) std::atomic<std::uint64_t> m_read{0};
};
