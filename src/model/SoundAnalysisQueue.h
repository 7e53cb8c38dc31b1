// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "FileSystemChanges.h"
#include "SampleIndex.h"
#include "SoundFactsTable.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

class AnalysisWorker;
class Preferences;

// Which files of the index are analysed next, and what was learnt of each: the file selected and
// the folder in view first, then the rest in index order. Every file goes through the worker
// once a session; the worker's cache makes that instant for files it knows, so a restart resumes
// where the last run stopped. Main thread only; the facts are a table aligned with the index.
class SoundAnalysisQueue final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool paused READ isPaused WRITE setPaused NOTIFY pausedChanged)
    Q_PROPERTY(qint64 doneCount READ doneCount NOTIFY progressChanged)
    Q_PROPERTY(qint64 totalCount READ totalCount NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)

public:
    explicit SoundAnalysisQueue(Preferences &defaults, QObject *parent = nullptr);
    ~SoundAnalysisQueue() override;
    Q_DISABLE_COPY_MOVE(SoundAnalysisQueue)

    // Analysis starts once a worker command is known: `program` with `arguments` (see
    // AnalysisWorkerProcess). `timeLimit` is the wall time a file may take before the worker is
    // killed; generous, as an idle-priority worker may wait long on a busy machine, and the
    // worker limits the processor time of a file itself.
    void startWorker(const QString &program, const QStringList &arguments,
                     std::chrono::milliseconds timeLimit = std::chrono::minutes(5));

    void setIndex(std::shared_ptr<const SampleIndex> index);
    // Files in these folders changed on disk: they go through the worker again (its cache tells
    // an edited file from an untouched one).
    void recheck(const FileSystemChanges &changes);
    // The file the user selected and the folder in view go first.
    void setFocus(const QString &folder, const QString &file);

    bool isPaused() const { return m_paused; }
    void setPaused(bool paused);
    qint64 doneCount() const { return m_done; }
    qint64 totalCount() const { return m_index ? qint64(m_index->size()) : 0; }
    // "Analysing 12,400 of 780,000"; empty when nothing is left to do.
    QString progressText() const;
    static QString progressText(qint64 done, qint64 total, bool paused);

    // The index the facts belong to and a snapshot of them, for a search.
    std::shared_ptr<const SampleIndex> index() const { return m_index; }
    const SoundFactsTable &facts() const { return m_facts; }
    SoundFacts factsFor(const QString &path) const;

Q_SIGNALS:
    void pausedChanged();
    void progressChanged();
    // New facts arrived (at most a few times a second).
    void factsChanged();

private:
    void carryOver(std::shared_ptr<const SampleIndex> index);
    void pump();
    void takeBackWaiting();
    void analysed(const QString &path, const SoundFacts &facts);
    std::optional<quint32> nextEntry();
    static std::vector<quint32> entriesIn(const SampleIndex &index,
                                          const FileSystemChanges &changes, const CancelFlag &flag);
    void uncheck(const std::vector<quint32> &entries);

    Preferences &m_defaults;
    std::unique_ptr<AnalysisWorker> m_worker;
    std::shared_ptr<const SampleIndex> m_index;
    SoundFactsTable m_facts;
    std::vector<bool> m_checked; // went through the worker this session
    qint64 m_done = 0;
    bool m_ready = false; // the facts match m_index
    bool m_paused = false;
    size_t m_cursor = 0;
    std::vector<quint32> m_urgent; // the focus, in order; consumed from the front
    size_t m_urgentNext = 0;
    QHash<QString, quint32> m_inFlight;
    QString m_focusFolder;
    QString m_focusFile;
    CancelFlagPtr m_carryCancel;
    CancelFlagPtr m_focusCancel;
    FileSystemChanges m_recheck; // not yet applied to an index
    QTimer m_notify;
};
