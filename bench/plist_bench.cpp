// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Times the streaming plist writer and the random-access reader on an index-shaped document
// ({"path", "folded"} dictionaries), against plain file writes and reads of the same bytes.
//
//   plist_bench [entries=1000000] [rounds=3]

#include "BinaryPlistReader.h"
#include "BinaryPlistWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/resource.h>

namespace {

struct Entries
{
    std::vector<QByteArray> paths;
    std::vector<QString> folded;
};

Entries makeEntries(int count)
{
    Entries entries;
    entries.paths.reserve(size_t(count));
    entries.folded.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        // About 90 and 30 characters, one in a hundred with an accent.
        const QString accent = i % 100 == 0 ? QStringLiteral("é") : QStringLiteral("e");
        const QString name =
            QStringLiteral("Kick Snar%1 %2.wav").arg(accent).arg(i, 7, 10, QLatin1Char('0'));
        entries.paths.push_back(QStringLiteral("/home/someone/Music/Samples/Pack %1/Drums %2/"
                                               "One Shots/Acoustic/%3")
                                    .arg(i / 1000, 4, 10, QLatin1Char('0'))
                                    .arg(i % 50, 2, 10, QLatin1Char('0'))
                                    .arg(name)
                                    .toUtf8());
        entries.folded.push_back(name.toLower() + QStringLiteral(" folded"));
    }
    return entries;
}

QByteArray write(const Entries &entries)
{
    const quint64 count = entries.paths.size();
    BinaryPlistWriter writer(3 + 3 * count);
    std::vector<quint64> refs(count);
    for (quint64 i = 0; i < count; ++i)
        refs[i] = 3 + 3 * i;
    writer.writeArray(refs);
    writer.writeUtf8String("path");
    writer.writeUtf8String("folded");
    const quint64 keys[] = {1, 2};
    for (quint64 i = 0; i < count; ++i) {
        const quint64 values[] = {3 + 3 * i + 1, 3 + 3 * i + 2};
        writer.writeDictionary(keys, values);
        writer.writeUtf8String(entries.paths[i]);
        writer.writeString(entries.folded[i]);
    }
    return writer.finish(0);
}

// Fills one contiguous buffer of paths and one of folded names, as the index does.
qsizetype read(QByteArrayView bytes)
{
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(bytes);
    if (!reader)
        return -1;
    const std::optional<std::vector<quint64>> refs = reader->arrayRefs(reader->topObject());
    if (!refs)
        return -1;
    QByteArray paths;
    QByteArray folded;
    paths.reserve(qsizetype(refs->size()) * 96);
    folded.reserve(qsizetype(refs->size()) * 32);
    std::vector<quint64> keys;
    std::vector<quint64> values;
    const auto append = [&reader](QByteArray &out, quint64 ref) {
        if (const std::optional<QByteArrayView> ascii = reader->asciiBytes(ref))
            out.append(*ascii);
        else if (const std::optional<QString> text = reader->string(ref))
            out.append(text->toUtf8());
        out.append('\0');
    };
    for (const quint64 entry : *refs) {
        if (!reader->dictionaryRefs(entry, keys, values))
            return -1;
        for (size_t k = 0; k < keys.size(); ++k) {
            const std::optional<QByteArrayView> key = reader->asciiBytes(keys[k]);
            if (!key)
                continue;
            if (*key == "path")
                append(paths, values[k]);
            else if (*key == "folded")
                append(folded, values[k]);
        }
    }
    return paths.size() + folded.size();
}

// User plus system time of the process, which a busy machine distorts less than wall time.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Timing
{
    std::vector<double> wall;
    std::vector<double> cpu;
};

template <typename Work> void measure(Timing &timing, Work work)
{
    QElapsedTimer timer;
    const double cpuStart = cpuSeconds();
    timer.start();
    work();
    timing.wall.push_back(double(timer.nsecsElapsed()) / 1e9);
    timing.cpu.push_back(cpuSeconds() - cpuStart);
}

void report(const char *what, const Timing &timing, const char *reference, const Timing &base)
{
    const double wall = median(timing.wall);
    const double cpu = median(timing.cpu);
    std::printf("%-22s wall %6.3f s, cpu %6.3f s: %.2fx / %.2fx %s (%.3f s / %.3f s)\n", what, wall,
                cpu, wall / median(base.wall), cpu / median(base.cpu), reference, median(base.wall),
                median(base.cpu));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    const int rounds = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 3;
    const Entries entries = makeEntries(count);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.plist"));

    Timing writing, copying, fileWriting, reading, fileReading;
    QByteArray document;
    qsizetype decoded = 0;
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        document.clear();
        measure(writing, [&] { document = write(entries); });
        // The same bytes copied into fresh memory: the floor for any in-memory encoder.
        measure(copying, [&] {
            QByteArray copy(document.size(), Qt::Uninitialized);
            std::memcpy(copy.data(), document.constData(), size_t(document.size()));
        });
        measure(fileWriting, [&] {
            QFile file(path);
            ok = ok && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                 file.write(document) == document.size();
        });
        measure(fileReading, [&] {
            QFile file(path);
            ok = ok && file.open(QIODevice::ReadOnly) && file.readAll().size() == document.size();
        });
        measure(reading, [&] {
            QFile file(path);
            uchar *mapped = file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
            decoded = mapped ? read(QByteArrayView(mapped, file.size())) : -1;
        });
    }
    if (!ok || decoded < 0) {
        std::fprintf(stderr, "the document did not write or read back\n");
        return 1;
    }
    std::printf("%d entries, %lld objects, %.1f MB, median of %d rounds\n", count,
                3 + 3 * static_cast<long long>(count), double(document.size()) / 1e6, rounds);
    report("write (streaming)", writing, "copying the bytes", copying);
    report("write (streaming)", writing, "writing the file", fileWriting);
    report("read (mapped file)", reading, "reading the file", fileReading);
    return 0;
}
