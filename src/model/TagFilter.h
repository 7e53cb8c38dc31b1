// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "FileNode.h"
#include "FinderTag.h"

#include <QObject>

class TagStore;

// The colour filters of the tree and the search: the active colours and the tagged folders and
// samples below the roots that carry any of them. Main thread only.
class TagFilter final : public QObject
{
    Q_OBJECT

public:
    // `tags` may be null: nothing is ever in scope.
    explicit TagFilter(TagStore *tags, QObject *parent = nullptr);
    ~TagFilter() override;
    Q_DISABLE_COPY_MOVE(TagFilter)

    const FinderTagSet &active() const { return m_active; }
    // False when these were active already.
    bool setActive(const FinderTagSet &filters);
    bool isFiltering() const { return !m_active.isEmpty(); }
    const QList<FileNodePtr> &scopeFolders() const { return m_scopeFolders; }
    const QList<FileNodePtr> &scopeSamples() const { return m_scopeSamples; }
    QString description() const;

    // Finds the tagged items below `roots` again, on a background job for the disk's part.
    void recompute(const QStringList &roots);

Q_SIGNALS:
    void activeChanged();
    void scopeFoldersChanged();
    void scopeSamplesChanged();
    // A recomputation changed the scope.
    void scopeRecomputed();

private:
    void setScope(const QList<FileNodePtr> &folders, const QList<FileNodePtr> &samples);
    void applyScope(const QStringList &folders, const QStringList &files);

    TagStore *m_tags;
    FinderTagSet m_active;
    QList<FileNodePtr> m_scopeFolders;
    QList<FileNodePtr> m_scopeSamples;
    CancelFlagPtr m_cancel;
};
