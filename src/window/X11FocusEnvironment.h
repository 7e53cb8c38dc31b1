// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FocusEnvironment.h"

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <xcb/xcb.h>

class WindowManagerSupport;
class X11Connection;

// The focus controller's desktop on X11, through Qt's own connection: the pointer from
// query_pointer, the window list from _NET_CLIENT_LIST_STACKING, owners from _NET_WM_PID (or the
// creating client), activation by _NET_ACTIVE_WINDOW requests. The window list is read only after
// the pointer has moved; a still pointer costs one query.
class X11FocusEnvironment final : public FocusEnvironment
{
    Q_OBJECT

public:
    // `x11` null: unavailable (Wayland without XWayland, or no X server); so it is while `support`
    // says the window manager places windows itself.
    X11FocusEnvironment(X11Connection *x11, WindowManagerSupport *support, QWidget *mainWindow,
                        QObject *parent = nullptr);
    ~X11FocusEnvironment() override;
    Q_DISABLE_COPY_MOVE(X11FocusEnvironment)

    // Our window to activate; the shell hands it over once it exists.
    void setMainWindow(QWidget *window) { m_mainWindow = window; }

    bool isAvailable() const override;
    AppId selfId() const override { return m_self; }
    std::optional<Application> frontmostApplication() override;
    std::optional<Pointer> pointer() override;
    bool isSelfBlocked() const override;
    bool isInsideOwnWindow(QPoint position) const override;
    std::optional<AppId> ownerOfWindowAt(QPoint position) override;
    bool applicationExists(AppId id) override;
    std::optional<AppId> activeApplication() override;
    void activate(AppId id) override;
    qint64 now() const override { return m_clock.elapsed(); }
    void startWatching() override;
    void stopWatching() override;

private:
    struct ClientWindow
    {
        xcb_window_t window;
        AppId owner;
        QRect frame;
    };
    // Front to back, only normal windows that are mapped and not hidden.
    QList<ClientWindow> readStackingList();
    std::optional<AppId> ownerOf(xcb_window_t window);
    void refreshActive();

    X11Connection *m_x11;
    QPointer<WindowManagerSupport> m_support;
    QPointer<QWidget> m_mainWindow;
    AppId m_self;
    QElapsedTimer m_clock;
    QList<ClientWindow> m_windows;
    std::optional<Application> m_active;
    bool m_watching = false;
};
