// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// FFTW's planner is one per process and not thread-safe by itself, and aubio plans its own
// transforms with it besides ours, on whatever thread analyses.
namespace FftPlanner {

// Makes the planner safe for every thread; call before the first plan (aubio's included).
void makeThreadSafe();

} // namespace FftPlanner
