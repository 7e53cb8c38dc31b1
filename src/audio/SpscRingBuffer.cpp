// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SpscRingBuffer.h"

#include <algorithm>
#include <bit>
#include <cstring>

SpscRingBuffer::SpscRingBuffer(qsizetype minimumCapacity)
{
    const std::uint64_t capacity =
        std::bit_ceil(std::uint64_t(std::max<qsizetype>(minimumCapacity, 2)));
    m_samples = std::make_unique<float[]>(capacity);
    m_mask = capacity - 1;
}

qsizetype SpscRingBuffer::freeSpace() const
{
    const std::uint64_t read = m_read.load(std::memory_order_acquire);
    const std::uint64_t write = m_write.load(std::memory_order_relaxed);
    return qsizetype(m_mask + 1 - (write - read));
}

qsizetype SpscRingBuffer::write(const float *samples, qsizetype count)
{
    const std::uint64_t write = m_write.load(std::memory_order_relaxed);
    const qsizetype n = std::min(count, freeSpace());
    if (n <= 0)
        return 0;
    const std::uint64_t start = write & m_mask;
    const qsizetype first = std::min<qsizetype>(n, qsizetype(m_mask + 1 - start));
    std::memcpy(m_samples.get() + start, samples, size_t(first) * sizeof(float));
    std::memcpy(m_samples.get(), samples + first, size_t(n - first) * sizeof(float));
    m_write.store(write + std::uint64_t(n), std::memory_order_release);
    return n;
}

qsizetype SpscRingBuffer::available() const
{
    const std::uint64_t write = m_write.load(std::memory_order_acquire);
    const std::uint64_t read = m_read.load(std::memory_order_relaxed);
    return qsizetype(write - read);
}

qsizetype SpscRingBuffer::read(float *samples, qsizetype count)
{
    const std::uint64_t read = m_read.load(std::memory_order_relaxed);
    const qsizetype n = std::min(count, available());
    if (n <= 0)
        return 0;
    const std::uint64_t start = read & m_mask;
    const qsizetype first = std::min<qsizetype>(n, qsizetype(m_mask + 1 - start));
    std::memcpy(samples, m_samples.get() + start, size_t(first) * sizeof(float));
    std::memcpy(samples + first, m_samples.get(), size_t(n - first) * sizeof(float));
    m_read.store(read + std::uint64_t(n), std::memory_order_release);
    return n;
}

void SpscRingBuffer::discardUntil(std::uint64_t index)
{
    const std::uint64_t write = m_write.load(std::memory_order_acquire);
    const std::uint64_t read = m_read.load(std::memory_order_relaxed);
    const std::uint64_t target = std::clamp(index, read, write);
    m_read.store(target, std::memory_order_release);
}

bool SpscRingBuffer::isEmpty() const
{
    return m_read.load(std::memory_order_acquire) == m_write.load(std::memory_order_acquire);
}
