// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

class QLocalSocket;

// One Wavelark per user: the first start owns the D-Bus name org.wavelark.Wavelark and a local
// socket in $XDG_RUNTIME_DIR; a later start hands its folders to it and exits. The socket also
// serves sessions without a bus. Which process is the first is decided by the lock on the user's
// state (`InstanceLock`), not by the name or the socket: a crashed instance drops its lock, so its
// socket is stale, while a frozen one keeps it, and then a later start must not become a second
// writer beside it.
class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.wavelark.Wavelark")

public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    enum class Claim
    {
        Owner,        // this process is now the running instance
        HandedOver,   // `folders` (absolute paths) went to the one already running
        NotAnswering, // another instance holds the state but does not answer
    };
    // `holdsStateLock`: this process holds the lock on the user's state.
    Claim claim(const QStringList &folders, bool holdsStateLock);

    static QString socketPath();

public Q_SLOTS:
    // Called over D-Bus by a later start.
    Q_SCRIPTABLE void Activate(const QStringList &folders);

Q_SIGNALS:
    // A later start asked us to come forward and add these folders.
    void activationRequested(const QStringList &folders);

private:
    enum class HandOver
    {
        Done,
        NobodyThere,
        NoAnswer
    };
    HandOver handOverByBus(const QStringList &folders);
    HandOver handOverBySocket(const QStringList &folders);
    void listen();
    void readRequest(QLocalSocket *socket);

    QLocalServer m_server;
};
