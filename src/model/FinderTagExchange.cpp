// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FinderTagExchange.h"

#include "BackgroundJob.h"
#include "FinderTagSync.h"
#include "FinderTagsIO.h"
#include "Preferences.h"
#include "TagStore.h"

#include <memory>
#include <utility>

FinderTagExchange::FinderTagExchange(Preferences &defaults, TagStore *tags, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_tags(tags)
{}

FinderTagExchange::~FinderTagExchange() = default;

void FinderTagExchange::importTags(const QList<QUrl> &roots,
                                   std::function<void(qint64 changed)> completion)
{
    if (!m_tags) {
        if (completion)
            completion(0);
        return;
    }
    const std::optional<QStringList> names = FinderTagsIO::favoriteTagNames(m_defaults);

    auto flag = std::make_shared<CancelFlag>();
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [roots, names, flag] { return FinderTagSync::scan(roots, names, flag); },
        [this, completion = std::move(completion)](FinderTagSync::Scan scan) {
            scan.names.storeInto(m_defaults);
            qint64 changed = 0;
            if (m_tags) {
                QHash<QUrl, FinderTagSet> imported;
                imported.reserve(scan.perItem.size());
                for (auto it = scan.perItem.cbegin(); it != scan.perItem.cend(); ++it)
                    imported.insert(QUrl::fromLocalFile(it.key()), it.value());
                changed = m_tags->mergeImported(imported);
            }
            if (completion)
                completion(changed);
        });
}

void FinderTagExchange::exportTags(bool allowDefaultNames,
                                   std::function<void(ExportSummary)> completion)
{
    if (!m_tags) {
        if (completion)
            completion(ExportSummary());
        return;
    }
    const QMap<qint64, QString> names =
        FinderTagsIO::tagNameMap(FinderTagsIO::favoriteTagNames(m_defaults));
    const QHash<QUrl, FinderTagSet> items = m_tags->allTaggedItems();

    auto flag = std::make_shared<CancelFlag>();
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [items, names, allowDefaultNames, flag] {
            return FinderTagSync::exportItems(items, names, allowDefaultNames, flag);
        },
        [this, completion = std::move(completion)](FinderTagSync::ExportResult result) {
            result.names.storeInto(m_defaults);
            if (completion)
                completion(
                    ExportSummary{result.filesWritten, result.filesFailed, result.skippedColors});
        });
}
