// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>

// Shared by the main thread and exactly one background job. A flag is made anew for every job
// and, once cancelled, stays cancelled.
class CancelFlag final
{
public:
    CancelFlag() = default;
    Q_DISABLE_COPY_MOVE(CancelFlag)

    void cancel() { m_cancelled.store(true, std::memory_order_release); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_cancelled{false};
};

using CancelFlagPtr = std::shared_ptr<CancelFlag>;
