// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <span>
#include <vector>

// Streams a bplist00 document: objects are numbered in the order they are written, containers
// refer to objects by those numbers (which may be written later), and the offset table is filled
// on the way. The caller announces the object count first, which fixes the reference width, so
// large documents are written in one pass with no tree in memory.
class BinaryPlistWriter final
{
public:
    explicit BinaryPlistWriter(quint64 objectCount);

    quint64 objectsWritten() const { return m_offsets.size(); }

    void writeNull();
    void writeBool(bool value);
    void writeInteger(qint64 value);
    void writeUnsigned(quint64 value);
    void writeReal(double value);
    void writeFloat(float value);
    void writeDate(const QDateTime &value);
    void writeData(QByteArrayView value);
    // ASCII strings are stored as such, anything else as UTF-16.
    void writeString(QStringView value);
    // `utf8` must be valid UTF-8.
    void writeUtf8String(QByteArrayView utf8);
    void writeUid(quint64 value);
    void writeArray(std::span<const quint64> refs);
    void writeDictionary(std::span<const quint64> keyRefs, std::span<const quint64> valueRefs);

    // Appends the offset table and trailer; every announced object must have been written.
    // Returns the document, or an empty array when the object count does not match.
    QByteArray finish(quint64 topObject);

private:
    void beginObject();
    char *grow(qsizetype bytes);
    void writeMarker(quint8 type, quint64 count);
    void writeRefs(std::span<const quint64> refs);
    void writeUtf16(QStringView value);

    QByteArray m_out; // sized ahead of the document; m_size bytes are written
    char *m_data = nullptr;
    qsizetype m_size = 0;
    std::vector<quint64> m_offsets;
    quint64 m_objectCount = 0;
    int m_refSize = 1;
    // A reference past the announced count or mismatched dictionary halves spoil the document.
    bool m_failed = false;
};
