// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FocusFollowsMouse.h"

#include "platform/Preferences.h"

#include <QMetaType>

#include <cmath>
#include <utility>

namespace {

const QString enabledKey = QStringLiteral("focusFollowsMouseEnabled");

} // namespace

FocusFollowsMouse::FocusFollowsMouse(Preferences &defaults, FocusEnvironment *environment,
                                     QObject *parent)
    : QObject(parent), m_defaults(defaults), m_environment(environment)
{
    // The desktop's own processes are activated all the time without the user meaning to leave
    // the DAW; they never become the partner. Nor does another copy of us.
    m_partnerDenylist = {QStringLiteral("plasmashell"),      QStringLiteral("gnome-shell"),
                         QStringLiteral("xfdesktop"),        QStringLiteral("xfce4-panel"),
                         QStringLiteral("nautilus-desktop"), QStringLiteral("wavelark")};
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &FocusFollowsMouse::poll);
    if (environment)
        connect(environment, &FocusEnvironment::availabilityChanged, this,
                &FocusFollowsMouse::availabilityChanged);
    const QVariant stored = defaults.objectForKey(enabledKey);
    if (stored.typeId() == QMetaType::Bool && stored.toBool()) {
        m_isEnabled = true;
        start();
    }
}

FocusFollowsMouse::~FocusFollowsMouse() = default;

void FocusFollowsMouse::setEnabled(bool enabled)
{
    if (enabled == m_isEnabled)
        return;
    m_isEnabled = enabled;
    m_defaults.setBool(enabled, enabledKey);
    Q_EMIT isEnabledChanged(enabled);
    if (enabled)
        start();
    else
        stop();
}

void FocusFollowsMouse::setAlwaysOnTopProvider(std::function<bool()> provider)
{
    m_isAlwaysOnTop = provider ? std::move(provider) : [] { return false; };
}

void FocusFollowsMouse::start()
{
    m_timer.stop();
    if (!m_environment || !m_environment->isAvailable())
        return;
    if (const auto front = m_environment->frontmostApplication();
        front && !(front->id == m_environment->selfId()))
        considerAsPartner(*front);
    if (!m_activationObserver) {
        m_activationObserver = connect(m_environment, &FocusEnvironment::applicationActivated, this,
                                       &FocusFollowsMouse::applicationBecameActive);
        m_environment->startWatching();
    }
    m_timer.start();
}

void FocusFollowsMouse::availabilityChanged()
{
    // The setting is the user's and stays; only whether it can act changes.
    if (!m_isEnabled || !m_environment)
        return;
    if (m_environment->isAvailable())
        start();
    else
        stop();
}

void FocusFollowsMouse::stop()
{
    m_timer.stop();
    if (m_activationObserver) {
        disconnect(m_activationObserver);
        m_activationObserver = {};
        if (m_environment)
            m_environment->stopWatching();
    }
    m_graceUntil.reset();
    m_graceAnchor.reset();
    m_lastMouseLocation.reset();
    m_expectedActivations.clear();
    m_pending.reset();
}

void FocusFollowsMouse::considerAsPartner(const FocusEnvironment::Application &application)
{
    if (!m_environment || application.id == m_environment->selfId())
        return;
    if (!application.name.isEmpty() && m_partnerDenylist.contains(application.name))
        return;
    m_partner = application.id;
}

void FocusFollowsMouse::applicationBecameActive(const FocusEnvironment::Application &application)
{
    const qint64 now = m_environment->now();
    m_expectedActivations.removeIf(
        [now](const auto &entry) { return now - entry.value() >= expectedActivationLifetimeMs; });
    if (!m_expectedActivations.remove(application.id)) {
        // Someone else switched: leave the focus where they put it until the pointer says
        // otherwise, and ask for nothing again over their choice.
        m_graceUntil = now + gracePeriodMs;
        m_graceAnchor.reset();
        if (const auto pointer = m_environment->pointer())
            m_graceAnchor = pointer->position;
        m_pending.reset();
    } else if (m_pending && m_pending->target == application.id) {
        m_pending.reset();
    }
    considerAsPartner(application);
}

void FocusFollowsMouse::poll()
{
    if (!m_partner || !m_environment)
        return;
    const AppId partnerAtStart = *m_partner;
    if (!m_isAlwaysOnTop())
        return;
    if (m_environment->isSelfBlocked())
        return;
    const std::optional<FocusEnvironment::Pointer> pointer = m_environment->pointer();
    if (!pointer || pointer->leftButtonHeld)
        return;
    const QPoint p = pointer->position;
    if (m_graceUntil && m_environment->now() < *m_graceUntil && m_graceAnchor &&
        std::hypot(p.x() - m_graceAnchor->x(), p.y() - m_graceAnchor->y()) < graceDistance)
        return;
    m_graceUntil.reset();
    m_graceAnchor.reset();
    // An unconfirmed request is looked at again where the pointer is now, even a still one.
    const std::optional<PendingActivation> retry = takeDueRetry();
    if (!retry && m_lastMouseLocation && std::abs(m_lastMouseLocation->x() - p.x()) < 1 &&
        std::abs(m_lastMouseLocation->y() - p.y()) < 1)
        return;
    m_lastMouseLocation = p;
    if (const std::optional<AppId> target = wantedAt(p, partnerAtStart))
        request(*target, retry);
}

std::optional<FocusFollowsMouse::PendingActivation> FocusFollowsMouse::takeDueRetry()
{
    if (!m_pending || m_environment->now() - m_pending->requestedAt < activationConfirmMs)
        return std::nullopt;
    const PendingActivation due = *std::exchange(m_pending, std::nullopt);
    if (due.attempts >= activationAttempts)
        return std::nullopt;
    const std::optional<AppId> active = m_environment->activeApplication();
    // Taken, and only its report is late; or a third application has the focus now, given by
    // the user or by itself, and keeps it.
    if (active == due.target || !(active == due.origin || active == m_environment->selfId()))
        return std::nullopt;
    return due;
}

std::optional<AppId> FocusFollowsMouse::wantedAt(QPoint p, AppId partnerAtStart)
{
    const AppId self = m_environment->selfId();
    const bool onTop = m_isAlwaysOnTop();
    if (onTop && m_environment->isInsideOwnWindow(p))
        return self;
    const std::optional<AppId> owner = m_environment->ownerOfWindowAt(p);
    if (!owner)
        return std::nullopt;
    if (!onTop && *owner == self)
        return self;
    if (!(*owner == partnerAtStart) || !m_partner)
        return std::nullopt;
    if (!m_environment->applicationExists(*m_partner)) {
        m_partner.reset();
        return std::nullopt;
    }
    return m_partner;
}

void FocusFollowsMouse::request(AppId target, const std::optional<PendingActivation> &retry)
{
    if (m_pending && m_pending->target == target)
        return; // still waiting for its report
    const std::optional<AppId> active = m_environment->activeApplication();
    // A request still on its way elsewhere would take the focus from `target` when it lands.
    if (active == target && !m_pending)
        return;
    const qint64 now = m_environment->now();
    PendingActivation next{target, active, 1, now};
    if (retry && retry->target == target) {
        next.origin = retry->origin;
        next.attempts = retry->attempts + 1;
    }
    m_pending = next;
    m_expectedActivations.insert(target, now);
    m_environment->activate(target);
}
