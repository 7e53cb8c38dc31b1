// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "DockMode.h"
#include "WindowHost.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>

class Preferences;
class WindowManagerSupport;

// Docks the main window to a screen edge at the user's width, restores the floating frame when
// docking ends, keeps the window above others on request, and re-applies all of it when the
// screens change or the window leaves full screen.
class WindowController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(DockMode dockMode READ dockMode WRITE setDockMode NOTIFY dockModeChanged)
    Q_PROPERTY(
        bool isAlwaysOnTop READ isAlwaysOnTop WRITE setAlwaysOnTop NOTIFY isAlwaysOnTopChanged)

public:
    static constexpr int defaultDockWidth = 440;
    static constexpr int defaultFloatingWidth = 440;
    static constexpr int maximumFloatingHeight = 720;
    static inline const QRect fallbackScreenArea{0, 0, 1440, 900};
    // How far, in pixels, a docked frame's docked edge, top or bottom may lie from where it was put
    // and still count as kept.
    static constexpr int placementTolerance = 4;

    // Where `support` says the window manager places windows itself, nothing is docked or kept
    // on top and no width is recorded; the stored choices stay as they are. Null: always honoured.
    explicit WindowController(Preferences &defaults, WindowManagerSupport *support = nullptr,
                              QObject *parent = nullptr);
    ~WindowController() override;
    Q_DISABLE_COPY_MOVE(WindowController)

    DockMode dockMode() const { return m_dockMode; }
    void setDockMode(DockMode mode);
    bool isAlwaysOnTop() const { return m_isAlwaysOnTop; }
    void setAlwaysOnTop(bool onTop);

    Preferences &defaults() const { return m_defaults; }
    WindowHost *window() const { return m_window; }
    // Held weakly: a host that is gone makes every operation a no-op.
    void setWindow(WindowHost *window);

    // Re-applies the current mode; `previous` is absent for the first application.
    void apply(std::optional<DockMode> previous);
    void startScreenObserver();
    void startResizeObserver(WindowHost *window);

Q_SIGNALS:
    void dockModeChanged(DockMode mode);
    void isAlwaysOnTopChanged(bool onTop);

private:
    void applyLevel();
    void dock();
    void setFrameGuarded(const QRect &frame);
    QRect fitOnScreen(const QRect &frame) const;
    QRect defaultFloatingFrame() const;
    double customDockWidth() const;
    void recordDockWidth();
    bool isHonoured() const;
    void checkPlacement(const QRect &asked, const QRect &actual);
    void windowManagerSupportChanged(bool placesItself);

    Preferences &m_defaults;
    QPointer<WindowManagerSupport> m_support;
    DockMode m_dockMode = DockMode::Off;
    bool m_isAlwaysOnTop = false;
    QPointer<WindowHost> m_window;
    QMetaObject::Connection m_placementObserver;
    std::optional<QRect> m_savedFrame;
    bool m_screenObserver = false;
    QPointer<WindowHost> m_resizeObserved;
    QMetaObject::Connection m_fullScreenObserver;
    bool m_isExitingFullScreen = false;
    bool m_isApplyingFrame = false;
};
