// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtWindowHost.h"

#include "X11Connection.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <utility>

namespace {

// How long, in 100 ms checks, a frame we set is watched for the window manager's decorations.
constexpr int settleCheckCount = 10;

std::optional<QRect> areaOf(const QScreen *screen)
{
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

} // namespace

QtWindowHost::QtWindowHost(QWidget *window, X11Connection *x11, QObject *parent)
    : WindowHost(parent), m_window(window), m_x11(x11),
      // Wayland compositors place windows themselves: only sizes reach them.
      m_canPlace(!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
{
    window->installEventFilter(this);
    m_settleTimer.setInterval(100);
    connect(&m_settleTimer, &QTimer::timeout, this, &QtWindowHost::settle);
    m_screensTimer.setSingleShot(true);
    m_screensTimer.setInterval(100);
    connect(&m_screensTimer, &QTimer::timeout, this, &WindowHost::screensChanged);
    // The window manager restores the pre-full-screen frame after the state change; a frame set
    // before that would be overwritten.
    m_fullScreenTimer.setSingleShot(true);
    m_fullScreenTimer.setInterval(200);
    connect(&m_fullScreenTimer, &QTimer::timeout, this, &WindowHost::fullScreenExited);

    const auto screensChanged = [this] { m_screensTimer.start(); };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, screensChanged](QScreen *s) {
        watchScreen(s);
        screensChanged();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, screensChanged);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, screensChanged);
    for (QScreen *screen : QGuiApplication::screens())
        watchScreen(screen);
}

QtWindowHost::~QtWindowHost() = default;

void QtWindowHost::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, &m_screensTimer, [this] { m_screensTimer.start(); });
    connect(screen, &QScreen::availableGeometryChanged, &m_screensTimer,
            [this] { m_screensTimer.start(); });
}

QMargins QtWindowHost::frameMargins() const
{
    if (!m_window)
        return {};
    const QRect outer = m_window->frameGeometry();
    const QRect inner = m_window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

QRect QtWindowHost::frame() const
{
    return m_window ? m_window->frameGeometry() : QRect();
}

void QtWindowHost::setFrame(const QRect &frame)
{
    if (!m_window)
        return;
    if (m_window->isMaximized())
        m_window->showNormal();
    m_target = frame;
    m_appliedMargins = frameMargins();
    const QRect client = frame.marginsRemoved(m_appliedMargins);
    m_ownSize = client.size();
    if (m_canPlace)
        m_window->setGeometry(client);
    else
        m_window->resize(client.size());
    m_settleChecks = settleCheckCount;
    m_settleTimer.start();
}

void QtWindowHost::settle()
{
    if (!m_window || !m_target || --m_settleChecks <= 0) {
        m_settleTimer.stop();
        const std::optional<QRect> asked = std::exchange(m_target, std::nullopt);
        if (m_window && asked && m_canPlace && m_window->isVisible())
            Q_EMIT frameSettled(*asked, frame());
        return;
    }
    // The decorations arrive after mapping: keep the outer frame where it was asked to be.
    const QMargins margins = frameMargins();
    if (margins == m_appliedMargins)
        return;
    m_appliedMargins = margins;
    setMinimumFrameWidth(m_minimumFrameWidth);
    const QRect client = m_target->marginsRemoved(margins);
    m_ownSize = client.size();
    if (m_canPlace)
        m_window->setGeometry(client);
    else
        m_window->resize(client.size());
}

bool QtWindowHost::isFullScreen() const
{
    return m_window && m_window->isFullScreen();
}

void QtWindowHost::exitFullScreen()
{
    if (m_window)
        m_window->showNormal();
}

void QtWindowHost::setAlwaysOnTop(bool onTop)
{
    m_onTop = onTop;
    if (!m_window)
        return;
    Qt::WindowFlags flags = m_window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (flags == m_window->windowFlags())
        return applyWorkspaces(m_window->isVisible());
    // QWidget::setWindowFlags() would hide and re-create the native window; the platform window
    // takes a flag change in place (_NET_WM_STATE_ABOVE on X11).
    m_window->overrideWindowFlags(flags);
    if (QWindow *handle = m_window->windowHandle())
        handle->setFlags(flags);
    applyWorkspaces(m_window->isVisible());
}

void QtWindowHost::applyWorkspaces(bool mapped)
{
    if (!m_x11 || !m_window || !m_window->windowHandle())
        return;
    // Off, an unmapped window needs nothing removed: it has never been put on every workspace.
    if (!m_onTop && !mapped)
        return;
    m_x11->setOnAllWorkspaces(static_cast<xcb_window_t>(m_window->winId()), mapped, m_onTop);
}

int QtWindowHost::minimumFrameWidth() const
{
    if (!m_window)
        return 0;
    return m_window->minimumWidth() + frameMargins().left() + frameMargins().right();
}

void QtWindowHost::setMinimumFrameWidth(int width)
{
    m_minimumFrameWidth = width;
    if (!m_window)
        return;
    const QMargins margins = frameMargins();
    m_window->setMinimumWidth(std::max(0, width - margins.left() - margins.right()));
}

std::optional<QRect> QtWindowHost::windowScreenArea() const
{
    return m_window ? areaOf(m_window->screen()) : std::nullopt;
}

std::optional<QRect> QtWindowHost::primaryScreenArea() const
{
    return areaOf(QGuiApplication::primaryScreen());
}

QList<QRect> QtWindowHost::screenAreas() const
{
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

bool QtWindowHost::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        // The workspace property must be on the window before the window manager maps it, and
        // is requested again once it is mapped.
        applyWorkspaces(false);
        QTimer::singleShot(0, this, [this] {
            applyWorkspaces(true);
            settle();
        });
        break;
    case QEvent::Resize: {
        const QSize size = static_cast<QResizeEvent *>(event)->size();
        if (!m_window->isVisible())
            break;
        if (m_ownSize && size == *m_ownSize) {
            m_ownSize.reset();
            break;
        }
        if (!m_settleTimer.isActive())
            Q_EMIT resized();
        break;
    }
    case QEvent::WindowStateChange: {
        const auto *change = static_cast<QWindowStateChangeEvent *>(event);
        if ((change->oldState() & Qt::WindowFullScreen) && !m_window->isFullScreen())
            m_fullScreenTimer.start();
        break;
    }
    default:
        break;
    }
    return false;
}
