// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundFacts.h"

#include <QString>

#include <optional>
#include <vector>

// What was learnt of each file, kept across runs and keyed by the file's identity (device,
// inode, size and modification time), not its path: a moved file keeps its facts and an edited
// one is analysed again. The file is 16 bytes a record, sorted, so a lookup is a binary search.
// One thread; the worker process is its one writer.
class SoundCache final
{
public:
    // `filePath` empty: nothing is read or written.
    explicit SoundCache(const QString &filePath);
    Q_DISABLE_COPY_MOVE(SoundCache)

    static QString defaultFilePath();

    // The identity of the file at `path` (stat, links followed); absent when it cannot be read.
    static std::optional<quint64> keyOf(const QByteArray &path);

    // Reads the file; a missing or corrupt one reads as empty and is replaced at the next save.
    void load();
    std::optional<SoundFacts> find(quint64 key) const;
    void insert(quint64 key, const SoundFacts &facts);
    // Records not yet saved.
    qsizetype pending() const { return qsizetype(m_added.size()); }
    qsizetype size() const { return qsizetype(m_records.size() + m_added.size()); }
    // Merges what another writer saved meanwhile and replaces the file atomically; false when
    // the file could not be written (the records stay in memory).
    bool save();

private:
    struct Record
    {
        quint64 key;
        SoundFacts facts;
    };
    static std::vector<Record> read(const QString &filePath);
    static void mergeInto(std::vector<Record> &sorted, std::vector<Record> added);

    QString m_filePath;
    std::vector<Record> m_records; // sorted by key, unique
    std::vector<Record> m_added;   // newest last
};
