// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SampleIndex.h"

#include "analysis/DescriptorTable.h"
#include "analysis/TimbreStore.h"

#include <QDateTime>

#include <functional>
#include <memory>
#include <vector>

class CancelFlag;

// What every entry of one index sounds like, in the index's order: the descriptors a similar-sound
// search scans and the fingerprints that find copies. Built from the timbre store when a search
// first asks, and shared read-only by the searches after it.
class TimbreTable final
{
public:
    using Include = std::function<bool(quint32 entry)>;

    // Null when cancelled. `storeFile` missing or damaged: no entry is known.
    static std::shared_ptr<const TimbreTable> build(std::shared_ptr<const SampleIndex> index,
                                                    const QString &storeFile,
                                                    const CancelFlag &flag);
    // The key the timbre of `entry` is stored under.
    static quint64 pathKey(const SampleIndex &index, size_t entry);

    const std::shared_ptr<const SampleIndex> &index() const { return m_index; }
    // When the store was last written, as it was read.
    const QDateTime &storeModified() const { return m_storeModified; }
    SoundDescriptor descriptor(quint32 entry) const { return m_descriptors.at(qsizetype(entry)); }
    quint64 audioHash(quint32 entry) const { return m_audioHashes[entry]; }
    size_t memoryUsage() const;

    // The `count` entries that sound most like `query`, nearest first, among those `include`
    // accepts (all when empty).
    std::vector<quint32> nearest(const SoundDescriptor &query, qsizetype count,
                                 const Include &include, const CancelFlag &flag) const;
    // Entries whose decoded audio is identical, among those `include` accepts: each group in
    // index order, the groups in the order of their first entries. Empty when cancelled.
    std::vector<std::vector<quint32>> copies(const Include &include, const CancelFlag &flag) const;

private:
    TimbreTable() = default;

    std::shared_ptr<const SampleIndex> m_index;
    QDateTime m_storeModified;
    DescriptorTable m_descriptors;
    std::vector<quint64> m_audioHashes; // 0: not known
};
