// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexJournal.h"

#include "AtomicFileWriter.h"
#include "FilePaths.h"
#include "FileStamp.h"

#include <QFile>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char magic[8] = {'W', 'L', 'J', 'R', 'N', 'L', '0', '1'};

// The header: the magic and the stamp of the index file. Records follow, each its payload's
// length (4 bytes), a checksum of the payload (8 bytes), then the payload: the folders, the
// trees and the replacement's entries (path and folded name), every string its length (4
// bytes) and its bytes, every list its count (4 bytes) first.
struct Header
{
    char magic[8];
    FileStamp stamp;
};
constexpr size_t recordHead = 12;
// Larger than any journal the library lets grow; anything bigger is not one of ours.
constexpr qint64 largestJournal = qint64(1) << 30;

quint64 checksum(const char *bytes, size_t length)
{
    quint64 hash = 14695981039346656037ull; // FNV-1a
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ quint8(bytes[i])) * 1099511628211ull;
    return hash;
}

void putNumber(QByteArray &out, quint32 value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

void putText(QByteArray &out, std::string_view text)
{
    putNumber(out, quint32(text.size()));
    out.append(text.data(), qsizetype(text.size()));
}

void putPieces(QByteArray &out, const std::array<std::string_view, 3> &pieces)
{
    putNumber(out, quint32(pieces[0].size() + pieces[1].size() + pieces[2].size()));
    for (const std::string_view piece : pieces)
        out.append(piece.data(), qsizetype(piece.size()));
}

QByteArray encoded(const IndexJournal::Change &change)
{
    QByteArray payload;
    for (const std::vector<std::string> *paths : {&change.folders, &change.trees}) {
        putNumber(payload, quint32(paths->size()));
        for (const std::string &path : *paths)
            putText(payload, path);
    }
    const SampleIndex &replacement = *change.replacement;
    putNumber(payload, quint32(replacement.size()));
    for (size_t entry = 0; entry < replacement.size(); ++entry) {
        putPieces(payload, replacement.pathPieces(entry));
        putText(payload, replacement.folded(entry));
    }
    QByteArray record;
    record.reserve(qsizetype(recordHead) + payload.size());
    putNumber(record, quint32(payload.size()));
    const quint64 sum = checksum(payload.constData(), size_t(payload.size()));
    record.append(reinterpret_cast<const char *>(&sum), sizeof sum);
    record.append(payload);
    return record;
}

// Reads what encoded() wrote, refusing anything that runs past the end.
class Reader
{
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}
    bool number(quint32 &value)
    {
        if (m_bytes.size() < sizeof value)
            return false;
        std::memcpy(&value, m_bytes.data(), sizeof value);
        m_bytes.remove_prefix(sizeof value);
        return true;
    }
    bool text(std::string_view &value)
    {
        quint32 length = 0;
        if (!number(length) || m_bytes.size() < length)
            return false;
        value = m_bytes.substr(0, length);
        m_bytes.remove_prefix(length);
        return true;
    }
    bool paths(std::vector<std::string> &values)
    {
        quint32 count = 0;
        if (!number(count) || count > m_bytes.size() / sizeof count)
            return false;
        for (quint32 i = 0; i < count; ++i) {
            std::string_view path;
            if (!text(path))
                return false;
            values.emplace_back(path);
        }
        return true;
    }
    bool atEnd() const { return m_bytes.empty(); }

private:
    std::string_view m_bytes;
};

std::optional<IndexJournal::Change> decoded(std::string_view payload)
{
    Reader reader(payload);
    IndexJournal::Change change;
    quint32 count = 0;
    if (!reader.paths(change.folders) || !reader.paths(change.trees) || !reader.number(count))
        return std::nullopt;
    SampleIndex::Builder entries;
    for (quint32 i = 0; i < count; ++i) {
        std::string_view path, folded;
        if (!reader.text(path) || !reader.text(folded) || path.find('/') == std::string::npos)
            return std::nullopt;
        entries.append(path, folded);
    }
    if (!reader.atEnd())
        return std::nullopt;
    change.replacement = entries.finish();
    return change;
}

