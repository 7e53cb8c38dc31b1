// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WindowHost.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class X11Connection;

// The real window behind the controller: a top-level QWidget on Qt's screens. Frames are outer
// frames; on X11 the window manager's decoration sizes (_NET_FRAME_EXTENTS, which Qt reads for
// frameGeometry()) are added and taken off here, and re-checked once the window manager has
// decorated a freshly mapped window.
class QtWindowHost final : public WindowHost
{
    Q_OBJECT

public:
    // `x11` may be null (another platform, or no X server): then no workspace is touched.
    QtWindowHost(QWidget *window, X11Connection *x11, QObject *parent = nullptr);
    ~QtWindowHost() override;
    Q_DISABLE_COPY_MOVE(QtWindowHost)

    QRect frame() const override;
    void setFrame(const QRect &frame) override;
    bool isFullScreen() const override;
    void exitFullScreen() override;
    void setAlwaysOnTop(bool onTop) override;
    int minimumFrameWidth() const override;
    void setMinimumFrameWidth(int width) override;
    std::optional<QRect> windowScreenArea() const override;
    std::optional<QRect> primaryScreenArea() const override;
    QList<QRect> screenAreas() const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMargins frameMargins() const;
    void settle();
    void watchScreen(QScreen *screen);
    void applyWorkspaces(bool mapped);

    QPointer<QWidget> m_window;
    X11Connection *m_x11;
    bool m_canPlace;
    bool m_onTop = false;
    int m_minimumFrameWidth = 0;
    std::optional<QRect> m_target;
    std::optional<QSize> m_ownSize;
    QMargins m_appliedMargins;
    int m_settleChecks = 0;
    QTimer m_settleTimer;
    QTimer m_screensTimer;
    QTimer m_fullScreenTimer;
};
