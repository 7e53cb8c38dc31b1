// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeyedRecordFile.h"
#include "SoundFacts.h"

#include <QString>

#include <optional>

// What was learnt of each file, kept across runs and keyed by the file's identity (device,
// inode, size and modification time), not its path: a moved file keeps its facts and an edited
// one is analysed again. 16 bytes a record. One thread; the worker process is its one writer.
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
    void load() { m_file.load(); }
    std::optional<SoundFacts> find(quint64 key) const { return m_file.find(key); }
    void insert(quint64 key, const SoundFacts &facts) { m_file.insert(key, facts); }
    // Records not yet saved.
    qsizetype pending() const { return m_file.pending(); }
    qsizetype size() const { return m_file.size(); }
    // Merges what another writer saved meanwhile and replaces the file atomically; false when
    // the file could not be written (the records stay in memory).
    bool save() { return m_file.save(); }

private:
    KeyedRecordFile<SoundFacts> m_file;
};
