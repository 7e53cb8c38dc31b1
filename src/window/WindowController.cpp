// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowController.h"

#include "WindowHost.h"
#include "WindowManagerSupport.h"
#include "platform/Preferences.h"

#include <QMetaType>

#include <algorithm>
#include <cmath>

namespace {

const QString dockModeKey = QStringLiteral("windowDockMode");
const QString alwaysOnTopKey = QStringLiteral("windowAlwaysOnTop");
const QString pinnedKey = QStringLiteral("windowPinned");
const QString dockWidthKey = QStringLiteral("windowDockWidthCustom");

std::optional<bool> storedBool(const Preferences &defaults, const QString &key)
{
    const QVariant value = defaults.objectForKey(key);
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

// QRect::center() rounds towards the top-left by a pixel; frames are centred on the true middle.
QPoint middle(const QRect &r)
{
    return QPoint(r.x() + r.width() / 2, r.y() + r.height() / 2);
}

bool isDocked(DockMode mode)
{
    return mode == DockMode::Left || mode == DockMode::Right;
}

} // namespace

WindowController::WindowController(Preferences &defaults, WindowManagerSupport *support,
                                   QObject *parent)
    : QObject(parent), m_defaults(defaults), m_support(support)
{
    if (support)
        connect(support, &WindowManagerSupport::placesWindowsItselfChanged, this,
                &WindowController::windowManagerSupportChanged);
    const std::optional<bool> legacy = storedBool(defaults, pinnedKey);
    std::optional<DockMode> stored;
    if (const std::optional<QString> text = defaults.stringForKey(dockModeKey))
        stored = DockModes::fromString(*text);
    // An older installation that never stored a mode docks left unless it was explicitly
    // unpinned; a first start (nothing stored) docks left too.
    m_dockMode = stored.value_or(legacy == false ? DockMode::Off : DockMode::Left);
    m_isAlwaysOnTop =
        storedBool(defaults, alwaysOnTopKey).value_or(legacy.value_or(isDocked(m_dockMode)));
}

WindowController::~WindowController() = default;

void WindowController::setDockMode(DockMode mode)
{
    if (mode == m_dockMode)
        return;
    const DockMode previous = m_dockMode;
    m_dockMode = mode;
    m_defaults.setObject(DockModes::toString(mode), dockModeKey);
    Q_EMIT dockModeChanged(mode);
    apply(previous);
}

void WindowController::setAlwaysOnTop(bool onTop)
{
    if (onTop == m_isAlwaysOnTop)
        return;
    m_isAlwaysOnTop = onTop;
    m_defaults.setBool(onTop, alwaysOnTopKey);
    Q_EMIT isAlwaysOnTopChanged(onTop);
    applyLevel();
}

void WindowController::setWindow(WindowHost *window)
{
    disconnect(m_placementObserver);
    m_window = window;
    if (window)
        m_placementObserver =
            connect(window, &WindowHost::frameSettled, this, &WindowController::checkPlacement);
}

bool WindowController::isHonoured() const
{
    return !m_support || !m_support->placesWindowsItself();
}

void WindowController::windowManagerSupportChanged(bool placesItself)
{
    if (placesItself)
        applyLevel();
    else
        apply(m_dockMode);
}

void WindowController::checkPlacement(const QRect &asked, const QRect &actual)
{
    if (!m_support || !isDocked(m_dockMode))
        return;
    // The free edge is the user's to drag, even in the first moment; the docked edge and the full
    // height are the window manager's answer.
    const int edge = m_dockMode == DockMode::Left ? actual.left() - asked.left()
                                                  : actual.right() - asked.right();
    const int off = std::max({std::abs(edge), std::abs(actual.top() - asked.top()),
                              std::abs(actual.bottom() - asked.bottom())});
    // One window alone on a tiling desktop covers the screen, which keeps both edges.
    const std::optional<QRect> area = m_window ? m_window->windowScreenArea() : std::nullopt;
    const bool fillsScreen = area && actual.width() - asked.width() > placementTolerance &&
                             actual.left() <= area->left() + placementTolerance &&
                             actual.right() >= area->right() - placementTolerance;
    if (off > placementTolerance || fillsScreen)
        m_support->reportFrameNotKept();
}

void WindowController::applyLevel()
{
    if (m_window)
        m_window->setAlwaysOnTop(m_isAlwaysOnTop && isHonoured());
}

void WindowController::apply(std::optional<DockMode> previous)
{
    if (!m_window)
        return;
    if (!isHonoured()) {
        applyLevel();
        return;
    }
    if (m_window->isFullScreen()) {
        // The frame can only be set once full screen is over; the latest request wins.
        disconnect(m_fullScreenObserver);
        QPointer<WindowController> self(this);
        m_fullScreenObserver =
            connect(m_window, &WindowHost::fullScreenExited, this, [self, previous] {
                if (!self)
                    return;
                disconnect(self->m_fullScreenObserver);
                self->m_isExitingFullScreen = false;
                self->apply(previous);
            });
        if (!m_isExitingFullScreen) {
            m_isExitingFullScreen = true;
            m_window->exitFullScreen();
        }
        return;
    }
    applyLevel();
    if (isDocked(m_dockMode)) {
        if (previous == DockMode::Off)
            m_savedFrame = m_window->frame();
        dock();
        return;
    }
    if (m_savedFrame) {
        const QRect restored = fitOnScreen(*m_savedFrame);
        m_savedFrame.reset();
        setFrameGuarded(restored);
    } else if (previous && isDocked(*previous)) {
        setFrameGuarded(defaultFloatingFrame());
    } else if (previous == DockMode::Off) {
        const QRect current = m_window->frame();
        const QRect fitted = fitOnScreen(current);
        if (fitted != current)
            setFrameGuarded(fitted);
    }
}

void WindowController::dock()
{
    std::optional<QRect> area = m_window->windowScreenArea();
    if (!area || area->isEmpty())
        area = m_window->primaryScreenArea();
    if (!area || area->isEmpty())
        return;
    const double custom = customDockWidth();
    const int width = static_cast<int>(std::lround(std::min<double>(
        area->width(), std::max<double>(custom, std::min(area->width(), defaultDockWidth)))));
    int x = m_dockMode == DockMode::Right ? area->x() + area->width() - width : area->x();
    x = std::max(x, area->x());
    setFrameGuarded(QRect(x, area->y(), width, area->height()));
}

void WindowController::setFrameGuarded(const QRect &frame)
{
    m_isApplyingFrame = true;
    m_window->setFrame(frame);
    m_isApplyingFrame = false;
}

QRect WindowController::fitOnScreen(const QRect &frame) const
{
    for (const QRect &area : m_window->screenAreas()) {
        if (area.intersects(frame))
            return frame;
    }
    const std::optional<QRect> main = m_window->primaryScreenArea();
    if (!main || main->isEmpty())
        return frame;
    const QPoint centre = middle(*main);
    return QRect(centre.x() - frame.width() / 2, centre.y() - frame.height() / 2, frame.width(),
                 frame.height());
}

QRect WindowController::defaultFloatingFrame() const
{
    std::optional<QRect> area = m_window->windowScreenArea();
    if (!area || area->isEmpty())
        area = m_window->primaryScreenArea();
    const QRect base = area && !area->isEmpty() ? *area : fallbackScreenArea;
    const int height = std::min(base.height(), maximumFloatingHeight);
    const QPoint centre = middle(base);
    return QRect(centre.x() - defaultFloatingWidth / 2, centre.y() - height / 2,
                 defaultFloatingWidth, height);
}

double WindowController::customDockWidth() const
{
    const double stored = m_defaults.doubleForKey(dockWidthKey);
    return stored > 0 ? stored : defaultDockWidth;
}

void WindowController::startScreenObserver()
{
    if (m_screenObserver || !m_window)
        return;
    m_screenObserver = true;
    connect(m_window, &WindowHost::screensChanged, this, [this] { apply(m_dockMode); });
}

void WindowController::startResizeObserver(WindowHost *window)
{
    if (m_resizeObserved || !window)
        return;
    m_resizeObserved = window;
    connect(window, &WindowHost::resized, this, &WindowController::recordDockWidth);
}

void WindowController::recordDockWidth()
{
    if (m_isApplyingFrame || !isDocked(m_dockMode) || !m_resizeObserved || !isHonoured())
        return;
    const int width = m_resizeObserved->frame().width();
    std::optional<QRect> area = m_resizeObserved->windowScreenArea();
    if (!area || area->isEmpty())
        area = m_resizeObserved->primaryScreenArea();
    const double screenWidth = area && !area->isEmpty() ? area->width() : width;
    const double clamped = std::min<double>(
        screenWidth, std::max<double>(width, std::min<double>(screenWidth, defaultDockWidth)));
    if (std::abs(clamped - customDockWidth()) >= 1.0)
        m_defaults.setDouble(clamped, dockWidthKey);
}
