// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "SampleIndex.h"

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

// Walks the roots for audio files: getdents64 with d_type on four threads, links never followed,
// hidden items and everything inside hidden folders skipped. A pure function of its arguments
// and the disk; names are folded on the walking threads.
class IndexBuilder final
{
public:
    IndexBuilder() = delete;

    // Every root in full; overlapping roots give duplicates. Checks `flag` every 1024 reported
    // items and returns what it has when cancelled.
    static std::shared_ptr<SampleIndex> buildIndex(const QStringList &rootPaths,
                                                   const CancelFlag &flag);
    // The walk of buildIndex() alone: its entries in walk order, for finish() to put in search
    // order (benchmarks time the two apart).
    static SampleIndex::Builder walk(const QStringList &rootPaths, const CancelFlag &flag);
    // What a full build would list of the files directly in `folders` and of everything below
    // `trees` (normalised UTF-8 paths), once for every root that takes them in.
    static std::shared_ptr<SampleIndex> buildPart(const QStringList &rootPaths,
                                                  const std::vector<std::string> &folders,
                                                  const std::vector<std::string> &trees,
                                                  const CancelFlag &flag);
    // True when `path` is `root` or below it with no hidden name in between.
    static bool takesIn(std::string_view root, std::string_view path);
};
