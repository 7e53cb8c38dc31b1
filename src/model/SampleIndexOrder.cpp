// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleIndexOrder.h"

#include "IndexBuffer.h"

#include <QString>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <thread>

namespace {

std::string composed(std::string_view text)
{
    const QByteArray nfc = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                               .normalized(QString::NormalizationForm_C)
                               .toUtf8();
    return std::string(nfc.constData(), static_cast<size_t>(nfc.size()));
}

// The first sixteen bytes, big-endian, so that most comparisons during the sort are integers.
// A NUL pads a short name: folded names hold none, so the order stays that of the bytes.
std::pair<quint64, quint64> prefixKey(std::string_view text)
{
    unsigned char bytes[16] = {};
    std::memcpy(bytes, text.data(), std::min<size_t>(16, text.size()));
    return {qFromBigEndian<quint64>(bytes), qFromBigEndian<quint64>(bytes + 8)};
}

// The sort's large arrays, each written whole before it is read: their memory goes back to the
// system as soon as they are freed.
template <typename T> using Scratch = std::vector<T, BufferPool::Allocator<T>>;

// How far ahead reads at random positions ask for their memory.
constexpr size_t prefetchDistance = 16;

// Runs `work(0)` and `work(1)`, on two threads when there are many items to work on.
template <typename Work> void onTwoThreads(size_t items, Work work)
{
    if (items < 65536) {
        work(0);
        work(1);
        return;
    }
    std::thread helper([&] { work(0); });
    work(1);
    helper.join();
}

// The texts [offsets[k], offsets[k + 1]) of `text` for each entry k, into `out` and
// `outOffsets` at its place; the inputs are freed once copied. The texts are read in order and
// written at random: writes need not wait on memory, as reads at random would.
void placeTexts(IndexBuffer<char> &text, IndexBuffer<quint32> &offsets,
                const Scratch<quint32> &places, IndexBuffer<char> &out,
                IndexBuffer<quint32> &outOffsets)
{
    const size_t count = places.size();
    outOffsets.resizeForOverwrite(count + 1);
    quint32 *ends = outOffsets.mutableData();
    ends[0] = 0;
    // The lengths first, then added up in order.
    onTwoThreads(count, [&](int part) {
        for (size_t entry = part * count / 2; entry < (part + 1) * count / 2; ++entry)
            ends[places[entry] + 1] = offsets[entry + 1] - offsets[entry];
    });
    for (size_t place = 0; place < count; ++place)
        ends[place + 1] += ends[place];
    out.resizeForOverwrite(ends[count]);
    char *into = out.mutableData();
    onTwoThreads(count, [&](int part) {
        // Where each text goes, first, in a loop of loads that do not wait on each other; the
        // copies then ask for their destinations ahead.
        const size_t first = part * count / 2, last = (part + 1) * count / 2;
        Scratch<quint32> at(last - first);
        for (size_t entry = first; entry < last; ++entry)
            at[entry - first] = ends[places[entry]];
        for (size_t entry = first; entry < last; ++entry) {
            if (entry + prefetchDistance < last)
                __builtin_prefetch(into + at[entry + prefetchDistance - first], 1);
            std::memcpy(into + at[entry - first], text.data() + offsets[entry],
                        offsets[entry + 1] - offsets[entry]);
        }
    });
    text = {};
    offsets = {};
}

// Sorts [first, last) on two threads when it is long: a half each, then one merge.
template <typename Iterator, typename Less>
void sortOnTwoThreads(Iterator first, Iterator last, Less less)
{
    if (last - first < 65536) {
        std::sort(first, last, less);
        return;
    }
    const Iterator middle = first + (last - first) / 2;
    std::thread helper([&] { std::sort(first, middle, less); });
    std::sort(middle, last, less);
    helper.join();
    std::inplace_merge(first, middle, last, less);
}

// Compares the concatenations of two lists of pieces byte by byte, without building them.
int comparePieces(const std::string_view (&a)[3], const std::string_view (&b)[3])
{
    size_t ia = 0, ib = 0, oa = 0, ob = 0;
    for (;;) {
        while (ia < 3 && oa == a[ia].size()) {
            ++ia;
            oa = 0;
        }
        while (ib < 3 && ob == b[ib].size()) {
            ++ib;
            ob = 0;
        }
        if (ia == 3 || ib == 3)
            return (ia == 3 ? 0 : 1) - (ib == 3 ? 0 : 1);
        const size_t n = std::min(a[ia].size() - oa, b[ib].size() - ob);
        if (const int c = std::memcmp(a[ia].data() + oa, b[ib].data() + ob, n))
            return c;
        oa += n;
        ob += n;
    }
}

} // namespace

