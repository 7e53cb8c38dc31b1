// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexFile.h"

#include "AtomicFileWriter.h"
#include "BinaryPlistReader.h"
#include "Fold.h"
#include "IndexSnapshot.h"

#include <QFile>

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <span>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace {

std::shared_ptr<SampleIndex> emptyIndex()
{
    return SampleIndex::Builder().finish();
}

int widthFor(quint64 maxValue)
{
    return maxValue <= 0xFF ? 1 : maxValue <= 0xFFFF ? 2 : maxValue <= 0xFFFFFFFFu ? 4 : 8;
}

void storeBigEndian(char *out, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
}

// The index file streams straight into the saved file through one buffer: its shape (two shared
// keys, then a dictionary and two strings per entry, the root array last) fixes every object
// number up front, so nothing but the offset table is held.
class IndexWriter final
{
public:
    IndexWriter(AtomicFileWriter &file, quint64 objectCount)
        : m_file(file), m_refSize(widthFor(objectCount - 1))
    {
        m_offsets.reserve(objectCount);
        m_buffer.reserve(bufferSize + 64);
        m_buffer.append("bplist00");
    }

    void beginObject() { m_offsets.push_back(m_position + m_buffer.size()); }

    void marker(quint8 type, quint64 count)
    {
        if (count < 15) {
            m_buffer.push_back(char((type << 4) | count));
        } else {
            const int width = widthFor(count);
            char head[10] = {char((type << 4) | 0x0F),
                             char(0x10 | std::countr_zero(unsigned(width)))};
            storeBigEndian(head + 2, count, width);
            m_buffer.append(head, size_t(2 + width));
        }
    }

    void ref(quint64 value)
    {
        char bytes[8];
        storeBigEndian(bytes, value, m_refSize);
        m_buffer.append(bytes, size_t(m_refSize));
    }

    // The concatenation of `pieces`, valid UTF-8, as one string object: ASCII as such, anything
    // else as UTF-16 (the UTF-8 marker is not read by every reader).
    void string(std::initializer_list<std::string_view> pieces)
    {
        beginObject();
        size_t bytes = 0;
        bool ascii = true;
        for (std::string_view piece : pieces) {
            bytes += piece.size();
            ascii = ascii && isAscii(piece);
        }
        if (ascii) {
            marker(0x5, bytes);
            for (std::string_view piece : pieces)
                m_buffer.append(piece);
            flushIfFull();
            return;
        }
        size_t units = 0;
        for (std::string_view piece : pieces) {
            for (const char c : piece) {
                const auto byte = static_cast<unsigned char>(c);
                // One unit per lead byte, two for the four-byte forms (surrogate pairs).
                units += (byte & 0xC0) != 0x80;
                units += byte >= 0xF0;
            }
        }
        marker(0x6, units);
        for (std::string_view piece : pieces)
            appendUtf16(piece);
        flushIfFull();
    }

    void data(QByteArrayView bytes)
    {
        beginObject();
        marker(0x4, quint64(bytes.size()));
        m_buffer.append(bytes.data(), size_t(bytes.size()));
    }

    void flushIfFull()
    {
        if (m_buffer.size() >= bufferSize)
            flush();
    }

    void flush()
    {
        if (!m_buffer.empty() && !m_file.write(m_buffer))
            m_failed = true;
        m_position += m_buffer.size();
        m_buffer.clear();
    }

    bool finish(quint64 topObject)
    {
        const quint64 tableOffset = m_position + m_buffer.size();
        const int offsetSize = widthFor(m_offsets.empty() ? 0 : m_offsets.back());
        for (const quint64 offset : m_offsets) {
            char bytes[8];
            storeBigEndian(bytes, offset, offsetSize);
            m_buffer.append(bytes, size_t(offsetSize));
            flushIfFull();
        }
        char trailer[32] = {};
        trailer[6] = char(offsetSize);
        trailer[7] = char(m_refSize);
        storeBigEndian(trailer + 8, m_offsets.size(), 8);
        storeBigEndian(trailer + 16, topObject, 8);
        storeBigEndian(trailer + 24, tableOffset, 8);
        m_buffer.append(trailer, sizeof trailer);
        flush();
        return !m_failed;
    }

private:
    static constexpr size_t bufferSize = 1 << 20;

    void appendUtf16(std::string_view utf8)
    {
        const auto unit = [this](char32_t c) {
            m_buffer.push_back(char(c >> 8));
            m_buffer.push_back(char(c & 0xFF));
        };
        const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
        const auto *end = p + utf8.size();
        while (p < end) {
            char32_t c = *p;
            int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
            c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
            ++p;
            for (; extra > 0 && p < end; --extra, ++p)
                c = (c << 6) | (*p & 0x3F);
            if (c >= 0x10000) {
                c -= 0x10000;
                unit(0xD800 + (c >> 10));
                unit(0xDC00 + (c & 0x3FF));
            } else {
                unit(c);
            }
        }
    }

    AtomicFileWriter &m_file;
    int m_refSize;
    std::vector<quint64> m_offsets;
    std::string m_buffer;
    quint64 m_position = 0;
    bool m_failed = false;
};

// Pages of a mapped index file already read are handed back as the read goes on: they would
// otherwise count as resident memory while the whole file is read, beside the index being built.
class PageRelease final
{
public:
    PageRelease(QByteArrayView mapped) : m_mapped(mapped) {}

    void upTo(const BinaryPlistReader &reader, quint64 ref)
    {
        if (m_mapped.isEmpty())
            return;
        const std::optional<quint64> offset = reader.offsetOf(ref);
        if (!offset)
            return;
        const quint64 page = quint64(sysconf(_SC_PAGESIZE));
        if (!m_started) {
            m_started = true;
            m_start = (*offset + page - 1) / page * page;
            return;
        }
        const quint64 end = *offset / page * page;
        if (end > m_start && end <= quint64(m_mapped.size())) {
            ::madvise(const_cast<char *>(m_mapped.data()) + m_start, end - m_start, MADV_DONTNEED);
            m_start = end;
        }
    }

private:
    QByteArrayView m_mapped;
    bool m_started = false;
    quint64 m_start = 0;
};

// Reads the dictionaries `elements` into `builder`; false when one is malformed.
bool readElements(const BinaryPlistReader &reader, std::span<const quint64> elements,
                  SampleIndex::Builder &builder, size_t nameBytes, QByteArrayView mapped)
{
    PageRelease release(mapped);
    builder.reserve(elements.size(), nameBytes);
    std::vector<quint64> keys;
    std::vector<quint64> values;
    // Writers share the two key strings between all dictionaries: each key is told apart once.
    enum Field : char
    {
        Other,
        Path,
        Folded,
        Sound,
        Invalid
    };
    std::vector<std::pair<quint64, Field>> knownKeys;
    const auto fieldOf = [&](quint64 key) {
        for (const auto &[ref, field] : knownKeys) {
            if (ref == key)
                return field;
        }
        Field field = Invalid;
        std::string text;
        if (reader.appendUtf8(key, text))
            field = text == "path"     ? Path
                    : text == "folded" ? Folded
                    : text == "sound"  ? Sound
                                       : Other;
        if (knownKeys.size() < 8)
            knownKeys.emplace_back(key, field);
        return field;
    };
    std::string path;
    std::string folded;
    for (size_t n = 0; n < elements.size(); ++n) {
        const quint64 element = elements[n];
        if (n % 16384 == 0)
            release.upTo(reader, element);
        if (!reader.dictionaryRefs(element, keys, values))
            return false;
        std::optional<quint64> pathRef;
        std::optional<quint64> foldedRef;
        std::optional<quint64> soundRef;
        for (size_t i = 0; i < keys.size(); ++i) {
            switch (fieldOf(keys[i])) {
            case Path:
                pathRef = values[i];
                break;
            case Folded:
                foldedRef = values[i];
                break;
            case Sound:
                soundRef = values[i];
                break;
            case Invalid:
                return false;
            case Other:
                break;
            }
        }
        path.clear();
        folded.clear();
        if (!pathRef || !foldedRef || !reader.appendUtf8(*pathRef, path) ||
            !reader.appendUtf8(*foldedRef, folded))
            return false;
        // Facts are an addition older files lack; facts that do not read are unknown.
        if (soundRef) {
            const std::optional<QVariant> bytes = reader.toVariant(*soundRef);
            const std::optional<SoundFacts> facts =
                bytes && bytes->typeId() == QMetaType::QByteArray
                    ? SoundFacts::fromBytes(bytes->toByteArray())
                    : std::nullopt;
            builder.append(path, folded, facts.value_or(SoundFacts()));
        } else {
            builder.append(path, folded);
        }
    }
    return true;
}

std::shared_ptr<SampleIndex> readDocument(QByteArrayView bytes, bool mapped);

} // namespace

