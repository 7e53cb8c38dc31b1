// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileSignature.h"
#include "WaveformExtractor.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// Waveform peaks kept on disk, one small file per sample, so that a sample seen before shows its
// waveform without being decoded again. An entry is valid only for the path, size and
// modification time it was made from. The folder is bounded: the entries used least recently go
// first. Holds no state but its folder, so any thread may use one instance at the same time.
class PeaksCache final
{
public:
    static constexpr qint64 defaultCapacityBytes = 64 * 1024 * 1024;

    explicit PeaksCache(const QString &directory, qint64 capacityBytes = defaultCapacityBytes);

    // $XDG_CACHE_HOME/Wavelark/peaks (~/.cache/Wavelark/peaks).
    static QString defaultDirectory();

    const QString &directory() const { return m_directory; }
    qint64 capacityBytes() const { return m_capacityBytes; }

    // The stored peaks of `path` as it is now, with the decoded length they span; absent when
    // there are none, they were made from another version of the file or hold another count, or
    // the entry is unreadable. A hit counts as a use for the eviction order.
    std::optional<WaveformExtractor::Overview>
    find(const QString &path, const FileSignature &signature, int count) const;
    // Replaces the entry of `path` atomically, then trims the folder to its capacity.
    bool store(const QString &path, const FileSignature &signature,
               const WaveformExtractor::Overview &overview) const;
    // The file that holds the entry of `path`, whether it exists or not.
    QString entryPath(const QString &path) const;

private:
    void evict() const;

    QString m_directory;
    qint64 m_capacityBytes;
};
