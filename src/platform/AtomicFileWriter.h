// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

// Replaces a file with new contents completely or not at all: the bytes go to a temporary file in
// the same folder, every write is checked, the file is synced, and only then renamed over the old
// one. A full disk, a read-only folder or an I/O error leaves the old file byte for byte.
class AtomicFileWriter final
{
public:
    explicit AtomicFileWriter(const QString &filePath);
    ~AtomicFileWriter(); // removes the temporary file unless committed
    Q_DISABLE_COPY_MOVE(AtomicFileWriter)

    // Creates the temporary file (and the folder when missing).
    bool open();
    // Appends; after the first failure every later write and the commit fail too.
    bool write(QByteArrayView bytes);
    bool commit();

    // The errno of the first failure, 0 while there is none.
    int error() const { return m_error; }

    // The whole round in one call; the errno of the failure, or 0.
    static int writeFile(const QString &filePath, QByteArrayView bytes);

private:
    bool fail(int error);
    void discard();

    QString m_filePath;
    QByteArray m_temporaryPath;
    int m_descriptor = -1;
    int m_error = 0;
};