SampleIndex::Order::Order(const Storage &storage, Use use)
    : m_storage(storage), m_lazy(use == Lookup)
{
    if (m_lazy)
        return;
    const size_t folders = storage.folderCount();
    m_folders.resize(folders);
    for (quint32 folder = 0; folder < folders; ++folder) {
        const std::string_view path = storage.folderPath(folder);
        if (mayCompose(path)) {
            m_composed.push_back(std::make_unique<std::string>(composed(path)));
            m_folders[folder] = *m_composed.back();
        } else {
            m_folders[folder] = path;
        }
    }

    // Folders ranked by their path with its separator: two files of unrelated folders are
    // then ordered by folder rank alone. The folders below one form a run right after it;
    // only files of a folder and of one below it need their full paths compared.
    std::vector<quint32> byPath(folders);
    for (quint32 folder = 0; folder < folders; ++folder)
        byPath[folder] = folder;
    const auto keyOf = [this](quint32 folder, std::string_view(&key)[3]) {
        key[0] = m_folders[folder];
        key[1] = separatorAfter(m_folders[folder]);
        key[2] = {};
    };
    std::sort(byPath.begin(), byPath.end(), [&](quint32 a, quint32 b) {
        std::string_view left[3], right[3];
        keyOf(a, left);
        keyOf(b, right);
        return comparePieces(left, right) < 0;
    });
    m_folderRank.resize(folders);
    m_runEnd.resize(folders);
    std::vector<std::pair<std::string, quint32>> open; // ancestors' keys and ranks
    quint32 rank = 0;
    for (size_t i = 0; i < folders; ++i) {
        const quint32 folder = byPath[i];
        std::string key(m_folders[folder]);
        key.append(separatorAfter(m_folders[folder]));
        if (i > 0 && !open.empty() && open.back().first == key) {
            m_folderRank[folder] = rank; // the same path again: overlapping roots
            continue;
        }
        rank = quint32(i);
        while (!open.empty() && key.compare(0, open.back().first.size(), open.back().first) != 0) {
            m_runEnd[open.back().second] = rank - 1;
            open.pop_back();
        }
        m_folderRank[folder] = rank;
        open.emplace_back(std::move(key), rank);
    }
    for (const auto &[key, ancestor] : open)
        m_runEnd[ancestor] = quint32(folders - 1);
}

