// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Sounds alike and sounds the same, answered from an index file written with `index --analyze`.
#include "ProbeCommands.h"

#include "FilePaths.h"
#include "IndexFile.h"
#include "analysis/SoundAnalyzer.h"
#include "analysis/TimbreStore.h"
#include "model/TimbreTable.h"

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
    std::shared_ptr<const SampleIndex> index;
    std::shared_ptr<const TimbreTable> timbre;
};

std::optional<Loaded> load(const QString &indexFile)
{
    const QString timbreFile = TimbreStore::filePathBeside(indexFile);
    std::shared_ptr<const SampleIndex> index = IndexFile::read(indexFile);
    if (index->size() == 0 || !QFile::exists(timbreFile)) {
        err() << "no analysed index at " << indexFile
              << " (write one with: wavelark-probe index --analyze --out FILE ROOT...)\n";
        return std::nullopt;
    }
    const CancelFlag flag;
    QElapsedTimer timer;
    timer.start();
    std::shared_ptr<const TimbreTable> timbre = TimbreTable::build(index, timbreFile, flag);
    err() << "timbre_load_ms " << timer.elapsed() << '\n';
    return Loaded{std::move(index), std::move(timbre)};
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
    // The sample's own row when the index holds it, else it is listened to now.
    const QString wanted = FilePaths::normalized(sample);
    const std::optional<size_t> own = loaded->index->find(wanted);
    SoundDescriptor query = own ? loaded->timbre->descriptor(quint32(*own)) : SoundDescriptor();
    if (!query.isValid())
        query = SoundAnalyzer::listen(wanted).descriptor;
    if (!query.isValid()) {
        err() << "nothing to compare: " << FilePaths::displayText(sample)
              << " could not be analysed or is silent\n";
        return 1;
    }
    const CancelFlag flag;
    QElapsedTimer timer;
    timer.start();
    const std::vector<quint32> hits = loaded->timbre->nearest(
        query, top, [own](quint32 row) { return !own || row != *own; }, flag);
    err() << "similar_us " << timer.nsecsElapsed() / 1000 << '\n';
    for (const quint32 entry : hits)
        printLine(loaded->index->pathString(entry));
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
    const CancelFlag flag;
    for (const std::vector<quint32> &group : loaded->timbre->copies({}, flag)) {
        QStringList paths;
        for (const quint32 entry : group)
            paths.append(loaded->index->pathString(entry));
        printLine(paths.join(QLatin1Char('\t')));
    }
    return 0;
}

} // namespace ProbeCommands
