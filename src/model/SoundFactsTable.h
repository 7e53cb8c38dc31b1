// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundFacts.h"

#include <array>
#include <memory>
#include <vector>

// The facts of every entry of one index, by entry number: 8 bytes an entry, in chunks shared
// between copies. A copy is a snapshot for a background search and costs a few pointers; a
// change copies only the chunk it lands in, and only while a snapshot still holds that chunk.
class SoundFactsTable final
{
public:
    SoundFactsTable() = default;
    explicit SoundFactsTable(size_t size);

    size_t size() const { return m_size; }
    SoundFacts at(size_t entry) const
    {
        const Chunk *chunk = m_chunks[entry >> chunkBits].get();
        return chunk ? (*chunk)[entry & chunkMask] : SoundFacts();
    }
    void set(size_t entry, const SoundFacts &facts);
    // False while nothing is known of any entry.
    bool knowsAny() const;
    size_t memoryUsage() const;

private:
    static constexpr size_t chunkBits = 12;
    static constexpr size_t chunkMask = (size_t(1) << chunkBits) - 1;
    using Chunk = std::array<SoundFacts, size_t(1) << chunkBits>;

    std::vector<std::shared_ptr<Chunk>> m_chunks; // null: nothing known in that chunk
    size_t m_size = 0;
};
