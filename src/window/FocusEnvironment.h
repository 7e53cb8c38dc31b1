// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHashFunctions>
#include <QObject>
#include <QPoint>
#include <QString>

#include <optional>

// Who owns a window: a process where the window names one, else the X client that created it
// (Tk and plain Xt clients name no process).
struct AppId
{
    enum class Kind : quint8
    {
        Process,
        Client
    };
    Kind kind = Kind::Process;
    quint32 value = 0;

    friend bool operator==(const AppId &, const AppId &) = default;
};

inline size_t qHash(const AppId &id, size_t seed = 0) noexcept
{
    return qHashMulti(seed, static_cast<quint8>(id.kind), id.value);
}

// The desktop as the focus controller sees it: pointer, windows, applications, activation and a
// clock. The X11 implementation talks to the window manager; tests script one.
class FocusEnvironment : public QObject
{
    Q_OBJECT

public:
    struct Pointer
    {
        QPoint position; // global, device pixels
        bool leftButtonHeld = false;
    };
    struct Application
    {
        AppId id;
        QString name; // process name, empty when unknown
    };

    explicit FocusEnvironment(QObject *parent = nullptr);
    ~FocusEnvironment() override;
    Q_DISABLE_COPY_MOVE(FocusEnvironment)

    // False where the session gives no access to other applications' windows (Wayland), or the
    // window manager cannot keep our window above the partner's.
    virtual bool isAvailable() const = 0;
    virtual AppId selfId() const = 0;
    virtual std::optional<Application> frontmostApplication() = 0;
    virtual std::optional<Pointer> pointer() = 0;
    // Hidden, a modal dialog or a popup open, or no window both visible and not minimised.
    virtual bool isSelfBlocked() const = 0;
    virtual bool isInsideOwnWindow(QPoint position) const = 0;
    // The owner of the front-most normal, visible window under `position`.
    virtual std::optional<AppId> ownerOfWindowAt(QPoint position) = 0;
    virtual bool applicationExists(AppId id) = 0;
    // As the window manager has it now, which may be ahead of the activations reported so far.
    virtual std::optional<AppId> activeApplication() = 0;
    // A request the window manager may refuse or carry out late: only a report of the
    // activation confirms it.
    virtual void activate(AppId id) = 0;
    // Monotonic milliseconds.
    virtual qint64 now() const = 0;
    // Activation changes are reported only between the two.
    virtual void startWatching() = 0;
    virtual void stopWatching() = 0;

Q_SIGNALS:
    void applicationActivated(const FocusEnvironment::Application &application);
    void availabilityChanged();
};
