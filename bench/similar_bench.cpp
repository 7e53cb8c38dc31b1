// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A similar-sound search over as many descriptors as the 1M-file tree has audio files: the exact
// scan against a plain read of the same bytes in the same run. Target: ≤ 50 ms a query.
// usage: similar_bench [ROWS]   (default 780000)
#include "analysis/DescriptorTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {
double medianMs(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qsizetype rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 780000;
    // Sounds come in families (kits of one maker): clusters, each row near its centre.
    std::mt19937 random(7);
    std::normal_distribution<double> spread(0.0, 6.0);
    std::uniform_int_distribution<int> centre(-100, 100);
    std::vector<SoundDescriptor::Values> centres(4000);
    for (auto &values : centres)
        for (auto &v : values)
            v = qint8(centre(random));
    DescriptorTable table;
    table.reserve(rows);
    for (qsizetype row = 0; row < rows; ++row) {
        SoundDescriptor::Values values = centres[size_t(row) % centres.size()];
        for (auto &v : values)
            v = qint8(std::clamp<double>(v + spread(random), -127, 127));
        table.append(row % 50 == 0 ? SoundDescriptor() : SoundDescriptor(values));
    }

    std::vector<double> scan, folder, read;
    volatile long long sink = 0;
    for (int q = 0; q < 15; ++q) {
        const SoundDescriptor::Values query = table.at(q * 7919 + 1).values();
        QElapsedTimer timer;
        timer.start();
        const auto hits = table.nearest(query, 200);
        scan.push_back(timer.nsecsElapsed() / 1e6);
        sink = sink + hits.size();
        timer.restart();
        // "This folder": one row in ten accepted.
        const auto scoped = table.nearest(query, 200, [](quint32 row) { return row % 10 == 3; });
        folder.push_back(timer.nsecsElapsed() / 1e6);
        sink = sink + scoped.size();
        timer.restart();
        long long sum = 0;
        for (qsizetype row = 0; row < rows; ++row)
            sum += table.has(row) ? table.at(row).values()[0] : 0;
        read.push_back(timer.nsecsElapsed() / 1e6);
        sink = sink + sum;
    }
    std::printf("rows %lld, table %.1f MB\n", static_cast<long long>(rows),
                table.memoryBytes() / 1e6);
    std::printf("similar search, all roots: %.1f ms (target <= 50 ms)\n", medianMs(scan));
    std::printf("similar search, one folder: %.1f ms\n", medianMs(folder));
    std::printf("reference, reading every row once: %.1f ms; search/reference %.2f\n",
                medianMs(read), medianMs(scan) / medianMs(read));
    return 0;
}
