// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BufferPool.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace {

constexpr size_t granule = size_t(2) << 20;
// Each block starts with its mapping's length; the buffer follows, aligned for any type.
constexpr size_t header = 64;

// The mapping's length for a request: rounded up with a little room, so that the next copy of a
// buffer that grew by a few entries still fits the block of the last one.
size_t mappedLength(size_t bytes)
{
    return (header + bytes + bytes / 64 + granule - 1) / granule * granule;
}

struct Block
{
    void *start;
    size_t length;
};

struct Pool
{
    std::mutex mutex;
    bool keeping = false;
    std::vector<Block> kept;
};

Pool &pool()
{
    // Never destroyed: buffers of indexes that outlive main() still come back to it.
    static Pool *instance = new Pool;
    return *instance;
}

} // namespace

void *BufferPool::allocate(size_t bytes)
{
    if (bytes < largeBlock)
        return ::operator new(bytes);
    const size_t length = mappedLength(bytes);
    {
        Pool &p = pool();
        const std::lock_guard lock(p.mutex);
        // The smallest kept block that fits, unless it is much larger than asked for.
        auto best = p.kept.end();
        for (auto it = p.kept.begin(); it != p.kept.end(); ++it) {
            if (it->length >= length && it->length <= length + length / 4 &&
                (best == p.kept.end() || it->length < best->length))
                best = it;
        }
        if (best != p.kept.end()) {
            char *start = static_cast<char *>(best->start);
            p.kept.erase(best);
            return start + header;
        }
    }
    void *start =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED)
        throw std::bad_alloc();
    *static_cast<size_t *>(start) = length;
    return static_cast<char *>(start) + header;
}

void BufferPool::deallocate(void *block, size_t bytes)
{
    if (!block)
        return;
    if (bytes < largeBlock) {
        ::operator delete(block);
        return;
    }
    void *start = static_cast<char *>(block) - header;
    const size_t length = *static_cast<const size_t *>(start);
    {
        Pool &p = pool();
        const std::lock_guard lock(p.mutex);
        if (p.keeping) {
            p.kept.push_back({start, length});
            return;
        }
    }
    ::munmap(start, length);
}

void *BufferPool::grow(void *block, size_t bytes, size_t newBytes, size_t kept)
{
    if (!block || bytes < largeBlock) {
        void *grown = allocate(newBytes);
        if (kept > 0)
            std::memcpy(grown, block, kept);
        deallocate(block, bytes);
        return grown;
    }
    void *start = static_cast<char *>(block) - header;
    const size_t length = *static_cast<const size_t *>(start);
    if (header + newBytes <= length)
        return block;
    const size_t newLength = mappedLength(newBytes);
    void *moved = ::mremap(start, length, newLength, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
        throw std::bad_alloc();
    *static_cast<size_t *>(moved) = newLength;
    return static_cast<char *>(moved) + header;
}

void BufferPool::setKeeping(bool keeping)
{
    std::vector<Block> released;
    {
        Pool &p = pool();
        const std::lock_guard lock(p.mutex);
        p.keeping = keeping;
        if (!keeping)
            released.swap(p.kept);
    }
    for (const Block &block : released)
        ::munmap(block.start, block.length);
}

size_t BufferPool::keptBytes()
{
    Pool &p = pool();
    const std::lock_guard lock(p.mutex);
    size_t bytes = 0;
    for (const Block &block : p.kept)
        bytes += block.length;
    return bytes;
}
