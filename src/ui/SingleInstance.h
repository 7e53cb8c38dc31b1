#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

class QLocalSocket;

// One Wavelark per user: the first start owns the D-Bus name org.wavelark.Wavelark and a local
// socket in $XDG_RUNTIME_DIR; a later start hands its folders to it and exits. The socket also
// serves sessions without a bus. A name dies with its process and a socket nobody answers is
// stale, so a crashed first instance never blocks the next start.
class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.wavelark.Wavelark")

public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    // True when this process is now the running instance; false when `folders` (absolute
    // paths) were handed to the one already running.
    bool claim(const QStringList &folders);

    static QString socketPath();

public Q_SLOTS:
    // Called over D-Bus by a later start.
    Q_SCRIPTABLE void Activate(const QStringList &folders);

Q_SIGNALS:
    // A later start asked us to come forward and add these folders.
    void activationRequested(const QStringList &folders);

private:
    bool handOverByBus(const QStringList &folders);
    bool handOverBySocket(const QStringList &folders);
    void listen();
    void readRequest(QLocalSocket *socket);

    QLocalServer m_server;
};
