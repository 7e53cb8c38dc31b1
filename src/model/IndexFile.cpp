// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexFile.h"

#include "BinaryPlistReader.h"
#include "IndexFileWriter.h"
#include "IndexJournal.h"
#include "IndexSnapshot.h"

#include <QFile>

#include <span>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace {

std::shared_ptr<SampleIndex> emptyIndex()
{
    return SampleIndex::Builder().finish();
}

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
std::shared_ptr<SampleIndex> readFile(const QString &filePath);

} // namespace

std::shared_ptr<SampleIndex> IndexFile::read(const QString &filePath)
{
    quint64 covered = 0;
    std::shared_ptr<SampleIndex> index = IndexSnapshot::read(filePath, &covered);
    const bool snapshot = index != nullptr;
    if (!snapshot)
        index = readFile(filePath);
    quint64 end = 0;
    std::shared_ptr<SampleIndex> replayed = IndexJournal::replay(filePath, index, covered, &end);
    if (!snapshot || replayed == index)
        return replayed;
    // The patched index lives in memory of its own; a snapshot that holds the changes too is
    // mapped instead, and spares the next start the replay. Neither copy in memory is kept
    // while it is read back: a start holds little else.
    index.reset();
    if (!IndexSnapshot::write(*replayed, filePath, end))
        return replayed;
    const size_t size = replayed->size();
    replayed.reset();
    quint64 holds = 0;
    std::shared_ptr<SampleIndex> mapped = IndexSnapshot::read(filePath, &holds);
    if (mapped && holds == end && mapped->size() == size)
        return mapped;
    return IndexJournal::replay(filePath, readFile(filePath));
}

std::shared_ptr<SampleIndex> IndexFile::readBytes(QByteArrayView bytes)
{
    return readDocument(bytes, false);
}

namespace {

std::shared_ptr<SampleIndex> readFile(const QString &filePath)
{
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
    if (!IndexFileWriter::write(index, filePath)) {
        // The file holds what it held, but the changes since may be lost from memory's view:
        // nothing may be appended to it any more.
        IndexJournal::discard(filePath);
        return false;
    }
    // Without a snapshot the next start decodes the index file, as it should; without a
    // journal, the next live change writes the index file again.
    IndexSnapshot::write(index, filePath);
    IndexJournal::start(filePath);
    return true;
}
