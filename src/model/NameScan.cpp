// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "NameScan.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr size_t checkInterval = 8192;

size_t nextCheckAfter(size_t entry)
{
    return (entry / checkInterval + 1) * checkInterval;
}

// The names from `p` to `end` one by one; `skipFirst` when the first one (begun before `p`) has
// already hit.
bool findPerName(const char *p, const char *end, std::string_view term, size_t entry,
                 bool skipFirst, const CancelFlag &flag, std::vector<quint32> &hits)
{
    size_t nextCheck = nextCheckAfter(entry);
    while (p < end) {
        const void *nul = std::memchr(p, 0, size_t(end - p));
        const char *nameEnd = nul ? static_cast<const char *>(nul) : end;
        if (!skipFirst && std::string_view(p, size_t(nameEnd - p)).find(term) != term.npos)
            hits.push_back(quint32(entry));
        skipFirst = false;
        ++entry;
        p = nameEnd + 1;
        if (entry >= nextCheck) {
            if (flag.isCancelled())
                return false;
            nextCheck = nextCheckAfter(entry);
        }
    }
    return true;
}

#if defined(__x86_64__)

constexpr size_t blockSize = 64;

// Of 64 bytes: which are NUL, and at which the term may start (its first byte there and its last
// byte `lastOffset` further on).
struct BlockMasks
{
    quint64 ends;
    quint64 starts;
};

struct Sse2Lanes
{
    static quint64 equal(const char *p, __m128i byte)
    {
        quint64 mask = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * part));
            mask |= quint64(quint16(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, byte)))) << (16 * part);
        }
        return mask;
    }
    static BlockMasks masks(const char *p, size_t lastOffset, char first, char last)
    {
        return {equal(p, _mm_setzero_si128()),
                equal(p, _mm_set1_epi8(first)) & equal(p + lastOffset, _mm_set1_epi8(last))};
    }
};

struct Avx2Lanes
{
    __attribute__((target("avx2"))) static quint64 equal(const char *p, __m256i byte)
    {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        return quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, byte)))) |
               quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, byte)))) << 32;
    }
    __attribute__((target("avx2"))) static BlockMasks masks(const char *p, size_t lastOffset,
                                                            char first, char last)
    {
        return {equal(p, _mm256_setzero_si256()),
                equal(p, _mm256_set1_epi8(first)) & equal(p + lastOffset, _mm256_set1_epi8(last))};
    }
};

template <typename Lanes>
inline bool findByBlocks(std::string_view names, std::string_view term, size_t entry,
                         const CancelFlag &flag, std::vector<quint32> &hits)
{
    const char *p = names.data();
    const char *const end = p + names.size();
    const size_t lastOffset = term.size() - 1;
    const char first = term.front();
    const char last = term.back();
    bool skip = false; // the name at `p` has hit already
    size_t nextCheck = nextCheckAfter(entry);
    while (size_t(end - p) >= blockSize + lastOffset) {
        auto [ends, starts] = Lanes::masks(p, lastOffset, first, last);
        if (skip) {
            if (ends == 0) {
                p += blockSize;
                continue;
            }
            starts &= ~(ends ^ (ends - 1));
            skip = false;
        }
        while (starts != 0) {
            const int at = std::countr_zero(starts);
            if (lastOffset > 1 && std::memcmp(p + at + 1, term.data() + 1, lastOffset - 1) != 0) {
                starts &= starts - 1;
                continue;
            }
            const quint64 before = (quint64(1) << at) - 1;
            hits.push_back(quint32(entry + size_t(std::popcount(ends & before))));
            // The term holds no NUL, so the name ends after `at`: skip to the next one.
            const quint64 later = ends & ~before;
            if (later == 0) {
                starts = 0;
                skip = true;
            } else {
                starts &= ~(later ^ (later - 1));
            }
        }
        entry += size_t(std::popcount(ends));
        p += blockSize;
        if (entry >= nextCheck) {
            if (flag.isCancelled())
                return false;
            nextCheck = nextCheckAfter(entry);
        }
    }
    return findPerName(p, end, term, entry, skip, flag, hits);
}

__attribute__((target("avx2,popcnt,bmi"), flatten)) bool
findAvx2(std::string_view names, std::string_view term, size_t entry, const CancelFlag &flag,
         std::vector<quint32> &hits)
{
    return findByBlocks<Avx2Lanes>(names, term, entry, flag, hits);
}

bool findSse2(std::string_view names, std::string_view term, size_t entry, const CancelFlag &flag,
              std::vector<quint32> &hits)
{
    return findByBlocks<Sse2Lanes>(names, term, entry, flag, hits);
}

bool hasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
               __builtin_cpu_supports("bmi");
    }();
    return has;
}

#endif

} // namespace

NameScan::NameScan(std::string_view term, Method method) : m_term(term), m_method(method) {}

bool NameScan::find(std::string_view names, size_t firstEntry, const CancelFlag &flag,
                    std::vector<quint32> &hits) const
{
    if (m_term.find('\0') != std::string::npos)
        return !flag.isCancelled();
#if defined(__x86_64__)
    if (!m_term.empty() && m_method != Method::PerName) {
        return m_method == Method::Fastest && hasAvx2()
                   ? findAvx2(names, m_term, firstEntry, flag, hits)
                   : findSse2(names, m_term, firstEntry, flag, hits);
    }
#endif
    return findPerName(names.data(), names.data() + names.size(), m_term, firstEntry, false, flag,
                       hits);
}
