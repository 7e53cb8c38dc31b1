// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The one-writer rule for a user's state: the process that holds this lock (flock on a file beside
// the preferences) is the one that writes them. The kernel drops the lock with the process, so a
// crashed instance never blocks the next start, while a frozen one keeps holding it.
class InstanceLock final
{
public:
    explicit InstanceLock(const QString &filePath);
    ~InstanceLock();
    Q_DISABLE_COPY_MOVE(InstanceLock)

    // Without waiting; true when this process holds the lock (now or already).
    bool tryLock();
    bool isLocked() const { return m_descriptor >= 0; }
    // The process that holds the lock, as it wrote itself into the file; 0 when unknown.
    qint64 ownerProcessId() const;

private:
    QString m_filePath;
    int m_descriptor = -1;
};