SampleIndex::Order::Places SampleIndex::Order::places() const
{
    const size_t count = m_storage.size();
    // Distinct folded names, by hashing. The lowest bit of a name's hash picks which of two
    // threads owns it, so that neither waits for the other; each gets its entries in order.
    struct Hashed
    {
        quint32 entry;
        quint32 hash;
    };
    struct Run
    {
        Scratch<Hashed> items;
        size_t size = 0;
    };
    Run byHalf[2][2]; // by half of the entries, then by owner
    onTwoThreads(count, [&](int half) {
        const size_t first = half * count / 2, last = (half + 1) * count / 2;
        Run(&runs)[2] = byHalf[half];
        for (Run &run : runs)
            run.items.resize(last - first);
        // Written to both, counted in the owner's: no branch to mispredict.
        for (size_t entry = first; entry < last; ++entry) {
            const quint32 hash =
                quint32(std::hash<std::string_view>()(m_storage.foldedName(entry)));
            const Hashed item{quint32(entry), hash};
            runs[0].items[runs[0].size] = item;
            runs[1].items[runs[1].size] = item;
            ++runs[hash & 1].size;
        }
    });
    Scratch<quint32> nameIds(count);
    std::vector<quint32> holders[2]; // per part and distinct name, its first entry
    Run owners[2];
    onTwoThreads(count, [&](int part) {
        const Run &early = byHalf[0][part], &late = byHalf[1][part];
        Run &mine = owners[part];
        mine.size = early.size + late.size;
        mine.items.resize(mine.size);
        std::copy_n(early.items.begin(), early.size, mine.items.begin());
        std::copy_n(late.items.begin(), late.size, mine.items.begin() + ptrdiff_t(early.size));
        byHalf[0][part] = {};
        byHalf[1][part] = {};
        const size_t owned = mine.size;
        std::vector<quint32> &holder = holders[part];
        {
            // By hash first: each entry takes the id of the first entry of its hash, and only
            // the slots, each asked for ahead, are read at random. Open addressing: the upper
            // half of a slot is the hash, the lower its id + 1. The lowest bit of a hash picks
            // the part, the next ones the slot.
            Scratch<quint64> slots(std::bit_ceil(std::max<size_t>(64, 2 * owned)), 0);
            const size_t mask = slots.size() - 1;
            for (size_t k = 0; k < owned; ++k) {
                if (k + prefetchDistance < owned)
                    __builtin_prefetch(&slots[(mine.items[k + prefetchDistance].hash >> 1) & mask]);
                const auto [entry, hash] = mine.items[k];
                const quint64 tag = quint64(hash) << 32;
                for (size_t slot = (hash >> 1) & mask;; slot = (slot + 1) & mask) {
                    const quint64 held = slots[slot];
                    if (held == 0) {
                        holder.push_back(entry);
                        slots[slot] = tag | holder.size();
                        nameIds[entry] = quint32(holder.size() - 1);
                        break;
                    }
                    if ((held & ~quint64(0xFFFFFFFF)) == tag) {
                        nameIds[entry] = quint32(held) - 1;
                        break;
                    }
                }
            }
        }
        // Then by text: the first entry's name is read at random, so where each starts is
        // looked up first, in a loop of loads that do not wait on each other, and each name is
        // then asked for ahead. A name that only shares its hash with the first entry's gets
        // an id of its own; such names are rare.
        Scratch<quint32> starts(owned);
        for (size_t k = 0; k < owned; ++k)
            starts[k] = m_storage.foldedOffsets[holder[nameIds[mine.items[k].entry]]];
        std::unordered_map<std::string_view, quint32> strays;
        for (size_t k = 0; k < owned; ++k) {
            if (k + prefetchDistance < owned)
                __builtin_prefetch(m_storage.folded.data() + starts[k + prefetchDistance]);
            const quint32 entry = mine.items[k].entry;
            const quint32 first = holder[nameIds[entry]];
            const std::string_view name = m_storage.foldedName(entry);
            if (first == entry || m_storage.foldedName(first) == name)
                continue;
            const auto [stray, added] = strays.try_emplace(name, quint32(holder.size()));
            if (added)
                holder.push_back(entry);
            nameIds[entry] = stray->second;
        }
    });
    const quint32 oddFirst = quint32(holders[0].size());
    for (size_t k = 0; k < owners[1].size; ++k)
        nameIds[owners[1].items[k].entry] += oddFirst;
    owners[0] = {};
    owners[1] = {};
    std::vector<quint32> firstHolder = std::move(holders[0]);
    firstHolder.insert(firstHolder.end(), holders[1].begin(), holders[1].end());
    holders[1] = {};

    Scratch<quint32> nameRanks(firstHolder.size());
    {
        struct NameKey
        {
            quint64 prefix;
            quint64 more;
            quint32 entry;
            quint32 id;
        };
        Scratch<NameKey> names(firstHolder.size());
        for (quint32 id = 0; id < names.size(); ++id) {
            const auto [prefix, more] = prefixKey(m_storage.foldedName(firstHolder[id]));
            names[id] = NameKey{prefix, more, firstHolder[id], id};
        }
        sortOnTwoThreads(names.begin(), names.end(), [this](const NameKey &a, const NameKey &b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix;
            if (a.more != b.more)
                return a.more < b.more;
            const std::string_view left = m_storage.foldedName(a.entry);
            const std::string_view right = m_storage.foldedName(b.entry);
            return left.substr(std::min<size_t>(16, left.size())) <
                   right.substr(std::min<size_t>(16, right.size()));
        });
        for (quint32 rank = 0; rank < names.size(); ++rank)
            nameRanks[names[rank].id] = rank;
    }

    // Each entry as one integer: its name's rank, its folder's rank, then the entry itself,
    // so that a sort of integers settles all but the runs of related folders. A library
    // too large for 64 bits of that sorts pairs instead.
    const int entryBits = std::bit_width(quint64(std::max<size_t>(1, count)));
    const int folderBits = std::bit_width(quint64(std::max<size_t>(1, m_storage.folderCount())));
    const int nameBits = std::bit_width(quint64(std::max<size_t>(1, firstHolder.size())));
    Places places(count);
    const auto fixRuns = [&](auto nameOf, auto folderOf, auto entryOf, auto &keys) {
        using Key = std::decay_t<decltype(keys[0])>;
        const auto byPath = [&](const Key &a, const Key &b) {
            const int c = compare(entryOf(a), *this, entryOf(b));
            return c != 0 ? c < 0 : entryOf(a) < entryOf(b);
        };
        for (size_t first = 0; first < count;) {
            const quint64 name = nameOf(keys[first]);
            size_t last = first + 1;
            bool related = false;
            for (; last < count && nameOf(keys[last]) == name; ++last)
                related = related || folderOf(keys[last]) <= m_runEnd[folderOf(keys[last - 1])];
            if (related)
                std::sort(keys.begin() + ptrdiff_t(first), keys.begin() + ptrdiff_t(last), byPath);
            first = last;
        }
        for (size_t place = 0; place < count; ++place)
            places[entryOf(keys[place])] = quint32(place);
    };
    if (entryBits + folderBits + nameBits <= 64) {
        Scratch<quint64> keys(count);
        for (size_t entry = 0; entry < count; ++entry)
            keys[entry] = (quint64(nameRanks[nameIds[entry]]) << (folderBits + entryBits)) |
                          (quint64(m_folderRank[m_storage.entryFolder[entry]]) << entryBits) |
                          entry;
        nameIds = {};
        nameRanks = {};
        // Least significant digit first, eleven bits at a time, from the folder's rank up:
        // the entries start in order. Each half is counted and dealt out by a thread of its
        // own; the first half's keys of a digit go before the second's, so each pass is stable.
        Scratch<quint64> spare(count);
        for (int shift = entryBits; shift < entryBits + folderBits + nameBits; shift += 11) {
            std::array<std::array<size_t, 2048>, 2> starts{};
            onTwoThreads(count, [&](int part) {
                for (size_t i = part * count / 2; i < (part + 1) * count / 2; ++i)
                    ++starts[size_t(part)][(keys[i] >> shift) & 2047];
            });
            size_t next = 0;
            for (size_t digit = 0; digit < 2048; ++digit) {
                const size_t first = starts[0][digit], second = starts[1][digit];
                starts[0][digit] = next;
                starts[1][digit] = next + first;
                next += first + second;
            }
            onTwoThreads(count, [&](int part) {
                std::array<size_t, 2048> &at = starts[size_t(part)];
                for (size_t i = part * count / 2; i < (part + 1) * count / 2; ++i)
                    spare[at[(keys[i] >> shift) & 2047]++] = keys[i];
            });
            keys.swap(spare);
        }
        spare = {};
        const quint64 entryMask = (quint64(1) << entryBits) - 1;
        const quint64 folderMask = (quint64(1) << folderBits) - 1;
        fixRuns([&](quint64 key) { return key >> (folderBits + entryBits); },
                [&](quint64 key) { return quint32((key >> entryBits) & folderMask); },
                [&](quint64 key) { return quint32(key & entryMask); }, keys);
    } else {
        Scratch<std::pair<quint64, quint32>> keys(count);
        for (size_t entry = 0; entry < count; ++entry)
            keys[entry] = {quint64(nameRanks[nameIds[entry]]) << 32 |
                               m_folderRank[m_storage.entryFolder[entry]],
                           quint32(entry)};
        nameIds = {};
        nameRanks = {};
        std::sort(keys.begin(), keys.end());
        fixRuns([](const auto &key) { return key.first >> 32; },
                [](const auto &key) { return quint32(key.first); },
                [](const auto &key) { return key.second; }, keys);
    }
    return places;
}

