// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleIndex.h"

#include "FilePaths.h"
#include "Fold.h"
#include "IndexBuffer.h"
#include "NameScan.h"
#include "SampleIndexOrder.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>

namespace {

constexpr size_t bufferLimit = std::numeric_limits<quint32>::max();

} // namespace

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

bool SampleIndex::Storage::appendAscii(quint32 folder, std::string_view name)
{
    if (names.size() + name.size() > bufferLimit || folded.size() + name.size() + 1 > bufferLimit ||
        size() >= bufferLimit - 1)
        return false;
    entryFolder.push_back(folder);
    names.append(name);
    nameOffsets.push_back(quint32(names.size()));
    const size_t at = folded.size();
    folded.resizeForOverwrite(at + name.size() + 1);
    char *into = folded.mutableData() + at;
    foldAscii(name, into);
    into[name.size()] = '\0';
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

void SampleIndex::Storage::adjoin(const Storage &from)
{
    const size_t before = size(), entries = from.size();
    if (!from.facts.empty() || !facts.empty()) {
        facts.resize(before);
        facts.append(from.facts.data(), from.facts.size());
        facts.resize(before + entries);
    }
    if (folderPaths.size() + from.folderPaths.size() > bufferLimit ||
        names.size() + from.names.size() > bufferLimit ||
        folded.size() + from.folded.size() > bufferLimit || before + entries >= bufferLimit - 1) {
        // Past the limits: entry by entry, as many as fit.
        std::vector<quint32> ids(from.folderCount());
        for (quint32 folder = 0; folder < ids.size(); ++folder)
            ids[folder] = addFolder(from.folderPath(folder));
        for (size_t entry = 0; entry < entries; ++entry)
            append(ids[from.entryFolder[entry]], from.name(entry), from.foldedName(entry));
        if (!facts.empty())
            facts.resize(size());
        return;
    }
    const auto shifted = [](IndexBuffer<quint32> &to, const quint32 *first, size_t count,
                            quint32 by) {
        const size_t at = to.size();
        to.resizeForOverwrite(at + count);
        std::transform(first, first + count, to.mutableData() + at,
                       [by](quint32 value) { return value + by; });
    };
    shifted(entryFolder, from.entryFolder.data(), entries, quint32(folderCount()));
    shifted(folderOffsets, from.folderOffsets.data() + 1, from.folderCount(),
            quint32(folderPaths.size()));
    folderPaths.append(from.folderPaths.data(), from.folderPaths.size());
    shifted(nameOffsets, from.nameOffsets.data() + 1, entries, quint32(names.size()));
    names.append(from.names.data(), from.names.size());
    shifted(foldedOffsets, from.foldedOffsets.data() + 1, entries, quint32(folded.size()));
    folded.append(from.folded.data(), from.folded.size());
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

    Order::Places places;
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
        places = order.places();
    }

    Order::gather(in, places, index->m_data);
    return index;
}

std::array<std::string_view, 3> SampleIndex::pathPieces(size_t entry) const
{
    const std::string_view folder = folderPath(entry);
    return {folder, Order::separatorAfter(folder), name(entry)};
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
