// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"
#include "TagRelocation.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

class Preferences;

// Normalised path of an item -> raw values of its tags, unique and ascending. An item without
// tags has no entry, never an empty list.
using TagMap = QMap<QString, QList<qint64>>;
// Normalised path -> bookmark data of the item, made when it was first tagged.
using TagBookmarkMap = QMap<QString, QByteArray>;

// The application's own colour tags on files and folders, kept in the preferences store by
// normalised path. Main thread only: background jobs get copies (allTaggedItems()) and hand their
// results back to mergeImported() on the main thread.
class TagStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TagMap tags READ tags NOTIFY tagsChanged)
    Q_PROPERTY(qint64 revision READ revision NOTIFY revisionChanged)
    Q_PROPERTY(bool relocating READ isRelocating NOTIFY relocatingChanged)

public:
    // Loads the stored tags at once; loading does not count as a change.
    explicit TagStore(Preferences &defaults, QObject *parent = nullptr);
    ~TagStore() override;
    Q_DISABLE_COPY_MOVE(TagStore)

    static inline const QString tagsKey = QStringLiteral("itemColorTagsV2");
    static inline const QString bookmarksKey = QStringLiteral("itemColorBookmarks");
    static inline const QString legacyTagsKey = QStringLiteral("itemColorTags");

    TagMap tags() const { return m_tags; }
    TagBookmarkMap bookmarks() const { return m_bookmarks; }
    // Increases by 1 after every change made by one of the operations below.
    qint64 revision() const { return m_revision; }

    FinderTagSet tagsFor(const QUrl &url) const;
    // Replaces the item's tags; an empty set removes them.
    void setTags(const FinderTagSet &tags, const QUrl &url);
    // Adds the tag when the item lacks it, removes it otherwise.
    void toggleTag(FinderTag tag, const QUrl &url);
    // Every item carrying at least one of `anyOf`, in no particular order.
    QList<QUrl> taggedURLs(const FinderTagSet &anyOf) const;
    // One entry per item with at least one valid tag.
    QHash<QUrl, FinderTagSet> allTaggedItems() const;
    // Adds imported colours, never removes one; returns the number of items that changed.
    qint64 mergeImported(const QHash<QUrl, FinderTagSet> &imported);
    // Re-keys an item and everything below it after the application moved or relinked it.
    void moveTags(const QUrl &from, const QUrl &to);
    // Finds items moved outside the application through their bookmarks, within `roots`, on a
    // background job; a request while one runs is served when it ends.
    void relocateMovedItems(const QList<QUrl> &roots);
    bool isRelocating() const { return m_relocating; }
    // Tests stand in for the bookmark search here.
    void setResolver(TagRelocation::Resolver resolver) { m_resolver = std::move(resolver); }
    // Forgets items outside every root; with no roots everything stays.
    void pruneOutside(const QList<QUrl> &roots);

Q_SIGNALS:
    void tagsChanged();
    void revisionChanged(qint64 revision);
    void relocatingChanged(bool relocating);

private:
    void load();
    void save();
    void setTagsMap(const TagMap &tags);
    void setRevision(qint64 revision);
    // Counts one change and persists it.
    void commitChange();
    void setRelocating(bool relocating);
    void applyRelocation(const TagRelocation::Result &result);

    TagMap m_tags;
    TagBookmarkMap m_bookmarks;
    qint64 m_revision = 0;
    Preferences &m_defaults;
    TagRelocation::Resolver m_resolver = TagRelocation::defaultResolver();
    TagRelocation::FailedSearches m_failedSearches;
    CancelFlagPtr m_relocationCancel;
    bool m_relocating = false;
    std::optional<QStringList> m_pendingRelocation;
};
