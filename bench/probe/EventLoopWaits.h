// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

// Waits of the benchmarks and the probe that keep the event loop turning, as the window's own
// loop would while a user waits.
namespace EventLoopWaits {

// False when `done` did not become true within `timeoutMs`.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

inline void spin(int milliseconds)
{
    waitFor([] { return false; }, milliseconds);
}

} // namespace EventLoopWaits
