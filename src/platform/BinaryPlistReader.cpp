// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinaryPlistReader.h"

#include "BinaryPlist.h"

#include <QDateTime>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr qsizetype kHeaderSize = 8;
constexpr qsizetype kTrailerSize = 32;
constexpr int kMaxDepth = 512;

quint64 loadBigEndian(const uchar *p, int width)
{
    switch (width) {
    case 1:
        return p[0];
    case 2:
        return qFromBigEndian<quint16>(p);
    case 4:
        return qFromBigEndian<quint32>(p);
    case 8:
        return qFromBigEndian<quint64>(p);
    default:
        break;
    }
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | p[i];
    return value;
}

void fail(QString *error, const char *reason)
{
    if (error)
        *error = QString::fromLatin1(reason);
}

// Fills `out` with `count` references of `width` bytes; the switch stays out of the loop because
// index files hold millions of them.
void loadRefs(const uchar *p, quint64 count, int width, quint64 *out)
{
    switch (width) {
    case 1:
        for (quint64 i = 0; i < count; ++i)
            out[i] = p[i];
        return;
    case 2:
        for (quint64 i = 0; i < count; ++i)
            out[i] = qFromBigEndian<quint16>(p + 2 * i);
        return;
    case 4:
        for (quint64 i = 0; i < count; ++i)
            out[i] = qFromBigEndian<quint32>(p + 4 * i);
        return;
    default:
        for (quint64 i = 0; i < count; ++i)
            out[i] = loadBigEndian(p + i * unsigned(width), width);
        return;
    }
}

} // namespace

struct BinaryPlistReader::DecodeState
{
    std::vector<quint64> containers; // the containers being decoded, outermost first
    quint64 budget = 0;              // objects that may still be decoded
    const char *error = nullptr;
};

std::optional<BinaryPlistReader> BinaryPlistReader::open(QByteArrayView bytes, QString *error)
{
    if (bytes.size() < kHeaderSize + kTrailerSize) {
        fail(error, "too short for a binary property list");
        return std::nullopt;
    }
    if (std::memcmp(bytes.data(), "bplist00", kHeaderSize) != 0) {
        fail(error, "not a binary property list");
        return std::nullopt;
    }
    BinaryPlistReader reader;
    reader.m_bytes = bytes;
    const quint64 trailerStart = quint64(bytes.size() - kTrailerSize);
    const uchar *trailer = reader.data() + trailerStart;
    reader.m_offsetSize = trailer[6];
    reader.m_refSize = trailer[7];
    reader.m_objectCount = qFromBigEndian<quint64>(trailer + 8);
    reader.m_topObject = qFromBigEndian<quint64>(trailer + 16);
    reader.m_offsetTable = qFromBigEndian<quint64>(trailer + 24);
    if (reader.m_offsetSize < 1 || reader.m_offsetSize > 8 || reader.m_refSize < 1 ||
        reader.m_refSize > 8) {
        fail(error, "bad offset or reference size");
        return std::nullopt;
    }
    if (reader.m_objectCount == 0 || reader.m_topObject >= reader.m_objectCount) {
        fail(error, "bad object count or top object");
        return std::nullopt;
    }
    if (reader.m_offsetTable <= quint64(kHeaderSize) || reader.m_offsetTable > trailerStart ||
        reader.m_objectCount >
            (trailerStart - reader.m_offsetTable) / unsigned(reader.m_offsetSize)) {
        fail(error, "offset table out of range");
        return std::nullopt;
    }
    // Every offset is checked once here so that lookups need no checks later.
    const uchar *table = reader.data() + reader.m_offsetTable;
    const int width = reader.m_offsetSize;
    for (quint64 i = 0; i < reader.m_objectCount; ++i) {
        const quint64 offset = loadBigEndian(table + i * unsigned(width), width);
        if (offset < quint64(kHeaderSize) || offset >= reader.m_offsetTable) {
            fail(error, "object offset out of range");
            return std::nullopt;
        }
    }
    return reader;
}

quint64 BinaryPlistReader::ref(quint64 position) const
{
    return loadBigEndian(data() + position, m_refSize);
}

