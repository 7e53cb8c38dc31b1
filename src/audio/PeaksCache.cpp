// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeaksCache.h"

#include "AtomicFileWriter.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <vector>

namespace {

constexpr quint32 magic = 0x574c504b; // "WLPK"
// 3: lengths leave the encoder's end padding out (Ogg Vorbis in one page was off by it).
constexpr quint32 formatVersion = 3;
// Far above any real count; a damaged header must not make us allocate gigabytes.
constexpr quint32 maximumCount = 1 << 16;
const QString entrySuffix = QStringLiteral(".peaks");

QDataStream &prepared(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_6_0);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
    return stream;
}

} // namespace

PeaksCache::PeaksCache(const QString &directory, qint64 capacityBytes)
    : m_directory(directory), m_capacityBytes(capacityBytes)
{}

QString PeaksCache::defaultDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Wavelark/peaks");
}

QString PeaksCache::entryPath(const QString &path) const
{
    const QByteArray digest =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex();
    return m_directory + QLatin1Char('/') + QString::fromLatin1(digest) + entrySuffix;
}

std::optional<WaveformExtractor::Overview>
PeaksCache::find(const QString &path, const FileSignature &signature, int count) const
{
    QFile file(entryPath(path));
    if (count < 1 || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QDataStream stream(&file);
    prepared(stream);
    quint32 fileMagic = 0;
    quint32 version = 0;
    QString storedPath;
    qint64 size = -1;
    qint64 modified = -1;
    quint32 storedCount = 0;
    stream >> fileMagic >> version;
    if (stream.status() != QDataStream::Ok || fileMagic != magic || version != formatVersion)
        return std::nullopt;
    WaveformExtractor::Overview overview;
    qint32 sampleRate = 0;
    stream >> storedPath >> size >> modified >> storedCount >> overview.frames >> sampleRate;
    if (stream.status() != QDataStream::Ok || storedPath != path || size != signature.size ||
        modified != signature.modified || storedCount != quint32(count) ||
        storedCount > maximumCount || overview.frames < 0 || sampleRate < 0)
        return std::nullopt;
    overview.sampleRate = sampleRate;
    QList<float> &peaks = overview.peaks;
    peaks.resize(count);
    for (float &peak : peaks) {
        stream >> peak;
        if (!(peak >= 0.0f && peak <= 1.0f))
            return std::nullopt;
    }
    if (stream.status() != QDataStream::Ok || !stream.atEnd())
        return std::nullopt;
    // The modification time of an entry is its last use; eviction goes by it.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    return overview;
}

bool PeaksCache::store(const QString &path, const FileSignature &signature,
                       const WaveformExtractor::Overview &overview) const
{
    const QList<float> &peaks = overview.peaks;
    if (peaks.isEmpty() || quint32(peaks.size()) > maximumCount || !QDir().mkpath(m_directory))
        return false;
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    prepared(stream);
    stream << magic << formatVersion << path << signature.size << signature.modified
           << quint32(peaks.size()) << overview.frames << qint32(overview.sampleRate);
    for (float peak : peaks)
        stream << peak;
    // On a full disk the entry is simply not cached; a half-written one is never left behind.
    if (stream.status() != QDataStream::Ok || AtomicFileWriter::writeFile(entryPath(path), bytes))
        return false;
    evict();
    return true;
}

void PeaksCache::evict() const
{
    const QFileInfoList entries =
        QDir(m_directory)
            .entryInfoList({QLatin1Char('*') + entrySuffix}, QDir::Files | QDir::NoDotAndDotDot);
    qint64 total = 0;
    for (const QFileInfo &entry : entries)
        total += entry.size();
    if (total <= m_capacityBytes)
        return;
    std::vector<QFileInfo> byAge(entries.cbegin(), entries.cend());
    std::sort(byAge.begin(), byAge.end(), [](const QFileInfo &a, const QFileInfo &b) {
        return a.lastModified() < b.lastModified();
    });
    for (const QFileInfo &entry : byAge) {
        if (total <= m_capacityBytes)
            break;
        if (QFile::remove(entry.filePath()))
            total -= entry.size();
    }
}
