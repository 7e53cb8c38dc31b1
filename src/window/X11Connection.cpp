// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "X11Connection.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t allWorkspaces = 0xFFFFFFFF;
// ICCCM's UrgencyHint bit in the flags that open WM_HINTS.
constexpr uint32_t urgencyHint = 1U << 8;
// How long after an activation request of our own window its property changes count as the answer.
constexpr qint64 answerWindowMs = 2000;

// The screen number from DISPLAY (":0.1" is screen 1); Qt connects to the default screen.
int defaultScreenNumber()
{
    const QByteArray display = qgetenv("DISPLAY");
    const int colon = display.lastIndexOf(':');
    const int dot = display.lastIndexOf('.');
    if (colon < 0 || dot < colon)
        return 0;
    bool ok = false;
    const int number = display.mid(dot + 1).toInt(&ok);
    return ok ? number : 0;
}

template <typename Reply> struct FreeDeleter
{
    void operator()(Reply *reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, FreeDeleter<Reply>>;

} // namespace

std::unique_ptr<X11Connection> X11Connection::open()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!native || !native->connection())
        return nullptr;
    std::unique_ptr<X11Connection> x11(
        new X11Connection(native->connection(), defaultScreenNumber()));
    if (x11->m_root == XCB_NONE)
        return nullptr;
    return x11;
}

X11Connection::X11Connection(xcb_connection_t *connection, int screenNumber)
    : m_connection(connection), m_screenNumber(screenNumber)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    m_resourceMask = setup->resource_id_mask;
    m_resourceBase = setup->resource_id_base;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; screens.rem > 0; ++i, xcb_screen_next(&screens)) {
        if (i == screenNumber || m_root == XCB_NONE)
            m_root = screens.data->root;
        if (i == screenNumber)
            break;
    }
    xcb_intern_atom_cookie_t *cookies = xcb_ewmh_init_atoms(connection, &m_ewmh);
    if (!xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr)) {
        m_root = XCB_NONE;
        return;
    }
    // Changes of the active window arrive as property changes on the root window; add that
    // interest to whatever Qt already selected there.
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, m_root), nullptr));
    if (attributes) {
        const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
    }
    createTimeWindow();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

void X11Connection::createTimeWindow()
{
    static constexpr char name[] = "_WAVELARK_TIMESTAMP";
    const ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, sizeof name - 1, name), nullptr));
    if (!atom)
        return;
    const xcb_window_t window = xcb_generate_id(m_connection);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    const xcb_void_cookie_t created = xcb_create_window_checked(
        m_connection, 0, window, m_root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
        XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    if (const ReplyPtr<xcb_generic_error_t> error(xcb_request_check(m_connection, created)); error)
        return;
    m_timeWindow = window;
    m_timeAtom = atom->atom;
}

X11Connection::~X11Connection()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (m_timeWindow != XCB_NONE) {
        xcb_destroy_window(m_connection, m_timeWindow);
        xcb_flush(m_connection);
    }
    if (m_ewmh.connection)
        xcb_ewmh_connection_wipe(&m_ewmh);
}

void X11Connection::setOnAllWorkspaces(xcb_window_t window, bool mapped, bool all)
{
    uint32_t desktop = allWorkspaces;
    if (!all) {
        desktop = 0;
        xcb_ewmh_get_current_desktop_reply(
            &m_ewmh, xcb_ewmh_get_current_desktop(&m_ewmh, m_screenNumber), &desktop, nullptr);
    }
    // A mapped window belongs to the window manager, which takes the change as a request; an
    // unmapped one carries the property into its next mapping.
    if (mapped)
        xcb_ewmh_request_change_wm_desktop(&m_ewmh, m_screenNumber, window, desktop,
                                           XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    else if (all)
        xcb_ewmh_set_wm_desktop(&m_ewmh, window, desktop);
    else
        xcb_delete_property(m_connection, window, m_ewmh._NET_WM_DESKTOP);
    xcb_flush(m_connection);
}

void X11Connection::activate(xcb_window_t window)
{
    if (m_timeWindow == XCB_NONE) {
        requestActivation(window, m_lastTime);
        return;
    }
    // The time of the newest event we saw may be older than the user time of the window that has
    // the focus, and a window manager refuses a request older than that; a zero-length append
    // changes nothing but brings a property event stamped with the server's time now.
    m_activationTarget = window;
    xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_timeWindow, m_timeAtom,
                        XCB_ATOM_INTEGER, 32, 0, nullptr);
    xcb_flush(m_connection);
}

