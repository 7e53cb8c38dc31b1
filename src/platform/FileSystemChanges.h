#pragma once

#include <QStringList>

// What one or more batches of file-system events changed below the watched roots.
struct FileSystemChanges
{
    // False when events were lost or could not be told apart: everything may have changed.
    bool complete = true;
    QStringList folders; // folders whose own entries changed
    QStringList trees;   // folders whose whole subtree changed (created, moved or deleted)

    bool isEmpty() const { return complete && folders.isEmpty() && trees.isEmpty(); }
    void merge(const FileSystemChanges &other)
    {
        complete = complete && other.complete;
        for (const QString &folder : other.folders) {
            if (!folders.contains(folder))
                folders.append(folder);
        }
        for (const QString &tree : other.trees) {
            if (!trees.contains(tree))
                trees.append(tree);
        }
    }
};
