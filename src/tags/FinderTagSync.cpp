// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FinderTagSync.h"

#include "FilePaths.h"

#include "FinderTagsIO.h"

#include "platform/FilePaths.h"

#include <QFile>

#include <algorithm>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace FinderTagSync {

namespace {

constexpr int cancelCheckInterval = 512;

// Case-folded colour name -> colour: the English display names, then the learnt ones over them.
QHash<QString, FinderTag> coloursByName(const std::optional<QStringList> &learnt)
{
    QHash<QString, FinderTag> colours;
    for (FinderTag tag : FinderTags::all)
        colours.insert(FinderTags::displayName(tag).toCaseFolded(), tag);
    if (learnt && learnt->size() >= 8) {
        for (FinderTag tag : FinderTags::all) {
            const QString &name = learnt->at(FinderTags::rawValue(tag) + 1);
            if (!name.isEmpty())
                colours.insert(name.toCaseFolded(), tag);
        }
    }
    return colours;
}

// Walks below the roots with readdir and d_type, never following links, and reads only each
// item's attributes: no file is opened, so a large library costs about one listing call per item.
class Walker final
{
public:
    Walker(Scan &result, const CancelFlagPtr &flag) : m_result(result), m_flag(flag) {}

    bool cancelled()
    {
        if (!m_flag || ++m_sinceCheck < cancelCheckInterval)
            return false;
        m_sinceCheck = 0;
        return m_flag->isCancelled();
    }

    void visit(const QByteArray &path)
    {
        FinderTagsIO::ItemTags tags = FinderTagsIO::readItemTagsAtPath(path);
        FinderTagSet colours;
        for (const FinderTagsIO::Entry &entry : std::as_const(tags.entries)) {
            if (const std::optional<FinderTag> tag =
                    FinderTags::fromFinderColorIndex(entry.colorIndex))
                colours.insert(*tag);
        }
        m_result.names.record(tags.entries);
        if (!colours.isEmpty())
            m_result.perItem.insert(FilePaths::decoded(path), colours);
        if (!tags.xdgNames.isEmpty())
            m_xdgItems.emplace_back(path, std::move(tags.xdgNames));
    }

    // Freedesktop names are matched only after the walk, so that names learnt anywhere in it
    // count for every item.
    void resolveXdgNames(const std::optional<QStringList> &favoriteNames)
    {
        if (m_xdgItems.empty())
            return;
        const QHash<QString, FinderTag> colours =
            coloursByName(m_result.names.learntNames(favoriteNames));
        for (const auto &[path, names] : m_xdgItems) {
            FinderTagSet found;
            for (const QString &name : names) {
                if (const auto colour = colours.constFind(name.toCaseFolded());
                    colour != colours.cend())
                    found.insert(*colour);
            }
            if (!found.isEmpty())
                m_result.perItem[FilePaths::decoded(path)].unite(found);
        }
    }

    // Returns false when cancelled.
    bool walk(const QByteArray &root)
    {
        std::vector<QByteArray> pending{root};
        while (!pending.empty()) {
            const QByteArray folder = std::move(pending.back());
            pending.pop_back();
            DIR *dir = ::opendir(folder.constData());
            if (!dir)
                continue;
            const QByteArray prefix = folder.endsWith('/') ? folder : QByteArray(folder + '/');
            while (const dirent *entry = ::readdir(dir)) {
                const char *name = entry->d_name;
                if (FilePaths::isSelfOrParentEntry(name))
                    continue;
                if (cancelled()) {
                    ::closedir(dir);
                    return false;
                }
                QByteArray child = prefix;
                child.append(name);
                visit(child);
                if (isFolder(entry->d_type, child))
                    pending.push_back(std::move(child));
            }
            ::closedir(dir);
        }
        return true;
    }

private:
    static bool isFolder(unsigned char type, const QByteArray &path)
    {
        if (type != DT_UNKNOWN)
            return type == DT_DIR;
        struct stat st;
        return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    Scan &m_result;
    const CancelFlagPtr &m_flag;
    std::vector<std::pair<QByteArray, QStringList>> m_xdgItems;
    // The first item already looks at the flag.
    int m_sinceCheck = cancelCheckInterval - 1;
};

} // namespace

Scan scan(const QList<QUrl> &roots, const std::optional<QStringList> &favoriteNames,
          const CancelFlagPtr &flag)
{
    Scan result;
    Walker walker(result, flag);
    for (const QUrl &root : roots) {
        const QString path = FilePaths::normalized(root);
        if (path.isEmpty())
            continue;
        const QByteArray local = FilePaths::encoded(path);
        walker.visit(local);
        if (!walker.walk(local))
            return result;
    }
    walker.resolveXdgNames(favoriteNames);
    return result;
}

ExportResult exportItems(const QHash<QUrl, FinderTagSet> &items, const QMap<qint64, QString> &names,
                         bool allowDefaultNames, const CancelFlagPtr &flag)
{
    ExportResult result;
    for (auto item = items.cbegin(); item != items.cend(); ++item) {
        if (flag && flag->isCancelled())
            break;
        const QUrl &url = item.key();
        if (!url.isLocalFile() || !FilePaths::exists(url.toLocalFile()))
            continue;
        bool ok = false;
        bool bad = false;
        bool counted = false;
        QStringList xdgNames;
        for (FinderTag tag : FinderTags::sorted(item.value())) {
            const qint64 index = FinderTags::finderColorIndex(tag);
            QString name;
            if (const auto known = names.constFind(index); known != names.cend()) {
                name = *known;
            } else if (allowDefaultNames) {
                name = FinderTags::displayName(tag);
            } else {
                result.skippedColors.insert(tag);
                continue;
            }
            // Read afresh for every colour so that each write carries every tag on the file,
            // including those this loop just added.
            QList<FinderTagsIO::Entry> entries = FinderTagsIO::readEntries(url);
            if (!counted) {
                result.names.record(entries);
                counted = true;
            }
            const auto present = std::find_if(
                entries.cbegin(), entries.cend(),
                [index](const FinderTagsIO::Entry &e) { return e.colorIndex == index; });
            if (present != entries.cend()) {
                ok = true;
                // Dolphin then shows the colour under the name the file already gives it.
                xdgNames.append(present->name);
                continue;
            }
            entries.append({name, index});
            if (FinderTagsIO::writeEntries(entries, url)) {
                ok = true;
                xdgNames.append(name);
            } else {
                bad = true;
            }
        }
        if (!bad && !xdgNames.isEmpty() && !FinderTagsIO::addXdgTags(xdgNames, url))
            bad = true;
        if (bad)
            ++result.filesFailed;
        else if (ok)
            ++result.filesWritten;
    }
    return result;
}

bool defaultNamesAllowed(const QStringList &preferredLanguages)
{
    return !preferredLanguages.isEmpty() &&
           preferredLanguages.constFirst().toLower().startsWith(QLatin1String("en"));
}

} // namespace FinderTagSync
