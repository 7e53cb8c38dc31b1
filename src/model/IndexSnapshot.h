// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SampleIndex.h"

#include <QString>

#include <memory>

// The index as it lies in memory, kept beside the index file so that a start reads a few buffers
// instead of decoding a million dictionaries. It names the index file it was made from (device,
// inode, size, modification time): when that file has changed since, or the snapshot does not
// check out, it is not used and the index file is read as before. Only a cache: losing it costs
// one slower start.
class IndexSnapshot final
{
public:
    IndexSnapshot() = delete;

    static QString filePathFor(const QString &indexFilePath);
    // Writes the snapshot of `index` for the index file as it is on disk now, atomically; false
    // on any failure. `journalBytes`: how much of the file's journal (IndexJournal) the index
    // holds besides the file.
    static bool write(const SampleIndex &index, const QString &indexFilePath,
                      quint64 journalBytes = 0);
    // Null when there is no sound snapshot of the index file as it is now; `journalBytes`, when
    // given, is set to how much of the journal it holds.
    static std::shared_ptr<SampleIndex> read(const QString &indexFilePath,
                                             quint64 *journalBytes = nullptr);
};
