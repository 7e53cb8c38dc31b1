// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListView>
#include <QPoint>

#include <functional>

// The tree's list. It does not select on press: it reports a click (press and release on the
// same row without a drag) and the start of a drag instead, so the sidebar decides what both
// mean. It hands the tree's own keys to a handler and, since every row is equally tall, repaints
// only the visible rows whose data changed.
class TreeListView final : public QListView
{
    Q_OBJECT

public:
    explicit TreeListView(QWidget *parent = nullptr);
    ~TreeListView() override;
    Q_DISABLE_COPY_MOVE(TreeListView)

    // Called for left, right and space without modifiers; true when the key was handled.
    void setKeyHandler(std::function<bool(int key)> handler) { m_keyHandler = std::move(handler); }

Q_SIGNALS:
    void rowClicked(int row);
    void rowDragStarted(int row);
    // -1 when the pointer is over no row or has left the list.
    void hoveredRowChanged(int row);

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = {}) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void setHoveredRow(int row);

    std::function<bool(int)> m_keyHandler;
    int m_pressedRow = -1;
    QPoint m_pressPos;
    bool m_dragging = false;
};
