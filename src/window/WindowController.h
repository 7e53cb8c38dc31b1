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

    explicit WindowController(Preferences &defaults, QObject *parent = nullptr);
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

    Preferences &m_defaults;
    DockMode m_dockMode = DockMode::Off;
    bool m_isAlwaysOnTop = false;
    QPointer<WindowHost> m_window;
    std::optional<QRect> m_savedFrame;
    bool m_screenObserver = false;
    QPointer<WindowHost> m_resizeObserved;
    QMetaObject::Connection m_fullScreenObserver;
    bool m_isExitingFullScreen = false;
    bool m_isApplyingFrame = false;
};
