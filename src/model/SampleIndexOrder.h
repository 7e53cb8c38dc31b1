// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BufferPool.h"
#include "SampleIndex.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Search order over one storage: folded name, then path. Paths compare by scalar value after
// canonical composition (UTF-8 byte order is scalar order); since '/' never composes, that is the
// composed folder followed by the composed name. Folders are composed and ranked up front when
// many entries are compared (`Checking`); names are composed only when two of them are compared,
// which needs equal folded names in one folder or in a folder and one below it.
class SampleIndex::Order final
{
public:
    enum Use
    {
        Checking, // many comparisons
        Lookup    // a few comparisons
    };

    Order(const Storage &storage, Use use);

    // In memory that goes back to the system as soon as it is freed, as a sort's other large
    // arrays: from the heap, a build's peak would stay with the process while it writes.
    using Places = std::vector<quint32, BufferPool::Allocator<quint32>>;

    // Each entry's place in this order. The same sample name recurs in many packs, so each
    // distinct folded name is sorted once; entries are then sorted by two integers, the rank of
    // their name and that of their folder, and only runs with a folder and one below it (or the
    // same folder twice) are sorted again by full paths.
    Places places() const;

    int compare(size_t a, const Order &other, size_t b) const;

    // `in`'s entries at their `places` (from places()) into the empty `out`, one buffer at a
    // time, each freed once copied, so that the peak stays near one index.
    static void gather(Storage &in, const Places &places, Storage &out);
    // The separator between a folder and a name in a full path.
    static std::string_view separatorAfter(std::string_view folder);

private:
    // False when the text is surely in composed form already: nothing at or above U+0300 but
    // full-width and half-width forms, which never compose.
    static bool mayCompose(std::string_view text);

    std::string_view nameOf(size_t entry) const;

    std::string_view folderOf(size_t entry) const;

    // Paths equal once composed (one spelled composed, one decomposed) are told apart by their
    // bytes, so that the order never depends on the order of the walk.
    int compareBytes(size_t a, const Order &other, size_t b) const;

    void rawPieces(size_t entry, std::string_view (&out)[3]) const;

    void pieces(size_t entry, std::string_view (&out)[3]) const;

    const Storage &m_storage;
    const bool m_lazy;
    std::vector<std::string_view> m_folders;
    std::vector<std::unique_ptr<std::string>> m_composed;
    // Filled on first use.
    mutable std::unordered_map<quint32, std::string> m_composedNames;
    mutable std::unordered_map<quint32, std::string> m_composedFolders;
    std::vector<quint32> m_folderRank; // equal for equal paths
    std::vector<quint32> m_runEnd;     // by rank: the last rank at or below that folder
};
