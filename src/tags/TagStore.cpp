// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagStore.h"

#include "platform/BackgroundJob.h"
#include "platform/Bookmark.h"
#include "platform/FilePaths.h"
#include "platform/Preferences.h"

#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

std::optional<qint64> integerValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::ULongLong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

bool isValidRaw(qint64 raw)
{
    return FinderTags::fromRawValue(raw).has_value();
}

QList<qint64> rawValues(const FinderTagSet &tags)
{
    QList<qint64> values;
    for (FinderTag tag : FinderTags::sorted(tags))
        values.append(FinderTags::rawValue(tag));
    return values;
}

FinderTagSet tagSet(const QList<qint64> &values)
{
    FinderTagSet tags;
    for (qint64 raw : values) {
        if (const std::optional<FinderTag> tag = FinderTags::fromRawValue(raw))
            tags.insert(*tag);
    }
    return tags;
}

// The stored array when every element is an integer: the valid values, unique and ascending.
std::optional<QList<qint64>> cleanedValues(const QVariant &value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    // Elements that are not raw values (another program's, or a later version's) are skipped;
    // the valid ones beside them stay.
    QList<qint64> values;
    const QVariantList list = value.toList();
    for (const QVariant &element : list) {
        const std::optional<qint64> raw = integerValue(element);
        if (raw && isValidRaw(*raw) && !values.contains(*raw))
            values.append(*raw);
    }
    std::sort(values.begin(), values.end());
    return values;
}

bool isAtOrBelowAny(const QString &path, const QStringList &roots)
{
    for (const QString &root : roots) {
        if (FilePaths::isAtOrBelow(path, root))
            return true;
    }
    return false;
}

