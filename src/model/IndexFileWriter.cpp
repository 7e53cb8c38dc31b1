// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexFileWriter.h"

#include "AtomicFileWriter.h"
#include "SampleIndex.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

int widthFor(quint64 maxValue)
{
    return maxValue <= 0xFF ? 1 : maxValue <= 0xFFFF ? 2 : maxValue <= 0xFFFFFFFFu ? 4 : 8;
}

char *putBigEndian(char *out, quint64 value, int width)
{
    switch (width) {
    case 1:
        out[0] = char(value);
        return out + 1;
    case 2:
        out[0] = char(value >> 8);
        out[1] = char(value);
        return out + 2;
    case 4: {
        const quint32 big = qToBigEndian(quint32(value));
        std::memcpy(out, &big, 4);
        return out + 4;
    }
    default: {
        const quint64 big = qToBigEndian(value);
        std::memcpy(out, &big, 8);
        return out + 8;
    }
    }
}

constexpr size_t maxMarkerBytes = 10;

char *putMarker(char *out, quint8 type, quint64 count)
{
    if (count < 15) {
        *out = char((type << 4) | count);
        return out + 1;
    }
    const int width = widthFor(count);
    out[0] = char((type << 4) | 0x0F);
    out[1] = char(0x10 | std::countr_zero(unsigned(width)));
    return putBigEndian(out + 2, count, width);
}

// Every byte of `text` below 0x80. Paths are mostly ASCII, so no early exit: the last word
// overlaps the one before instead of a byte-by-byte tail.
bool asciiOnly(std::string_view text)
{
    const char *p = text.data();
    size_t left = text.size();
    quint64 seen = 0;
    const auto word = [](const char *at) {
        quint64 value;
        std::memcpy(&value, at, 8);
        return value;
    };
    if (left >= 8) {
        for (; left > 8; p += 8, left -= 8)
            seen |= word(p);
        seen |= word(p + left - 8);
    } else {
        for (; left > 0; ++p, --left)
            seen |= quint8(*p);
    }
    return (seen & 0x8080808080808080ull) == 0;
}

// One unit per lead byte, two for the four-byte forms (surrogate pairs); what the reader of a
// damaged sequence would count as well.
size_t utf16Units(std::string_view utf8)
{
    size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80;
        units += byte >= 0xF0;
    }
    return units;
}

char *putUnit(char *out, char32_t unit)
{
    out[0] = char(unit >> 8);
    out[1] = char(unit & 0xFF);
    return out + 2;
}

// At most two bytes out per byte in: ASCII doubles, longer forms give at most as many bytes.
char *putUtf16(char *out, std::string_view utf8)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        char32_t c = *p;
        if (c < 0x80) {
            out = putUnit(out, c);
            ++p;
            continue;
        }
        int extra = c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        c &= extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
        ++p;
        for (; extra > 0 && p < end; --extra, ++p)
            c = (c << 6) | (*p & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out = putUnit(out, 0xD800 + (c >> 10));
            out = putUnit(out, 0xDC00 + (c & 0x3FF));
        } else {
            out = putUnit(out, c);
        }
    }
    return out;
}

// The concatenation of `pieces`, valid UTF-8, as one string object: ASCII as such, anything else
// as UTF-16 (the UTF-8 marker is not read by every reader).
template <size_t N> char *putString(char *out, const std::array<std::string_view, N> &pieces)
{
    size_t bytes = 0;
    bool ascii = true;
    for (std::string_view piece : pieces) {
        bytes += piece.size();
        ascii = ascii && asciiOnly(piece);
    }
    if (ascii) {
        out = putMarker(out, 0x5, bytes);
        for (std::string_view piece : pieces) {
            std::memcpy(out, piece.data(), piece.size());
            out += piece.size();
        }
        return out;
    }
    size_t units = 0;
    for (std::string_view piece : pieces)
        units += utf16Units(piece);
    out = putMarker(out, 0x6, units);
    for (std::string_view piece : pieces)
        out = putUtf16(out, piece);
    return out;
}

