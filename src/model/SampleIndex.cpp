// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleIndex.h"

#include "FilePaths.h"
#include "Fold.h"
#include "IndexBuffer.h"
#include "NameScan.h"

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>

namespace {

constexpr size_t bufferLimit = std::numeric_limits<quint32>::max();

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

// How far ahead reads at random positions ask for their memory.
constexpr size_t prefetchDistance = 16;

// While texts are gathered in the order `keys`: asks for the offsets of a text further ahead,
// and for the text of one nearer, whose offsets should have arrived by now.
void prefetchText(const IndexBuffer<char> &text, const IndexBuffer<quint32> &offsets,
                  const std::vector<quint32> &keys, size_t rank)
{
    if (rank + 2 * prefetchDistance < keys.size())
        __builtin_prefetch(&offsets[keys[rank + 2 * prefetchDistance]]);
    if (rank + prefetchDistance < keys.size())
        __builtin_prefetch(text.data() + offsets[keys[rank + prefetchDistance]]);
}

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

// The texts [offsets[k], offsets[k + 1]) of `text` for k in `keys`, in that order, into `out`
// and `outOffsets`; the inputs are freed once copied.
void gatherTexts(IndexBuffer<char> &text, IndexBuffer<quint32> &offsets,
                 const std::vector<quint32> &keys, IndexBuffer<char> &out,
                 IndexBuffer<quint32> &outOffsets)
{
    const size_t count = keys.size();
    outOffsets.resize(count + 1);
    quint32 *ends = outOffsets.mutableData();
    ends[0] = 0;
    for (size_t rank = 0; rank < count; ++rank)
        ends[rank + 1] = ends[rank] + offsets[keys[rank] + 1] - offsets[keys[rank]];
    out.resize(ends[count]);
    char *into = out.mutableData();
    onTwoThreads(count, [&](int part) {
        for (size_t rank = part * count / 2; rank < (part + 1) * count / 2; ++rank) {
            prefetchText(text, offsets, keys, rank);
            std::memcpy(into + ends[rank], text.data() + offsets[keys[rank]],
                        ends[rank + 1] - ends[rank]);
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

// The separator between a folder and a name in a full path.
std::string_view separatorAfter(std::string_view folder)
{
    return folder.empty() || folder == "/" ? std::string_view() : std::string_view("/");
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

    Order(const Storage &storage, Use use) : m_storage(storage), m_lazy(use == Lookup)
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
            while (!open.empty() &&
                   key.compare(0, open.back().first.size(), open.back().first) != 0) {
                m_runEnd[open.back().second] = rank - 1;
                open.pop_back();
            }
            m_folderRank[folder] = rank;
            open.emplace_back(std::move(key), rank);
        }
        for (const auto &[key, ancestor] : open)
            m_runEnd[ancestor] = quint32(folders - 1);
    }

    // Every entry, in this order. The same sample name recurs in many packs, so each distinct
    // folded name is sorted once; entries are then sorted by two integers, the rank of their
    // name and that of their folder, and only runs with a folder and one below it (or the same
    // folder twice) are sorted again by full paths.
    std::vector<quint32> sortedEntries() const
    {
        const size_t count = m_storage.size();
        // Distinct folded names, by hashing. Each of two threads owns the names of one parity of
        // hash, so that neither waits for the other.
        std::vector<quint32> hashes(count);
        onTwoThreads(count, [&](int part) {
            for (size_t entry = part * count / 2; entry < (part + 1) * count / 2; ++entry)
                hashes[entry] = quint32(std::hash<std::string_view>()(m_storage.foldedName(entry)));
        });
        std::vector<quint32> nameIds(count);
        std::vector<quint32> holders[2]; // per part and distinct name, its first entry
        onTwoThreads(count, [&](int part) {
            // Open addressing: the upper half of a slot is the name's hash, the lower its id + 1.
            // The lowest bit of a hash picks the part, the next ones the slot.
            const size_t names = size_t(std::count_if(
                hashes.begin(), hashes.end(), [&](quint32 hash) { return int(hash & 1) == part; }));
            std::vector<quint64> slots(std::bit_ceil(std::max<size_t>(64, 2 * names)));
            const size_t mask = slots.size() - 1;
            std::vector<quint32> &holder = holders[part];
            for (size_t entry = 0; entry < count; ++entry) {
                // The slots are read at random: asking for one a few names ahead hides the wait.
                if (entry + prefetchDistance < count)
                    __builtin_prefetch(&slots[(hashes[entry + prefetchDistance] >> 1) & mask]);
                const quint32 hash = hashes[entry];
                if (int(hash & 1) != part)
                    continue;
                const quint64 tag = quint64(hash) << 32;
                for (size_t slot = (hash >> 1) & mask;; slot = (slot + 1) & mask) {
                    const quint64 held = slots[slot];
                    if (held == 0) {
                        holder.push_back(quint32(entry));
                        nameIds[entry] = quint32(holder.size() - 1);
                        slots[slot] = tag | holder.size();
                        break;
                    }
                    const quint32 id = quint32(held) - 1;
                    if ((held & ~quint64(0xFFFFFFFF)) == tag &&
                        m_storage.foldedName(holder[id]) == m_storage.foldedName(entry)) {
                        nameIds[entry] = id;
                        break;
                    }
                }
            }
        });
        const quint32 oddFirst = quint32(holders[0].size());
        for (size_t entry = 0; entry < count; ++entry)
            nameIds[entry] += (hashes[entry] & 1) ? oddFirst : 0;
        hashes = {};
        std::vector<quint32> firstHolder = std::move(holders[0]);
        firstHolder.insert(firstHolder.end(), holders[1].begin(), holders[1].end());
        holders[1] = {};

        std::vector<quint32> nameRanks(firstHolder.size());
        {
            struct NameKey
            {
                quint64 prefix;
                quint64 more;
                quint32 entry;
                quint32 id;
            };
            std::vector<NameKey> names(firstHolder.size());
            for (quint32 id = 0; id < names.size(); ++id) {
                const auto [prefix, more] = prefixKey(m_storage.foldedName(firstHolder[id]));
                names[id] = NameKey{prefix, more, firstHolder[id], id};
            }
            sortOnTwoThreads(names.begin(), names.end(),
                             [this](const NameKey &a, const NameKey &b) {
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
        const int folderBits =
            std::bit_width(quint64(std::max<size_t>(1, m_storage.folderCount())));
        const int nameBits = std::bit_width(quint64(std::max<size_t>(1, firstHolder.size())));
        std::vector<quint32> order(count);
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
                    std::sort(keys.begin() + ptrdiff_t(first), keys.begin() + ptrdiff_t(last),
                              byPath);
                first = last;
            }
            for (size_t rank = 0; rank < count; ++rank)
                order[rank] = entryOf(keys[rank]);
        };
        if (entryBits + folderBits + nameBits <= 64) {
            std::vector<quint64> keys(count);
            for (size_t entry = 0; entry < count; ++entry)
                keys[entry] = (quint64(nameRanks[nameIds[entry]]) << (folderBits + entryBits)) |
                              (quint64(m_folderRank[m_storage.entryFolder[entry]]) << entryBits) |
                              entry;
            nameIds = {};
            nameRanks = {};
            // Least significant digit first, eleven bits at a time, from the folder's rank up:
            // the entries start in order.
            std::vector<quint64> spare(count);
            for (int shift = entryBits; shift < entryBits + folderBits + nameBits; shift += 11) {
                std::array<size_t, 2049> starts{};
                for (const quint64 key : keys)
                    ++starts[((key >> shift) & 2047) + 1];
                for (size_t digit = 1; digit < starts.size(); ++digit)
                    starts[digit] += starts[digit - 1];
                for (const quint64 key : keys)
                    spare[starts[(key >> shift) & 2047]++] = key;
                keys.swap(spare);
            }
            spare = {};
            const quint64 entryMask = (quint64(1) << entryBits) - 1;
            const quint64 folderMask = (quint64(1) << folderBits) - 1;
            fixRuns([&](quint64 key) { return key >> (folderBits + entryBits); },
                    [&](quint64 key) { return quint32((key >> entryBits) & folderMask); },
                    [&](quint64 key) { return quint32(key & entryMask); }, keys);
        } else {
            std::vector<std::pair<quint64, quint32>> keys(count);
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
        return order;
    }

    int compare(size_t a, const Order &other, size_t b) const
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

private:
    // False when the text is surely in composed form already: nothing at or above U+0300 but
    // full-width and half-width forms, which never compose.
    static bool mayCompose(std::string_view text)
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

    std::string_view nameOf(size_t entry) const
    {
        const std::string_view name = m_storage.name(entry);
        if (!mayCompose(name))
            return name;
        auto it = m_composedNames.find(quint32(entry));
        if (it == m_composedNames.end())
            it = m_composedNames.emplace(quint32(entry), composed(name)).first;
        return it->second;
    }

    std::string_view folderOf(size_t entry) const
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

    // Paths equal once composed (one spelled composed, one decomposed) are told apart by their
    // bytes, so that the order never depends on the order of the walk.
    int compareBytes(size_t a, const Order &other, size_t b) const
    {
        std::string_view left[3], right[3];
        rawPieces(a, left);
        other.rawPieces(b, right);
        return comparePieces(left, right);
    }

    void rawPieces(size_t entry, std::string_view (&out)[3]) const
    {
        out[0] = m_storage.folderPath(m_storage.entryFolder[entry]);
        out[1] = separatorAfter(out[0]);
        out[2] = m_storage.name(entry);
    }

    void pieces(size_t entry, std::string_view (&out)[3]) const
    {
        const std::string_view folder = folderOf(entry);
        out[0] = folder;
        out[1] = separatorAfter(folder);
        out[2] = nameOf(entry);
    }

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

quint32 SampleIndex::Storage::addFolder(std::string_view path)
{
    if (folderPaths.size() + path.size() > bufferLimit)
        path = {};
    folderPaths.append(path);
    folderOffsets.push_back(quint32(folderPaths.size()));
    return quint32(folderOffsets.size() - 2);
}

bool SampleIndex::Storage::append(quint32 folder, std::string_view name,
                                  std::string_view foldedName)
{
    if (names.size() + name.size() > bufferLimit ||
        folded.size() + foldedName.size() + 1 > bufferLimit || size() >= bufferLimit - 1)
        return false;
    entryFolder.push_back(folder);
    names.append(name);
    nameOffsets.push_back(quint32(names.size()));
    folded.append(foldedName);
    folded.push_back('\0');
    foldedOffsets.push_back(quint32(folded.size()));
    return true;
}

void SampleIndex::Storage::reserve(size_t entries, size_t nameBytes)
{
    entryFolder.reserve(entries);
    names.reserve(nameBytes);
    nameOffsets.reserve(entries + 1);
    folded.reserve(nameBytes + entries);
    foldedOffsets.reserve(entries + 1);
}

size_t SampleIndex::Storage::memoryUsage() const
{
    return folderPaths.ownedBytes() + names.ownedBytes() + folded.ownedBytes() +
           folderOffsets.ownedBytes() + entryFolder.ownedBytes() + nameOffsets.ownedBytes() +
           foldedOffsets.ownedBytes() + facts.ownedBytes();
}

void SampleIndex::Builder::append(std::string_view path, std::string_view folded)
{
    const size_t slash = path.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view()
                                    : slash == 0                    ? path.substr(0, 1)
                                                                    : path.substr(0, slash);
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const quint32 id = folderId(folder);
    m_storage.append(id, name, folded);
}

void SampleIndex::Builder::append(std::string_view path, std::string_view folded,
                                  const SoundFacts &facts)
{
    const size_t before = size();
    append(path, folded);
    if (size() == before)
        return;
    m_storage.facts.resize(before);
    m_storage.facts.push_back(facts);
}

void SampleIndex::Builder::append(const Builder &other)
{
    const Storage &from = other.m_storage;
    if (!from.facts.empty() || !m_storage.facts.empty()) {
        m_storage.facts.resize(size());
        m_storage.facts.append(from.facts.data(), from.facts.size());
        m_storage.facts.resize(size() + from.size());
    }
    std::vector<quint32> ids(from.folderCount());
    for (quint32 folder = 0; folder < ids.size(); ++folder)
        ids[folder] = folderId(from.folderPath(folder));
    m_storage.reserve(size() + from.size(), m_storage.names.size() + from.names.size());
    for (size_t entry = 0; entry < from.size(); ++entry)
        m_storage.append(ids[from.entryFolder[entry]], from.name(entry), from.foldedName(entry));
}

quint32 SampleIndex::Builder::folderId(std::string_view path)
{
    const auto hash = [](std::string_view text) { return std::hash<std::string_view>()(text); };
    if (m_folderSlots.size() < 2 * (m_storage.folderCount() + 1)) {
        std::vector<quint32> slots(
            std::bit_ceil(std::max<size_t>(64, 4 * (m_storage.folderCount() + 1))));
        const size_t mask = slots.size() - 1;
        for (quint32 folder = 0; folder < m_storage.folderCount(); ++folder) {
            size_t slot = hash(m_storage.folderPath(folder)) & mask;
            while (slots[slot] != 0)
                slot = (slot + 1) & mask;
            slots[slot] = folder + 1;
        }
        m_folderSlots = std::move(slots);
    }
    const size_t mask = m_folderSlots.size() - 1;
    for (size_t slot = hash(path) & mask;; slot = (slot + 1) & mask) {
        const quint32 held = m_folderSlots[slot];
        if (held == 0) {
            const quint32 id = m_storage.addFolder(path);
            m_folderSlots[slot] = id + 1;
            return id;
        }
        if (m_storage.folderPath(held - 1) == path)
            return held - 1;
    }
}

std::shared_ptr<SampleIndex> SampleIndex::Builder::finish()
{
    std::shared_ptr<SampleIndex> index(new SampleIndex);
    Storage &in = m_storage;
    const size_t count = in.size();
    m_folderSlots = {};
    if (!in.facts.empty())
        in.facts.resize(count);

    std::vector<quint32> keys;
    {
        const Order order(in, Order::Checking);
        bool sorted = true;
        for (size_t i = 1; i < count && sorted; ++i)
            sorted = order.compare(i - 1, order, i) <= 0;
        // A stored index is written in search order, so reading it back needs no sort.
        if (sorted) {
            index->m_data = std::move(in);
            in = Storage();
            return index;
        }
        keys = order.sortedEntries();
    }

    // One buffer at a time, each input freed once copied, so the peak stays near one index;
    // the two threads share each buffer's copying instead.
    Storage &out = index->m_data;
    out.folderPaths = std::move(in.folderPaths);
    out.folderOffsets = std::move(in.folderOffsets);
    out.entryFolder.resize(count);
    quint32 *folders = out.entryFolder.mutableData();
    for (size_t rank = 0; rank < count; ++rank)
        folders[rank] = in.entryFolder[keys[rank]];
    in.entryFolder = {};
    if (!in.facts.empty()) {
        out.facts.resize(count);
        SoundFacts *facts = out.facts.mutableData();
        for (size_t rank = 0; rank < count; ++rank)
            facts[rank] = in.facts[keys[rank]];
        in.facts = {};
    }
    gatherTexts(in.names, in.nameOffsets, keys, out.names, out.nameOffsets);
    gatherTexts(in.folded, in.foldedOffsets, keys, out.folded, out.foldedOffsets);
    in = Storage();
    return index;
}

std::array<std::string_view, 3> SampleIndex::pathPieces(size_t entry) const
{
    const std::string_view folder = folderPath(entry);
    return {folder, separatorAfter(folder), name(entry)};
}

std::string SampleIndex::path(size_t entry) const
{
    const auto [folder, separator, file] = pathPieces(entry);
    std::string out;
    out.reserve(folder.size() + separator.size() + file.size());
    out.append(folder).append(separator).append(file);
    return out;
}

QString SampleIndex::pathString(size_t entry) const
{
    const std::string full = path(entry);
    return QString::fromUtf8(full.data(), qsizetype(full.size()));
}

size_t SampleIndex::memoryUsage() const
{
    return m_data.memoryUsage() + sizeof(SampleIndex);
}

std::array<QByteArrayView, SampleIndex::layoutBuffers> SampleIndex::layout() const
{
    static_assert(sizeof(SoundFacts) == SoundFacts::serializedSize);
    const auto bytes = [](const auto &buffer) {
        return QByteArrayView(reinterpret_cast<const char *>(buffer.data()),
                              qsizetype(buffer.size() * sizeof(buffer[0])));
    };
    const Storage &d = m_data;
    return {bytes(d.folderPaths), bytes(d.folderOffsets), bytes(d.entryFolder),   bytes(d.names),
            bytes(d.nameOffsets), bytes(d.folded),        bytes(d.foldedOffsets), bytes(d.facts)};
}

std::shared_ptr<SampleIndex>
SampleIndex::fromLayout(const std::shared_ptr<const void> &mapping,
                        const std::array<QByteArrayView, layoutBuffers> &buffers)
{
    std::shared_ptr<SampleIndex> index(new SampleIndex);
    Storage &d = index->m_data;
    bool fits = true;
    size_t next = 0;
    const auto take = [&](auto &buffer) {
        const QByteArrayView bytes = buffers[next++];
        using Element = std::decay_t<decltype(buffer[0])>;
        if (!fits || size_t(bytes.size()) % sizeof(Element) != 0 ||
            size_t(bytes.size()) >= bufferLimit * sizeof(Element) ||
            quintptr(bytes.data()) % alignof(Element) != 0) {
            fits = false;
            return;
        }
        buffer = IndexBuffer<Element>(mapping, reinterpret_cast<const Element *>(bytes.data()),
                                      size_t(bytes.size()) / sizeof(Element));
    };
    take(d.folderPaths);
    take(d.folderOffsets);
    take(d.entryFolder);
    take(d.names);
    take(d.nameOffsets);
    take(d.folded);
    take(d.foldedOffsets);
    take(d.facts);
    if (!fits)
        return nullptr;

    const auto ascending = [](const IndexBuffer<quint32> &offsets, size_t count, size_t end) {
        if (offsets.size() != count + 1 || offsets.front() != 0 || offsets.back() != end)
            return false;
        for (size_t i = 1; i < offsets.size(); ++i) {
            if (offsets[i] < offsets[i - 1])
                return false;
        }
        return true;
    };
    const size_t count = d.entryFolder.size();
    const size_t folders = d.folderOffsets.empty() ? 0 : d.folderOffsets.size() - 1;
    if (!ascending(d.folderOffsets, folders, d.folderPaths.size()) ||
        !ascending(d.nameOffsets, count, d.names.size()) ||
        !ascending(d.foldedOffsets, count, d.folded.size()) ||
        (!d.facts.empty() && d.facts.size() != count))
        return nullptr;
    for (size_t entry = 0; entry < count; ++entry) {
        // Each folded name ends with its NUL, which a search relies on.
        if (d.entryFolder[entry] >= folders ||
            d.foldedOffsets[entry + 1] == d.foldedOffsets[entry] ||
            d.folded[d.foldedOffsets[entry + 1] - 1] != '\0')
            return nullptr;
    }
    for (const SoundFacts &facts : d.facts) {
        const std::optional<SoundFacts> read = SoundFacts::fromBytes(
            QByteArrayView(reinterpret_cast<const char *>(&facts), sizeof facts));
        if (!read || !(*read == facts))
            return nullptr;
    }
    return index;
}

std::vector<quint32> SampleIndex::search(const std::vector<std::string> &terms, const Scope &scope,
                                         const CancelFlag &flag,
                                         const std::function<bool(quint32)> &accept) const
{
    std::vector<quint32> hits;
    if ((terms.empty() && !accept) || isEmpty())
        return hits;

    // The scope is decided once per folder: 0 outside, 1 inside, 2 when only some of its files
    // (tagged ones) are.
    std::vector<char> folderScope;
    if (scope.kind != Scope::Kind::All) {
        std::vector<std::string_view> taggedParents;
        for (const std::string &file : scope.files)
            taggedParents.push_back(std::string_view(file).substr(0, file.rfind('/')));
        std::sort(taggedParents.begin(), taggedParents.end());
        folderScope.resize(m_data.folderCount());
        for (quint32 folder = 0; folder < folderScope.size(); ++folder) {
            const std::string_view path = m_data.folderPath(folder);
            if (scope.kind == Scope::Kind::Folder) {
                folderScope[folder] = FilePaths::isAtOrBelow(path, scope.folder);
                continue;
            }
            const bool inside = std::any_of(
                scope.folders.begin(), scope.folders.end(),
                [&](const std::string &tagged) { return FilePaths::isAtOrBelow(path, tagged); });
            const std::string_view asParent = path == "/" ? std::string_view() : path;
            folderScope[folder] =
                inside ? 1
                       : (std::binary_search(taggedParents.begin(), taggedParents.end(), asParent)
                              ? 2
                              : 0);
        }
    }
    const auto inScope = [&](size_t entry) {
        if (folderScope.empty())
            return true;
        const char state = folderScope[m_data.entryFolder[entry]];
        if (state != 2)
            return state == 1;
        return std::binary_search(scope.files.begin(), scope.files.end(), path(entry));
    };

    if (terms.empty()) {
        for (size_t entry = 0; entry < size(); ++entry) {
            if ((entry + 1) % 8192 == 0 && flag.isCancelled())
                return {};
            if (inScope(entry) && accept(quint32(entry)))
                hits.push_back(quint32(entry));
        }
        return flag.isCancelled() ? std::vector<quint32>() : hits;
    }

    const char *base = m_data.folded.data();
    const IndexBuffer<quint32> &starts = m_data.foldedOffsets;
    const size_t count = size();
    const auto namesOf = [&](size_t first, size_t last) {
        return std::string_view(base + starts[first], starts[last] - starts[first]);
    };

    // Scan for the rarest term, judged on slices of names spread over the buffer; each hit is
    // then checked against the other terms and the scope.
    const size_t slices = 16, sliceSize = 1024;
    const std::string *scanTerm = nullptr;
    size_t fewest = 0, sampled = 0;
    std::vector<quint32> sample;
    for (const std::string &term : terms) {
        if (term.empty())
            continue;
        const NameScan scan(term);
        sample.clear();
        sampled = 0;
        for (size_t slice = 0; slice < slices; ++slice) {
            const size_t first = slice * count / slices;
            const size_t last = std::min((slice + 1) * count / slices, first + sliceSize);
            scan.find(namesOf(first, last), first, flag, sample);
            sampled += last - first;
        }
        if (!scanTerm || sample.size() < fewest ||
            (sample.size() == fewest && term.size() > scanTerm->size())) {
            scanTerm = &term;
            fewest = sample.size();
        }
    }
    if (!scanTerm)
        return hits;
    const NameScan scan(*scanTerm);
    const bool filtered = terms.size() > 1 || !folderScope.empty() || accept;
    const auto keep = [&](quint32 entry) {
        const std::string_view name = m_data.foldedName(entry);
        return std::all_of(terms.begin(), terms.end(),
                           [&](const std::string &t) {
                               return &t == scanTerm || name.find(t) != std::string_view::npos;
                           }) &&
               inScope(entry) && (!accept || accept(entry));
    };
    // The entries of [first, last) that pass, appended to `out`; false once cancelled.
    const auto findPart = [&](size_t first, size_t last, std::vector<quint32> &out) {
        const size_t from = out.size();
        if (!scan.find(namesOf(first, last), first, flag, out))
            return false;
        if (!filtered)
            return true;
        size_t kept = from;
        for (size_t i = from; i < out.size(); ++i) {
            if ((i - from + 1) % 8192 == 0 && flag.isCancelled())
                return false;
            if (keep(out[i]))
                out[kept++] = out[i];
        }
        out.resize(kept);
        return true;
    };

    const size_t expected = std::min(count, (fewest + 1) * count / std::max<size_t>(1, sampled));
    hits.reserve(expected + expected / 8);
    // A large buffer is scanned as two halves side by side; the halves' hits, in order, make the
    // whole.
    if (m_data.folded.size() < (size_t(2) << 20)) {
        if (!findPart(0, count, hits))
            return {};
    } else {
        const size_t middle = count / 2;
        std::vector<quint32> later;
        later.reserve((expected + expected / 8) / 2);
        bool laterDone = false;
        std::thread helper([&] { laterDone = findPart(middle, count, later); });
        const bool done = findPart(0, middle, hits);
        helper.join();
        if (!done || !laterDone)
            return {};
        hits.insert(hits.end(), later.begin(), later.end());
    }
    if (flag.isCancelled())
        return {};
    return hits;
}

SampleIndex::SampleIndex()
{
    static std::atomic<quint64> lastId = 0;
    m_id = ++lastId;
}

std::shared_ptr<SampleIndex> SampleIndex::patched(const std::vector<std::string> &folders,
                                                  const std::vector<std::string> &trees,
                                                  const SampleIndex &replacement) const
{
    const Storage &old = m_data;
    const Storage &fresh = replacement.m_data;
    std::vector<char> dropped(old.folderCount());
    for (quint32 folder = 0; folder < dropped.size(); ++folder) {
        const std::string_view path = old.folderPath(folder);
        dropped[folder] = std::find(folders.begin(), folders.end(), path) != folders.end() ||
                          std::any_of(trees.begin(), trees.end(), [&](const std::string &tree) {
                              return FilePaths::isAtOrBelow(path, tree);
                          });
    }

    std::shared_ptr<SampleIndex> index(new SampleIndex);
    Storage &out = index->m_data;
    out.reserve(old.size() + fresh.size(), old.names.size() + fresh.names.size());
    Lineage &lineage = index->m_lineage;
    lineage.parent = m_id;
    // Old entries keep their folder ids, so runs of them are copied whole; a listed folder that
    // the index knew takes its old id again. Folders left without files stay in the table
    // until the next full build.
    out.folderPaths = old.folderPaths;
    out.folderOffsets = old.folderOffsets;
    std::vector<quint32> freshIds(fresh.folderCount());
    for (quint32 folder = 0; folder < freshIds.size(); ++folder) {
        const std::string_view path = fresh.folderPath(folder);
        quint32 known = 0;
        while (known < old.folderCount() && !(dropped[known] && old.folderPath(known) == path))
            ++known;
        freshIds[folder] = known < old.folderCount() ? known : out.addFolder(path);
    }
    // Copies the old entries [first, last), leaving out those of dropped folders.
    const auto copyOld = [&](size_t first, size_t last) {
        while (first < last) {
            while (first < last && dropped[old.entryFolder[first]])
                lineage.removed.push_back(quint32(first++));
            size_t end = first;
            while (end < last && !dropped[old.entryFolder[end]])
                ++end;
            if (end == first)
                break;
            lineage.copied.push_back({out.size(), first, end - first});
            out.entryFolder.append(old.entryFolder, first, end - first);
            const auto copyText = [&](const IndexBuffer<char> &from,
                                      const IndexBuffer<quint32> &offsets, IndexBuffer<char> &to,
                                      IndexBuffer<quint32> &toOffsets) {
                const quint32 start = offsets[first];
                const quint32 shift = quint32(to.size()) - start; // wraps, and back again
                to.append(from, start, offsets[end] - start);
                const size_t at = toOffsets.size();
                toOffsets.resize(at + (end - first));
                std::transform(offsets.begin() + ptrdiff_t(first + 1),
                               offsets.begin() + ptrdiff_t(end + 1), toOffsets.mutableData() + at,
                               [shift](quint32 offset) { return offset + shift; });
            };
            copyText(old.names, old.nameOffsets, out.names, out.nameOffsets);
            copyText(old.folded, old.foldedOffsets, out.folded, out.foldedOffsets);
            first = end;
        }
    };

    const Order oldOrder(old, Order::Lookup);
    const Order freshOrder(fresh, Order::Lookup);
    size_t next = 0;
    for (size_t f = 0; f < fresh.size(); ++f) {
        // Old entries before this one: found by binary search, so a patch of a few files costs
        // one pass of copying, not one comparison per old entry.
        size_t low = next, high = old.size();
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            if (oldOrder.compare(mid, freshOrder, f) <= 0)
                low = mid + 1;
            else
                high = mid;
        }
        copyOld(next, low);
        next = low;
        if (out.append(freshIds[fresh.entryFolder[f]], fresh.name(f), fresh.foldedName(f)))
            lineage.added.push_back(quint32(out.size() - 1));
    }
    copyOld(next, old.size());
    return index;
}

std::vector<quint32>
SampleIndex::entriesInFolders(const std::function<bool(std::string_view)> &inside,
                              const CancelFlag &flag) const
{
    std::vector<char> accepted(m_data.folderCount());
    for (quint32 folder = 0; folder < accepted.size(); ++folder)
        accepted[folder] = inside(m_data.folderPath(folder));
    if (flag.isCancelled())
        return {};
    std::vector<quint32> entries;
    for (size_t entry = 0; entry < size(); ++entry) {
        if (accepted[m_data.entryFolder[entry]])
            entries.push_back(quint32(entry));
    }
    return entries;
}

std::optional<size_t> SampleIndex::find(const QString &path) const
{
    const QByteArray bytes = path.toUtf8();
    const std::string_view full(bytes.constData(), size_t(bytes.size()));
    const size_t slash = full.rfind('/');
    if (slash == std::string_view::npos || isEmpty())
        return std::nullopt;
    const QByteArray folded = fold(FilePaths::lastComponent(path)).toUtf8();
    Storage probe;
    probe.append(probe.addFolder(slash == 0 ? full.substr(0, 1) : full.substr(0, slash)),
                 full.substr(slash + 1),
                 std::string_view(folded.constData(), size_t(folded.size())));
    const Order mine(m_data, Order::Lookup);
    const Order theirs(probe, Order::Lookup);
    size_t low = 0, high = size();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (mine.compare(mid, theirs, 0) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    // Equal in order is not always equal in bytes (composed and decomposed names).
    for (size_t entry = low; entry < size() && mine.compare(entry, theirs, 0) == 0; ++entry) {
        if (this->path(entry) == full)
            return entry;
    }
    return std::nullopt;
}

void SampleIndex::markCopyOf(const SampleIndex &original)
{
    m_lineage = Lineage();
    m_lineage.parent = original.m_id;
    if (size() > 0)
        m_lineage.copied.push_back({0, 0, size()});
}

std::vector<qint64> SampleIndex::matching(const SampleIndex &older, const CancelFlag &flag) const
{
    std::vector<qint64> matches(size(), -1);
    const Order mine(m_data, Order::Lookup);
    const Order theirs(older.m_data, Order::Lookup);
    if (m_lineage.parent == older.m_id) {
        for (const Lineage::Run &run : m_lineage.copied) {
            for (size_t k = 0; k < run.length; ++k)
                matches[run.first + k] = qint64(run.oldFirst + k);
        }
        // Copied entries keep folders no listed one shares, so a listed file can only be one
        // that was left out; those two short lists are walked as the whole lists would be.
        const std::vector<quint32> &removed = m_lineage.removed;
        size_t other = 0;
        for (const quint32 entry : m_lineage.added) {
            if (other >= removed.size())
                break;
            int order = mine.compare(entry, theirs, removed[other]);
            while (order > 0 && ++other < removed.size())
                order = mine.compare(entry, theirs, removed[other]);
            if (order == 0 && path(entry) == older.path(removed[other]))
                matches[entry] = qint64(removed[other++]);
        }
        return flag.isCancelled() ? std::vector<qint64>() : matches;
    }
    size_t other = 0;
    for (size_t entry = 0; entry < size() && other < older.size(); ++entry) {
        if ((entry + 1) % 8192 == 0 && flag.isCancelled())
            return {};
        int order = mine.compare(entry, theirs, other);
        while (order > 0 && ++other < older.size())
            order = mine.compare(entry, theirs, other);
        if (order == 0 && path(entry) == older.path(other))
            matches[entry] = qint64(other++);
    }
    return matches;
}
