// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DialogPresenter.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

class SystemDialogPresenter final : public DialogPresenter
{
public:
    int run(const Alert &alert, QWidget *parent) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(QGuiApplication::applicationDisplayName());
        box.setText(alert.messageText);
        box.setInformativeText(alert.informativeText);
        // Message boxes wrap their text very narrowly; these texts read better as a short block.
        box.setTextFormat(Qt::PlainText);
        if (auto *message = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            QFont bold = message->font();
            bold.setBold(true);
            message->setFont(bold);
        }
        if (auto *informative =
                box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
            informative->setMinimumWidth(320);
        box.setWindowModality(Qt::ApplicationModal);
        // The main window may be kept above every other window; the alert must be above it.
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        QList<QPushButton *> buttons;
        for (const QString &title : alert.buttons)
            buttons.append(box.addButton(title, QMessageBox::AcceptRole));
        if (!buttons.isEmpty()) {
            box.setDefaultButton(buttons.constFirst());
            box.setEscapeButton(buttons.size() > 1 ? buttons.constLast() : buttons.constFirst());
        }
        // Shown over whatever application is frontmost, as the user asked for it just now.
        QTimer::singleShot(0, &box, [&box] {
            box.raise();
            box.activateWindow();
        });
        box.exec();
        return static_cast<int>(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
    }
};

} // namespace

DialogPresenter &DialogPresenter::system()
{
    static SystemDialogPresenter presenter;
    return presenter;
}
