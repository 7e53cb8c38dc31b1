// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

class Preferences;
class TagStore;

// Colour exchange with the file manager's tag attribute. The file work runs on a background job
// over copies; the tag store is read before it and changed after it, on the main thread only; so
// are the tag names the files taught it.
class FinderTagExchange final : public QObject
{
    Q_OBJECT

public:
    struct ExportSummary
    {
        qint64 filesWritten = 0;
        qint64 filesFailed = 0;
        FinderTagSet skippedColors;
    };

    // `tags` may be null: both directions then change nothing.
    FinderTagExchange(Preferences &defaults, TagStore *tags, QObject *parent = nullptr);
    ~FinderTagExchange() override;
    Q_DISABLE_COPY_MOVE(FinderTagExchange)

    // The completions run on the main thread.
    void importTags(const QList<QUrl> &roots, std::function<void(qint64 changed)> completion);
    void exportTags(bool allowDefaultNames, std::function<void(ExportSummary)> completion);

private:
    Preferences &m_defaults;
    TagStore *m_tags;
};
