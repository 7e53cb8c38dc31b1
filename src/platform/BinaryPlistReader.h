// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <optional>
#include <string>
#include <vector>

// Random access to the objects of a bplist00 document held in memory (typically a mapped file),
// without building a tree first. Every accessor checks its reference and bounds and answers
// nothing on malformed data.
class BinaryPlistReader final
{
public:
    enum class Type
    {
        Invalid,
        Null,
        Bool,
        Integer,
        Real,
        Date,
        Data,
        AsciiString,
        Utf16String,
        Utf8String,
        Uid,
        Array,
        Set,
        Dictionary,
    };

    // Validates the header, the trailer and the offset table; nothing when they are malformed.
    // `bytes` must outlive the reader.
    static std::optional<BinaryPlistReader> open(QByteArrayView bytes, QString *error = nullptr);

    quint64 objectCount() const { return m_objectCount; }
    quint64 topObject() const { return m_topObject; }

    Type type(quint64 ref) const;
    // Where an object starts in the document; nothing for a bad reference.
    std::optional<quint64> offsetOf(quint64 ref) const;
    // Element references of an array or set.
    std::optional<std::vector<quint64>> arrayRefs(quint64 ref) const;
    // Key and value references of a dictionary, in stored order.
    bool dictionaryRefs(quint64 ref, std::vector<quint64> &keys,
                        std::vector<quint64> &values) const;
    std::optional<QString> string(quint64 ref) const;
    // The raw bytes of an ASCII string, for fast comparisons against known keys.
    std::optional<QByteArrayView> asciiBytes(quint64 ref) const;
    // Appends a string object as UTF-8 (unpaired surrogates and bad UTF-8 become U+FFFD), with no
    // QString in between; false when `ref` is not a string.
    bool appendUtf8(quint64 ref, std::string &out) const;
    std::optional<qint64> integer(quint64 ref) const;
    // Decodes the object and everything below it; references that form a cycle fail.
    std::optional<QVariant> toVariant(quint64 ref, QString *error = nullptr) const;

private:
    BinaryPlistReader() = default;

    // One object's marker, its element count or byte length, and where its content starts; the
    // content is known to lie inside the object area.
    struct Object
    {
        Type type = Type::Invalid;
        quint8 marker = 0;
        quint64 count = 0;
        quint64 content = 0;
    };
    struct DecodeState;

    const uchar *data() const { return reinterpret_cast<const uchar *>(m_bytes.data()); }
    std::optional<Object> object(quint64 ref) const;
    quint64 ref(quint64 position) const;
    std::optional<QString> stringOf(const Object &object) const;
    std::optional<QVariant> decode(quint64 ref, DecodeState &state) const;

    QByteArrayView m_bytes;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_topObject = 0;
    quint64 m_offsetTable = 0;
};
