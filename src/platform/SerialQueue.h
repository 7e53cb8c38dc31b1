// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QThreadPool>

#include <functional>

// Runs tasks one after another on a single background thread, in the order they were queued.
class SerialQueue final
{
public:
    explicit SerialQueue(const QString &label);
    ~SerialQueue();
    Q_DISABLE_COPY_MOVE(SerialQueue)

    QString label() const { return m_label; }
    void enqueue(std::function<void()> task);
    // Blocks until every queued task has run; for shutdown and tests, never the GUI's hot path.
    void waitForDone();

private:
    QString m_label;
    QThreadPool m_pool;
};
