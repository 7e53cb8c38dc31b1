#include "SampleIndex.h"

#include "Fold.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

std::string composed(std::string_view text)
{
    const QByteArray nfc = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                               .normalized(QString::NormalizationForm_C)
                               .toUtf8();
    return std::string(nfc.constData(), static_cast<size_t>(nfc.size()));
}

// The first eight bytes, big-endian, so that most comparisons during the sort are integers.
quint64 prefixKey(std::string_view text)
{
    unsigned char bytes[8] = {};
    std::memcpy(bytes, text.data(), std::min<size_t>(8, text.size()));
    return qFromBigEndian<quint64>(bytes);
}

bool isAtOrBelow(std::string_view path, std::string_view folder)
{
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0)
        return false;
    if (path.size() == folder.size())
        return true;
    return folder == "/" || path[folder.size()] == '/';
}

} // namespace

void SampleIndex::Builder::reserve(size_t entries, size_t pathBytes)
{
    m_paths.reserve(pathBytes);
    m_pathOffsets.reserve(entries + 1);
    m_folded.reserve(pathBytes / 3);
    m_foldedOffsets.reserve(entries + 1);
}

void SampleIndex::Builder::append(std::string_view path, std::string_view folded)
{
    m_paths.append(path);
    m_pathOffsets.push_back(m_paths.size());
    m_folded.append(folded);
    m_foldedOffsets.push_back(m_folded.size());
}

std::shared_ptr<SampleIndex> SampleIndex::Builder::finish()
{
    std::shared_ptr<SampleIndex> index(new SampleIndex);
    const size_t count = size();
    auto foldedOf = [this](size_t i) {
        return std::string_view(m_folded).substr(m_foldedOffsets[i],
                                                 m_foldedOffsets[i + 1] - m_foldedOffsets[i]);
    };
    auto pathOf = [this](size_t i) {
        return std::string_view(m_paths).substr(m_pathOffsets[i],
                                                m_pathOffsets[i + 1] - m_pathOffsets[i]);
    };

    struct Key
    {
        quint64 prefix;
        quint32 entry;
    };
    // Paths compare by scalar value after canonical composition (UTF-8 byte order is scalar
    // order). Only entries with equal folded names ever compare paths, so the composed form of a
    // non-ASCII path is made on first use and kept.
    std::vector<std::optional<std::string>> composedPaths(count);
    auto comparablePath = [&](quint32 entry) -> std::string_view {
        const std::string_view raw = pathOf(entry);
        if (isAscii(raw))
            return raw;
        std::optional<std::string> &cached = composedPaths[entry];
        if (!cached)
            cached = composed(raw);
        return *cached;
    };

    std::vector<Key> keys(count);
    for (size_t i = 0; i < count; ++i)
        keys[i] = Key{prefixKey(foldedOf(i)), static_cast<quint32>(i)};
    const auto before = [&](const Key &a, const Key &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        const int byName = foldedOf(a.entry).compare(foldedOf(b.entry));
        if (byName != 0)
            return byName < 0;
        const int byPath = comparablePath(a.entry).compare(comparablePath(b.entry));
        return byPath != 0 ? byPath < 0 : a.entry < b.entry;
    };
    // The index file is stored in search order, so a loaded index usually needs no sort.
    if (!std::is_sorted(keys.begin(), keys.end(), before))
        std::sort(keys.begin(), keys.end(), before);

    index->m_sortedEntry.resize(count);
    index->m_entryRank.resize(count);
    index->m_sortedOffsets.reserve(count + 1);
    index->m_sortedFolded.reserve(m_folded.size() + count);
    for (size_t rank = 0; rank < count; ++rank) {
        const quint32 entry = keys[rank].entry;
        index->m_sortedEntry[rank] = entry;
        index->m_entryRank[entry] = static_cast<quint32>(rank);
        index->m_sortedOffsets.push_back(index->m_sortedFolded.size());
        index->m_sortedFolded.append(foldedOf(entry));
        index->m_sortedFolded.push_back('\0');
    }
    index->m_sortedOffsets.push_back(index->m_sortedFolded.size());
    index->m_paths = std::move(m_paths);
    index->m_pathOffsets = std::move(m_pathOffsets);
    *this = Builder();
    return index;
}

quint32 SampleIndex::entryAt(size_t rank) const
{
    return m_sortedEntry[rank];
}

