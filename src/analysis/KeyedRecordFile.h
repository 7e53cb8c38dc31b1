// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/AtomicFileWriter.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

// Fixed-size records keyed by 64 bits, in one file sorted by key, so that a lookup is a binary
// search. New records gather in memory until save() merges them in. Another process may save the
// same file meanwhile: a save merges what is on disk first, and of two records of one key the
// newer wins. `Value` has `serializedSize`, `toBytes()` and a static `fromBytes()` that returns
// an optional. One thread.
template <typename Value> class KeyedRecordFile final
{
public:
    using Magic = std::array<char, 8>;
    struct Record
    {
        quint64 key;
        Value value;
    };
    static constexpr qsizetype recordSize = 8 + Value::serializedSize;

    // `filePath` empty: nothing is read or written. `magic` names the layout and the version of
    // what the values mean: a file with another one reads as empty.
    KeyedRecordFile(const QString &filePath, const Magic &magic)
        : m_filePath(filePath), m_magic(magic)
    {}

    const QString &filePath() const { return m_filePath; }

    // A missing or damaged file reads as empty and is replaced at the next save.
    static std::vector<Record> read(const QString &filePath, const Magic &magic)
    {
        std::vector<Record> records;
        QFile file(filePath);
        if (filePath.isEmpty() || !file.open(QIODevice::ReadOnly))
            return records;
        const QByteArray bytes = file.readAll();
        const qsizetype header = qsizetype(magic.size());
        if (bytes.size() < header || std::memcmp(bytes.data(), magic.data(), magic.size()) ||
            (bytes.size() - header) % recordSize != 0)
            return records;
        const qsizetype count = (bytes.size() - header) / recordSize;
        records.reserve(size_t(count));
        for (qsizetype i = 0; i < count; ++i) {
            const char *at = bytes.constData() + header + i * recordSize;
            const quint64 key = qFromLittleEndian<quint64>(at);
            const std::optional<Value> value =
                Value::fromBytes(QByteArrayView(at + 8, Value::serializedSize));
            if (!value || (!records.empty() && records.back().key >= key))
                return {};
            records.push_back({key, *value});
        }
        return records;
    }

    void load() { m_records = read(m_filePath, m_magic); }

    std::optional<Value> find(quint64 key) const
    {
        for (auto it = m_added.rbegin(); it != m_added.rend(); ++it) {
            if (it->key == key)
                return it->value;
        }
        return findIn(m_records, key);
    }
    static std::optional<Value> findIn(const std::vector<Record> &sorted, quint64 key)
    {
        const auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                                         [](const Record &r, quint64 k) { return r.key < k; });
        if (it != sorted.end() && it->key == key)
            return it->value;
        return std::nullopt;
    }

    void insert(quint64 key, const Value &value) { m_added.push_back({key, value}); }
    // Records not yet saved.
    qsizetype pending() const { return qsizetype(m_added.size()); }
    // Records held, a key counted twice while its newer record is not saved.
    qsizetype size() const { return qsizetype(m_records.size() + m_added.size()); }

    // Replaces the file atomically; false when it could not be written (the records stay in
    // memory).
    bool save()
    {
        if (m_filePath.isEmpty())
            return false;
        std::vector<Record> records = read(m_filePath, m_magic);
        mergeInto(records, m_records);
        mergeInto(records, m_added);
        QByteArray bytes;
        bytes.reserve(qsizetype(m_magic.size()) + qsizetype(records.size()) * recordSize);
        bytes.append(m_magic.data(), qsizetype(m_magic.size()));
        for (const Record &record : records) {
            char key[8];
            qToLittleEndian(record.key, key);
            bytes.append(key, 8);
            bytes.append(record.value.toBytes());
        }
        if (AtomicFileWriter::writeFile(m_filePath, bytes) != 0)
            return false;
        m_records = std::move(records);
        m_added.clear();
        return true;
    }

private:
    static void mergeInto(std::vector<Record> &sorted, std::vector<Record> added)
    {
        // The newest record of a key wins: a stable sort keeps insertion order among equal keys.
        std::stable_sort(added.begin(), added.end(),
                         [](const Record &a, const Record &b) { return a.key < b.key; });
        std::vector<Record> merged;
        merged.reserve(sorted.size() + added.size());
        auto a = sorted.begin();
        auto b = added.begin();
        while (a != sorted.end() || b != added.end()) {
            if (b == added.end() || (a != sorted.end() && a->key < b->key)) {
                merged.push_back(*a++);
                continue;
            }
            const quint64 key = b->key;
            while (std::next(b) != added.end() && std::next(b)->key == key)
                ++b;
            merged.push_back(*b++);
            if (a != sorted.end() && a->key == key)
                ++a;
        }
        sorted = std::move(merged);
    }

    QString m_filePath;
    Magic m_magic;
    std::vector<Record> m_records; // sorted by key, unique
    std::vector<Record> m_added;   // newest last
};
