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
// modal dialog; a switch the user made by other means is respected for a moment.
class FocusFollowsMouse final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)

public:
    static constexpr int pollIntervalMs = 40;
    static constexpr qint64 gracePeriodMs = 500;
    static constexpr double graceDistance = 12.0;
    static constexpr qint64 expectedActivationLifetimeMs = 1000;

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
    void applicationBecameActive(const FocusEnvironment::Application &application);
    void activateSelf();

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
};