std::string_view SampleIndex::path(size_t entry) const
{
    return std::string_view(m_paths).substr(m_pathOffsets[entry],
                                            m_pathOffsets[entry + 1] - m_pathOffsets[entry]);
}

std::string_view SampleIndex::folded(size_t entry) const
{
    const quint32 rank = m_entryRank[entry];
    return std::string_view(m_sortedFolded)
        .substr(m_sortedOffsets[rank], m_sortedOffsets[rank + 1] - m_sortedOffsets[rank] - 1);
}

QString SampleIndex::pathString(size_t entry) const
{
    const std::string_view p = path(entry);
    return QString::fromUtf8(p.data(), static_cast<qsizetype>(p.size()));
}

size_t SampleIndex::memoryUsage() const
{
    return m_paths.capacity() + m_pathOffsets.capacity() * sizeof(quint64) +
           m_sortedFolded.capacity() + m_sortedOffsets.capacity() * sizeof(quint64) +
           (m_sortedEntry.capacity() + m_entryRank.capacity()) * sizeof(quint32) +
           sizeof(SampleIndex);
}

bool SampleIndex::inScope(std::string_view path, const Scope &scope) const
{
    switch (scope.kind) {
    case Scope::Kind::All:
        return true;
    case Scope::Kind::Folder:
        return isAtOrBelow(path, scope.folder);
    case Scope::Kind::Tags:
        if (std::binary_search(scope.files.begin(), scope.files.end(), path))
            return true;
        return std::any_of(scope.folders.begin(), scope.folders.end(),
                           [&](const std::string &folder) { return isAtOrBelow(path, folder); });
    }
    return false;
}

std::vector<quint32> SampleIndex::search(const std::vector<std::string> &terms, const Scope &scope,
                                         const CancelFlag &flag) const
{
    std::vector<quint32> hits;
    if (terms.empty() || isEmpty())
        return hits;

    const char *base = m_sortedFolded.data();
    const size_t total = m_sortedFolded.size();

    // Scan the whole name buffer for the rarest term, judged on a sample of the names; each hit
    // names one entry, which is then checked against the other terms and the scope.
    const size_t sampleSize = std::min<size_t>(total, 256 * 1024);
    const std::string *scanTerm = nullptr;
    size_t fewest = 0;
    for (const std::string &term : terms) {
        if (term.empty())
            continue;
        size_t count = 0;
        for (const char *p = base, *end = base + sampleSize;
             (p = static_cast<const char *>(memmem(p, size_t(end - p), term.data(), term.size())));
             p += term.size())
            ++count;
        if (!scanTerm || count < fewest || (count == fewest && term.size() > scanTerm->size())) {
            scanTerm = &term;
            fewest = count;
        }
    }
    if (!scanTerm)
        return hits;
    size_t position = 0;
    size_t rank = 0;
    size_t nextCheck = 8192;
    while (position < total) {
        const void *found =
            memmem(base + position, total - position, scanTerm->data(), scanTerm->size());
        if (!found)
            break;
        const size_t offset = static_cast<size_t>(static_cast<const char *>(found) - base);
        // The entry holding `offset`: hits are usually near the last one, so gallop from there.
        size_t step = 1;
        while (rank + step < m_sortedOffsets.size() && m_sortedOffsets[rank + step] <= offset)
            step *= 2;
        const auto first = m_sortedOffsets.begin() + static_cast<ptrdiff_t>(rank + step / 2);
        const auto last = m_sortedOffsets.begin() +
                          static_cast<ptrdiff_t>(std::min(rank + step, m_sortedOffsets.size()));
        rank =
            static_cast<size_t>(std::upper_bound(first, last, offset) - m_sortedOffsets.begin()) -
            1;
        if (rank >= nextCheck) {
            if (flag.isCancelled())
                return {};
            nextCheck = (rank / 8192 + 1) * 8192;
        }
        const std::string_view name(base + m_sortedOffsets[rank],
                                    m_sortedOffsets[rank + 1] - m_sortedOffsets[rank] - 1);
        const bool allTerms = std::all_of(terms.begin(), terms.end(), [&](const std::string &t) {
            return &t == scanTerm || name.find(t) != std::string_view::npos;
        });
        const quint32 entry = m_sortedEntry[rank];
        if (allTerms && inScope(path(entry), scope))
            hits.push_back(entry);
        position = m_sortedOffsets[rank + 1];
        ++rank;
        if (rank >= m_sortedEntry.size())
            break;
    }
    if (flag.isCancelled())
        return {};
    return hits;
}
