// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "FileNode.h"
#include "SampleIndex.h"
#include "SoundFactsTable.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

// Name search over the sample index: the text, the results and the background job that finds
// them. Where to search (all roots, a folder, the tagged items) is decided by its owner each time
// it runs. Main thread only.
class SampleSearch final : public QObject
{
    Q_OBJECT

public:
    explicit SampleSearch(QObject *parent = nullptr);
    ~SampleSearch() override;
    Q_DISABLE_COPY_MOVE(SampleSearch)

    QString text() const { return m_text; }
    // False when the text was set already.
    bool setText(const QString &text);
    bool isSearching() const { return !m_text.trimmed().isEmpty(); }
    // The words of the name search: the text without its sound filters.
    QStringList terms() const;
    // The text holds sound filters ("bpm:120"), which depend on what analysis learnt.
    bool hasSoundFilter() const;
    // `fold` of the text, split at every white-space character, empty pieces dropped.
    static QStringList termsFor(const QString &text);

    const QList<FileNodePtr> &results() const { return m_results; }
    // Searches `index` within `scope` after a short pause that lets a burst of triggers collapse
    // into one walk; an earlier search still pending or running is dropped. Sound filters read
    // `facts`, which belong to `factsIndex` (an entry of another index is not analysed yet).
    void run(std::shared_ptr<const SampleIndex> index, SampleIndex::Scope scope,
             std::shared_ptr<const SampleIndex> factsIndex = {}, SoundFactsTable facts = {});

Q_SIGNALS:
    void textChanged();
    void resultsChanged();

private:
    void setResults(const QList<FileNodePtr> &results);

    QString m_text;
    QList<FileNodePtr> m_results;
    CancelFlagPtr m_cancel;
    QTimer m_delay;
    std::function<void()> m_pending;
};
