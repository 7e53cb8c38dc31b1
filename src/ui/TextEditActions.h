// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QLineEdit;
class QMenu;
class QWidget;

// The Edit menu's text commands. Each acts on the focused text field and is enabled only when
// that field could do it, so a command never reaches a widget that would ignore it.
class TextEditActions final : public QObject
{
    Q_OBJECT

public:
    // Appends Undo, Redo, a separator, Cut, Copy, Paste and Select All to `menu`.
    explicit TextEditActions(QMenu &menu);
    ~TextEditActions() override;
    Q_DISABLE_COPY_MOVE(TextEditActions)

    QAction *undoAction() const { return m_undo; }
    QAction *redoAction() const { return m_redo; }
    QAction *cutAction() const { return m_cut; }
    QAction *copyAction() const { return m_copy; }
    QAction *pasteAction() const { return m_paste; }
    QAction *selectAllAction() const { return m_selectAll; }

private:
    void follow(QWidget *focused);
    void update();

    QAction *m_undo;
    QAction *m_redo;
    QAction *m_cut;
    QAction *m_copy;
    QAction *m_paste;
    QAction *m_selectAll;
    QPointer<QLineEdit> m_field;
};