std::optional<BinaryPlistReader::Object> BinaryPlistReader::object(quint64 ref) const
{
    if (ref >= m_objectCount)
        return std::nullopt;
    const quint64 offset =
        loadBigEndian(data() + m_offsetTable + ref * unsigned(m_offsetSize), m_offsetSize);
    const uchar *p = data();
    const quint64 end = m_offsetTable;
    Object result;
    result.marker = p[offset];
    result.content = offset + 1;
    const quint8 high = result.marker >> 4;
    const quint8 low = result.marker & 0x0F;

    // The fixed-size kinds: the content length follows from the marker.
    quint64 fixedLength = 0;
    switch (high) {
    case 0x0:
        if (low == 0x0 || low == 0xF)
            result.type = Type::Null;
        else if (low == 0x8 || low == 0x9)
            result.type = Type::Bool;
        else
            return std::nullopt;
        return result;
    case 0x1:
        if (low > 4)
            return std::nullopt;
        result.type = Type::Integer;
        fixedLength = quint64(1) << low;
        break;
    case 0x2:
        if (low != 2 && low != 3)
            return std::nullopt;
        result.type = Type::Real;
        fixedLength = quint64(1) << low;
        break;
    case 0x3:
        if (low != 3)
            return std::nullopt;
        result.type = Type::Date;
        fixedLength = 8;
        break;
    case 0x8:
        result.type = Type::Uid;
        fixedLength = quint64(low) + 1;
        break;
    default:
        break;
    }
    if (fixedLength != 0) {
        if (fixedLength > end - result.content)
            return std::nullopt;
        result.count = fixedLength;
        return result;
    }

    quint64 unitSize = 1;
    switch (high) {
    case 0x4:
        result.type = Type::Data;
        break;
    case 0x5:
        result.type = Type::AsciiString;
        break;
    case 0x6:
        result.type = Type::Utf16String;
        unitSize = 2;
        break;
    case 0x7:
        result.type = Type::Utf8String;
        break;
    case 0xA:
        result.type = Type::Array;
        unitSize = unsigned(m_refSize);
        break;
    case 0xB:
    case 0xC:
        result.type = Type::Set;
        unitSize = unsigned(m_refSize);
        break;
    case 0xD:
        result.type = Type::Dictionary;
        unitSize = 2 * unsigned(m_refSize);
        break;
    default:
        return std::nullopt;
    }
    result.count = low;
    if (low == 0xF) {
        // The count follows as an integer object of 1, 2, 4 or 8 bytes.
        if (result.content >= end)
            return std::nullopt;
        const quint8 countMarker = p[result.content];
        if ((countMarker >> 4) != 0x1 || (countMarker & 0x0F) > 3)
            return std::nullopt;
        const int width = 1 << (countMarker & 0x0F);
        if (quint64(width) >= end - result.content)
            return std::nullopt;
        result.count = loadBigEndian(p + result.content + 1, width);
        result.content += 1 + unsigned(width);
    }
    if (result.count > (end - result.content) / unitSize)
        return std::nullopt;
    return result;
}

std::optional<quint64> BinaryPlistReader::offsetOf(quint64 ref) const
{
    if (ref >= m_objectCount)
        return std::nullopt;
    return loadBigEndian(data() + m_offsetTable + ref * unsigned(m_offsetSize), m_offsetSize);
}

BinaryPlistReader::Type BinaryPlistReader::type(quint64 ref) const
{
    const std::optional<Object> found = object(ref);
    return found ? found->type : Type::Invalid;
}

std::optional<std::vector<quint64>> BinaryPlistReader::arrayRefs(quint64 ref) const
{
    const std::optional<Object> found = object(ref);
    if (!found || (found->type != Type::Array && found->type != Type::Set))
        return std::nullopt;
    std::vector<quint64> refs(found->count);
    loadRefs(data() + found->content, found->count, m_refSize, refs.data());
    return refs;
}

bool BinaryPlistReader::dictionaryRefs(quint64 ref, std::vector<quint64> &keys,
                                       std::vector<quint64> &values) const
{
    const std::optional<Object> found = object(ref);
    if (!found || found->type != Type::Dictionary) {
        keys.clear();
        values.clear();
        return false;
    }
    keys.resize(found->count);
    values.resize(found->count);
    const uchar *p = data() + found->content;
    loadRefs(p, found->count, m_refSize, keys.data());
    loadRefs(p + found->count * unsigned(m_refSize), found->count, m_refSize, values.data());
    return true;
}

