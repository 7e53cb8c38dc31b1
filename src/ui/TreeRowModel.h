// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"
#include "TagStore.h"
#include "VisibleRow.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class AudioPreviewPlayer;
class BrowserModel;

// The flattened tree as a list model: the model's visible rows, or its tag-scoped rows while tag
// filters are on. It listens to the browser model, the player and the tag store and turns their
// changes into row insertions, removals, updates or, when nothing simpler fits, a reset.
class TreeRowModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        UrlRole = Qt::UserRole + 1,
        DepthRole,
        IsDirectoryRole,
        IsExpandedRole,
        IsPlayingRole,
        IsOfflineRole,
        IsHoveredRole,
        ContainsSelectionRole,
        TagsRole, // QList<int> of raw tag values, in tag order
    };

    // What the row delegate needs, computed when the row is built or its inputs change.
    struct Row
    {
        VisibleRow row;
        quint8 tagMask = 0; // bit n: the tag with raw value n
        bool isDirectory = false;
        bool isExpanded = false;
        bool isOffline = false;
        bool isUnanswered = false; // a root whose share has not answered
        bool isPlaying = false;
        bool containsSelection = false;
    };

    TreeRowModel(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                 QObject *parent = nullptr);
    ~TreeRowModel() override;
    Q_DISABLE_COPY_MOVE(TreeRowModel)

    int rowCount(const QModelIndex &parent = {}) const override;
    // A note row (a folder's "No permission…") can be neither selected nor dragged.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    const Row &rowAt(int row) const { return m_rows.at(row); }
    // The first row showing `url`, or -1.
    int rowOf(const QUrl &url) const;
    bool isHovered(int row) const;

    QUrl hoveredURL() const { return m_hoveredURL; }
    // Repaints only the rows that lose and gain the hover.
    void setHoveredURL(const QUrl &url);

    // True while rows are being inserted, removed or reset: selection changes that the view
    // reports meanwhile are its own bookkeeping, not the user's.
    bool isChangingRows() const { return m_changingRows; }

    static QList<FinderTag> tagsOf(quint8 mask);

private:
    void rebuild();
    Row makeRow(const VisibleRow &visible) const;
    // True when the row's look changed.
    bool updateKeptRow(Row &row, const VisibleRow &visible) const;
    bool isOffline(const VisibleRow &visible) const;
    bool isUnanswered(const VisibleRow &visible) const;
    void refreshTags();
    void refreshPlaying();
    void refreshContainsSelection();
    void emitRowsShowing(const QString &path);
    // Every row that shows `path`: one, except while tag filters show an item twice.
    QList<int> rowsShowing(const QString &path) const;
    void indexRows() const;
    void forgetIndex();
    void emitRowsChanged(int first, int last);

    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    TagStore &m_tags;
    QList<Row> m_rows;
    // The first row of each path, so lookups by URL need no walk over the rows.
    // Built on demand; absent after every change of the rows.
    mutable std::optional<QHash<QString, int>> m_rowByPath;
    mutable bool m_hasRepeatedPaths = false;
    mutable qsizetype m_linearLookups = 0;
    // The store's tags as of the last change seen, keyed by the same normalised paths as nodes.
    TagMap m_tagSnapshot;
    QString m_playingPath;
    QString m_selectionPath;
    QUrl m_hoveredURL;
    QString m_hoveredPath;
    bool m_changingRows = false;
};