QStringList normalizedRoots(const QList<QUrl> &roots)
{
    QStringList paths;
    for (const QUrl &root : roots) {
        const QString path = FilePaths::normalized(root);
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

} // namespace

TagStore::TagStore(Preferences &defaults, QObject *parent) : QObject(parent), m_defaults(defaults)
{
    load();
}

TagStore::~TagStore()
{
    if (m_relocationCancel)
        m_relocationCancel->cancel();
}

void TagStore::load()
{
    // Several stored spellings may name one item; the first met wins.
    TagBookmarkMap bookmarks;
    const QVariantMap storedBookmarks =
        m_defaults.dictionaryForKey(bookmarksKey).value_or(QVariantMap());
    for (auto it = storedBookmarks.cbegin(); it != storedBookmarks.cend(); ++it) {
        const QString key = FilePaths::normalized(it.key());
        if (it.value().typeId() == QMetaType::QByteArray && !key.isEmpty() &&
            !bookmarks.contains(key))
            bookmarks.insert(key, it.value().toByteArray());
    }

    TagMap tags;
    bool migrated = false;
    if (const std::optional<QVariantMap> stored = m_defaults.dictionaryForKey(tagsKey)) {
        for (auto it = stored->cbegin(); it != stored->cend(); ++it) {
            const QString key = FilePaths::normalized(it.key());
            const std::optional<QList<qint64>> values = cleanedValues(it.value());
            if (values && !values->isEmpty() && !key.isEmpty() && !tags.contains(key))
                tags.insert(key, *values);
        }
    } else {
        const QVariantMap legacy =
            m_defaults.dictionaryForKey(legacyTagsKey).value_or(QVariantMap());
        for (auto it = legacy.cbegin(); it != legacy.cend(); ++it) {
            const QString key = FilePaths::normalized(it.key());
            const std::optional<qint64> raw = integerValue(it.value());
            if (raw && isValidRaw(*raw) && !key.isEmpty() && !tags.contains(key))
                tags.insert(key, {*raw});
        }
        migrated = !tags.isEmpty();
    }

    m_bookmarks = bookmarks;
    setTagsMap(tags);
    if (migrated)
        save();
}

void TagStore::save()
{
    QVariantMap tags;
    for (auto it = m_tags.cbegin(); it != m_tags.cend(); ++it) {
        QVariantList values;
        for (qint64 raw : it.value())
            values.append(raw);
        tags.insert(it.key(), values);
    }
    QVariantMap bookmarks;
    for (auto it = m_bookmarks.cbegin(); it != m_bookmarks.cend(); ++it)
        bookmarks.insert(it.key(), it.value());
    m_defaults.setObject(tags, tagsKey);
    m_defaults.setObject(bookmarks, bookmarksKey);
}

void TagStore::setTagsMap(const TagMap &tags)
{
    if (tags == m_tags)
        return;
    m_tags = tags;
    Q_EMIT tagsChanged();
}

void TagStore::setRevision(qint64 revision)
{
    if (revision == m_revision)
        return;
    m_revision = revision;
    Q_EMIT revisionChanged(m_revision);
}

void TagStore::commitChange()
{
    setRevision(m_revision + 1);
    save();
}

FinderTagSet TagStore::tagsFor(const QUrl &url) const
{
    auto entry = m_tags.constFind(url.toLocalFile());
    if (entry == m_tags.cend())
        entry = m_tags.constFind(FilePaths::normalized(url));
    return entry == m_tags.cend() ? FinderTagSet() : tagSet(*entry);
}

void TagStore::setTags(const FinderTagSet &tags, const QUrl &url)
{
    const QString key = FilePaths::normalized(url);
    if (key.isEmpty())
        return;
    const std::optional<QList<qint64>> before =
        m_tags.contains(key) ? std::optional(m_tags.value(key)) : std::nullopt;
    TagMap updated = m_tags;
    if (tags.isEmpty()) {
        updated.remove(key);
        m_bookmarks.remove(key);
    } else {
        updated.insert(key, rawValues(tags));
        if (!m_bookmarks.contains(key)) {
            if (const std::optional<QByteArray> bookmark = Bookmark::create(key))
                m_bookmarks.insert(key, *bookmark);
        }
    }
    const std::optional<QList<qint64>> after =
        updated.contains(key) ? std::optional(updated.value(key)) : std::nullopt;
    if (after == before)
        return;
    setTagsMap(updated);
    commitChange();
}

void TagStore::toggleTag(FinderTag tag, const QUrl &url)
{
    FinderTagSet tags = tagsFor(url);
    if (!tags.remove(tag))
        tags.insert(tag);
    setTags(tags, url);
}

QList<QUrl> TagStore::taggedURLs(const FinderTagSet &anyOf) const
{
    QList<QUrl> urls;
    if (anyOf.isEmpty())
        return urls;
    const QList<qint64> wanted = rawValues(anyOf);
    for (auto it = m_tags.cbegin(); it != m_tags.cend(); ++it) {
        const QList<qint64> &values = it.value();
        if (std::any_of(values.cbegin(), values.cend(),
                        [&wanted](qint64 raw) { return wanted.contains(raw); }))
            urls.append(QUrl::fromLocalFile(it.key()));
    }
    return urls;
}

QHash<QUrl, FinderTagSet> TagStore::allTaggedItems() const
{
    QHash<QUrl, FinderTagSet> items;
    for (auto it = m_tags.cbegin(); it != m_tags.cend(); ++it) {
        const FinderTagSet tags = tagSet(it.value());
        if (!tags.isEmpty())
            items.insert(QUrl::fromLocalFile(it.key()), tags);
    }
    return items;
}

qint64 TagStore::mergeImported(const QHash<QUrl, FinderTagSet> &imported)
{
    qint64 count = 0;
    TagMap updated = m_tags;
    for (auto it = imported.cbegin(); it != imported.cend(); ++it) {
        const QString key = FilePaths::normalized(it.key());
        if (it.value().isEmpty() || key.isEmpty())
            continue;
        const FinderTagSet current = tagSet(updated.value(key));
        const FinderTagSet merged = current | it.value();
        if (merged == current)
            continue;
        updated.insert(key, rawValues(merged));
        if (!m_bookmarks.contains(key)) {
            if (const std::optional<QByteArray> bookmark = Bookmark::create(key))
                m_bookmarks.insert(key, *bookmark);
        }
        ++count;
    }
    if (count > 0) {
        setTagsMap(updated);
        commitChange();
    }
    return count;
}

void TagStore::moveTags(const QUrl &from, const QUrl &to)
{
    const QString oldPath = FilePaths::normalized(from);
    const QString newPath = FilePaths::normalized(to);
    if (oldPath == newPath || oldPath.isEmpty() || newPath.isEmpty())
        return;
    QList<QString> moving;
    for (auto it = m_tags.cbegin(); it != m_tags.cend(); ++it) {
        if (FilePaths::isAtOrBelow(it.key(), oldPath))
            moving.append(it.key());
    }
    if (moving.isEmpty())
        return;

    // All sources leave before any destination is written, so that an item moved onto the old
    // place of another moved item is not lost.
    TagMap tags = m_tags;
    TagBookmarkMap bookmarks = m_bookmarks;
    for (const QString &key : std::as_const(moving)) {
        tags.remove(key);
        bookmarks.remove(key);
    }
    for (const QString &key : std::as_const(moving)) {
        const QString destination = FilePaths::rebased(key, oldPath, newPath);
        tags.insert(destination, m_tags.value(key));
        if (const std::optional<QByteArray> bookmark = Bookmark::create(destination))
            bookmarks.insert(destination, *bookmark);
        else
            bookmarks.remove(destination);
    }
    m_bookmarks = bookmarks;
    setTagsMap(tags);
    commitChange();
}

void TagStore::setRelocating(bool relocating)
{
    if (relocating == m_relocating)
        return;
    m_relocating = relocating;
    Q_EMIT relocatingChanged(m_relocating);
}

void TagStore::relocateMovedItems(const QList<QUrl> &roots)
{
    const QStringList rootPaths = normalizedRoots(roots);
    if (m_bookmarks.isEmpty() || rootPaths.isEmpty())
        return;
    // Restarting would throw away a long search and start it again at every refresh.
    if (m_relocating) {
        m_pendingRelocation = rootPaths;
        return;
    }
    TagRelocation::Input input;
    for (auto it = m_tags.cbegin(); it != m_tags.cend(); ++it) {
        const auto bookmark = m_bookmarks.constFind(it.key());
        if (bookmark != m_bookmarks.cend())
            input.bookmarks.insert(it.key(), *bookmark);
    }
    input.roots = rootPaths;
    input.failed = m_failedSearches;
    input.resolver = m_resolver;
    m_relocationCancel = std::make_shared<CancelFlag>();
    setRelocating(true);
    BackgroundJob::run(
        this, m_relocationCancel, BackgroundJob::Priority::Utility,
        [input = std::move(input), flag = m_relocationCancel] {
            return TagRelocation::find(input, *flag);
        },
        [this](const TagRelocation::Result &result) {
            applyRelocation(result);
            setRelocating(false);
            if (const std::optional<QStringList> pending = std::exchange(m_pendingRelocation, {})) {
                QList<QUrl> urls;
                for (const QString &root : *pending)
                    urls.append(QUrl::fromLocalFile(root));
                relocateMovedItems(urls);
            }
        });
}

void TagStore::applyRelocation(const TagRelocation::Result &result)
{
    m_failedSearches.clear();
    for (auto it = result.failed.cbegin(); it != result.failed.cend(); ++it) {
        if (m_tags.contains(it.key()))
            m_failedSearches.insert(it.key(), it.value());
    }
    // The store may have changed while the job ran: an item untagged since, or a destination
    // tagged since, stays as it is now.
    TagMap tags = m_tags;
    TagBookmarkMap bookmarks = m_bookmarks;
    bool moved = false;
    for (auto it = result.moves.cbegin(); it != result.moves.cend(); ++it) {
        const QString &key = it.key();
        if (!tags.contains(key) || tags.contains(it->to))
            continue;
        tags.insert(it->to, tags.take(key));
        bookmarks.remove(key);
        bookmarks.insert(it->to, it->bookmark);
        moved = true;
    }
    if (!moved)
        return;
    m_bookmarks = bookmarks;
    setTagsMap(tags);
    commitChange();
}

void TagStore::pruneOutside(const QList<QUrl> &roots)
{
    const QStringList rootPaths = normalizedRoots(roots);
    if (rootPaths.isEmpty())
        return;
    TagMap kept;
    for (auto it = m_tags.cbegin(); it != m_tags.cend(); ++it) {
        if (isAtOrBelowAny(it.key(), rootPaths))
            kept.insert(it.key(), it.value());
    }
    if (kept.size() == m_tags.size())
        return;
    for (auto it = m_bookmarks.begin(); it != m_bookmarks.end();) {
        if (kept.contains(it.key()))
            ++it;
        else
            it = m_bookmarks.erase(it);
    }
    setTagsMap(kept);
    commitChange();
}
