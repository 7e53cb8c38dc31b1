// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinaryPlistWriter.h"

#include "BinaryPlist.h"

#include <QString>
#include <QtEndian>

#include <bit>
#include <cstring>

namespace {

// Seconds between the Unix epoch and 2001-01-01T00:00:00Z, the plist date epoch.

int widthFor(quint64 maxValue)
{
    if (maxValue <= 0xFF)
        return 1;
    if (maxValue <= 0xFFFF)
        return 2;
    if (maxValue <= 0xFFFFFFFFu)
        return 4;
    return 8;
}

void storeBigEndian(char *out, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
}

bool isAscii(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<uchar>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

BinaryPlistWriter::BinaryPlistWriter(quint64 objectCount)
    : m_objectCount(objectCount), m_refSize(widthFor(objectCount > 0 ? objectCount - 1 : 0))
{
    // The announced count is only a hint for the first allocation: the caller may be wrong.
    const quint64 expected = std::min<quint64>(objectCount, quint64(1) << 24);
    m_offsets.reserve(expected);
    m_out.resize(qsizetype(64 + expected * 16));
    m_data = m_out.data();
    std::memcpy(grow(8), "bplist00", 8);
}

char *BinaryPlistWriter::grow(qsizetype bytes)
{
    // The buffer is kept larger than the document, so most objects cost no call into QByteArray.
    const qsizetype old = m_size;
    if (m_out.size() - old < bytes) {
        m_out.resize(std::max(old + bytes, 2 * m_out.size()));
        m_data = m_out.data();
    }
    m_size = old + bytes;
    return m_data + old;
}

void BinaryPlistWriter::beginObject()
{
    m_offsets.push_back(quint64(m_size));
}

void BinaryPlistWriter::writeMarker(quint8 type, quint64 count)
{
    if (count < 15) {
        *grow(1) = static_cast<char>((type << 4) | count);
        return;
    }
    const int width = widthFor(count);
    char *out = grow(2 + width);
    out[0] = static_cast<char>((type << 4) | 0x0F);
    out[1] = static_cast<char>(0x10 | std::countr_zero(unsigned(width)));
    storeBigEndian(out + 2, count, width);
}

void BinaryPlistWriter::writeNull()
{
    beginObject();
    *grow(1) = 0x00;
}

void BinaryPlistWriter::writeBool(bool value)
{
    beginObject();
    *grow(1) = value ? 0x09 : 0x08;
}

void BinaryPlistWriter::writeInteger(qint64 value)
{
    if (value >= 0) {
        writeUnsigned(quint64(value));
        return;
    }
    // 1, 2 and 4-byte integers are unsigned in this format: negative ones take 8 bytes.
    beginObject();
    char *out = grow(9);
    out[0] = 0x13;
    storeBigEndian(out + 1, quint64(value), 8);
}

void BinaryPlistWriter::writeUnsigned(quint64 value)
{
    beginObject();
    if (value > quint64(std::numeric_limits<qint64>::max())) {
        // 8-byte integers are signed, so larger values take the 16-byte form.
        char *out = grow(17);
        out[0] = 0x14;
        std::memset(out + 1, 0, 8);
        storeBigEndian(out + 9, value, 8);
        return;
    }
    const int width = widthFor(value);
    char *out = grow(1 + width);
    out[0] = static_cast<char>(0x10 | std::countr_zero(unsigned(width)));
    storeBigEndian(out + 1, value, width);
}

void BinaryPlistWriter::writeReal(double value)
{
    beginObject();
    char *out = grow(9);
    out[0] = 0x23;
    storeBigEndian(out + 1, std::bit_cast<quint64>(value), 8);
}

void BinaryPlistWriter::writeFloat(float value)
{
    beginObject();
    char *out = grow(5);
    out[0] = 0x22;
    storeBigEndian(out + 1, std::bit_cast<quint32>(value), 4);
}

void BinaryPlistWriter::writeDate(const QDateTime &value)
{
    beginObject();
    const double seconds = double(value.toMSecsSinceEpoch() - BinaryPlist::epochMSecs) / 1000.0;
    char *out = grow(9);
    out[0] = 0x33;
    storeBigEndian(out + 1, std::bit_cast<quint64>(seconds), 8);
}

void BinaryPlistWriter::writeData(QByteArrayView value)
{
    beginObject();
    writeMarker(0x4, quint64(value.size()));
    if (!value.isEmpty())
        std::memcpy(grow(value.size()), value.data(), size_t(value.size()));
}

void BinaryPlistWriter::writeString(QStringView value)
{
    beginObject();
    if (isAscii(value)) {
        writeMarker(0x5, quint64(value.size()));
        char *out = grow(value.size());
        const QChar *in = value.data();
        for (qsizetype i = 0; i < value.size(); ++i)
            out[i] = static_cast<char>(in[i].unicode());
        return;
    }
    writeUtf16(value);
}

void BinaryPlistWriter::writeUtf16(QStringView value)
{
    writeMarker(0x6, quint64(value.size()));
    char *out = grow(value.size() * 2);
    const QChar *in = value.data();
    for (qsizetype i = 0; i < value.size(); ++i)
        qToBigEndian<quint16>(in[i].unicode(), out + 2 * i);
}

void BinaryPlistWriter::writeUtf8String(QByteArrayView utf8)
{
    beginObject();
    // Non-ASCII text goes out as UTF-16: the UTF-8 string marker is not read by every reader.
    if (isAscii(utf8)) {
        writeMarker(0x5, quint64(utf8.size()));
        if (!utf8.isEmpty())
            std::memcpy(grow(utf8.size()), utf8.data(), size_t(utf8.size()));
        return;
    }
    writeUtf16(QString::fromUtf8(utf8));
}

void BinaryPlistWriter::writeUid(quint64 value)
{
    beginObject();
    const int width = widthFor(value);
    char *out = grow(1 + width);
    out[0] = static_cast<char>(0x80 | (width - 1));
    storeBigEndian(out + 1, value, width);
}

void BinaryPlistWriter::writeArray(std::span<const quint64> refs)
{
    beginObject();
    writeMarker(0xA, refs.size());
    writeRefs(refs);
}

void BinaryPlistWriter::writeRefs(std::span<const quint64> refs)
{
    char *out = grow(qsizetype(refs.size()) * m_refSize);
    for (const quint64 ref : refs) {
        if (ref >= m_objectCount)
            m_failed = true;
        storeBigEndian(out, ref, m_refSize);
        out += m_refSize;
    }
}

void BinaryPlistWriter::writeDictionary(std::span<const quint64> keyRefs,
                                        std::span<const quint64> valueRefs)
{
    beginObject();
    if (keyRefs.size() != valueRefs.size()) {
        m_failed = true;
        *grow(1) = static_cast<char>(0xD0);
        return;
    }
    writeMarker(0xD, keyRefs.size());
    writeRefs(keyRefs);
    writeRefs(valueRefs);
}

QByteArray BinaryPlistWriter::finish(quint64 topObject)
{
    if (m_failed || m_offsets.size() != m_objectCount || topObject >= m_objectCount) {
        m_out.clear();
        m_size = 0;
        m_data = nullptr;
        return {};
    }
    const quint64 tableOffset = quint64(m_size);
    const int offsetSize = widthFor(m_offsets.empty() ? 0 : m_offsets.back());
    char *out = grow(qsizetype(m_offsets.size()) * offsetSize + 32);
    for (const quint64 offset : m_offsets) {
        storeBigEndian(out, offset, offsetSize);
        out += offsetSize;
    }
    std::memset(out, 0, 6);
    out[6] = static_cast<char>(offsetSize);
    out[7] = static_cast<char>(m_refSize);
    storeBigEndian(out + 8, m_objectCount, 8);
    storeBigEndian(out + 16, topObject, 8);
    storeBigEndian(out + 24, tableOffset, 8);
    m_offsets.clear();
    m_out.truncate(m_size);
    m_size = 0;
    m_data = nullptr;
    return std::exchange(m_out, QByteArray());
}
