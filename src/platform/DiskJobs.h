// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>

// File-system calls the window waits for, made on threads of their own. A share may answer late
// or never: a call that has not answered within `slowAfter` is reported so the window can say so,
// and a call that never returns parks one thread for good. At most `parkedPerShare` calls run on
// one share at a time, so a dead share cannot take every thread; the calls behind them wait here,
// not on a thread, and count as unanswered too. One job per key runs at a time: asking again for
// a key already running adds nothing. Main thread only.
class DiskJobs final : public QObject
{
    Q_OBJECT

public:
    static constexpr auto slowAfter = std::chrono::milliseconds(2000);
    static constexpr int parkedPerShare = 4;

    // Runs on a job thread; returns what the main thread then does with the result. The returned
    // function is dropped if this object is gone by then.
    using Work = std::function<std::function<void()>()>;

    explicit DiskJobs(QObject *parent = nullptr);
    ~DiskJobs() override;
    Q_DISABLE_COPY_MOVE(DiskJobs)

    // `share` groups keys that one dead mount would stall together (see FilePaths::shareOf).
    // False when a job for `key` is running or waiting already.
    bool run(const QString &key, const QString &share, Work work);
    bool isPending(const QString &key) const { return m_jobs.contains(key); }
    // Asked and not answered within `slowAfter`.
    bool isSlow(const QString &key) const;
    bool isIdle() const { return m_jobs.isEmpty(); }

    // For tests: a shorter time before a call counts as slow.
    void setSlowAfterForTesting(std::chrono::milliseconds after);

Q_SIGNALS:
    // A key's job has not answered within the time; it is still running.
    void slow(const QString &key);
    void idleChanged(bool idle);

private:
    struct Job
    {
        QString share;
        Work work;
        QElapsedTimer asked;
        bool started = false;
        bool reportedSlow = false;
    };
    void start(const QString &key);
    void finished(const QString &key);
    void startWaiting(const QString &share);
    void checkSlow();

    QHash<QString, Job> m_jobs;
    QHash<QString, int> m_runningPerShare;
    std::deque<QString> m_waiting;
    QTimer m_slowCheck;
    std::chrono::milliseconds m_slowAfter = slowAfter;
};
