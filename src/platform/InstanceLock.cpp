// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString &filePath) : m_filePath(filePath) {}

InstanceLock::~InstanceLock()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool InstanceLock::tryLock()
{
    if (m_descriptor >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    const int descriptor =
        ::open(QFile::encodeName(m_filePath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        // Where no lock file can be made (a read-only home), nothing can be written either, so
        // there is no writer to protect: the start goes on.
        return true;
    }
    int result;
    do
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(descriptor);
        return false;
    }
    m_descriptor = descriptor;
    // Only a later start's message names the owner, so a failed write costs nothing else.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(m_descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written =
            ::pwrite(m_descriptor, pid.constData(), size_t(pid.size()), 0);
    }
    return true;
}

qint64 InstanceLock::ownerProcessId() const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.read(32).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}
