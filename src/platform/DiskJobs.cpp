// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DiskJobs.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>

namespace {
// Threads parked on a dead share are never handed back; the bound per share keeps their number
// finite, and healthy shares still find threads. A pool waits for its threads when destroyed,
// and one of them may be inside a call that never returns: this one lives as long as the
// process and ends with it.
QThreadPool &pool()
{
    static QThreadPool *const threads = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(64);
        created->setExpiryTimeout(10'000);
        // Calls that answer are waited for at the end, for a moment; one that never will is not.
        qAddPostRoutine([] { pool().waitForDone(1000); });
        return created;
    }();
    return *threads;
}
} // namespace

DiskJobs::DiskJobs(QObject *parent) : QObject(parent)
{
    m_slowCheck.setInterval(250);
    connect(&m_slowCheck, &QTimer::timeout, this, &DiskJobs::checkSlow);
}

DiskJobs::~DiskJobs() = default;

bool DiskJobs::run(const QString &key, const QString &share, Work work)
{
    if (m_jobs.contains(key))
        return false;
    const bool wasIdle = m_jobs.isEmpty();
    Job &job = m_jobs[key];
    job.share = share;
    job.work = std::move(work);
    job.asked.start();
    if (m_runningPerShare.value(share) < parkedPerShare)
        start(key);
    else
        m_waiting.push_back(key);
    if (!m_slowCheck.isActive())
        m_slowCheck.start();
    if (wasIdle)
        Q_EMIT idleChanged(false);
    return true;
}

void DiskJobs::start(const QString &key)
{
    Job &job = m_jobs[key];
    job.started = true;
    ++m_runningPerShare[job.share];
    QPointer<DiskJobs> self(this);
    pool().start([self, key, work = std::move(job.work)] {
        std::function<void()> apply = work();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, key, apply = std::move(apply)] {
                if (!self)
                    return;
                self->finished(key);
                if (apply)
                    apply();
            },
            Qt::QueuedConnection);
    });
}

void DiskJobs::finished(const QString &key)
{
    const auto it = m_jobs.find(key);
    if (it == m_jobs.end())
        return;
    const QString share = it->share;
    m_jobs.erase(it);
    if (--m_runningPerShare[share] <= 0)
        m_runningPerShare.remove(share);
    startWaiting(share);
    if (m_jobs.isEmpty()) {
        m_slowCheck.stop();
        Q_EMIT idleChanged(true);
    }
}

void DiskJobs::startWaiting(const QString &share)
{
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (m_runningPerShare.value(share) >= parkedPerShare)
            return;
        const auto job = m_jobs.constFind(*it);
        if (job == m_jobs.cend()) {
            it = m_waiting.erase(it);
        } else if (job->share == share) {
            const QString key = *it;
            it = m_waiting.erase(it);
            start(key);
        } else {
            ++it;
        }
    }
}

bool DiskJobs::isSlow(const QString &key) const
{
    const auto it = m_jobs.constFind(key);
    return it != m_jobs.cend() && it->asked.elapsed() >= m_slowAfter.count();
}

void DiskJobs::setSlowAfterForTesting(std::chrono::milliseconds after)
{
    m_slowAfter = after;
    m_slowCheck.setInterval(std::max<int>(10, int(after.count() / 8)));
}

void DiskJobs::checkSlow()
{
    QStringList becameSlow;
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
        if (!it->reportedSlow && it->asked.elapsed() >= m_slowAfter.count()) {
            it->reportedSlow = true;
            becameSlow.append(it.key());
        }
    }
    for (const QString &key : std::as_const(becameSlow))
        Q_EMIT slow(key);
}
