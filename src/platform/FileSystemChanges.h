// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSet>
#include <QStringList>

#include <algorithm>

// What changed below the watched roots in one or more batches of file-system events, so that the
// caller lists again only those folders. Paths are absolute and clean; hidden names (a leading
// '.') below a root never appear.
struct FileSystemChanges
{
    // False when events were lost or could not be told apart (a queue overflow, a change found by
    // the periodic re-scan, a mount-table change, a root itself created, moved or deleted, a new
    // folder that could not be watched): then the lists are empty and everything must be listed
    // again.
    bool complete = true;
    // Folders whose direct entries changed: an entry created, deleted, moved in or out, renamed,
    // written or given new attributes.
    QStringList folders;
    // Folders whose whole subtree must be listed again: created, moved in or out, renamed (the old
    // and the new path) or deleted.
    QStringList trees;

    bool isEmpty() const { return complete && folders.isEmpty() && trees.isEmpty(); }

    // The union of both; a folder or tree inside a listed tree is dropped.
    void merge(const FileSystemChanges &other)
    {
        complete = complete && other.complete;
        folders += other.folders;
        trees += other.trees;
        normalise();
    }

    // Sorts, removes duplicates and whatever a listed tree already covers.
    void normalise()
    {
        if (!complete) {
            folders.clear();
            trees.clear();
            return;
        }
        trees.sort();
        trees.removeDuplicates();
        const QSet<QString> treeSet(trees.cbegin(), trees.cend());
        const auto coveredBelow = [&treeSet](const QString &path, bool orAt) {
            if (treeSet.contains(QStringLiteral("/")) && (orAt || path != QStringLiteral("/")))
                return true;
            for (qsizetype slash = path.indexOf(u'/', 1); slash > 0;
                 slash = path.indexOf(u'/', slash + 1)) {
                if (treeSet.contains(path.left(slash)))
                    return true;
            }
            return orAt && treeSet.contains(path);
        };
        trees.erase(std::remove_if(trees.begin(), trees.end(),
                                   [&](const QString &tree) { return coveredBelow(tree, false); }),
                    trees.end());
        folders.sort();
        folders.removeDuplicates();
        folders.erase(
            std::remove_if(folders.begin(), folders.end(),
                           [&](const QString &folder) { return coveredBelow(folder, true); }),
            folders.end());
    }
};