// What fixes every object number up front: two or three shared keys, then a dictionary and its
// values per entry, the root array last.
struct Layout
{
    explicit Layout(const SampleIndex &index)
        : count(index.size()), withFacts(index.hasStoredFacts()), keys(withFacts ? 3 : 2),
          perEntry(keys + 1), objectCount(keys + 1 + perEntry * count),
          refSize(widthFor(objectCount - 1))
    {}
    quint64 dictionary(quint64 entry) const { return keys + perEntry * entry; }

    quint64 count;
    bool withFacts;
    quint64 keys;
    quint64 perEntry;
    quint64 objectCount;
    int refSize;
};

// A run of entries encoded on its own, its object offsets counted from its first byte.
struct Block
{
    // Not zeroed: only what is encoded is touched.
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t size = 0;
    std::vector<quint32> offsets;
};

constexpr size_t blockEntries = 16384;

void encodeBlock(const SampleIndex &index, const Layout &layout, size_t first, size_t last,
                 Block &block)
{
    const size_t dictionaryBytes = 1 + 2 * layout.keys * size_t(layout.refSize);
    const size_t factsBytes =
        layout.withFacts ? maxMarkerBytes + size_t(SoundFacts().toBytes().size()) : 0;
    size_t bound = 0;
    for (size_t entry = first; entry < last; ++entry) {
        const auto [folder, separator, name] = index.pathPieces(entry);
        bound += dictionaryBytes + factsBytes + 2 * maxMarkerBytes +
                 2 * (folder.size() + separator.size() + name.size() + index.folded(entry).size());
    }
    if (block.capacity < bound) {
        block.bytes = std::make_unique_for_overwrite<char[]>(bound);
        block.capacity = bound;
    }
    block.offsets.clear();
    char *const start = block.bytes.get();
    char *out = start;
    const auto beginObject = [&] { block.offsets.push_back(quint32(out - start)); };
    for (size_t entry = first; entry < last; ++entry) {
        const quint64 dictionary = layout.dictionary(entry);
        beginObject();
        out = putMarker(out, 0xD, layout.keys);
        for (quint64 key = 0; key < layout.keys; ++key)
            out = putBigEndian(out, key, layout.refSize);
        for (quint64 value = 1; value <= layout.keys; ++value)
            out = putBigEndian(out, dictionary + value, layout.refSize);
        beginObject();
        out = putString(out, index.pathPieces(entry));
        beginObject();
        out = putString(out, std::array{index.folded(entry)});
        if (layout.withFacts) {
            const QByteArray facts = index.storedFacts(entry).toBytes();
            beginObject();
            out = putMarker(out, 0x4, quint64(facts.size()));
            std::memcpy(out, facts.constData(), size_t(facts.size()));
            out += facts.size();
        }
    }
    block.size = size_t(out - start);
}

// Object offsets: four bytes each while the file stays under 4 GiB (a million entries make about
// 160 MB), so that the table held through the write takes half the memory; eight from the first
// offset beyond.
class OffsetTable final
{
public:
    void reserve(size_t count) { m_narrow.reserve(count); }
    void push_back(quint64 offset)
    {
        if (m_wide.empty() && offset <= 0xFFFFFFFFu) {
            m_narrow.push_back(quint32(offset));
            return;
        }
        if (m_wide.empty()) {
            m_wide.assign(m_narrow.begin(), m_narrow.end());
            m_narrow = {};
        }
        m_wide.push_back(offset);
    }
    size_t size() const { return m_wide.empty() ? m_narrow.size() : m_wide.size(); }
    quint64 operator[](size_t i) const { return m_wide.empty() ? m_narrow[i] : m_wide[i]; }
    quint64 back() const { return (*this)[size() - 1]; }

private:
    std::vector<quint32> m_narrow;
    std::vector<quint64> m_wide;
};

// Streams the file out: blocks are written as they come, their offsets moved into the table.
class Stream final
{
public:
    explicit Stream(AtomicFileWriter &file) : m_file(file) {}

    quint64 position() const { return m_position; }
    OffsetTable &offsets() { return m_offsets; }

