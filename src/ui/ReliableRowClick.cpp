// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReliableRowClick.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QItemSelectionModel>
#include <QMouseEvent>

ReliableRowClick::ReliableRowClick(QAbstractItemView &view, Action action)
    : QObject(&view), m_view(view), m_viewport(view.viewport()), m_action(std::move(action))
{
    m_viewport->installEventFilter(this);
}

ReliableRowClick::~ReliableRowClick() = default;

bool ReliableRowClick::eventFilter(QObject *watched, QEvent *event)
{
    // Compared with the viewport seen at construction: while the view is being destroyed its
    // viewport still gets events, and the view must not be asked for anything then.
    if (watched != m_viewport)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        // Each click of a double click counts, as it would for a button.
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        m_pressPosition = mouse->position().toPoint();
        m_pressed = m_view.indexAt(m_pressPosition);
        m_moved = false;
        m_wasSelected = m_pressed.isValid() && m_view.selectionModel() &&
                        m_view.selectionModel()->isSelected(m_pressed);
        break;
    }
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_pressed.isValid() &&
            (mouse->position().toPoint() - m_pressPosition).manhattanLength() >=
                QApplication::startDragDistance())
            m_moved = true;
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        const QPersistentModelIndex pressed = std::exchange(m_pressed, QPersistentModelIndex());
        if (!pressed.isValid() || m_moved)
            break;
        const QModelIndex released = m_view.indexAt(mouse->position().toPoint());
        if (released.isValid() && released.row() == pressed.row() &&
            released.parent() == pressed.parent() && m_action)
            m_action(pressed, m_wasSelected);
        break;
    }
    case QEvent::DragEnter:
    case QEvent::Leave:
        m_moved = true;
        break;
    default:
        break;
    }
    return false;
}
