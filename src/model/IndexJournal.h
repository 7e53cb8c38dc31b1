// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SampleIndex.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

// Live changes to the index since its file was last written, appended as they come: a new file
// in a million costs a few hundred bytes on disk, not a new index file. Like the snapshot, it
// names the index file it extends (device, inode, size, modification time) and is ignored once
// that file has been replaced. A record cut short (a crash in the middle of an append) ends it,
// so a reader gets every change before that one.
class IndexJournal final
{
public:
    IndexJournal() = delete;

    // The files directly in `folders` and everything below `trees` became the entries of
    // `replacement` (as SampleIndex::patched() takes them).
    struct Change
    {
        std::vector<std::string> folders;
        std::vector<std::string> trees;
        std::shared_ptr<const SampleIndex> replacement;
    };

    static QString filePathFor(const QString &indexFilePath);
    // An empty journal for the index file as it is on disk now, replacing any other; false on
    // any failure.
    static bool start(const QString &indexFilePath);
    // No journal, for an index file that no longer holds what the journal extended.
    static void discard(const QString &indexFilePath);
    // Appends `change` in one write; false when no journal extends the index file as it is now,
    // or on any failure (the journal is then left as it was).
    static bool append(const QString &indexFilePath, const Change &change);
    // `index`, read from the index file as it is now, with the journal's changes from byte
    // `from` on (0: all) applied in order; `index` itself when there are none. All changes are
    // merged first, so that the large index is patched once however long the journal is.
    // `end`, when given, is set to where the last change read ends.
    static std::shared_ptr<SampleIndex> replay(const QString &indexFilePath,
                                               std::shared_ptr<SampleIndex> index, quint64 from = 0,
                                               quint64 *end = nullptr);
};
