// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "X11FocusEnvironment.h"

#include "WindowManagerSupport.h"
#include "X11Connection.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

struct FreeDeleter
{
    void operator()(void *reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeDeleter>;

// The program's file name: /proc/PID/comm cuts names at 15 characters ("nautilus-deskto").
QString processName(quint32 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        const QByteArray first = cmdline.read(4096).split('\0').value(0);
        if (!first.isEmpty())
            return QFileInfo(QString::fromLocal8Bit(first)).fileName();
    }
    return {};
}

} // namespace

X11FocusEnvironment::X11FocusEnvironment(X11Connection *x11, WindowManagerSupport *support,
                                         QWidget *mainWindow, QObject *parent)
    : FocusEnvironment(parent), m_x11(x11), m_support(support),
      m_mainWindow(mainWindow), m_self{AppId::Kind::Process, static_cast<quint32>(::getpid())}
{
    m_clock.start();
    if (m_x11)
        connect(m_x11, &X11Connection::activeWindowChanged, this,
                &X11FocusEnvironment::refreshActive);
    if (m_support)
        connect(m_support, &WindowManagerSupport::placesWindowsItselfChanged, this,
                &FocusEnvironment::availabilityChanged);
}

bool X11FocusEnvironment::isAvailable() const
{
    return m_x11 && !(m_support && m_support->placesWindowsItself());
}

X11FocusEnvironment::~X11FocusEnvironment() = default;

std::optional<AppId> X11FocusEnvironment::ownerOf(xcb_window_t window)
{
    if (window == XCB_NONE)
        return std::nullopt;
    // Named active even after it is gone (a window manager updates the property late), when
    // its _NET_WM_PID can no longer be read.
    if (m_x11->isOwn(window))
        return m_self;
    uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(m_x11->ewmh(), xcb_ewmh_get_wm_pid(m_x11->ewmh(), window), &pid,
                                  nullptr) &&
        pid > 0)
        return AppId{AppId::Kind::Process, pid};
    return AppId{AppId::Kind::Client, m_x11->clientBase(window)};
}

void X11FocusEnvironment::refreshActive()
{
    if (!m_x11)
        return;
    const std::optional<AppId> owner = ownerOf(m_x11->activeWindow());
    if (!owner) {
        m_active.reset();
        return;
    }
    if (m_active && m_active->id == *owner)
        return;
    Application application{*owner, {}};
    if (owner->kind == AppId::Kind::Process)
        application.name = processName(owner->value);
    m_active = application;
    if (m_watching)
        Q_EMIT applicationActivated(application);
}

std::optional<FocusEnvironment::Application> X11FocusEnvironment::frontmostApplication()
{
    if (!m_watching)
        refreshActive();
    return m_active;
}

void X11FocusEnvironment::startWatching()
{
    m_watching = true;
}

void X11FocusEnvironment::stopWatching()
{
    m_watching = false;
}

std::optional<FocusEnvironment::Pointer> X11FocusEnvironment::pointer()
{
    if (!m_x11)
        return std::nullopt;
    xcb_connection_t *c = m_x11->connection();
    const ReplyPtr<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, m_x11->root()), nullptr));
    if (!reply || !reply->same_screen)
        return std::nullopt;
    return Pointer{QPoint(reply->root_x, reply->root_y), (reply->mask & XCB_BUTTON_MASK_1) != 0};
}

bool X11FocusEnvironment::isSelfBlocked() const
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return true;
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::none_of(windows.begin(), windows.end(), [](const QWidget *w) {
        return w->isVisible() && !w->isMinimized() && w->windowType() != Qt::ToolTip;
    });
}

bool X11FocusEnvironment::isInsideOwnWindow(QPoint position) const
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [position](const QWidget *w) {
        if (!w->isVisible() || w->isMinimized() || w->windowType() == Qt::ToolTip)
            return false;
        // The pointer comes in device pixels, Qt's geometry in device-independent ones.
        const qreal ratio = w->devicePixelRatioF();
        const QRect frame = w->frameGeometry();
        return QRectF(frame.topLeft() * ratio, frame.size() * ratio).contains(position);
    });
}