    void write(const char *bytes, size_t size)
    {
        if (size > 0 && !m_failed && !m_file.write(QByteArrayView(bytes, qsizetype(size))))
            m_failed = true;
        m_position += size;
    }
    void write(const Block &block)
    {
        for (const quint32 offset : block.offsets)
            m_offsets.push_back(m_position + offset);
        write(block.bytes.get(), block.size);
    }
    bool failed() const { return m_failed; }

private:
    AtomicFileWriter &m_file;
    OffsetTable m_offsets;
    quint64 m_position = 0;
    bool m_failed = false;
};

// Big-endian numbers of one width, written through a buffer.
void writeNumbers(Stream &stream, const auto &values, int width)
{
    constexpr size_t slab = 1 << 16;
    std::vector<char> buffer(slab * 8);
    for (size_t first = 0; first < values.size(); first += slab) {
        const size_t last = std::min(values.size(), first + slab);
        char *out = buffer.data();
        for (size_t i = first; i < last; ++i)
            out = putBigEndian(out, values[i], width);
        stream.write(buffer.data(), size_t(out - buffer.data()));
    }
}

// The root array's element references, the dictionaries, as a sized range.
struct DictionaryRefs
{
    const Layout &layout;
    size_t size() const { return layout.count; }
    quint64 operator[](size_t entry) const { return layout.dictionary(entry); }
};

} // namespace

bool IndexFileWriter::write(const SampleIndex &index, const QString &filePath)
{
    // A failed write (a full disk) leaves the previous index whole; a fresh build replaces it.
    AtomicFileWriter file(filePath);
    if (!file.open())
        return false;
    const Layout layout(index);
    Stream stream(file);
    stream.offsets().reserve(layout.objectCount);

    std::array<char, 64> head{};
    char *out = head.data();
    out = std::copy_n("bplist00", 8, out);
    for (const std::string_view key : {"path", "folded", "sound"}) {
        if (stream.offsets().size() == layout.keys)
            break;
        stream.offsets().push_back(quint64(out - head.data()));
        out = putString(out, std::array{key});
    }
    stream.write(head.data(), size_t(out - head.data()));

    // Entries go out in search order, so that reading the file back needs no sort. Blocks are
    // encoded in pairs: a helper encodes the second while this thread writes out the pair before
    // and encodes the first. Without a helper, this thread does it all.
    std::array<Block, 4> blocks;
    size_t next = 0; // the pair to encode into: blocks 0 and 1, or 2 and 3
    bool pending = false;
    const auto writePending = [&] {
        if (pending) {
            stream.write(blocks[2 - next]);
            stream.write(blocks[3 - next]);
        }
    };
    for (size_t first = 0; first < layout.count && !stream.failed(); first += 2 * blockEntries) {
        const size_t middle = std::min<size_t>(layout.count, first + blockEntries);
        const size_t last = std::min<size_t>(layout.count, middle + blockEntries);
        Block &odd = blocks[next + 1];
        const auto encodeOdd = [&] { encodeBlock(index, layout, middle, last, odd); };
        std::thread helper;
        if (last > middle) {
            try {
                helper = std::thread(encodeOdd);
            } catch (const std::system_error &) {
            }
        }
        writePending();
        encodeBlock(index, layout, first, middle, blocks[next]);
        if (helper.joinable())
            helper.join();
        else
            encodeOdd();
        pending = true;
        next = 2 - next;
    }
    writePending();
    if (stream.failed())
        return false;

    stream.offsets().push_back(stream.position());
    std::array<char, maxMarkerBytes> arrayHead{};
    stream.write(arrayHead.data(),
                 size_t(putMarker(arrayHead.data(), 0xA, layout.count) - arrayHead.data()));
    writeNumbers(stream, DictionaryRefs{layout}, layout.refSize);

    const quint64 tableOffset = stream.position();
    const OffsetTable &offsets = stream.offsets();
    const int offsetSize = widthFor(offsets.back());
    writeNumbers(stream, offsets, offsetSize);
    std::array<char, 32> trailer{};
    trailer[6] = char(offsetSize);
    trailer[7] = char(layout.refSize);
    putBigEndian(trailer.data() + 8, offsets.size(), 8);
    putBigEndian(trailer.data() + 16, layout.objectCount - 1, 8);
    putBigEndian(trailer.data() + 24, tableOffset, 8);
    stream.write(trailer.data(), trailer.size());
    return !stream.failed() && file.commit();
}
