#include "SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QTimer>

#include <unistd.h>

namespace {

const QString serviceName = QStringLiteral("org.wavelark.Wavelark");
const QString objectPath = QStringLiteral("/org/wavelark/Wavelark");
constexpr int handOverTimeoutMs = 5000;

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

bool SingleInstance::claim(const QStringList &folders)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            bus.interface()->registerService(serviceName,
                                             QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
            listen();
            return true;
        }
        if (handOverByBus(folders))
            return false;
    }
    if (handOverBySocket(folders))
        return false;
    listen();
    return true;
}

bool SingleInstance::handOverByBus(const QStringList &folders)
{
    QDBusInterface running(serviceName, objectPath, serviceName, QDBusConnection::sessionBus());
    running.setTimeout(handOverTimeoutMs);
    const QDBusMessage reply = running.call(QStringLiteral("Activate"), folders);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool SingleInstance::handOverBySocket(const QStringList &folders)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(handOverTimeoutMs))
        return false;
    QByteArray request;
    QDataStream encoder(&request, QIODevice::WriteOnly);
    encoder << folders;
    QDataStream out(&socket);
    out << request;
    socket.flush();
    // The answer says the running instance took the request; without it this start goes on.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(handOverTimeoutMs))
            return false;
    }
    return socket.read(1) == "1";
}

void SingleInstance::listen()
{
    if (m_server.listen(socketPath()))
        return;
    // Nobody answered on it (handOverBySocket failed), so the socket is a dead instance's.
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