QList<X11FocusEnvironment::ClientWindow> X11FocusEnvironment::readStackingList()
{
    QList<ClientWindow> result;
    xcb_connection_t *c = m_x11->connection();
    xcb_ewmh_connection_t *ewmh = m_x11->ewmh();
    xcb_ewmh_get_windows_reply_t stacking;
    if (!xcb_ewmh_get_client_list_stacking_reply(
            ewmh, xcb_ewmh_get_client_list_stacking(ewmh, m_x11->screenNumber()), &stacking,
            nullptr))
        return result;
    const QList<xcb_window_t> windows(stacking.windows, stacking.windows + stacking.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&stacking);

    // Every request for every window goes out before the first reply is read: one round trip.
    struct Pending
    {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t type, state, extents, pid;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
    };
    QList<Pending> pending;
    pending.reserve(windows.size());
    for (xcb_window_t w : windows) {
        pending.append({xcb_get_window_attributes(c, w), xcb_ewmh_get_wm_window_type(ewmh, w),
                        xcb_ewmh_get_wm_state(ewmh, w), xcb_ewmh_get_frame_extents(ewmh, w),
                        xcb_ewmh_get_wm_pid(ewmh, w), xcb_get_geometry(c, w),
                        xcb_translate_coordinates(c, w, m_x11->root(), 0, 0)});
    }
    for (qsizetype i = windows.size() - 1; i >= 0; --i) {
        const Pending &p = pending[i];
        const xcb_window_t w = windows[i];
        const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, p.attributes, nullptr));
        bool normal = true;
        xcb_ewmh_get_atoms_reply_t atoms;
        if (xcb_ewmh_get_wm_window_type_reply(ewmh, p.type, &atoms, nullptr)) {
            normal = atoms.atoms_len == 0 || atoms.atoms[0] == ewmh->_NET_WM_WINDOW_TYPE_NORMAL ||
                     atoms.atoms[0] == ewmh->_NET_WM_WINDOW_TYPE_DIALOG;
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        bool hidden = false;
        if (xcb_ewmh_get_wm_state_reply(ewmh, p.state, &atoms, nullptr)) {
            for (uint32_t k = 0; k < atoms.atoms_len; ++k)
                hidden = hidden || atoms.atoms[k] == ewmh->_NET_WM_STATE_HIDDEN;
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        xcb_ewmh_get_extents_reply_t extents{};
        xcb_ewmh_get_frame_extents_reply(ewmh, p.extents, &extents, nullptr);
        uint32_t pid = 0;
        const bool hasPid = xcb_ewmh_get_wm_pid_reply(ewmh, p.pid, &pid, nullptr) && pid > 0;
        const ReplyPtr<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, p.geometry, nullptr));
        const ReplyPtr<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c, p.origin, nullptr));
        // A window that vanished or answers nonsense is passed over, never guessed at.
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !normal || hidden ||
            !geometry || !origin || geometry->width == 0 || geometry->height == 0)
            continue;
        const QRect client(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        const QRect frame =
            client.adjusted(-static_cast<int>(extents.left), -static_cast<int>(extents.top),
                            static_cast<int>(extents.right), static_cast<int>(extents.bottom));
        const AppId owner = m_x11->isOwn(w) ? m_self
                            : hasPid        ? AppId{AppId::Kind::Process, pid}
                                            : AppId{AppId::Kind::Client, m_x11->clientBase(w)};
        result.append({w, owner, frame});
    }
    return result;
}

std::optional<AppId> X11FocusEnvironment::ownerOfWindowAt(QPoint position)
{
    if (!m_x11)
        return std::nullopt;
    m_windows = readStackingList();
    for (const ClientWindow &window : std::as_const(m_windows)) {
        if (window.frame.contains(position))
            return window.owner;
    }
    return std::nullopt;
}

bool X11FocusEnvironment::applicationExists(AppId id)
{
    if (id == m_self)
        return true;
    return std::any_of(m_windows.cbegin(), m_windows.cend(),
                       [id](const ClientWindow &w) { return w.owner == id; });
}

std::optional<AppId> X11FocusEnvironment::activeApplication()
{
    // Read from the server, not from the last report: on a busy machine the report of a switch
    // can arrive after the pointer has already moved on.
    if (!m_x11)
        return std::nullopt;
    return ownerOf(m_x11->activeWindow());
}

void X11FocusEnvironment::activate(AppId id)
{
    if (!m_x11)
        return;
    if (id == m_self) {
        if (m_mainWindow && m_mainWindow->isVisible())
            m_x11->activate(static_cast<xcb_window_t>(m_mainWindow->winId()));
        return;
    }
    // The application's front-most window, as activating an application brings its front
    // window forward.
    for (const ClientWindow &window : std::as_const(m_windows)) {
        if (window.owner == id) {
            m_x11->activate(window.window);
            return;
        }
    }
}
