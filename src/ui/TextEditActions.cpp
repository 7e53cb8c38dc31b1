// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TextEditActions.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>

#include <functional>

namespace {

QAction *addCommand(QMenu &menu, const QString &text, QKeySequence::StandardKey key,
                    const QString &name)
{
    QAction *action = menu.addAction(text);
    action->setObjectName(name);
    action->setShortcut(QKeySequence(key));
    // The field handles its own keys; the shortcut is shown and serves only the menu.
    action->setShortcutContext(Qt::WidgetShortcut);
    return action;
}

} // namespace

TextEditActions::TextEditActions(QMenu &menu) : QObject(&menu)
{
    m_undo = addCommand(menu, QStringLiteral("Undo"), QKeySequence::Undo, QStringLiteral("undo"));
    m_redo = addCommand(menu, QStringLiteral("Redo"), QKeySequence::Redo, QStringLiteral("redo"));
    menu.addSeparator();
    m_cut = addCommand(menu, QStringLiteral("Cut"), QKeySequence::Cut, QStringLiteral("cut"));
    m_copy = addCommand(menu, QStringLiteral("Copy"), QKeySequence::Copy, QStringLiteral("copy"));
    m_paste =
        addCommand(menu, QStringLiteral("Paste"), QKeySequence::Paste, QStringLiteral("paste"));
    m_selectAll = addCommand(menu, QStringLiteral("Select All"), QKeySequence::SelectAll,
                             QStringLiteral("selectAll"));

    const auto bind = [this](QAction *action, std::function<void(QLineEdit &)> command) {
        connect(action, &QAction::triggered, this, [this, command = std::move(command)] {
            if (m_field)
                command(*m_field);
            update();
        });
    };
    bind(m_undo, [](QLineEdit &field) { field.undo(); });
    bind(m_redo, [](QLineEdit &field) { field.redo(); });
    bind(m_cut, [](QLineEdit &field) { field.cut(); });
    bind(m_copy, [](QLineEdit &field) { field.copy(); });
    bind(m_paste, [](QLineEdit &field) { field.paste(); });
    bind(m_selectAll, [](QLineEdit &field) { field.selectAll(); });

    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { follow(now); });
    // The clipboard may change while the menu is closed; it is asked again when it opens.
    connect(&menu, &QMenu::aboutToShow, this, &TextEditActions::update);
    follow(QApplication::focusWidget());
}

TextEditActions::~TextEditActions() = default;

void TextEditActions::follow(QWidget *focused)
{
    // Opening the menu takes focus from the field for a moment; the field stays the target.
    if (qobject_cast<QMenu *>(focused))
        return;
    if (m_field)
        disconnect(m_field, nullptr, this, nullptr);
    m_field = qobject_cast<QLineEdit *>(focused);
    if (m_field) {
        connect(m_field, &QLineEdit::textChanged, this, &TextEditActions::update);
        connect(m_field, &QLineEdit::selectionChanged, this, &TextEditActions::update);
    }
    update();
}

void TextEditActions::update()
{
    const QLineEdit *field = m_field;
    const bool editable = field && !field->isReadOnly() && field->isEnabled();
    const bool selected =
        field && field->hasSelectedText() && field->echoMode() == QLineEdit::Normal;
    m_undo->setEnabled(editable && field->isUndoAvailable());
    m_redo->setEnabled(editable && field->isRedoAvailable());
    m_cut->setEnabled(editable && selected);
    m_copy->setEnabled(selected);
    m_paste->setEnabled(editable && !QGuiApplication::clipboard()->text().isEmpty());
    m_selectAll->setEnabled(field && !field->text().isEmpty() &&
                            field->selectedText() != field->text());
}