void X11Connection::requestActivation(xcb_window_t window, xcb_timestamp_t time)
{
    // Source "pager": the user asked for this switch through us, so focus-stealing prevention
    // must not refuse it.
    xcb_ewmh_request_change_active_window(&m_ewmh, m_screenNumber, window,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, time, XCB_NONE);
    xcb_flush(m_connection);
    if (isOwn(window)) {
        m_askedOwn = window;
        m_askedClock.start();
    }
}

void X11Connection::checkActivationAnswer()
{
    const xcb_window_t window = m_askedOwn;
    if (window == XCB_NONE)
        return;
    // One round trip for all three.
    const xcb_get_property_cookie_t state = xcb_ewmh_get_wm_state(&m_ewmh, window);
    const xcb_get_property_cookie_t hints =
        xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, 1);
    const xcb_get_property_cookie_t active = xcb_ewmh_get_active_window(&m_ewmh, m_screenNumber);
    bool urgent = false;
    xcb_ewmh_get_atoms_reply_t atoms;
    if (xcb_ewmh_get_wm_state_reply(&m_ewmh, state, &atoms, nullptr)) {
        for (uint32_t i = 0; i < atoms.atoms_len; ++i)
            urgent = urgent || atoms.atoms[i] == m_ewmh._NET_WM_STATE_DEMANDS_ATTENTION;
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
    }
    if (const ReplyPtr<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(m_connection, hints, nullptr));
        reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4) {
        uint32_t flags = 0;
        std::memcpy(&flags, xcb_get_property_value(reply.get()), sizeof flags);
        urgent = urgent || (flags & urgencyHint) != 0;
    }
    xcb_window_t activeNow = XCB_NONE;
    xcb_ewmh_get_active_window_reply(&m_ewmh, active, &activeNow, nullptr);
    if (!urgent || activeNow == window)
        return;
    m_askedOwn = XCB_NONE;
    Q_EMIT activationAnsweredWithUrgency();
}

std::optional<bool> X11Connection::supportsAbove()
{
    xcb_ewmh_get_atoms_reply_t supported;
    if (!xcb_ewmh_get_supported_reply(&m_ewmh, xcb_ewmh_get_supported(&m_ewmh, m_screenNumber),
                                      &supported, nullptr))
        return std::nullopt;
    bool above = false;
    for (uint32_t i = 0; i < supported.atoms_len; ++i)
        above = above || supported.atoms[i] == m_ewmh._NET_WM_STATE_ABOVE;
    const bool named = supported.atoms_len > 0;
    xcb_ewmh_get_atoms_reply_wipe(&supported);
    return named ? std::optional<bool>(above) : std::nullopt;
}

void X11Connection::callLater(bool &pending, void (X11Connection::*method)())
{
    // Never inside Qt's event dispatch, and once for a burst of events.
    if (pending)
        return;
    pending = true;
    QMetaObject::invokeMethod(
        this,
        [this, &pending, method] {
            pending = false;
            (this->*method)();
        },
        Qt::QueuedConnection);
}

xcb_window_t X11Connection::activeWindow()
{
    xcb_window_t window = XCB_NONE;
    if (!xcb_ewmh_get_active_window_reply(
            &m_ewmh, xcb_ewmh_get_active_window(&m_ewmh, m_screenNumber), &window, nullptr))
        return XCB_NONE;
    return window;
}

bool X11Connection::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY:
        // These events share their layout up to the time field.
        m_lastTime = reinterpret_cast<const xcb_key_press_event_t *>(event)->time;
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto *property = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        m_lastTime = property->time;
        if (property->window == m_timeWindow && m_timeWindow != XCB_NONE) {
            if (m_activationTarget != XCB_NONE)
                requestActivation(std::exchange(m_activationTarget, XCB_NONE), property->time);
            return true;
        }
        if (property->window == m_root) {
            if (property->atom == m_ewmh._NET_ACTIVE_WINDOW)
                callLater(m_activeChangePending, &X11Connection::activeWindowChanged);
            else if (property->atom == m_ewmh._NET_SUPPORTED)
                callLater(m_supportedChangePending, &X11Connection::supportedChanged);
            else if (property->atom == m_ewmh._NET_SUPPORTING_WM_CHECK)
                callLater(m_managerChangePending, &X11Connection::windowManagerChanged);
        } else if (property->window == m_askedOwn && m_askedOwn != XCB_NONE &&
                   (property->atom == m_ewmh._NET_WM_STATE ||
                    property->atom == XCB_ATOM_WM_HINTS)) {
            if (m_askedClock.elapsed() > answerWindowMs)
                m_askedOwn = XCB_NONE;
            else
                callLater(m_answerCheckPending, &X11Connection::checkActivationAnswer);
        }
        break;
    }
    default:
        break;
    }
    return false;
}