std::shared_ptr<SampleIndex> IndexFile::read(const QString &filePath)
{
    if (std::shared_ptr<SampleIndex> snapshot = IndexSnapshot::read(filePath))
        return snapshot;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return emptyIndex();
    const qint64 size = file.size();
    const uchar *mapped = file.map(0, size);
    QByteArray buffer;
    QByteArrayView bytes;
    if (mapped) {
        bytes = QByteArrayView(reinterpret_cast<const char *>(mapped), size);
    } else {
        buffer = file.readAll();
        bytes = buffer;
    }
    return readDocument(bytes, mapped != nullptr);
}

std::shared_ptr<SampleIndex> IndexFile::readBytes(QByteArrayView bytes)
{
    return readDocument(bytes, false);
}

namespace {

std::shared_ptr<SampleIndex> readDocument(QByteArrayView bytes, bool mapped)
{
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(bytes);
    if (!reader || reader->type(reader->topObject()) != BinaryPlistReader::Type::Array)
        return emptyIndex();
    const std::optional<std::vector<quint64>> elements = reader->arrayRefs(reader->topObject());
    if (!elements)
        return emptyIndex();

    // Two threads read a half each; the halves are in search order one after the other.
    const size_t count = elements->size();
    const size_t middle = count / 2;
    SampleIndex::Builder first;
    SampleIndex::Builder second;
    bool firstRead = true;
    if (count >= 65536) {
        std::thread helper([&] {
            firstRead = readElements(*reader, std::span(elements->data(), middle), first,
                                     size_t(bytes.size()) / 14, mapped ? bytes : QByteArrayView());
        });
        const bool secondRead =
            readElements(*reader, std::span(elements->data() + middle, count - middle), second,
                         size_t(bytes.size()) / 14, mapped ? bytes : QByteArrayView());
        helper.join();
        if (!firstRead || !secondRead)
            return emptyIndex();
        first.append(second);
        second = SampleIndex::Builder();
    } else if (!readElements(*reader, *elements, first, size_t(bytes.size()) / 7, {})) {
        return emptyIndex();
    }
    return first.finish();
}

} // namespace

