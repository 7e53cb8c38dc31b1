// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "FileSystemChanges.h"
#include "IndexJournal.h"
#include "SampleIndex.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class SerialQueue;

// The sample index of every audio file below the roots and its file on disk: read at start,
// built in the background, patched from live changes, and written without holding up either.
// Main thread only; builds and writes get snapshots.
class SampleLibrary final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isIndexing READ isIndexing NOTIFY isIndexingChanged)

public:
    // `filePath` empty: the default location.
    explicit SampleLibrary(const QString &filePath, QObject *parent = nullptr);
    ~SampleLibrary() override;
    Q_DISABLE_COPY_MOVE(SampleLibrary)

    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    std::shared_ptr<const SampleIndex> index() const { return m_index; }
    bool isIndexing() const { return m_isIndexing; }

    // The stored index, shown until a build finishes.
    void loadFromDisk();
    // A full walk of `roots`; `live` builds come from changes on disk and are written when the
    // disk has rested.
    void build(const QStringList &roots, bool live);
    // Patches the index from what changed below `roots`; lost or uncertain changes rebuild it.
    void update(const QStringList &roots, FileSystemChanges changes);

    // Waits for pending index writes; for tests and shutdown.
    void waitForWrites();
    // How long journaled changes rest before the index file is written whole; for tests.
    void setCompactionDelayForTesting(int milliseconds)
    {
        m_compactionTimer.setInterval(milliseconds);
    }

Q_SIGNALS:
    void isIndexingChanged();
    // An index (stored or freshly built) was applied.
    void indexChanged();

private:
    // A patch and what it changed, from the index it was made from.
    struct Patch
    {
        std::shared_ptr<const SampleIndex> base;
        std::shared_ptr<const SampleIndex> index;
        IndexJournal::Change change;
    };
    enum class Written
    {
        Appended,
        Whole,
        Failed
    };

    void apply(std::shared_ptr<const SampleIndex> index);
    void setIsIndexing(bool indexing);
    void store(bool live);
    void writeWhenRested();
    void storeChange(const Patch &patch);
    void writeNow();
    // On the write queue.
    void writeWhole(const std::shared_ptr<const SampleIndex> &index, const QString &filePath);
    void writeFinished(Written what, const std::shared_ptr<const SampleIndex> &index,
                       std::shared_ptr<const SampleIndex> mapped);
    SerialQueue &writeQueue();

    QString m_filePath;
    std::shared_ptr<const SampleIndex> m_index;
    bool m_isIndexing = false;
    CancelFlagPtr m_cancel; // of the running build or patch
    enum class Job
    {
        None,
        Build,
        Patch
    };
    Job m_job = Job::None;
    FileSystemChanges m_changesInFlight; // of the running patch
    QTimer m_writeTimer;
    bool m_writeDue = false;
    int m_writesRunning = 0;
    qint64 m_lastWriteMs = 0;   // how long the last write took
    QElapsedTimer m_sinceWrite; // since the last write ended
    // What the index file and its journal hold once the queued writes are done, when known.
    std::weak_ptr<const SampleIndex> m_onDisk;
    size_t m_journaled = 0; // entries and places carried by the journal
    QTimer m_compactionTimer;
    QTimer m_burstTimer;
    std::unique_ptr<SerialQueue> m_writeQueue;
};
