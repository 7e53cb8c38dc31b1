// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"

#include <QTableView>
#include <QTimer>

class AudioPreviewPlayer;
class BrowserModel;
class QMenu;
class ReliableRowClick;
class ResultsModel;
class SearchResultRow;
class TagStore;

// The flat list of search results shown in place of the tree while searching. Selecting a row
// previews it; the keys, the context menu and file drags follow the tree's habits.
class ResultsTableView final : public QTableView
{
    Q_OBJECT

public:
    ResultsTableView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                     QWidget *parent = nullptr);
    ~ResultsTableView() override;
    Q_DISABLE_COPY_MOVE(ResultsTableView)

    ResultsModel &resultsModel() const { return *m_results; }
    int hoveredRow() const { return m_hoveredRow; }
    // -1 when nothing is selected.
    int selectedRow() const;
    // The optional BPM and Key columns, sortable by their header; the choice is kept in the
    // preferences.
    void setSoundColumnsShown(bool shown);
    bool soundColumnsShown() const;
    // The context menu of a row; null for a row that is not listed. The caller owns it.
    QMenu *contextMenuForRow(int row, QWidget *parent);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void applySoundColumns(bool shown);
    // The files of `row` and the rows above and below it, decoded ahead.
    void prepareAround(int row);
    void syncSelection();
    void handleFocusRequest();
    void focusTable();
    void selectRowAndReveal(int row);
    void setHoveredRow(int row);
    void updateRow(int row);
    void updatePulse();

    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    TagStore &m_tags;
    ResultsModel *m_results;
    SearchResultRow *m_rowDelegate;
    ReliableRowClick *m_rowClick;
    qint64 m_lastFocusRequest;
    int m_hoveredRow = -1;
    QTimer m_pulseTimer;
    int m_pulseStep = 0;
};
