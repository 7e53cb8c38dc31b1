// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class X11Connection;

// Whether the window manager does what docking and always on top ask of it. Tiling managers (i3,
// sway's XWayland) put every window where their layout wants it, cannot keep one above the others
// and answer an activation with an urgency mark; there the window commands are off and say so,
// while the user's stored choices wait for a desktop that honours them.
class WindowManagerSupport final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool placesWindowsItself READ placesWindowsItself NOTIFY placesWindowsItselfChanged)

public:
    explicit WindowManagerSupport(QObject *parent = nullptr);
    ~WindowManagerSupport() override;
    Q_DISABLE_COPY_MOVE(WindowManagerSupport)

    bool placesWindowsItself() const { return m_placesWindowsItself; }

    // What was seen of the window manager. Each one alone is enough.
    void setKeepsWindowsAbove(bool keeps);
    void reportFrameNotKept();
    void reportActivationAnsweredWithUrgency();
    // Another window manager took over: what the previous one did proves nothing about it.
    void forgetObservations();

    // Reads what the X window manager supports now and whenever another one takes over, and
    // listens for activations it answers with an urgency mark. Null: nothing is ever reported.
    void follow(X11Connection *x11);

Q_SIGNALS:
    void placesWindowsItselfChanged(bool placesItself);

private:
    void update();

    bool m_lacksAbove = false;
    bool m_frameNotKept = false;
    bool m_activationOnlyUrgent = false;
    bool m_placesWindowsItself = false;
};
