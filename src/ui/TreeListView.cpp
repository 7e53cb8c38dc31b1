// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TreeListView.h"

#include <QApplication>
#include <QMouseEvent>

TreeListView::TreeListView(QWidget *parent) : QListView(parent)
{
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    viewport()->setMouseTracking(true);
}

TreeListView::~TreeListView() = default;

// The list's own handling repaints the whole viewport for every change; a hover or a playing
// mark needs only its row.
void TreeListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                               const QList<int> &)
{
    if (!topLeft.isValid() || !bottomRight.isValid())
        return viewport()->update();
    const QRect area = viewport()->rect();
    const QModelIndex firstShown = indexAt(area.topLeft());
    const QModelIndex lastShown = indexAt(QPoint(area.left(), area.bottom()));
    const int first = std::max(topLeft.row(), firstShown.isValid() ? firstShown.row() : 0);
    const int last = std::min(bottomRight.row(),
                              lastShown.isValid() ? lastShown.row() : model()->rowCount() - 1);
    if (first > last)
        return;
    const QRect top = visualRect(model()->index(first, 0));
    const QRect bottom = visualRect(model()->index(last, 0));
    viewport()->update(
        QRect(area.left(), top.top(), area.width(), bottom.bottom() - top.top() + 1));
}

void TreeListView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    m_pressedRow = event->button() == Qt::LeftButton && index.isValid() ? index.row() : -1;
    m_pressPos = event->position().toPoint();
    m_dragging = false;
    if (event->button() == Qt::LeftButton && !index.isValid())
        setFocus(Qt::MouseFocusReason);
    event->accept();
}

void TreeListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A second click is a click of its own.
    mousePressEvent(event);
}

void TreeListView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    setHoveredRow(index.isValid() ? index.row() : -1);
    event->accept();
    if (!(event->buttons() & Qt::LeftButton) || m_pressedRow < 0 || m_dragging)
        return;
    if ((pos - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragging = true;
    const int row = m_pressedRow;
    m_pressedRow = -1;
    Q_EMIT rowDragStarted(row);
}

void TreeListView::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const int pressed = m_pressedRow;
    m_pressedRow = -1;
    event->accept();
    if (event->button() == Qt::LeftButton && pressed >= 0 && !m_dragging && index.isValid() &&
        index.row() == pressed)
        Q_EMIT rowClicked(pressed);
}

void TreeListView::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Space) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // The list's own meaning of these keys (moving sideways, selecting with space) would
        // fight the tree's, so they never reach it.
        if (m_keyHandler && m_keyHandler(key))
            event->accept();
        else
            event->ignore();
        return;
    }
    QListView::keyPressEvent(event);
}

bool TreeListView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave)
        setHoveredRow(-1);
    return QListView::viewportEvent(event);
}

void TreeListView::setHoveredRow(int row)
{
    // Reported on every move: after the rows change, the same row may show another item.
    Q_EMIT hoveredRowChanged(row);
}
