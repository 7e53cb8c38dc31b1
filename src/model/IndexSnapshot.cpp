// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexSnapshot.h"

#include "AtomicFileWriter.h"
#include "FilePaths.h"
#include "FileStamp.h"

#include <QSysInfo>

#include <array>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char magic[8] = {'W', 'L', 'I', 'N', 'D', 'E', 'X', '2'};

// The header: the magic, the stamp, how much of the journal it holds, then the byte length of
// each buffer. The buffers follow in that order, each padded to eight bytes.
struct Header
{
    char magic[8];
    FileStamp stamp;
    quint64 journalBytes;
    std::array<quint64, SampleIndex::layoutBuffers> lengths;
};

constexpr quint64 padded(quint64 length)
{
    return (length + 7) / 8 * 8;
}

} // namespace

QString IndexSnapshot::filePathFor(const QString &indexFilePath)
{
    return indexFilePath + QStringLiteral(".snapshot");
}

bool IndexSnapshot::write(const SampleIndex &index, const QString &indexFilePath,
                          quint64 journalBytes)
{
    // Buffers are written as the machine holds them; a big-endian machine just reads the index
    // file.
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian)
        return false;
    const std::optional<FileStamp> stamp = FileStamp::of(indexFilePath);
    if (!stamp)
        return false;
    const std::array<QByteArrayView, SampleIndex::layoutBuffers> buffers = index.layout();
    Header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.stamp = *stamp;
    header.journalBytes = journalBytes;
    for (size_t i = 0; i < buffers.size(); ++i)
        header.lengths[i] = quint64(buffers[i].size());

    AtomicFileWriter file(filePathFor(indexFilePath));
    if (!file.open())
        return false;
    static const char zeros[8] = {};
    file.write(QByteArrayView(reinterpret_cast<const char *>(&header), sizeof header));
    for (const QByteArrayView buffer : buffers) {
        file.write(buffer);
        file.write(QByteArrayView(
            zeros, qsizetype(padded(quint64(buffer.size())) - quint64(buffer.size()))));
    }
    return file.commit();
}

std::shared_ptr<SampleIndex> IndexSnapshot::read(const QString &indexFilePath,
                                                 quint64 *journalBytes)
{
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian)
        return nullptr;
    const std::optional<FileStamp> stamp = FileStamp::of(indexFilePath);
    if (!stamp)
        return nullptr;
    const int descriptor =
        ::open(FilePaths::encoded(filePathFor(indexFilePath)).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat st;
    void *start = MAP_FAILED;
    if (::fstat(descriptor, &st) == 0 && S_ISREG(st.st_mode) &&
        quint64(st.st_size) >= sizeof(Header))
        start = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, descriptor, 0);
    ::close(descriptor);
    if (start == MAP_FAILED)
        return nullptr;
    const size_t size = size_t(st.st_size);
    const std::shared_ptr<const void> mapping(
        start, [size](const void *at) { ::munmap(const_cast<void *>(at), size); });
    const char *bytes = static_cast<const char *>(start);

    Header header;
    std::memcpy(&header, bytes, sizeof header);
    if (std::memcmp(header.magic, magic, sizeof magic) != 0 || !(header.stamp == *stamp))
        return nullptr;
    std::array<QByteArrayView, SampleIndex::layoutBuffers> buffers;
    quint64 offset = sizeof header;
    for (size_t i = 0; i < buffers.size(); ++i) {
        const quint64 length = header.lengths[i];
        if (length > size || offset + padded(length) > size)
            return nullptr;
        buffers[i] = QByteArrayView(bytes + offset, qsizetype(length));
        offset += padded(length);
    }
    if (offset != size)
        return nullptr;
    std::shared_ptr<SampleIndex> index = SampleIndex::fromLayout(mapping, buffers);
    // The checks read every page. Handing them back leaves in memory only what searches and
    // lists touch from now on; the system reads the rest again from its cache when needed.
    if (index)
        ::madvise(start, size, MADV_DONTNEED);
    if (index && journalBytes)
        *journalBytes = header.journalBytes;
    return index;
}
