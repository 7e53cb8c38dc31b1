// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Sounds alike and sounds the same, answered from an index file written with `index --analyze`.
#include "ProbeCommands.h"

#include "FilePaths.h"
#include "IndexFile.h"
#include "analysis/DescriptorTable.h"
#include "analysis/SoundAnalyzer.h"
#include "analysis/TimbreFile.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

void printLine(const QString &line)
{
    const QByteArray bytes = FilePaths::encoded(line);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

struct Loaded
{
    std::shared_ptr<SampleIndex> index;
    std::vector<TimbreFile::Entry> timbre;
};

std::optional<Loaded> load(const QString &indexFile)
{
    Loaded loaded{IndexFile::read(indexFile), {}};
    std::optional<std::vector<TimbreFile::Entry>> timbre =
        TimbreFile::read(TimbreFile::pathBeside(indexFile), loaded.index->size());
    if (loaded.index->size() == 0 || !timbre) {
        err() << "no analysed index at " << indexFile
              << " (write one with: wavelark-probe index --analyze --out FILE ROOT...)\n";
        return std::nullopt;
    }
    loaded.timbre = std::move(*timbre);
    return loaded;
}

} // namespace

namespace ProbeCommands {

int similar(const QStringList &args)
{
    QString indexFile;
    QString sample;
    int top = 10;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--index") && i + 1 < args.size())
            indexFile = args[++i];
        else if (args[i] == QLatin1String("--top") && i + 1 < args.size())
            top = std::max(1, args[++i].toInt());
        else
            sample = args[i];
    }
    if (indexFile.isEmpty() || sample.isEmpty()) {
        err() << "usage: wavelark-probe similar --index FILE [--top N] SAMPLE\n";
        return 2;
    }
    const std::optional<Loaded> loaded = load(indexFile);
    if (!loaded)
        return 1;
    DescriptorTable table;
    table.reserve(qsizetype(loaded->timbre.size()));
    for (const TimbreFile::Entry &entry : loaded->timbre)
        table.append(entry.descriptor);

    // The sample's own row when the index holds it, else it is listened to now.
    const std::string wanted = FilePaths::normalized(sample).toUtf8().toStdString();
    std::optional<quint32> own;
    for (size_t entry = 0; entry < loaded->index->size(); ++entry) {
        if (loaded->index->path(entry) == wanted) {
            own = quint32(entry);
            break;
        }
    }
    const SoundDescriptor query =
        own ? table.at(*own) : SoundAnalyzer::listen(FilePaths::normalized(sample)).descriptor;
    if (!query.isValid()) {
        err() << "nothing to compare: " << FilePaths::displayText(sample)
              << " could not be analysed or is silent\n";
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const std::vector<DescriptorTable::Hit> hits =
        table.nearest(query.values(), top, [own](quint32 row) { return !own || row != *own; });
    err() << "similar_us " << timer.nsecsElapsed() / 1000 << '\n';
    for (const DescriptorTable::Hit &hit : hits)
        printLine(loaded->index->pathString(hit.row));
    return 0;
}

int duplicates(const QStringList &args)
{
    if (args.size() != 2 || args[0] != QLatin1String("--index")) {
        err() << "usage: wavelark-probe duplicates --index FILE\n";
        return 2;
    }
    const std::optional<Loaded> loaded = load(args[1]);
    if (!loaded)
        return 1;
    QHash<quint64, QStringList> groups;
    for (size_t entry = 0; entry < loaded->timbre.size(); ++entry) {
        if (const quint64 hash = loaded->timbre[entry].audioHash; hash != 0)
            groups[hash].append(loaded->index->pathString(entry));
    }
    QStringList lines;
    for (QStringList &group : groups) {
        if (group.size() < 2)
            continue;
        std::sort(group.begin(), group.end());
        lines.append(group.join(QLatin1Char('\t')));
    }
    std::sort(lines.begin(), lines.end());
    for (const QString &line : std::as_const(lines))
        printLine(line);
    return 0;
}

} // namespace ProbeCommands
