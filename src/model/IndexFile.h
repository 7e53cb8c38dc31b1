// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SampleIndex.h"

#include <QByteArrayView>
#include <QString>

#include <memory>

// The index file: a binary property list whose root is an array of dictionaries with the two
// strings "path" and "folded", one per index entry, written in search order. An index that holds
// sound facts adds them to every dictionary as "sound", 8 bytes of data; readers that do not know
// the key pass it by.
class IndexFile final
{
public:
    IndexFile() = delete;

    // Any failure (no file, unreadable, malformed, an element without both strings) reads as an
    // empty index. A snapshot of the file as it is now (IndexSnapshot) is read instead of it;
    // the live changes journaled since it was written (IndexJournal) are applied.
    static std::shared_ptr<SampleIndex> read(const QString &filePath);
    // The same for a document in memory.
    static std::shared_ptr<SampleIndex> readBytes(QByteArrayView bytes);
    // Creates the parent folder, encodes, and replaces the file atomically, then writes its
    // snapshot and starts its journal afresh; false on any failure of the file itself.
    static bool write(const SampleIndex &index, const QString &filePath);
};
