// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TimbreTable.h"

#include "platform/CancelFlag.h"
#include "platform/FilePaths.h"

#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace {

constexpr size_t cancelCheckEntries = 1 << 14;

QByteArrayView view(std::string_view text)
{
    return QByteArrayView(text.data(), qsizetype(text.size()));
}

// The index holds paths as UTF-8; the disk's own spelling differs only where a name is not valid
// UTF-8 or holds the code points that stand for such bytes.
bool spelledAlike(std::string_view text)
{
    const QByteArrayView bytes = view(text);
    return bytes.isValidUtf8() && !bytes.contains("\xEE\xBE") && !bytes.contains("\xEE\xBF");
}

// Keys of many entries: each folder is hashed once.
class KeyMaker final
{
public:
    explicit KeyMaker(const SampleIndex &index) : m_index(index) {}

    quint64 operator()(size_t entry)
    {
        const auto [folder, separator, name] = m_index.pathPieces(entry);
        auto known = m_folders.find(folder.data());
        if (known == m_folders.end()) {
            const std::optional<quint64> state =
                spelledAlike(folder)
                    ? std::optional(TimbreStore::continuePathKey(
                          TimbreStore::continuePathKey(TimbreStore::pathKeyStart, view(folder)),
                          view(separator)))
                    : std::nullopt;
            known = m_folders.emplace(folder.data(), state).first;
        }
        if (known->second && spelledAlike(name))
            return TimbreStore::finishPathKey(
                TimbreStore::continuePathKey(*known->second, view(name)));
        return TimbreStore::pathKey(FilePaths::encoded(m_index.pathString(entry)));
    }

private:
    const SampleIndex &m_index;
    std::unordered_map<const char *, std::optional<quint64>> m_folders;
};

} // namespace

quint64 TimbreTable::pathKey(const SampleIndex &index, size_t entry)
{
    return KeyMaker(index)(entry);
}

std::shared_ptr<const TimbreTable> TimbreTable::build(std::shared_ptr<const SampleIndex> index,
                                                      const QString &storeFile,
                                                      const CancelFlag &flag)
{
    std::shared_ptr<TimbreTable> table(new TimbreTable);
    table->m_storeModified = QFileInfo(storeFile).lastModified();
    const TimbreStore::Records records = TimbreStore::read(storeFile);
    const size_t count = index ? index->size() : 0;
    // Both sides sorted by key and walked once: a binary search per entry would jump about a
    // table of tens of megabytes a million times.
    std::vector<std::pair<quint64, quint32>> keys;
    keys.reserve(records.empty() ? 0 : count);
    KeyMaker keyOf(*index);
    for (size_t entry = 0; entry < count && !records.empty(); ++entry) {
        if (entry % cancelCheckEntries == 0 && flag.isCancelled())
            return nullptr;
        keys.emplace_back(keyOf(entry), quint32(entry));
    }
    std::sort(keys.begin(), keys.end());
    std::vector<const Timbre *> found(count, nullptr);
    auto record = records.begin();
    for (const auto &[key, entry] : keys) {
        while (record != records.end() && record->key < key)
            ++record;
        if (record != records.end() && record->key == key)
            found[entry] = &record->value;
    }
    if (flag.isCancelled())
        return nullptr;
    table->m_descriptors.reserve(qsizetype(count));
    table->m_audioHashes.reserve(count);
    for (const Timbre *timbre : found) {
        table->m_descriptors.append(timbre ? timbre->descriptor() : SoundDescriptor());
        table->m_audioHashes.push_back(timbre ? timbre->audioHash() : 0);
    }
    table->m_index = std::move(index);
    return table;
}

size_t TimbreTable::memoryUsage() const
{
    return sizeof(*this) + size_t(m_descriptors.memoryBytes()) +
           m_audioHashes.capacity() * sizeof(quint64);
}

std::vector<quint32> TimbreTable::nearest(const SoundDescriptor &query, qsizetype count,
                                          const Include &include, const CancelFlag &flag) const
{
    std::vector<quint32> entries;
    if (!query.isValid())
        return entries;
    for (const DescriptorTable::Hit &hit :
         m_descriptors.nearest(query.values(), count, include, &flag))
        entries.push_back(hit.row);
    return entries;
}

std::vector<std::vector<quint32>> TimbreTable::copies(const Include &include,
                                                      const CancelFlag &flag) const
{
    std::vector<std::pair<quint64, quint32>> known;
    for (quint32 entry = 0; entry < quint32(m_audioHashes.size()); ++entry) {
        if (entry % cancelCheckEntries == 0 && flag.isCancelled())
            return {};
        if (m_audioHashes[entry] != 0 && (!include || include(entry)))
            known.emplace_back(m_audioHashes[entry], entry);
    }
    std::sort(known.begin(), known.end());
    std::vector<std::vector<quint32>> groups;
    for (size_t i = 0; i < known.size();) {
        size_t end = i + 1;
        while (end < known.size() && known[end].first == known[i].first)
            ++end;
        if (end - i > 1) {
            std::vector<quint32> &group = groups.emplace_back();
            for (size_t k = i; k < end; ++k)
                group.push_back(known[k].second);
        }
        i = end;
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto &a, const auto &b) { return a.front() < b.front(); });
    return groups;
}
