// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Similar-sound and duplicate searches at the size of the 1M-file tree, as the window runs them:
// the first one reads the timbre store and lines it up with the index; the ones after scan the
// table held since. Against a plain read of the same table in the same run. Target: <= 50 ms a
// query once held.
// usage: similar_bench INDEX_FILE   (an index written by the app or `wavelark-probe index`)
#include "model/IndexFile.h"
#include "model/TimbreTable.h"
#include "platform/CancelFlag.h"
#include "platform/MemoryPolicy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {
double medianMs(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? double(fields[1].toLongLong()) * 4096 / 1e6 : 0;
}

template <typename F> double timeMs(F &&f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return double(timer.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    // As the app asks for memory, so that what is let go goes back as it would there.
    MemoryPolicy::apply();
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: similar_bench INDEX_FILE\n");
        return 2;
    }
    const std::shared_ptr<const SampleIndex> index =
        IndexFile::read(QFile::decodeName(QByteArray(argv[1])));
    const size_t rows = index->size();
    if (rows == 0) {
        std::fprintf(stderr, "no index at %s\n", argv[1]);
        return 1;
    }

    // Sounds come in families (kits of one maker): clusters, each file near its centre; one file
    // in fifty silent, one in a hundred a copy of another.
    QTemporaryDir dir;
    const QString storeFile = dir.filePath(QStringLiteral("sound-timbre.bin"));
    {
        std::mt19937 random(7);
        std::normal_distribution<double> spread(0.0, 6.0);
        std::uniform_int_distribution<int> centre(-100, 100);
        std::vector<SoundDescriptor::Values> centres(4000);
        for (auto &values : centres)
            for (auto &v : values)
                v = qint8(centre(random));
        TimbreStore store(storeFile);
        for (size_t entry = 0; entry < rows; ++entry) {
            SoundDescriptor::Values values = centres[entry % centres.size()];
            for (auto &v : values)
                v = qint8(std::clamp<double>(v + spread(random), -127, 127));
            const quint64 hash = entry % 100 == 1 ? 1000 + entry - 1 : 1000 + entry;
            store.insert(
                TimbreTable::pathKey(*index, entry),
                Timbre(hash, entry % 50 == 0 ? SoundDescriptor() : SoundDescriptor(values)));
        }
        if (!store.save())
            return 1;
    }

    const CancelFlag flag;
    const double residentBefore = residentMb();
    std::shared_ptr<const TimbreTable> table;
    std::vector<double> load;
    for (int i = 0; i < 3; ++i)
        load.push_back(timeMs([&] { table = TimbreTable::build(index, storeFile, flag); }));

    // "This folder": the largest top folder's subtree, found as a name search finds it.
    SampleIndex::Scope folderScope;
    folderScope.kind = SampleIndex::Scope::Kind::Folder;
    folderScope.folder = std::string(index->folderPath(rows / 2));

    std::vector<double> all, folder, read, copies;
    volatile long long sink = 0;
    for (int q = 0; q < 15; ++q) {
        const SoundDescriptor query = table->descriptor(quint32((q * 7919 + 1) % rows));
        all.push_back(timeMs([&] { sink = sink + table->nearest(query, 200, {}, flag).size(); }));
        folder.push_back(timeMs([&] {
            std::vector<bool> inScope(rows, false);
            for (quint32 entry : index->search({}, folderScope, flag, [](quint32) { return true; }))
                inScope[entry] = true;
            sink =
                sink + table
                           ->nearest(
                               query, 200, [&inScope](quint32 e) { return bool(inScope[e]); }, flag)
                           .size();
        }));
        read.push_back(timeMs([&] {
            long long sum = 0;
            for (quint32 entry = 0; entry < quint32(rows); ++entry)
                sum += table->descriptor(entry).values()[0];
            sink = sink + sum;
        }));
        if (q < 3)
            copies.push_back(timeMs([&] { sink = sink + table->copies({}, flag).size(); }));
    }
    std::printf("entries %zu, store %.1f MB on disk, table %.1f MB held\n", rows,
                double(QFile(storeFile).size()) / 1e6, double(table->memoryUsage()) / 1e6);
    std::printf("first sound search, reading the store: %.0f ms\n", medianMs(load));
    const double residentHeld = residentMb();
    table.reset();
    std::printf("resident: %.0f MB before the first sound search, %.0f MB while the table is "
                "held, %.0f MB after it is let go\n",
                residentBefore, residentHeld, residentMb());
    std::printf("similar search, all roots: %.1f ms (target <= 50 ms)\n", medianMs(all));
    std::printf("similar search, one folder (%s): %.1f ms\n", folderScope.folder.c_str(),
                medianMs(folder));
    std::printf("duplicates, all roots: %.1f ms\n", medianMs(copies));
    std::printf("reference, reading every row once: %.1f ms; search/reference %.2f\n",
                medianMs(read), medianMs(all) / medianMs(read));
    return 0;
}
