// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundCache.h"

#include <QStandardPaths>

#include <sys/stat.h>

namespace {

// The version names the analysis as well as the layout: facts from an older analysis are not
// kept when it changes.
constexpr KeyedRecordFile<SoundFacts>::Magic magic = {'W', 'L', 'S', 'N', 'D', 0, 0, 1};

quint64 mix(quint64 hash, quint64 value)
{
    // splitmix64's finaliser over a running combination: the key is the whole identity folded
    // into 64 bits, so that a record stays 16 bytes.
    hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    hash ^= hash >> 30;
    hash *= 0xbf58476d1ce4e5b9ull;
    hash ^= hash >> 27;
    hash *= 0x94d049bb133111ebull;
    return hash ^ (hash >> 31);
}

} // namespace

SoundCache::SoundCache(const QString &filePath) : m_file(filePath, magic) {}

QString SoundCache::defaultFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return folder + QStringLiteral("/Wavelark/sound-facts.bin");
}

std::optional<quint64> SoundCache::keyOf(const QByteArray &path)
{
    struct stat info
    {};
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    quint64 key = mix(0, quint64(info.st_dev));
    key = mix(key, quint64(info.st_ino));
    key = mix(key, quint64(info.st_size));
    key = mix(key, quint64(info.st_mtim.tv_sec) * 1000000000ull + quint64(info.st_mtim.tv_nsec));
    return key;
}
