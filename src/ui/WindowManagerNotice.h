// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>
#include <QPointer>

class QLabel;
class WindowManagerSupport;

// A strip over the content, shown the first time the window manager turns out to place windows
// itself, until the user closes it: the pin and the dock menu then do nothing, and the user should
// know why rather than take the controls for broken. Once a session; it never takes the focus.
class WindowManagerNotice final : public QFrame
{
    Q_OBJECT

public:
    WindowManagerNotice(WindowManagerSupport &support, QWidget *parent);
    ~WindowManagerNotice() override;
    Q_DISABLE_COPY_MOVE(WindowManagerNotice)

    static QString text();
    // The message while it shows, else empty.
    QString message() const;
    void dismiss();

private:
    void refresh();

    QPointer<WindowManagerSupport> m_support;
    QLabel *m_message = nullptr;
    bool m_shown = false;
    bool m_dismissed = false;
};
