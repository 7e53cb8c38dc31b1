// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The seam for modal alerts, so tests can answer them instead of running a modal loop.
class DialogPresenter
{
public:
    struct Alert
    {
        QString messageText;
        QString informativeText;
        // In order; the first is the default button.
        QStringList buttons;
    };

    DialogPresenter() = default;
    virtual ~DialogPresenter() = default;
    Q_DISABLE_COPY_MOVE(DialogPresenter)

    // Runs the alert modally and answers the index of the button pressed, or -1.
    virtual int run(const Alert &alert, QWidget *parent) = 0;

    // Real message boxes, raised above an always-on-top window.
    static DialogPresenter &system();
};
