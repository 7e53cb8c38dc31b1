// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileNode.h"
#include "FinderTag.h"
#include "TagStore.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QUrl>

#include <optional>

class AudioPreviewPlayer;
class BrowserModel;

// The search results as an item model: the name column, and the tempo and key columns that the
// table may show. Sorting by tempo or key reorders the rows; the name column is the search order. A
// new result list resets the model; playback and tag changes only touch the rows they concern, so
// long lists never re-layout for them.
class ResultsModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        NameColumn,
        TempoColumn,
        KeyColumn,
        ColumnCount
    };
    enum Role
    {
        UrlRole = Qt::UserRole + 1,
        IsDirectoryRole,
        IsPlayingRole,
        // Raw values of the item's tags, red first.
        TagsRole,
        // The containing folder relative to the item's root ("Drums/Kicks"); for an item at the
        // top of a root, the root's name. Qt::ToolTipRole holds the whole path.
        FolderRole,
        // What the tempo and key columns sort by.
        SortRole,
    };

    ResultsModel(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                 QObject *parent = nullptr);
    ~ResultsModel() override;
    Q_DISABLE_COPY_MOVE(ResultsModel)

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    QStringList mimeTypes() const override;
    // Only files that still exist are handed out; null when none is left.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    const QList<FileNodePtr> &results() const { return m_results; }
    FileNodePtr node(int row) const;
    // -1 when the URL is not listed.
    int rowOf(const QUrl &url) const;
    QList<FinderTag> tags(int row) const;
    bool isPlaying(int row) const;
    QString folder(int row) const;
    // The row of the file being played; -1 when it is not listed.
    int playingRow() const;

private:
    void reload();
    // "Copy 2 of 3 · " for a row of a list of copies; empty otherwise.
    QString copyLabel(int row) const;
    void applySort();
    QVariant soundData(const FileNodePtr &item, int column, int role) const;
    void updatePlaying();
    void updateTags();
    void rowChanged(int row);
    int rowOfPath(const QString &path) const;

    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    TagStore &m_tags;
    QList<FileNodePtr> m_results;
    QString m_playingPath;
    mutable std::optional<int> m_playingRow;
    TagMap m_lastTags;
    // Built on demand: most result lists are replaced before more than a few rows are looked up.
    mutable QHash<QString, int> m_rowByPath;
    QHash<QString, std::pair<int, int>> m_copies; // path: its place in its group, the group's size
    mutable int m_linearLookups = 0;
    int m_sortColumn = NameColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
