// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AnalysisWorkerProcess.h"
#include "SoundFacts.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>

// The app's side of the analysis worker process: hands it files one after another and reports
// what it learnt. When the worker crashes or outlasts the time limit on a file, that file is
// reported as failed (and recorded so, so that it is not tried at every start), the worker is
// started again and the files after it go on. Main thread; the worker does every disk access.
class AnalysisWorker final : public QObject
{
    Q_OBJECT

public:
    // `program` with `arguments` starts a worker (see AnalysisWorkerProcess). `timeLimit` is the
    // hard limit a file may take before the worker is killed.
    AnalysisWorker(const QString &program, const QStringList &arguments,
                   std::chrono::milliseconds timeLimit, QObject *parent = nullptr);
    ~AnalysisWorker() override;
    Q_DISABLE_COPY_MOVE(AnalysisWorker)

    void analyze(const QString &path);
    // Drops the files not yet handed to the worker, and names them.
    QStringList clearWaiting();
    // Files handed over or waiting.
    qsizetype pending() const { return qsizetype(m_waiting.size() + m_sent.size()); }
    // How often the worker was started again after a crash or an overrun.
    int restarts() const { return m_restarts; }
    // Of the running worker, 0 when none runs.
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

Q_SIGNALS:
    void analysed(const QString &path, const SoundFacts &facts);

private:
    using Request = AnalysisWorkerProcess::Request;
    struct Item
    {
        Request request;
        QString path;
    };
    void ensureProcess();
    void sendMore();
    void readAnswers();
    void processEnded();
    void restartTimer();

    QString m_program;
    QStringList m_arguments;
    std::chrono::milliseconds m_timeLimit;
    std::unique_ptr<QProcess> m_process;
    std::deque<Item> m_waiting;
    std::deque<Item> m_sent; // answered in this order
    QTimer m_limitTimer;
    int m_restarts = 0;
    bool m_unstartable = false;
};