int SampleIndex::Order::compare(size_t a, const Order &other, size_t b) const
{
    if (const int byName = m_storage.foldedName(a).compare(other.m_storage.foldedName(b)))
        return byName;
    if (&other == this && !m_lazy) {
        const quint32 ra = m_folderRank[m_storage.entryFolder[a]];
        const quint32 rb = m_folderRank[m_storage.entryFolder[b]];
        if (ra == rb) {
            if (const int byComposed = nameOf(a).compare(nameOf(b)))
                return byComposed;
            return compareBytes(a, other, b);
        }
        if (ra < rb ? rb > m_runEnd[ra] : ra > m_runEnd[rb])
            return ra < rb ? -1 : 1;
    }
    std::string_view left[3], right[3];
    pieces(a, left);
    other.pieces(b, right);
    if (const int byComposed = comparePieces(left, right))
        return byComposed;
    return compareBytes(a, other, b);
}

bool SampleIndex::Order::mayCompose(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0xCC)
            continue;
        if (byte == 0xEF && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) >= 0xBC) {
            ++i;
            continue;
        }
        if (byte >= 0xC0)
            return true;
    }
    return false;
}

std::string_view SampleIndex::Order::nameOf(size_t entry) const
{
    const std::string_view name = m_storage.name(entry);
    if (!mayCompose(name))
        return name;
    auto it = m_composedNames.find(quint32(entry));
    if (it == m_composedNames.end())
        it = m_composedNames.emplace(quint32(entry), composed(name)).first;
    return it->second;
}

