// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the process asks the C library for memory; set once at start, before the first large
// allocation.
class MemoryPolicy final
{
public:
    static void apply();
    // Hands memory that is free but still held (between allocations, and in the pools of
    // threads that have finished) back to the system. For after a large structure was replaced.
    static void releaseFreeMemory();
};
