// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

const QString serviceName = QStringLiteral("org.wavelark.Wavelark");
const QString objectPath = QStringLiteral("/org/wavelark/Wavelark");
constexpr int handOverTimeoutMs = 5000;
constexpr int startingPollMs = 100;

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QLocalSocket::readyRead, this,
                    [this, socket] { readRequest(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // A client that never finishes its request is dropped.
            QTimer::singleShot(handOverTimeoutMs, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath()
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        return QDir::temp().filePath(QStringLiteral("org.wavelark.Wavelark-%1").arg(::getuid()));
    return QDir(dir).filePath(QStringLiteral("org.wavelark.Wavelark"));
}

SingleInstance::Claim SingleInstance::claim(const QStringList &folders, bool holdsStateLock)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool hasBus = bus.isConnected() && bus.interface();
    if (holdsStateLock) {
        if (hasBus) {
            const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
                bus.interface()->registerService(serviceName,
                                                 QDBusConnectionInterface::DontQueueService,
                                                 QDBusConnectionInterface::DontAllowReplacement);
            if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
                bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
        }
        listen();
        return Claim::Owner;
    }
    // The holder of the lock may still be starting and not yet listening: it gets a moment.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        HandOver result = hasBus ? handOverByBus(folders) : HandOver::NobodyThere;
        if (result == HandOver::NobodyThere)
            result = handOverBySocket(folders);
        if (result == HandOver::Done)
            return Claim::HandedOver;
        if (result == HandOver::NoAnswer || waited.elapsed() >= handOverTimeoutMs)
            return Claim::NotAnswering;
        QThread::msleep(startingPollMs);
    }
}

SingleInstance::HandOver SingleInstance::handOverByBus(const QStringList &folders)
{
    // A plain call: QDBusInterface would first introspect the peer, with no bound on the wait.
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                       QStringLiteral("Activate"));
    call << folders;
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(call, QDBus::Block, handOverTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return HandOver::Done;
    const QString error = reply.errorName();
    return error == QStringLiteral("org.freedesktop.DBus.Error.NoReply") ||
                   error == QStringLiteral("org.freedesktop.DBus.Error.Timeout")
               ? HandOver::NoAnswer
               : HandOver::NobodyThere;
}

SingleInstance::HandOver SingleInstance::handOverBySocket(const QStringList &folders)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(handOverTimeoutMs))
        return HandOver::NobodyThere;
    QByteArray request;
    QDataStream encoder(&request, QIODevice::WriteOnly);
    encoder << folders;
    QDataStream out(&socket);
    out << request;
    socket.flush();
    // A frozen process still has its socket accept connections (the kernel queues them), so only
    // the answer tells that it took the request.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(handOverTimeoutMs))
            return HandOver::NoAnswer;
    }
    return socket.read(1) == "1" ? HandOver::Done : HandOver::NoAnswer;
}

void SingleInstance::listen()
{
    if (m_server.listen(socketPath()))
        return;
    // This process holds the state lock, so a socket left there is a dead instance's.
    QLocalServer::removeServer(socketPath());
    m_server.listen(socketPath());
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    QDataStream in(socket);
    in.startTransaction();
    QByteArray request;
    in >> request;
    if (!in.commitTransaction())
        return;
    QStringList folders;
    QDataStream decoder(request);
    decoder >> folders;
    socket->write("1");
    socket->flush();
    Activate(folders);
}

void SingleInstance::Activate(const QStringList &folders)
{
    Q_EMIT activationRequested(folders);
}
