// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FocusEnvironment.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>
#include <optional>

class Preferences;

// Moves keyboard focus between this application and one partner, learnt from the user's own
// switching, by watching the pointer: over our window we are activated, over the partner's the
// partner is. Only while the main window stays on top, and never during a drag, a click or a
// modal dialog; a switch the user made by other means is respected for a moment. A requested
// activation counts once the window manager reports it; one that has not taken after a moment is
// asked for again, a few times, as long as nobody else has taken the focus meanwhile.
class FocusFollowsMouse final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)

public:
    static constexpr int pollIntervalMs = 40;
    static constexpr qint64 gracePeriodMs = 500;
    static constexpr double graceDistance = 12.0;
    static constexpr qint64 expectedActivationLifetimeMs = 1000;
    static constexpr qint64 activationConfirmMs = 200;
    static constexpr int activationAttempts = 4;

    // `environment` may be null: the controller then keeps its setting but never moves focus.
    FocusFollowsMouse(Preferences &defaults, FocusEnvironment *environment,
                      QObject *parent = nullptr);
    ~FocusFollowsMouse() override;
    Q_DISABLE_COPY_MOVE(FocusFollowsMouse)

    bool isEnabled() const { return m_isEnabled; }
    void setEnabled(bool enabled);
    void setAlwaysOnTopProvider(std::function<bool()> provider);

    std::optional<AppId> partner() const { return m_partner; }
    bool isRunning() const { return m_timer.isActive(); }
    // One tick of the poll timer.
    void poll();

Q_SIGNALS:
    void isEnabledChanged(bool enabled);

private:
    void start();
    void stop();
    void considerAsPartner(const FocusEnvironment::Application &application);
    struct PendingActivation
    {
        AppId target;
        // Active when first asked; the focus may still be there when the request is retried.
        std::optional<AppId> origin;
        int attempts = 0;
        qint64 requestedAt = 0;
    };

    void applicationBecameActive(const FocusEnvironment::Application &application);
    void availabilityChanged();
    std::optional<PendingActivation> takeDueRetry();
    // What the pointer at `p` asks to be active, if anything.
    std::optional<AppId> wantedAt(QPoint p, AppId partnerAtStart);
    void request(AppId target, const std::optional<PendingActivation> &retry);

    Preferences &m_defaults;
    QPointer<FocusEnvironment> m_environment;
    bool m_isEnabled = false;
    std::function<bool()> m_isAlwaysOnTop = [] { return false; };
    QSet<QString> m_partnerDenylist;
    std::optional<AppId> m_partner;
    QTimer m_timer;
    QMetaObject::Connection m_activationObserver;
    std::optional<QPoint> m_lastMouseLocation;
    std::optional<qint64> m_graceUntil;
    std::optional<QPoint> m_graceAnchor;
    QHash<AppId, qint64> m_expectedActivations;
    std::optional<PendingActivation> m_pending;
};
