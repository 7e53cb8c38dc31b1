// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AtomicFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Read, not set: umask(2) can only be asked by changing it, which would race with other threads.
mode_t processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    return 022;
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString &filePath) : m_filePath(filePath) {}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

bool AtomicFileWriter::open()
{
    if (m_descriptor >= 0 || m_error != 0)
        return m_error == 0;
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        // mkpath keeps the reason to itself; the last step made again tells it.
        return fail(::mkdir(QFile::encodeName(folder).constData(), 0777) == 0 ? EIO : errno);
    }
    QByteArray pattern = QFile::encodeName(m_filePath) + ".XXXXXX";
    const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (descriptor < 0)
        return fail(errno);
    m_descriptor = descriptor;
    m_temporaryPath = pattern;
    // mkostemp makes the file private; the replacement keeps the mode of the file it replaces.
    struct stat existing = {};
    ::fchmod(m_descriptor, ::stat(QFile::encodeName(m_filePath).constData(), &existing) == 0
                               ? existing.st_mode & 07777
                               : 0666 & ~processUmask());
    return true;
}

bool AtomicFileWriter::write(QByteArrayView bytes)
{
    if (m_descriptor < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_descriptor, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (written == 0)
            return fail(ENOSPC);
        data += written;
        left -= written;
    }
    return true;
}

bool AtomicFileWriter::commit()
{
    if (m_descriptor < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    // Delayed allocation may report a full disk only here, so neither result can be skipped.
    if (::fsync(m_descriptor) != 0)
        return fail(errno);
    const int descriptor = m_descriptor;
    m_descriptor = -1;
    if (::close(descriptor) != 0)
        return fail(errno);
    if (::rename(m_temporaryPath.constData(), QFile::encodeName(m_filePath).constData()) != 0)
        return fail(errno);
    m_temporaryPath.clear();
    // The rename itself reaches the disk with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_filePath).absolutePath());
    const int folderDescriptor = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor >= 0) {
        ::fsync(folderDescriptor);
        ::close(folderDescriptor);
    }
    return true;
}

int AtomicFileWriter::writeFile(const QString &filePath, QByteArrayView bytes)
{
    AtomicFileWriter writer(filePath);
    if (writer.open() && writer.write(bytes) && writer.commit())
        return 0;
    return writer.error();
}

bool AtomicFileWriter::fail(int error)
{
    if (m_error == 0)
        m_error = error != 0 ? error : EIO;
    discard();
    return false;
}

void AtomicFileWriter::discard()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
    if (!m_temporaryPath.isEmpty()) {
        ::unlink(m_temporaryPath.constData());
        m_temporaryPath.clear();
    }
}
