// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CancelFlag.h"
#include "IndexBuffer.h"
#include "SoundFacts.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The in-memory sample index: every audio file below the roots with its folded name, in search
// order (folded name, then path). Immutable once built, so a search snapshot is a shared pointer,
// not a copy.
//
// A million entries must stay small and scan fast, so nothing is stored per entry but offsets:
// a path is a folder (one table of folder paths, shared by the files of a folder) and a name;
// names and folded names each live in one buffer. Folded names are NUL-terminated, so that a
// query is one scan of one buffer whose hits come out already sorted.
class SampleIndex final
{
    struct Storage
    {
        IndexBuffer<char> folderPaths;
        IndexBuffer<quint32> folderOffsets{0};
        IndexBuffer<quint32> entryFolder;
        IndexBuffer<char> names;
        IndexBuffer<quint32> nameOffsets{0};
        IndexBuffer<char> folded; // each name followed by a NUL
        IndexBuffer<quint32> foldedOffsets{0};
        IndexBuffer<SoundFacts> facts; // empty, or one per entry: what an index file held

        size_t size() const { return entryFolder.size(); }
        size_t folderCount() const { return folderOffsets.size() - 1; }
        std::string_view folderPath(quint32 folder) const
        {
            return std::string_view(folderPaths.data() + folderOffsets[folder],
                                    folderOffsets[folder + 1] - folderOffsets[folder]);
        }
        std::string_view name(size_t entry) const
        {
            return std::string_view(names.data() + nameOffsets[entry],
                                    nameOffsets[entry + 1] - nameOffsets[entry]);
        }
        std::string_view foldedName(size_t entry) const
        {
            return std::string_view(folded.data() + foldedOffsets[entry],
                                    foldedOffsets[entry + 1] - foldedOffsets[entry] - 1);
        }
        quint32 addFolder(std::string_view path);
        bool append(quint32 folder, std::string_view name, std::string_view foldedName);
        bool appendAscii(quint32 folder, std::string_view name);
        void reserve(size_t entries, size_t nameBytes);
        void adjoin(const Storage &from);
        size_t memoryUsage() const;
    };

public:
    // Collects entries in any order; finish() puts them in search order.
    class Builder final
    {
    public:
        void reserve(size_t entries, size_t nameBytes) { m_storage.reserve(entries, nameBytes); }
        // `path` is a normalised folder path; the id it returns names it in append().
        quint32 addFolder(std::string_view path) { return m_storage.addFolder(path); }
        // `name` and `folded` valid UTF-8; an entry that would overflow the buffers is dropped.
        void append(quint32 folder, std::string_view name, std::string_view folded)
        {
            m_storage.append(folder, name, folded);
        }
        // An ASCII `name`, folded here: a walk's commonest case, with no copy in between.
        void appendAscii(quint32 folder, std::string_view name)
        {
            m_storage.appendAscii(folder, name);
        }
        // `path` is a normalised file path, split at its last '/'.
        void append(std::string_view path, std::string_view folded);
        // The same with the facts an index file holds for the entry.
        void append(std::string_view path, std::string_view folded, const SoundFacts &facts);
        // Appends the entries of `other`, whose folders join this builder's.
        void append(const Builder &other);
        // Appends the entries of `other`, whose folders are none of this builder's, buffer by
        // buffer: the parts of a walk listed apart.
        void adjoin(const Builder &other) { m_storage.adjoin(other.m_storage); }
        size_t size() const { return m_storage.size(); }
        std::shared_ptr<SampleIndex> finish();

    private:
        Storage m_storage;
        quint32 folderId(std::string_view path);
        // For append(path): open addressing over folder ids (id + 1, 0 free), keyed by the
        // folder's path in the storage, so a lookup touches one small array and one string.
        std::vector<quint32> m_folderSlots;
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

