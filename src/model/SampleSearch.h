// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "FileNode.h"
#include "SampleIndex.h"
#include "SoundFactsTable.h"
#include "SoundFilter.h"
#include "TimbreTable.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

// Search over the sample index: by name, for the sounds most like one file, or for copies of the
// same audio; the text, the results and the background job that finds them. The text narrows a
// sound search as it narrows a name search. Where to search (all roots, a folder, the tagged
// items) is decided by its owner each time it runs. What the files sound like is read from the
// timbre store at the first sound search and let go after a few minutes without one. Main
// thread only.
class SampleSearch final : public QObject
{
    Q_OBJECT

public:
    explicit SampleSearch(QObject *parent = nullptr);
    ~SampleSearch() override;
    Q_DISABLE_COPY_MOVE(SampleSearch)

    enum class Mode
    {
        Names,
        Similar, // the sounds most like the query file, nearest first
        Copies,  // files of identical audio, group after group
    };
    static constexpr qsizetype similarCount = 200;

    QString text() const { return m_text; }
    // False when the text was set already.
    bool setText(const QString &text);
    Mode mode() const { return m_mode; }
    // The file a Similar search compares with; empty in the other modes.
    QString queryPath() const { return m_queryPath; }
    // False when nothing changed.
    bool setMode(Mode mode, const QString &queryPath = QString());
    bool isSearching() const { return m_mode != Mode::Names || !m_text.trimmed().isEmpty(); }
    // Where the analysis keeps what files sound like.
    void setTimbreStoreFile(const QString &filePath) { m_timbreStoreFile = filePath; }
    // Whether what the files sound like is held in memory now.
    bool holdsTimbre() const { return m_timbre != nullptr; }
    // How long it is held after the last sound search.
    void setTimbreRelease(std::chrono::milliseconds after) { m_timbreRelease.setInterval(after); }
    // The words of the name search: the text without its sound filters.
    QStringList terms() const;
    // The text holds sound filters ("bpm:120"), which depend on what analysis learnt.
    bool hasSoundFilter() const;
    // `fold` of the text, split at every white-space character, empty pieces dropped.
    static QStringList termsFor(const QString &text);

    const QList<FileNodePtr> &results() const { return m_results; }
    // In Copies mode, the group of each result (0, 0, 1, 1, 1, …); empty otherwise.
    const QList<int> &resultGroups() const { return m_groups; }
    // A search was asked for and its results have not come yet.
    bool isRunning() const { return m_running; }
    // Why the last sound search could not compare anything; empty when it could.
    QString problem() const { return m_problem; }
    // Searches `index` within `scope` after a short pause that lets a burst of triggers collapse
    // into one walk; an earlier search still pending or running is dropped. Sound filters read
    // `facts`, which belong to `factsIndex` (an entry of another index is not analysed yet).
    void run(std::shared_ptr<const SampleIndex> index, SampleIndex::Scope scope,
             std::shared_ptr<const SampleIndex> factsIndex = {}, SoundFactsTable facts = {});

Q_SIGNALS:
    void textChanged();
    void modeChanged();
    void resultsChanged();
    void problemChanged();
    void runningChanged();

private:
    struct Query
    {
        Mode mode = Mode::Names;
        QString queryPath;
        QString storeFile;
        std::shared_ptr<const TimbreTable> timbre; // held from an earlier search, if any
        std::shared_ptr<const SampleIndex> index;
        SampleIndex::Scope scope;
        std::vector<std::string> terms;
        SoundFilter filter;
        bool factsApply = false;
        SoundFactsTable facts;
    };
    struct Found
    {
        QList<FileNodePtr> results;
        QList<int> groups;
        QString problem;
        std::shared_ptr<const TimbreTable> timbre; // set when a sound search read it
    };
    static Found find(const Query &query, const CancelFlag &flag);
    void apply(Found found);
    void setProblem(const QString &problem);
    void setRunning(bool running);

    QString m_text;
    Mode m_mode = Mode::Names;
    QString m_queryPath;
    QString m_timbreStoreFile;
    std::shared_ptr<const TimbreTable> m_timbre;
    QTimer m_timbreRelease;
    QList<FileNodePtr> m_results;
    QList<int> m_groups;
    QString m_problem;
    bool m_running = false;
    CancelFlagPtr m_cancel;
    QTimer m_delay;
    std::function<void()> m_pending;
};