std::optional<QString> BinaryPlistReader::stringOf(const Object &found) const
{
    const char *p = m_bytes.data() + found.content;
    const qsizetype count = qsizetype(found.count);
    switch (found.type) {
    case Type::AsciiString:
        return QString::fromLatin1(p, count);
    case Type::Utf8String:
        return QString::fromUtf8(p, count);
    case Type::Utf16String: {
        QString text(count, Qt::Uninitialized);
        char16_t *out = reinterpret_cast<char16_t *>(text.data());
        for (qsizetype i = 0; i < count; ++i)
            out[i] = qFromBigEndian<quint16>(p + 2 * i);
        return text;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QString> BinaryPlistReader::string(quint64 ref) const
{
    const std::optional<Object> found = object(ref);
    if (!found)
        return std::nullopt;
    return stringOf(*found);
}

std::optional<QByteArrayView> BinaryPlistReader::asciiBytes(quint64 ref) const
{
    const std::optional<Object> found = object(ref);
    if (!found || found->type != Type::AsciiString)
        return std::nullopt;
    return QByteArrayView(m_bytes.data() + found->content, qsizetype(found->count));
}

bool BinaryPlistReader::appendUtf8(quint64 ref, std::string &out) const
{
    const std::optional<Object> found = object(ref);
    if (!found)
        return false;
    const char *p = m_bytes.data() + found->content;
    const size_t count = size_t(found->count);
    switch (found->type) {
    case Type::AsciiString:
        out.append(p, count);
        return true;
    case Type::Utf8String: {
        if (QUtf8StringView(p, qsizetype(count)).isValidUtf8()) {
            out.append(p, count);
        } else {
            const QByteArray clean = QString::fromUtf8(p, qsizetype(count)).toUtf8();
            out.append(clean.constData(), size_t(clean.size()));
        }
        return true;
    }
    case Type::Utf16String: {
        // At most three bytes per unit; written through a pointer, then cut to size.
        const size_t start = out.size();
        out.resize(start + 3 * count);
        char *o = out.data() + start;
        for (size_t i = 0; i < count; ++i) {
            char32_t c = qFromBigEndian<quint16>(p + 2 * i);
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
                const char32_t low = qFromBigEndian<quint16>(p + 2 * (i + 1));
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            if (c >= 0xD800 && c < 0xE000)
                c = 0xFFFD;
            if (c < 0x80) {
                *o++ = char(c);
            } else if (c < 0x800) {
                *o++ = char(0xC0 | (c >> 6));
                *o++ = char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                *o++ = char(0xE0 | (c >> 12));
                *o++ = char(0x80 | ((c >> 6) & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            } else {
                *o++ = char(0xF0 | (c >> 18));
                *o++ = char(0x80 | ((c >> 12) & 0x3F));
                *o++ = char(0x80 | ((c >> 6) & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            }
        }
        out.resize(size_t(o - out.data()));
        return true;
    }
    default:
        return false;
    }
}

std::optional<qint64> BinaryPlistReader::integer(quint64 ref) const
{
    const std::optional<Object> found = object(ref);
    if (!found || found->type != Type::Integer)
        return std::nullopt;
    const uchar *p = data() + found->content;
    switch (found->count) {
    case 1:
    case 2:
    case 4:
        return qint64(loadBigEndian(p, int(found->count)));
    case 8:
        return qFromBigEndian<qint64>(p);
    default: {
        // 16 bytes: accepted when the value fits in 64 bits, signed.
        const quint64 high = qFromBigEndian<quint64>(p);
        const quint64 low = qFromBigEndian<quint64>(p + 8);
        const bool negative = (low >> 63) != 0;
        if ((high == 0 && !negative) || (high == ~quint64(0) && negative))
            return qint64(low);
        return std::nullopt;
    }
    }
}

std::optional<QVariant> BinaryPlistReader::toVariant(quint64 ref, QString *error) const
{
    DecodeState state;
    // Each reference takes at least one byte, so a document without shared containers never
    // decodes more objects than it has bytes; shared ones could otherwise explode exponentially.
    state.budget = quint64(m_bytes.size());
    std::optional<QVariant> result = decode(ref, state);
    if (!result)
        fail(error, state.error ? state.error : "malformed object");
    return result;
}

std::optional<QVariant> BinaryPlistReader::decode(quint64 ref, DecodeState &state) const
{
    if (state.budget == 0) {
        state.error = "too many objects";
        return std::nullopt;
    }
    --state.budget;
    const std::optional<Object> found = object(ref);
    if (!found) {
        state.error = ref >= m_objectCount ? "reference out of range" : "malformed object";
        return std::nullopt;
    }
    const uchar *p = data() + found->content;
    switch (found->type) {
    case Type::Invalid:
        break;
    case Type::Null:
        return QVariant();
    case Type::Bool:
        return QVariant(found->marker == 0x09);
    case Type::Integer: {
        if (found->count == 16) {
            const quint64 high = qFromBigEndian<quint64>(p);
            const quint64 low = qFromBigEndian<quint64>(p + 8);
            if (high == 0 && (low >> 63) != 0)
                return QVariant::fromValue<quint64>(low);
        }
        if (const std::optional<qint64> value = integer(ref))
            return QVariant::fromValue<qint64>(*value);
        state.error = "integer out of range";
        return std::nullopt;
    }
    case Type::Real:
        if (found->count == 4)
            return QVariant(double(std::bit_cast<float>(qFromBigEndian<quint32>(p))));
        return QVariant(std::bit_cast<double>(qFromBigEndian<quint64>(p)));
    case Type::Date: {
        const double seconds = std::bit_cast<double>(qFromBigEndian<quint64>(p));
        // About 300,000 years either way: beyond that the conversion would overflow.
        if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) {
            state.error = "date out of range";
            return std::nullopt;
        }
        const qint64 msecs = qint64(std::llround(seconds * 1000.0)) + BinaryPlist::epochMSecs;
        return QVariant(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
    }
    case Type::Data:
        return QVariant(QByteArray(m_bytes.data() + found->content, qsizetype(found->count)));
    case Type::AsciiString:
    case Type::Utf16String:
    case Type::Utf8String:
        return QVariant(*stringOf(*found));
    case Type::Uid: {
        const quint64 length = found->count;
        for (quint64 i = 0; i + 8 < length; ++i) {
            if (p[i] != 0) {
                state.error = "UID out of range";
                return std::nullopt;
            }
        }
        const int width = int(std::min<quint64>(length, 8));
        return QVariant::fromValue(PlistUid{loadBigEndian(p + length - unsigned(width), width)});
    }
    case Type::Array:
    case Type::Set:
    case Type::Dictionary: {
        if (std::find(state.containers.begin(), state.containers.end(), ref) !=
            state.containers.end()) {
            state.error = "reference cycle";
            return std::nullopt;
        }
        if (state.containers.size() >= kMaxDepth) {
            state.error = "nesting too deep";
            return std::nullopt;
        }
        state.containers.push_back(ref);
        const quint64 refSize = unsigned(m_refSize);
        std::optional<QVariant> result;
        if (found->type == Type::Dictionary) {
            QVariantMap map;
            for (quint64 i = 0; i < found->count; ++i) {
                if (state.budget == 0) {
                    state.error = "too many objects";
                    return std::nullopt;
                }
                --state.budget;
                const quint64 keyRef = this->ref(found->content + i * refSize);
                const std::optional<Object> key = object(keyRef);
                std::optional<QString> name = key ? stringOf(*key) : std::nullopt;
                if (!name) {
                    state.error = "dictionary key is not a string";
                    return std::nullopt;
                }
                std::optional<QVariant> value =
                    decode(this->ref(found->content + (found->count + i) * refSize), state);
                if (!value)
                    return std::nullopt;
                map.insert(*name, std::move(*value));
            }
            result = QVariant(std::move(map));
        } else {
            QVariantList list;
            list.reserve(qsizetype(found->count));
            for (quint64 i = 0; i < found->count; ++i) {
                std::optional<QVariant> value =
                    decode(this->ref(found->content + i * refSize), state);
                if (!value)
                    return std::nullopt;
                list.append(std::move(*value));
            }
            result = QVariant(std::move(list));
        }
        state.containers.pop_back();
        return result;
    }
    }
    state.error = "malformed object";
    return std::nullopt;
}
