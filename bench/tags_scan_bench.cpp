// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Times the file-manager colour import scan over a folder tree; not run by ctest.
// usage: tags_scan_bench ROOT [--repeat N]
// Prints the median wall time of FinderTagSync::scan and the number of tagged items found.

#include "tags/FinderTagSync.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return 2;
    int repeat = 3;
    if (args.size() >= 3 && args.at(1) == QLatin1String("--repeat"))
        repeat = std::max(1, args.at(2).toInt());

    const QList<QUrl> roots{QUrl::fromLocalFile(args.first())};
    std::vector<qint64> times;
    qsizetype tagged = 0;
    for (int i = 0; i < repeat; ++i) {
        QElapsedTimer timer;
        timer.start();
        const FinderTagSync::Scan scan = FinderTagSync::scan(roots);
        times.push_back(timer.elapsed());
        tagged = scan.perItem.size();
    }
    std::sort(times.begin(), times.end());
    QTextStream(stdout) << "scan_ms=" << times[times.size() / 2] << " tagged=" << tagged << '\n';
    return 0;
}
