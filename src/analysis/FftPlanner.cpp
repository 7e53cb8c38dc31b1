// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FftPlanner.h"

#include <fftw3.h>

#include <mutex>

namespace FftPlanner {

void makeThreadSafe()
{
    static std::once_flag once;
    std::call_once(once, [] { fftwf_make_planner_thread_safe(); });
}

} // namespace FftPlanner
