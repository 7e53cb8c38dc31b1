// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoryPolicy.h"

#include <malloc.h>

void MemoryPolicy::apply()
{
    // The index lives in a few large buffers that are replaced whole on every change. A fixed
    // threshold keeps them in their own mappings, returned to the system when freed; glibc's
    // moving threshold would put them on the heap, where freed space stays resident.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // A fixed threshold also fixes trimming at 128 KiB, so every burst of small allocations
    // (the nodes of a large folder being opened) would fault in fresh pages. A few MiB kept at
    // the heap's top serve the next burst.
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
}

void MemoryPolicy::releaseFreeMemory()
{
    malloc_trim(0);
}