std::string_view SampleIndex::Order::folderOf(size_t entry) const
{
    const quint32 id = m_storage.entryFolder[entry];
    if (!m_lazy)
        return m_folders[id];
    const std::string_view path = m_storage.folderPath(id);
    if (!mayCompose(path))
        return path;
    auto it = m_composedFolders.find(id);
    if (it == m_composedFolders.end())
        it = m_composedFolders.emplace(id, composed(path)).first;
    return it->second;
}

int SampleIndex::Order::compareBytes(size_t a, const Order &other, size_t b) const
{
    std::string_view left[3], right[3];
    rawPieces(a, left);
    other.rawPieces(b, right);
    return comparePieces(left, right);
}

void SampleIndex::Order::rawPieces(size_t entry, std::string_view (&out)[3]) const
{
    out[0] = m_storage.folderPath(m_storage.entryFolder[entry]);
    out[1] = separatorAfter(out[0]);
    out[2] = m_storage.name(entry);
}

void SampleIndex::Order::pieces(size_t entry, std::string_view (&out)[3]) const
{
    const std::string_view folder = folderOf(entry);
    out[0] = folder;
    out[1] = separatorAfter(folder);
    out[2] = nameOf(entry);
}

void SampleIndex::Order::gather(Storage &in, const Places &places, Storage &out)
{
    const size_t count = places.size();
    out.folderPaths = std::move(in.folderPaths);
    out.folderOffsets = std::move(in.folderOffsets);
    out.entryFolder.resizeForOverwrite(count);
    quint32 *folders = out.entryFolder.mutableData();
    onTwoThreads(count, [&](int part) {
        for (size_t entry = part * count / 2; entry < (part + 1) * count / 2; ++entry)
            folders[places[entry]] = in.entryFolder[entry];
    });
    in.entryFolder = {};
    if (!in.facts.empty()) {
        out.facts.resize(count);
        SoundFacts *facts = out.facts.mutableData();
        for (size_t entry = 0; entry < count; ++entry)
            facts[places[entry]] = in.facts[entry];
        in.facts = {};
    }
    placeTexts(in.names, in.nameOffsets, places, out.names, out.nameOffsets);
    placeTexts(in.folded, in.foldedOffsets, places, out.folded, out.foldedOffsets);
    in = Storage();
}

std::string_view SampleIndex::Order::separatorAfter(std::string_view folder)
{
    return folder.empty() || folder == "/" ? std::string_view() : std::string_view("/");
}
