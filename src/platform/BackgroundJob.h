// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"

#include <QCoreApplication>
#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

// The one pattern for background work: the job gets copies and a CancelFlag, runs on the thread
// pool, and its value is applied on the owner's thread only while the flag is not cancelled and
// the owner still lives. Nothing of the owner is ever touched off its thread.
namespace BackgroundJob {

enum class Priority
{
    Utility,       // long scans the user did not wait for: lower thread priority
    UserInitiated, // work the user waits for
};

namespace detail {
class PriorityScope final
{
public:
    explicit PriorityScope(Priority priority) : m_previous(QThread::currentThread()->priority())
    {
        QThread::currentThread()->setPriority(
            priority == Priority::Utility ? QThread::LowPriority : QThread::NormalPriority);
    }
    ~PriorityScope()
    {
        // Pool threads start out "inherit", which cannot be set back explicitly.
        QThread::currentThread()->setPriority(
            m_previous == QThread::InheritPriority ? QThread::NormalPriority : m_previous);
    }
    Q_DISABLE_COPY_MOVE(PriorityScope)

private:
    QThread::Priority m_previous;
};
} // namespace detail

// Jobs read the library, and a call to a share that stopped answering may never return. Qt's
// global pool is waited for without end when the application object goes, which would keep the
// app from quitting behind such a call: this pool gets a few seconds, then ends with the process.
inline QThreadPool *pool()
{
    static QThreadPool *const threads = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(QThread::idealThreadCount());
        qAddPostRoutine([] { pool()->waitForDone(3000); });
        return created;
    }();
    return threads;
}

// `work` runs on `threads` (the library's pool by default) and returns a value; `apply` receives it
// on `owner`'s thread. Cancelling `flag` both stops a cooperative `work` and drops its result.
template <typename Work, typename Apply>
void run(QObject *owner, CancelFlagPtr flag, Priority priority, Work &&work, Apply &&apply,
         QThreadPool *threads = pool())
{
    using Result = std::invoke_result_t<Work>;
    QFuture<Result> future =
        QtConcurrent::run(threads, [work = std::forward<Work>(work), priority, flag] {
            detail::PriorityScope scope(priority);
            Result result = work();
            // A superseded result can be large (a list of a million hits):
            // it is freed here rather than on the owner's thread.
            if constexpr (std::is_default_constructible_v<Result>) {
                if (flag->isCancelled())
                    return Result{};
            }
            return result;
        });
    // The watcher is a child of the owner: if the owner goes first, the result is never
    // delivered; the QPointer check covers the owner being torn down while the signal is queued.
    auto *watcher = new QFutureWatcher<Result>(owner);
    QPointer<QObject> guard(owner);
    QObject::connect(
        watcher, &QFutureWatcher<Result>::finished, owner,
        [watcher, guard, flag = std::move(flag), apply = std::forward<Apply>(apply)]() mutable {
            watcher->deleteLater();
            if (!guard || !watcher->future().isValid())
                return;
            if (flag->isCancelled()) {
                // Cancelled after the job's last look at the flag: still not freed here.
                pool()->start(
                    [dropped = std::make_shared<Result>(watcher->future().takeResult())] {});
                return;
            }
            apply(watcher->future().takeResult());
        });
    watcher->setFuture(future);
}

} // namespace BackgroundJob