    // Entries are numbered in search order.
    size_t size() const { return m_data.size(); }
    bool isEmpty() const { return m_data.size() == 0; }
    std::string path(size_t entry) const;
    // The path as folder, separator and name, for writing it out without building it.
    std::array<std::string_view, 3> pathPieces(size_t entry) const;
    QString pathString(size_t entry) const;
    std::string_view folded(size_t entry) const { return m_data.foldedName(entry); }
    std::string_view name(size_t entry) const { return m_data.name(entry); }
    std::string_view folderPath(size_t entry) const
    {
        return m_data.folderPath(m_data.entryFolder[entry]);
    }
    // Bytes held, for memory figures.
    size_t memoryUsage() const;

    // The buffers as they lie in memory, in a fixed order, for a copy that reads back without
    // decoding every entry (IndexSnapshot).
    static constexpr size_t layoutBuffers = 8;
    std::array<QByteArrayView, layoutBuffers> layout() const;
    // The index over buffers that lie in `mapping`, in the order of layout(), which it keeps
    // alive. Null when they do not make a sound index: every offset, folder and fact is
    // checked, the order is taken as it is.
    static std::shared_ptr<SampleIndex>
    fromLayout(const std::shared_ptr<const void> &mapping,
               const std::array<QByteArrayView, layoutBuffers> &buffers);

    // The facts an index file held (all unknown when it held none); not carried by patched().
    bool hasStoredFacts() const { return !m_data.facts.empty(); }
    SoundFacts storedFacts(size_t entry) const
    {
        return m_data.facts.empty() ? SoundFacts() : m_data.facts[entry];
    }

    // The entries whose folder path `inside` accepts, in order; it is asked once per folder.
    // Empty once `flag` is cancelled.
    std::vector<quint32> entriesInFolders(const std::function<bool(std::string_view)> &inside,
                                          const CancelFlag &flag) const;

    // The entry of the file at the normalised `path`, found by binary search.
    std::optional<size_t> find(const QString &path) const;
    // For each entry of this index, the entry of the same path in `older`, or -1. One merge
    // walk, as both are in search order; for an index patched from `older`, only the entries of
    // the replaced folders are compared.
    std::vector<qint64> matching(const SampleIndex &older, const CancelFlag &flag) const;

    // Entries whose folded name contains every term and whose path lies in the scope, in search
    // order. Stops early (returning nothing) once `flag` is cancelled; it is read every 8192
    // entries.
    // `accept`, when given, is asked about every entry that passes the rest; with it, no terms
    // means every entry in the scope. A large index is searched as two halves on two threads,
    // so `accept` may be called from both at once and must only read.
    std::vector<quint32> search(const std::vector<std::string> &terms, const Scope &scope,
                                const CancelFlag &flag,
                                const std::function<bool(quint32)> &accept = {}) const;

    // Marks this index as holding exactly the entries of `original`, in the same order (read
    // back from what was written of it), so that matching() pairs them without comparing.
    void markCopyOf(const SampleIndex &original);

    // This index with the files directly in `folders` and everything below `trees` replaced by
    // the entries of `replacement`, in search order. When `replacement` holds what those folders
    // hold now, the result is what a full build would give.
    std::shared_ptr<SampleIndex> patched(const std::vector<std::string> &folders,
                                         const std::vector<std::string> &trees,
                                         const SampleIndex &replacement) const;

private:
    class Order;
    SampleIndex();

    // What patched() kept of the index it patched, so that the entries it copied over need no
    // comparison to be paired with their old numbers.
    struct Lineage
    {
        quint64 parent = 0; // the patched index's id; 0: none
        struct Run
        {
            size_t first;    // here
            size_t oldFirst; // there
            size_t length;
        };
        std::vector<Run> copied;
        std::vector<quint32> added;   // entries of the replacement, in order
        std::vector<quint32> removed; // old entries left out, in order
    };

    Storage m_data;
    quint64 m_id; // never reused within a process, unlike an address
    Lineage m_lineage;
};
