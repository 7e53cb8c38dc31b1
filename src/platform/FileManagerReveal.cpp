// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileManagerReveal.h"

#include "FilePaths.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Last resort: the folder that holds the item, in whatever the desktop opens folders with.
void openParentFolder(const QString &path)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {QFileInfo(path).absolutePath()});
}

// The desktop portal opens the folder with the item selected where the file manager supports it.
void openWithPortal(const QString &path)
{
    const int fd = ::open(FilePaths::encoded(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        openParentFolder(path);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenDirectory"));
    message << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(fd)) << QVariantMap();
    ::close(fd);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path](QDBusPendingCallWatcher *call) {
                         if (call->isError())
                             openParentFolder(path);
                         call->deleteLater();
                     });
}

class SystemFileManagerReveal final : public FileManagerReveal
{
public:
    void reveal(const QString &path) override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            openParentFolder(path);
            return;
        }
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        message << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [path](QDBusPendingCallWatcher *call) {
                             if (call->isError())
                                 openWithPortal(path);
                             call->deleteLater();
                         });
    }
};

} // namespace

FileManagerReveal &FileManagerReveal::systemDefault()
{
    static SystemFileManagerReveal reveal;
    return reveal;
}
