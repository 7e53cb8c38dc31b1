// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>

#include <functional>

class QAbstractItemView;
class QWidget;

// Makes a plain click on a row of an item view run an action, while a press that moves past the
// drag distance is left to the view, so the same row can still be dragged out. It watches the
// view's viewport and never consumes an event: the view's own selection and drag handling run
// as before. The action learns whether the row was selected before the press, because by the
// time of the release the view has already selected it. Owned by the view.
class ReliableRowClick final : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void(const QModelIndex &index, bool wasSelected)>;

    ReliableRowClick(QAbstractItemView &view, Action action);
    ~ReliableRowClick() override;
    Q_DISABLE_COPY_MOVE(ReliableRowClick)

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAbstractItemView &m_view;
    QWidget *m_viewport;
    Action m_action;
    QPersistentModelIndex m_pressed;
    QPoint m_pressPosition;
    bool m_moved = false;
    bool m_wasSelected = false;
};
