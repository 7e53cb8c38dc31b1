#pragma once

#include "CancelFlag.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The in-memory sample index: every audio file below the roots with its folded name. Immutable
// once built, so a search snapshot is a shared pointer, not a copy.
//
// Paths are stored in one UTF-8 buffer in enumeration order. Folded names are stored in one
// buffer in search order (folded name, then path), each followed by a NUL, so that a query is a
// single scan whose hits come out already sorted.
class SampleIndex final
{
public:
    class Builder final
    {
    public:
        void reserve(size_t entries, size_t pathBytes);
        // `path` is a normalised path, `folded` its folded name; both valid UTF-8.
        void append(std::string_view path, std::string_view folded);
        size_t size() const { return m_pathOffsets.size() - 1; }
        std::shared_ptr<SampleIndex> finish();

    private:
        std::string m_paths;
        std::vector<quint64> m_pathOffsets{0};
        std::string m_folded;
        std::vector<quint64> m_foldedOffsets{0};
    };

    // What a search may return.
    struct Scope
    {
        enum class Kind
        {
            All,
            Folder,
            Tags
        };
        Kind kind = Kind::All;
        std::string folder;               // Folder: a normalised path
        std::vector<std::string> files;   // Tags: tagged file paths, sorted
        std::vector<std::string> folders; // Tags: tagged folder paths, in list order
    };

    size_t size() const { return m_sortedEntry.size(); }
    bool isEmpty() const { return m_sortedEntry.empty(); }
    // In enumeration order.
    std::string_view path(size_t entry) const;
    std::string_view folded(size_t entry) const;
    QString pathString(size_t entry) const;
    // The entry at a position of the search order.
    quint32 entryAt(size_t rank) const;
    // Bytes held, for memory figures.
    size_t memoryUsage() const;

    // Entries whose folded name contains every term and whose path lies in the scope, in search
    // order. Stops early (returning nothing) once `flag` is cancelled; it is read every 8192
    // entries.
    std::vector<quint32> search(const std::vector<std::string> &terms, const Scope &scope,
                                const CancelFlag &flag) const;

private:
    friend class Builder;
    SampleIndex() = default;
    bool inScope(std::string_view path, const Scope &scope) const;

    std::string m_paths;
    std::vector<quint64> m_pathOffsets;
    std::string m_sortedFolded;           // NUL-terminated names in search order
    std::vector<quint64> m_sortedOffsets; // rank -> start in m_sortedFolded (size + 1 entries)
    std::vector<quint32> m_sortedEntry;   // rank -> entry
    std::vector<quint32> m_entryRank;     // entry -> rank
};
