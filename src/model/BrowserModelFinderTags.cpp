#include "BrowserModel.h"

#include "BackgroundJob.h"
#include "FinderTagSync.h"
#include "FinderTagsIO.h"
#include "Preferences.h"
#include "TagStore.h"

#include <memory>
#include <utility>

// The file work runs on a background job over copies; the tag store is read before it and
// changed after it, on the main thread only; so are the tag names the files taught it.

void BrowserModel::importFinderTags(std::function<void(qint64 changed)> completion)
{
    if (!m_tagStore) {
        if (completion)
            completion(0);
        return;
    }
    QList<QUrl> roots;
    roots.reserve(m_roots.size());
    for (const FileNodePtr &root : std::as_const(m_roots))
        roots.append(root->url());

    const std::optional<QStringList> names = FinderTagsIO::favoriteTagNames(m_defaults);

    auto flag = std::make_shared<CancelFlag>();
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [roots, names, flag] { return FinderTagSync::scan(roots, names, flag); },
        [this, completion = std::move(completion)](FinderTagSync::Scan scan) {
            scan.names.storeInto(m_defaults);
            qint64 changed = 0;
            if (m_tagStore) {
                QHash<QUrl, FinderTagSet> imported;
                imported.reserve(scan.perItem.size());
                for (auto it = scan.perItem.cbegin(); it != scan.perItem.cend(); ++it)
                    imported.insert(QUrl::fromLocalFile(it.key()), it.value());
                changed = m_tagStore->mergeImported(imported);
            }
            if (completion)
                completion(changed);
        });
}

void BrowserModel::exportFinderTags(bool allowDefaultNames,
                                    std::function<void(ExportSummary)> completion)
{
    if (!m_tagStore) {
        if (completion)
            completion(ExportSummary());
        return;
    }
    const QMap<qint64, QString> names =
        FinderTagsIO::tagNameMap(FinderTagsIO::favoriteTagNames(m_defaults));
    const QHash<QUrl, FinderTagSet> items = m_tagStore->allTaggedItems();

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
