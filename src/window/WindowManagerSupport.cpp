// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowManagerSupport.h"

#include "X11Connection.h"

WindowManagerSupport::WindowManagerSupport(QObject *parent) : QObject(parent) {}

WindowManagerSupport::~WindowManagerSupport() = default;

void WindowManagerSupport::setKeepsWindowsAbove(bool keeps)
{
    m_lacksAbove = !keeps;
    update();
}

void WindowManagerSupport::reportFrameNotKept()
{
    m_frameNotKept = true;
    update();
}

void WindowManagerSupport::reportActivationAnsweredWithUrgency()
{
    m_activationOnlyUrgent = true;
    update();
}

void WindowManagerSupport::forgetObservations()
{
    m_frameNotKept = false;
    m_activationOnlyUrgent = false;
    update();
}

void WindowManagerSupport::follow(X11Connection *x11)
{
    if (!x11)
        return;
    const auto readSupported = [this, x11] {
        // No list at all (no EWMH manager running) is no evidence either way.
        setKeepsWindowsAbove(x11->supportsAbove().value_or(true));
    };
    connect(x11, &X11Connection::supportedChanged, this, readSupported);
    connect(x11, &X11Connection::windowManagerChanged, this, [this, readSupported] {
        forgetObservations();
        readSupported();
    });
    connect(x11, &X11Connection::activationAnsweredWithUrgency, this,
            &WindowManagerSupport::reportActivationAnsweredWithUrgency);
    readSupported();
}

void WindowManagerSupport::update()
{
    const bool places = m_lacksAbove || m_frameNotKept || m_activationOnlyUrgent;
    if (places == m_placesWindowsItself)
        return;
    m_placesWindowsItself = places;
    Q_EMIT placesWindowsItselfChanged(places);
}
