// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <QElapsedTimer>

#include <memory>
#include <optional>

// Qt's own X connection with the EWMH atoms, for what Qt does not offer: all workspaces, the
// stacking list, window owners and activation. Activation requests carry a fresh X server time,
// which window managers compare with the user time of the window that has the focus; changes of
// the active window are reported.
class X11Connection final : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    // Null unless the application runs on Qt's xcb platform.
    static std::unique_ptr<X11Connection> open();
    ~X11Connection() override;
    Q_DISABLE_COPY_MOVE(X11Connection)

    xcb_connection_t *connection() const { return m_connection; }
    xcb_ewmh_connection_t *ewmh() { return &m_ewmh; }
    int screenNumber() const { return m_screenNumber; }
    xcb_window_t root() const { return m_root; }
    // The bits of a resource id that name the client that created it.
    uint32_t clientBase(xcb_window_t window) const { return window & ~m_resourceMask; }
    // Created by this connection, whether it still exists or not.
    bool isOwn(xcb_window_t window) const { return clientBase(window) == m_resourceBase; }
    xcb_timestamp_t lastServerTime() const { return m_lastTime; }

    // Sticky across workspaces (0xFFFFFFFF) or back on the current one.
    void setOnAllWorkspaces(xcb_window_t window, bool mapped, bool all);
    // Sent once the server has told the time, a round trip later; a newer request replaces one
    // still waiting.
    void activate(xcb_window_t window);
    xcb_window_t activeWindow();
    // Whether _NET_SUPPORTED lists _NET_WM_STATE_ABOVE; absent when no window manager names what
    // it supports.
    std::optional<bool> supportsAbove();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    // _NET_ACTIVE_WINDOW changed; delivered after the event, never inside Qt's event dispatch.
    void activeWindowChanged();
    // The root window's _NET_SUPPORTED changed.
    void supportedChanged();
    // Another window manager took over (_NET_SUPPORTING_WM_CHECK changed).
    void windowManagerChanged();
    // Our own window, asked to become active, was marked urgent instead.
    void activationAnsweredWithUrgency();

private:
    X11Connection(xcb_connection_t *connection, int screenNumber);
    void createTimeWindow();
    void requestActivation(xcb_window_t window, xcb_timestamp_t time);
    void callLater(bool &pending, void (X11Connection::*method)());
    void checkActivationAnswer();

    xcb_connection_t *m_connection;
    xcb_ewmh_connection_t m_ewmh{};
    int m_screenNumber = 0;
    xcb_window_t m_root = XCB_NONE;
    uint32_t m_resourceMask = 0;
    uint32_t m_resourceBase = 0;
    xcb_timestamp_t m_lastTime = XCB_CURRENT_TIME;
    bool m_activeChangePending = false;
    bool m_supportedChangePending = false;
    bool m_managerChangePending = false;
    bool m_answerCheckPending = false;
    // Our window last asked to become active, watched for a while for the window manager's answer.
    xcb_window_t m_askedOwn = XCB_NONE;
    QElapsedTimer m_askedClock;
    // Never mapped; a property change on it makes the server report its time.
    xcb_window_t m_timeWindow = XCB_NONE;
    xcb_atom_t m_timeAtom = XCB_NONE;
    xcb_window_t m_activationTarget = XCB_NONE;
};