void addMissing(std::vector<std::string> &to, const std::vector<std::string> &from)
{
    for (const std::string &path : from) {
        if (std::find(to.begin(), to.end(), path) == to.end())
            to.push_back(path);
    }
}

bool writeAll(int descriptor, const char *bytes, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        length -= size_t(written);
    }
    return true;
}

} // namespace

QString IndexJournal::filePathFor(const QString &indexFilePath)
{
    return indexFilePath + QStringLiteral(".journal");
}

bool IndexJournal::start(const QString &indexFilePath)
{
    // Written as the machine holds it, like the snapshot; a big-endian machine writes the index
    // file for every change instead.
    const std::optional<FileStamp> stamp = FileStamp::of(indexFilePath);
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian || !stamp) {
        discard(indexFilePath);
        return false;
    }
    Header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.stamp = *stamp;
    return AtomicFileWriter::writeFile(
               filePathFor(indexFilePath),
               QByteArrayView(reinterpret_cast<const char *>(&header), sizeof header)) == 0;
}

void IndexJournal::discard(const QString &indexFilePath)
{
    ::unlink(FilePaths::encoded(filePathFor(indexFilePath)).constData());
}

bool IndexJournal::append(const QString &indexFilePath, const Change &change)
{
    const std::optional<FileStamp> stamp = FileStamp::of(indexFilePath);
    if (!stamp || !change.replacement)
        return false;
    const int descriptor = ::open(FilePaths::encoded(filePathFor(indexFilePath)).constData(),
                                  O_RDWR | O_APPEND | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    Header header;
    struct stat st;
    bool ok = ::pread(descriptor, &header, sizeof header, 0) == ssize_t(sizeof header) &&
              std::memcmp(header.magic, magic, sizeof magic) == 0 && header.stamp == *stamp &&
              ::fstat(descriptor, &st) == 0;
    if (ok) {
        const QByteArray record = encoded(change);
        ok = writeAll(descriptor, record.constData(), size_t(record.size()));
        // Half a record would hide every later one: it goes again.
        if (!ok && ::ftruncate(descriptor, st.st_size) != 0)
            ok = false;
    }
    ::close(descriptor);
    return ok;
}

std::shared_ptr<SampleIndex> IndexJournal::replay(const QString &indexFilePath,
                                                  std::shared_ptr<SampleIndex> index, quint64 from,
                                                  quint64 *end)
{
    if (end)
        *end = from;
    const std::optional<FileStamp> stamp = FileStamp::of(indexFilePath);
    QFile file(filePathFor(indexFilePath));
    if (!stamp || !index || !file.open(QIODevice::ReadOnly) || file.size() > largestJournal)
        return index;
    const QByteArray bytes = file.readAll();
    Header header;
    if (size_t(bytes.size()) < sizeof header)
        return index;
    std::memcpy(&header, bytes.constData(), sizeof header);
    if (std::memcmp(header.magic, magic, sizeof magic) != 0 || !(header.stamp == *stamp))
        return index;

    // The changes merged into one: every place any of them replaced, and what those places
    // hold after the last.
    Change merged;
    from = std::max<quint64>(from, sizeof header);
    if (from > quint64(bytes.size()))
        return index;
    std::string_view rest(bytes.constData() + from, size_t(quint64(bytes.size()) - from));
    while (rest.size() >= recordHead) {
        quint32 length = 0;
        quint64 sum = 0;
        std::memcpy(&length, rest.data(), sizeof length);
        std::memcpy(&sum, rest.data() + sizeof length, sizeof sum);
        rest.remove_prefix(recordHead);
        if (rest.size() < length || checksum(rest.data(), length) != sum)
            break;
        std::optional<Change> change = decoded(rest.substr(0, length));
        rest.remove_prefix(length);
        if (!change)
            break;
        merged.replacement =
            merged.replacement
                ? merged.replacement->patched(change->folders, change->trees, *change->replacement)
                : change->replacement;
        addMissing(merged.folders, change->folders);
        addMissing(merged.trees, change->trees);
        if (end)
            *end = quint64(bytes.size()) - rest.size();
    }
    if (!merged.replacement)
        return index;
    return index->patched(merged.folders, merged.trees, *merged.replacement);
}