bool IndexFile::write(const SampleIndex &index, const QString &filePath)
{
    // A failed write (a full disk) leaves the previous index whole; a fresh build replaces it.
    AtomicFileWriter file(filePath);
    if (!file.open())
        return false;

    const quint64 count = index.size();
    const bool withFacts = index.hasStoredFacts();
    const quint64 keys = withFacts ? 3 : 2;
    const quint64 perEntry = keys + 1;
    const quint64 objectCount = keys + 1 + perEntry * count;
    IndexWriter writer(file, objectCount);
    writer.string({"path"});
    writer.string({"folded"});
    if (withFacts)
        writer.string({"sound"});
    // Entries go out in search order, so that reading the file back needs no sort.
    for (quint64 entry = 0; entry < count; ++entry) {
        const quint64 dictionary = keys + perEntry * entry;
        writer.beginObject();
        writer.marker(0xD, keys);
        for (quint64 key = 0; key < keys; ++key)
            writer.ref(key);
        for (quint64 value = 1; value <= keys; ++value)
            writer.ref(dictionary + value);
        const auto [folder, separator, name] = index.pathPieces(entry);
        writer.string({folder, separator, name});
        writer.string({index.folded(entry)});
        if (withFacts)
            writer.data(index.storedFacts(entry).toBytes());
    }
    writer.beginObject();
    writer.marker(0xA, count);
    for (quint64 entry = 0; entry < count; ++entry) {
        writer.ref(keys + perEntry * entry);
        writer.flushIfFull();
    }
    if (!writer.finish(objectCount - 1) || !file.commit())
        return false;
    // Without a snapshot the next start decodes the index file, as it should.
    IndexSnapshot::write(index, filePath);
    return true;
}
