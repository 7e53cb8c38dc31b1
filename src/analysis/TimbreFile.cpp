// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TimbreFile.h"

#include "platform/AtomicFileWriter.h"

#include <QFile>
#include <QtEndian>

namespace {
constexpr char magic[8] = {'W', 'L', 'T', 'I', 'M', 'B', 'R', '1'};
constexpr qsizetype entrySize = 8 + 1 + SoundDescriptor::size;
} // namespace

QString TimbreFile::pathBeside(const QString &indexFilePath)
{
    return indexFilePath + QStringLiteral(".timbre");
}

bool TimbreFile::write(const QString &filePath, const std::vector<Entry> &entries)
{
    QByteArray bytes(magic, sizeof magic);
    bytes.reserve(qsizetype(sizeof magic) + 8 + qsizetype(entries.size()) * entrySize);
    char count[8];
    qToLittleEndian(quint64(entries.size()), count);
    bytes.append(count, 8);
    for (const Entry &entry : entries) {
        char hash[8];
        qToLittleEndian(entry.audioHash, hash);
        bytes.append(hash, 8);
        bytes.append(entry.descriptor.isValid() ? '\1' : '\0');
        bytes.append(entry.descriptor.toBytes());
    }
    return AtomicFileWriter::writeFile(filePath, bytes) == 0;
}

std::optional<std::vector<TimbreFile::Entry>> TimbreFile::read(const QString &filePath,
                                                               size_t expectedCount)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const qsizetype header = qsizetype(sizeof magic) + 8;
    if (bytes.size() < header || !bytes.startsWith(QByteArrayView(magic, sizeof magic)))
        return std::nullopt;
    const quint64 count = qFromLittleEndian<quint64>(bytes.constData() + sizeof magic);
    if (count != expectedCount || quint64(bytes.size() - header) != count * entrySize)
        return std::nullopt;
    std::vector<Entry> entries(count);
    const char *at = bytes.constData() + header;
    for (Entry &entry : entries) {
        entry.audioHash = qFromLittleEndian<quint64>(at);
        if (at[8] != 0)
            entry.descriptor =
                SoundDescriptor::fromBytes(QByteArrayView(at + 9, SoundDescriptor::size))
                    .value_or(SoundDescriptor());
        at += entrySize;
    }
    return entries;
}
