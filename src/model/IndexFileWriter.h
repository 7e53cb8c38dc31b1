// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class SampleIndex;

// Writes the index file (the layout IndexFile describes). Entries are encoded in blocks, two at
// a time on two threads, and streamed out in order; only the offset table is held whole.
class IndexFileWriter final
{
public:
    IndexFileWriter() = delete;

    // Creates the parent folder, encodes, and replaces the file atomically; false on any failure.
    static bool write(const SampleIndex &index, const QString &filePath);
};
