// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundFactsTable.h"

#include <algorithm>

SoundFactsTable::SoundFactsTable(size_t size)
    : m_chunks((size + chunkMask) >> chunkBits), m_size(size)
{}

void SoundFactsTable::set(size_t entry, const SoundFacts &facts)
{
    std::shared_ptr<Chunk> &chunk = m_chunks[entry >> chunkBits];
    if (!chunk)
        chunk = std::make_shared<Chunk>();
    else if (chunk.use_count() > 1)
        chunk = std::make_shared<Chunk>(*chunk);
    (*chunk)[entry & chunkMask] = facts;
}

size_t SoundFactsTable::memoryUsage() const
{
    size_t bytes = m_chunks.capacity() * sizeof(std::shared_ptr<Chunk>);
    for (const auto &chunk : m_chunks)
        bytes += chunk ? sizeof(Chunk) + 16 : 0;
    return bytes;
}

bool SoundFactsTable::knowsAny() const
{
    return std::any_of(m_chunks.begin(), m_chunks.end(),
                       [](const std::shared_ptr<Chunk> &chunk) { return chunk != nullptr; });
}
