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

// The names from `p` to `end` one by one; `firstHit` when the first one (begun before `p`) is
// known to hold the term.
bool findPerName(const char *p, const char *end, std::string_view term, size_t entry, bool firstHit,
                 const CancelFlag &flag, std::vector<quint32> &hits)
{
    size_t nextCheck = nextCheckAfter(entry);
    while (p < end) {
        const void *nul = std::memchr(p, 0, size_t(end - p));
        const char *nameEnd = nul ? static_cast<const char *>(nul) : end;
        if (firstHit || std::string_view(p, size_t(nameEnd - p)).find(term) != term.npos)
            hits.push_back(quint32(entry));
        firstHit = false;
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

// The bytes of a block equal to `byte`, as bits.
struct Sse2Lanes
{
    static quint64 equal(const char *p, char byte)
    {
        quint64 mask = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * part));
            mask |= quint64(quint16(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(byte)))))
                    << (16 * part);
        }
        return mask;
    }
};

struct Avx2Lanes
{
    __attribute__((target("avx2"))) static quint64 equal(const char *p, char byte)
    {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        const __m256i wanted = _mm256_set1_epi8(byte);
        return quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)))) |
               quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)))) << 32;
    }
};

// One byte needs one compare, two bytes a second; longer terms are checked in full where their
// first and last bytes fit.
enum class TermLength
{
    One,
    Two,
    More
};

template <typename Lanes, TermLength length>
inline bool findByBlocks(std::string_view names, std::string_view term, size_t entry,
                         const CancelFlag &flag, std::vector<quint32> &hits)
{
    const char *p = names.data();
    const char *const end = p + names.size();
    const size_t lastOffset = term.size() - 1;
    const char first = term.front();
    const char last = term.back();
    bool openHit = false; // the name open at `p` holds the term
    size_t nextCheck = nextCheckAfter(entry);
    // Hits are written through a pointer, a whole block's worth of room ensured ahead, so that
    // a name costs no branch on whether it hit.
    size_t used = hits.size();
    quint32 *out = nullptr;
    quint32 *limit = nullptr;
    const auto makeRoom = [&] {
        hits.resize(used + std::max<size_t>(4096, used / 4));
        out = hits.data() + used;
        limit = hits.data() + hits.size();
    };
    makeRoom();
    while (size_t(end - p) >= blockSize + lastOffset) {
        const quint64 ends = Lanes::equal(p, '\0');
        quint64 starts = Lanes::equal(p, first);
        if constexpr (length != TermLength::One)
            starts &= Lanes::equal(p + lastOffset, last);
        if constexpr (length == TermLength::More) {
            for (quint64 left = starts; left != 0; left &= left - 1) {
                const int at = std::countr_zero(left);
                if (std::memcmp(p + at + 1, term.data() + 1, lastOffset - 1) != 0)
                    starts &= ~(quint64(1) << at);
            }
        }
        // The term holds no NUL, so a match lies in the name of the first NUL after its start;
        // bit 0 stands for a match of the open name found in an earlier block.
        quint64 pending = starts | quint64(openHit);
        if (pending == 0) {
            entry += size_t(std::popcount(ends));
        } else {
            if (limit - out < ptrdiff_t(blockSize)) {
                used = size_t(out - hits.data());
                makeRoom();
            }
            for (quint64 left = ends; left != 0; left &= left - 1) {
                const quint64 through = left ^ (left - 1);
                *out = quint32(entry++);
                out += (pending & through) != 0;
                pending &= ~through;
            }
            openHit = pending != 0;
        }
        p += blockSize;
        if (entry >= nextCheck) {
            if (flag.isCancelled()) {
                hits.resize(size_t(out - hits.data()));
                return false;
            }
            nextCheck = nextCheckAfter(entry);
        }
    }
    hits.resize(size_t(out - hits.data()));
    return findPerName(p, end, term, entry, openHit, flag, hits);
}

template <TermLength length>
__attribute__((target("avx2,popcnt,bmi"), flatten)) bool
findAvx2(std::string_view names, std::string_view term, size_t entry, const CancelFlag &flag,
         std::vector<quint32> &hits)
{
    return findByBlocks<Avx2Lanes, length>(names, term, entry, flag, hits);
}

template <TermLength length>
bool findSse2(std::string_view names, std::string_view term, size_t entry, const CancelFlag &flag,
              std::vector<quint32> &hits)
{
    return findByBlocks<Sse2Lanes, length>(names, term, entry, flag, hits);
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
        const bool avx2 = m_method == Method::Fastest && hasAvx2();
        switch (m_term.size()) {
        case 1:
            return avx2 ? findAvx2<TermLength::One>(names, m_term, firstEntry, flag, hits)
                        : findSse2<TermLength::One>(names, m_term, firstEntry, flag, hits);
        case 2:
            return avx2 ? findAvx2<TermLength::Two>(names, m_term, firstEntry, flag, hits)
                        : findSse2<TermLength::Two>(names, m_term, firstEntry, flag, hits);
        default:
            return avx2 ? findAvx2<TermLength::More>(names, m_term, firstEntry, flag, hits)
                        : findSse2<TermLength::More>(names, m_term, firstEntry, flag, hits);
        }
    }
#endif
    return findPerName(names.data(), names.data() + names.size(), m_term, firstEntry, false, flag,
                       hits);
}
