// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileNode.h"
#include "VisibleRow.h"

#include <QObject>
#include <QSet>
#include <QUrl>

#include <functional>
#include <optional>

class Preferences;

// What the tree shows of the roots: which folders are expanded, which item is selected, and the
// flattened rows that follow from them. Main thread only.
class TreeNavigation final : public QObject
{
    Q_OBJECT

public:
    // `roots` and `tagScope` are read when rows are made: the tree's own roots, and the folders
    // and samples of the active colour filters (empty when there are none). `pendingRow` gives
    // the row an open folder shows while its contents are on their way, or null.
    struct Sources
    {
        std::function<FileNodePtr(const FileNodePtr &folder)> pendingRow;
        std::function<const QList<FileNodePtr> &()> roots;
        std::function<const QList<FileNodePtr> &()> tagScopeFolders;
        std::function<const QList<FileNodePtr> &()> tagScopeSamples;
        std::function<bool()> isTagFiltered;
    };
    TreeNavigation(Preferences &defaults, Sources sources, QObject *parent = nullptr);
    ~TreeNavigation() override;
    Q_DISABLE_COPY_MOVE(TreeNavigation)

    const QSet<QUrl> &expanded() const { return m_expanded; }
    // False when nothing changed.
    bool setExpanded(const QSet<QUrl> &expanded);
    QUrl selection() const { return m_selection; }
    // Stores the selection; false when it was selected already.
    bool setSelection(const QUrl &selection);

    void toggle(const FileNodePtr &node);
    void expand(const FileNodePtr &node);
    void collapse(const FileNodePtr &node);
    void collapseAll();
    // Expands the folders down to `url` inside the roots, whether or not their contents have
    // arrived, and `url` itself when it is a folder; the node at `url` when it is known already.
    FileNodePtr reveal(const QUrl &url, bool isFolder);
    // Every expanded folder and the selection at or below `oldPath` move to `newPath`.
    void rebase(const QString &oldPath, const QString &newPath);
    // Forgets what lies at or below `path`.
    void forget(const QString &path);

    QList<VisibleRow> visibleRows() const;
    QList<VisibleRow> tagScopedRows() const;
    FileNodePtr node(const QUrl &url) const;
    bool isExpanded(const FileNode &node) const;
    bool isExpanded(const QString &path) const { return m_expandedPaths.contains(path); }
    // The selected folder, or the folder of the selected file.
    QUrl selectedFolder();

    void load();

Q_SIGNALS:
    void expandedChanged();
    void selectionChanged();

private:
    void storeExpanded(QSet<QUrl> expanded);
    void changeExpanded(QSet<QUrl> expanded);
    void appendRows(QList<VisibleRow> &rows, const FileNodePtr &node, int depth,
                    const QUrl &context) const;

    Preferences &m_defaults;
    Sources m_sources;
    QSet<QUrl> m_expanded;
    QSet<QString> m_expandedPaths;
    QUrl m_selection;
    std::optional<std::pair<QUrl, QUrl>> m_selectedFolderCache;
};
