#pragma once

#include "CancelFlag.h"
#include "SampleIndex.h"

#include <QStringList>

#include <memory>

// Walks the roots for audio files: readdir with d_type, links never followed, hidden items and
// everything inside hidden folders skipped. A pure function of its arguments and the disk.
class IndexBuilder final
{
public:
    IndexBuilder() = delete;

    // Entries in enumeration order, root after root (overlapping roots give duplicates). Checks
    // `flag` every 1024 reported items and returns what it has when cancelled.
    static std::shared_ptr<SampleIndex> buildIndex(const QStringList &rootPaths,
                                                   const CancelFlag &flag);
};
