// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundCache.h"

#include "platform/AtomicFileWriter.h"

#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

namespace {

// The version names the analysis as well as the layout: facts from an older analysis are not
// kept when it changes.
constexpr char magic[8] = {'W', 'L', 'S', 'N', 'D', 0, 0, 1};
constexpr qsizetype recordSize = 8 + SoundFacts::serializedSize;

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

void putKey(char *out, quint64 key)
{
    for (int i = 0; i < 8; ++i)
        out[i] = char((key >> (8 * i)) & 0xFF);
}

quint64 getKey(const char *in)
{
    quint64 key = 0;
    for (int i = 7; i >= 0; --i)
        key = (key << 8) | quint8(in[i]);
    return key;
}

} // namespace

SoundCache::SoundCache(const QString &filePath) : m_filePath(filePath) {}

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

std::vector<SoundCache::Record> SoundCache::read(const QString &filePath)
{
    std::vector<Record> records;
    QFile file(filePath);
    if (filePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return records;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < qsizetype(sizeof magic) || std::memcmp(bytes.data(), magic, sizeof magic) ||
        (bytes.size() - qsizetype(sizeof magic)) % recordSize != 0)
        return records;
    const qsizetype count = (bytes.size() - qsizetype(sizeof magic)) / recordSize;
    records.reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        const char *at = bytes.constData() + sizeof magic + i * recordSize;
        const quint64 key = getKey(at);
        const std::optional<SoundFacts> facts =
            SoundFacts::fromBytes(QByteArrayView(at + 8, SoundFacts::serializedSize));
        if (!facts || (!records.empty() && records.back().key >= key))
            return {};
        records.push_back({key, *facts});
    }
    return records;
}

void SoundCache::load()
{
    m_records = read(m_filePath);
}

std::optional<SoundFacts> SoundCache::find(quint64 key) const
{
    for (auto it = m_added.rbegin(); it != m_added.rend(); ++it) {
        if (it->key == key)
            return it->facts;
    }
    const auto it = std::lower_bound(m_records.begin(), m_records.end(), key,
                                     [](const Record &r, quint64 k) { return r.key < k; });
    if (it != m_records.end() && it->key == key)
        return it->facts;
    return std::nullopt;
}

void SoundCache::insert(quint64 key, const SoundFacts &facts)
{
    m_added.push_back({key, facts});
}

void SoundCache::mergeInto(std::vector<Record> &sorted, std::vector<Record> added)
{
    // The newest record of a key wins: a stable sort keeps insertion order among equal keys.
    std::stable_sort(added.begin(), added.end(),
                     [](const Record &a, const Record &b) { return a.key < b.key; });
    std::vector<Record> merged;
    merged.reserve(sorted.size() + added.size());
    auto a = sorted.begin();
    auto b = added.begin();
    while (a != sorted.end() || b != added.end()) {
        if (b == added.end() || (a != sorted.end() && a->key < b->key)) {
            merged.push_back(*a++);
            continue;
        }
        const quint64 key = b->key;
        while (std::next(b) != added.end() && std::next(b)->key == key)
            ++b;
        merged.push_back(*b++);
        if (a != sorted.end() && a->key == key)
            ++a;
    }
    sorted = std::move(merged);
}

bool SoundCache::save()
{
    if (m_filePath.isEmpty())
        return false;
    std::vector<Record> records = read(m_filePath);
    mergeInto(records, m_records);
    mergeInto(records, m_added);
    QByteArray bytes;
    bytes.reserve(qsizetype(sizeof magic) + qsizetype(records.size()) * recordSize);
    bytes.append(magic, sizeof magic);
    for (const Record &record : records) {
        char key[8];
        putKey(key, record.key);
        bytes.append(key, 8);
        bytes.append(record.facts.toBytes());
    }
    if (AtomicFileWriter::writeFile(m_filePath, bytes) != 0)
        return false;
    m_records = std::move(records);
    m_added.clear();
    return true;
}
