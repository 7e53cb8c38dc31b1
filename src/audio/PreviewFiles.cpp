// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "PreviewFiles.h"

#include "FilePaths.h"

#include <QByteArray>
#include <QFile>

#include <sys/stat.h>

namespace {

// mountinfo writes a space, tab, newline or backslash in a mount point as \040, \011, \012, \134.
QByteArray unescapedMountPoint(const QByteArray &field)
{
    QByteArray point;
    point.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                point.append(char(code));
                i += 3;
                continue;
            }
        }
        point.append(field[i]);
    }
    return point;
}

bool isAtOrBelow(const QByteArray &path, const QByteArray &point)
{
    if (point == "/")
        return path.startsWith('/');
    return path.startsWith(point) && (path.size() == point.size() || path[point.size()] == '/');
}

} // namespace

QString PreviewFiles::shareOf(const QString &path) const
{
    // The kernel's own table: it answers from memory even while a mount hangs.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    const QByteArray bytes = FilePaths::encoded(path);
    QByteArray best = "/";
    if (table.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 5)
                continue;
            const QByteArray point = unescapedMountPoint(fields[4]);
            if (point.size() > best.size() && isAtOrBelow(bytes, point))
                best = point;
        }
    }
    return FilePaths::decoded(best);
}

PreviewFiles::Status PreviewFiles::status(const QString &path) const
{
    struct stat info
    {};
    if (::stat(FilePaths::encoded(path).constData(), &info) != 0)
        return {};
    if (!S_ISREG(info.st_mode))
        return {Kind::Other, std::nullopt};
    return {Kind::Regular,
            FileSignature{qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
                          qint64(info.st_size)}};
}

std::unique_ptr<AudioDecoder> PreviewFiles::open(const QString &path,
                                                 AudioDecoder::Interrupt interrupt) const
{
    return AudioDecoder::open(path, std::move(interrupt));
}
