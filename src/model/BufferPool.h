// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <new>
#include <utility>

// Large blocks for the index's buffers. Every live change copies the index into new buffers of
// nearly the same sizes as the old ones; the system would hand out zeroed pages, fault them in
// one by one and take them back when the old index goes, which costs more than the copy itself.
// While a burst of changes lasts, a freed block is kept and handed to the next buffer that fits
// it. Thread-safe.
class BufferPool final
{
public:
    BufferPool() = delete;

    // Blocks from this size up come from the pool; smaller ones from the heap.
    static constexpr size_t largeBlock = size_t(1) << 20;

    static void *allocate(size_t bytes);
    static void deallocate(void *block, size_t bytes);
    // The block of `bytes` made to hold `newBytes` (more), its first `kept` bytes kept. A large
    // block grows in place or has its pages moved by the system, not copied: a buffer that
    // doubles while a walk fills it costs no copy of what it holds.
    static void *grow(void *block, size_t bytes, size_t newBytes, size_t kept);
    // While keeping, freed large blocks wait for reuse; otherwise they go back to the system at
    // once, and turning it off hands back every block kept.
    static void setKeeping(bool keeping);
    // Bytes held in kept blocks, for memory figures and tests.
    static size_t keptBytes();

    // For arrays that are written whole before they are read: a new element is
    // default-initialised, so an array of integers is not first filled with zeros.
    template <typename T> struct Allocator
    {
        using value_type = T;
        Allocator() = default;
        template <typename U> Allocator(const Allocator<U> &) {}
        T *allocate(size_t count)
        {
            if (count > size_t(-1) / sizeof(T))
                throw std::bad_array_new_length();
            return static_cast<T *>(BufferPool::allocate(count * sizeof(T)));
        }
        void deallocate(T *block, size_t count)
        {
            BufferPool::deallocate(block, count * sizeof(T));
        }
        template <typename U> void construct(U *at) { ::new (static_cast<void *>(at)) U; }
        template <typename U, typename... Args> void construct(U *at, Args &&...args)
        {
            ::new (static_cast<void *>(at)) U(std::forward<Args>(args)...);
        }
        template <typename U> bool operator==(const Allocator<U> &) const { return true; }
    };
};
