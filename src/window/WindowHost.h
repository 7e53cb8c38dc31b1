// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QRect>

#include <optional>

// What the window controller needs of the platform: the main window's outer frame (decorations
// included, Qt's top-left origin) and the screens' work areas. A small interface so placement
// rules can be tested without a window manager.
class WindowHost : public QObject
{
    Q_OBJECT

public:
    explicit WindowHost(QObject *parent = nullptr);
    ~WindowHost() override;
    Q_DISABLE_COPY_MOVE(WindowHost)

    virtual QRect frame() const = 0;
    virtual void setFrame(const QRect &frame) = 0;
    virtual bool isFullScreen() const = 0;
    // Asynchronous: fullScreenExited() follows once the window has left full screen.
    virtual void exitFullScreen() = 0;
    virtual void setAlwaysOnTop(bool onTop) = 0;
    // The minimum width of the outer frame.
    virtual int minimumFrameWidth() const = 0;
    virtual void setMinimumFrameWidth(int width) = 0;

    // Work areas (screen minus panels): of the window's screen, of the primary screen, of all
    // screens in the platform's order. Absent or empty with no screen at all.
    virtual std::optional<QRect> windowScreenArea() const = 0;
    virtual std::optional<QRect> primaryScreenArea() const = 0;
    virtual QList<QRect> screenAreas() const = 0;

Q_SIGNALS:
    // The user (or the window manager on the user's behalf) resized the window; the host never
    // reports the frames it was asked to set.
    void resized();
    // Screens were added or removed, or one changed its geometry or work area.
    void screensChanged();
    void fullScreenExited();
    // A moment after a frame was set on the shown window: where the window manager has it now.
    void frameSettled(const QRect &asked, const QRect &actual);
};
