// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"

#include "tags/FinderTagsIO.h"

#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

namespace ProbeCommands {

namespace {

// Line feeds inside names are shown as the two characters \n, so one entry stays one line.
QString escaped(const QString &name)
{
    QString text = name;
    return text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

QString unescaped(const QString &name)
{
    QString text = name;
    return text.replace(QLatin1String("\\n"), QLatin1String("\n"));
}

int usage(const char *text)
{
    QTextStream(stderr) << "usage: wavelark-probe " << text << '\n';
    return 2;
}

} // namespace

int tagsRead(const QStringList &args)
{
    if (args.size() != 1)
        return usage("tags-read FILE");
    const QFileInfo file(args.first());
    if (!file.exists() && !file.isSymLink()) {
        QTextStream(stderr) << "no such file: " << args.first() << '\n';
        return 1;
    }
    QTextStream out(stdout);
    const QList<FinderTagsIO::Entry> entries =
        FinderTagsIO::readEntries(QUrl::fromLocalFile(file.absoluteFilePath()));
    for (const FinderTagsIO::Entry &entry : entries)
        out << escaped(entry.name) << '\t' << entry.colorIndex << '\n';
    return 0;
}

int tagsWrite(const QStringList &args)
{
    if (args.isEmpty())
        return usage("tags-write FILE [NAME:INDEX ...]");
    QList<FinderTagsIO::Entry> entries;
    for (const QString &arg : args.mid(1)) {
        // Names may hold colons themselves: the index follows the last one.
        const qsizetype colon = arg.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const qint64 index = colon < 0 ? 0 : arg.mid(colon + 1).toLongLong(&ok);
        if (!ok)
            return usage("tags-write FILE [NAME:INDEX ...]");
        entries.append({unescaped(arg.left(colon)), index});
    }
    const QUrl url = QUrl::fromLocalFile(QFileInfo(args.first()).absoluteFilePath());
    if (!FinderTagsIO::writeEntries(entries, url)) {
        QTextStream(stderr) << "could not write the tags of " << args.first() << '\n';
        return 1;
    }
    return 0;
}

} // namespace ProbeCommands
