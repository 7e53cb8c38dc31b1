// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagRelocation.h"

#include "platform/FilePaths.h"

#include <algorithm>

TagRelocation::Result TagRelocation::find(const Input &input, const CancelFlag &flag)
{
    Result result;
    FolderListingCache listings;
    for (auto it = input.bookmarks.cbegin(); it != input.bookmarks.cend(); ++it) {
        if (flag.isCancelled())
            break;
        const QString &key = it.key();
        if (FilePaths::exists(key))
            continue;
        const auto failed = input.failed.constFind(key);
        if (failed != input.failed.cend() && Bookmark::isUnchanged(*failed, listings)) {
            result.failed.insert(key, *failed);
            continue;
        }
        Bookmark::SearchTrace searched;
        const std::optional<Bookmark::Resolution> resolved =
            input.resolver(it.value(), &searched, listings);
        if (!resolved) {
            result.failed.insert(key, searched);
            continue;
        }
        const QString path = FilePaths::normalized(resolved->path);
        if (path.isEmpty() || path == key || !FilePaths::exists(path))
            continue;
        const bool inRoot =
            std::any_of(input.roots.cbegin(), input.roots.cend(), [&path](const QString &root) {
                return FilePaths::isAtOrBelow(path, root);
            });
        if (!inRoot)
            continue;
        result.moves.insert(key, Move{path, Bookmark::create(path).value_or(it.value())});
    }
    return result;
}

TagRelocation::Resolver TagRelocation::defaultResolver()
{
    return [](const QByteArray &data, Bookmark::SearchTrace *searched,
              FolderListingCache &listings) { return Bookmark::resolve(data, searched, listings); };
}
