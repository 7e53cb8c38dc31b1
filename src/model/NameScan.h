// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"

#include <QtGlobal>

#include <string>
#include <string_view>
#include <vector>

// Finds the names that contain one term in a buffer of NUL-terminated names, in one pass.
//
// A million names are tens of megabytes, so the pass looks at 64 bytes at a time: one vector
// compare each for the term's first byte, its last byte and NUL. Names are counted by their NULs
// as the pass goes, so a hit costs no lookup in an offset table, and once a name has hit, the
// rest of it is skipped. AVX2 is used when the processor has it, SSE2 otherwise; elsewhere a
// plain search per name.
class NameScan final
{
public:
    enum class Method
    {
        Fastest, // the widest vectors this processor has
        Sse2,
        PerName
    };

    // An empty term is in every name; one holding a NUL is in none. Every method finds the same.
    explicit NameScan(std::string_view term, Method method = Method::Fastest);

    // Appends to `hits` the number of every name in `names` that contains the term, counting the
    // first name as `firstEntry`, in order. `names` holds whole names, each followed by a NUL.
    // Reads `flag` whenever the count passes a multiple of 8192, and returns false as soon as it
    // is cancelled (`hits` then holds part of the answer).
    bool find(std::string_view names, size_t firstEntry, const CancelFlag &flag,
              std::vector<quint32> &hits) const;

private:
    std::string m_term;
    Method m_method;
};
