// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeyedRecordFile.h"
#include "Timbre.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// What every analysed file sounds like, kept across runs and keyed by the file's path. The path,
// not the identity the facts are kept by: a similar-sound search needs the timbre of every file of
// the index, and a path is what the index holds, so nothing is asked of the disk to find them.
// 49 bytes a record, read whole only when a similar-sound or duplicate search asks. One thread;
// the analysis worker is its one writer while the app runs.
class TimbreStore final
{
public:
    using Records = std::vector<KeyedRecordFile<Timbre>::Record>;

    // `filePath` empty: nothing is read or written.
    explicit TimbreStore(const QString &filePath);
    Q_DISABLE_COPY_MOVE(TimbreStore)

    // The store that belongs with `filePath` (the worker's facts, a probe's index).
    static QString filePathBeside(const QString &filePath);
    // The key of a path as the file system spells it (FilePaths::encoded).
    static quint64 pathKey(QByteArrayView encodedPath)
    {
        return finishPathKey(continuePathKey(pathKeyStart, encodedPath));
    }
    // The key built piece by piece, so that many paths in one folder hash the folder once.
    static constexpr quint64 pathKeyStart = 0xcbf29ce484222325ull;
    static quint64 continuePathKey(quint64 state, QByteArrayView piece);
    static quint64 finishPathKey(quint64 state);

    // Sorted by key; empty when the file is missing or damaged.
    static Records read(const QString &filePath);
    static std::optional<Timbre> find(const Records &records, quint64 key)
    {
        return KeyedRecordFile<Timbre>::findIn(records, key);
    }

    void load() { m_file.load(); }
    std::optional<Timbre> find(quint64 key) const { return m_file.find(key); }
    void insert(quint64 key, const Timbre &timbre) { m_file.insert(key, timbre); }
    qsizetype pending() const { return m_file.pending(); }
    bool save() { return m_file.save(); }

private:
    KeyedRecordFile<Timbre> m_file;
};
