// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "EventLoopWaits.h"
#include "ProbeCommands.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "ContentView.h"
#include "FilePaths.h"
#include "Preferences.h"
#include "SidebarView.h"
#include "TreeListView.h"
#include "TreeRowModel.h"
#include "WavelarkApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

qint64 steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

using EventLoopWaits::spin;
using EventLoopWaits::waitFor;

// Notes when a key press reaches its widget: the moment the application has the event in hand.
class KeyArrival final : public QObject
{
public:
    explicit KeyArrival(QObject *target) : m_target(target) {}
    qint64 at = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_target && event->type() == QEvent::KeyPress && at < 0)
            at = steadyNanoseconds();
        return false;
    }

private:
    QObject *m_target;
};

double percentile(std::vector<double> sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest value with at least `fraction` of the values at or below it.
    const size_t rank = size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

int usage()
{
    std::fprintf(stderr, "usage: wavelark-probe key-latency FILE --repeat N\n");
    return 2;
}

} // namespace

namespace ProbeCommands {

int keyLatency(const QStringList &args)
{
    QString file;
    int repeat = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--repeat") && i + 1 < args.size())
            repeat = args[++i].toInt();
        else if (file.isEmpty())
            file = args[i];
        else
            return usage();
    }
    if (file.isEmpty() || repeat < 1)
        return usage();
    const QString path = FilePaths::normalized(QFileInfo(file).absoluteFilePath());
    const QString folder = FilePaths::parentPath(path);
    const QUrl url = FilePaths::fileUrl(path);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    {
        Preferences preset(dir.filePath(QStringLiteral("prefs.plist")));
        preset.setObject(QStringList{folder}, QStringLiteral("rootFolderPaths"));
        preset.setObject(QStringList{folder}, QStringLiteral("expandedFolderPaths"));
        preset.flush();
    }
    WavelarkApp::Services services;
    services.preferencesPath = dir.filePath(QStringLiteral("prefs.plist"));
    services.indexFilePath = dir.filePath(QStringLiteral("index.plist"));
    services.peaksCacheDirectory = dir.filePath(QStringLiteral("peaks"));
    services.liveUpdates = false;
    WavelarkApp wavelark(std::move(services));
    wavelark.show();
    BrowserModel &model = wavelark.model();
    AudioPreviewPlayer &player = wavelark.player();
    SidebarView *sidebar = wavelark.content()->sidebar();
    TreeListView *list = sidebar->treeList();
    TreeRowModel *rows = sidebar->rowModel();
    if (!waitFor([&] { return rows->rowOf(url) >= 0; }, 20000)) {
        std::fprintf(stderr, "%s never showed in the tree\n", qPrintable(path));
        return 1;
    }
    // A neighbour above is left with Down, one below with Up.
    const int row = rows->rowOf(url);
    QUrl neighbour;
    int key = 0;
    if (row > 0 && !rows->rowAt(row - 1).row.node->isDirectory()) {
        neighbour = rows->rowAt(row - 1).row.node->url();
        key = Qt::Key_Down;
    } else if (row + 1 < rows->rowCount() && !rows->rowAt(row + 1).row.node->isDirectory()) {
        neighbour = rows->rowAt(row + 1).row.node->url();
        key = Qt::Key_Up;
    } else {
        std::fprintf(stderr, "%s needs a neighbouring file in its folder\n", qPrintable(path));
        return 1;
    }
    list->setFocus(Qt::OtherFocusReason);

    std::vector<double> times;
    for (int i = 0; i < repeat; ++i) {
        // Selecting the neighbour plays it, as a user who arrives there does; the first time
        // this opens the device, which no timed press then pays for.
        model.setSelection(neighbour);
        if (!waitFor([&] { return player.playingURL() == neighbour; }, 5000))
            model.setSelection(neighbour);
        waitFor([&] { return player.firstSoundNanoseconds() >= 0; }, 2000);
        spin(150);

        KeyArrival arrival(list);
        qApp->installEventFilter(&arrival);
        QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
        QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
        const bool sounded = waitFor(
            [&] { return player.playingURL() == url && player.firstSoundNanoseconds() >= 0; },
            5000);
        qApp->removeEventFilter(&arrival);
        if (!sounded || arrival.at < 0) {
            std::fprintf(stderr, "no sound of %s after the key (%s)\n", qPrintable(path),
                         qPrintable(player.lastError()));
            return 1;
        }
        const AudioDeviceFormat device = player.deviceFormat();
        const double bufferMs =
            device.sampleRate > 0 ? 1000.0 * device.bufferFrames / device.sampleRate : 0.0;
        times.push_back(double(player.firstSoundNanoseconds() - arrival.at) / 1e6 + bufferMs);
        if (i == 0)
            std::fprintf(stderr, "device %d Hz, %d frames a buffer (%.2f ms)\n", device.sampleRate,
                         device.bufferFrames, bufferMs);
    }
    player.stop();
    std::sort(times.begin(), times.end());
    std::printf("min=%.2f median=%.2f p95=%.2f max=%.2f\n", times.front(), percentile(times, 0.5),
                percentile(times, 0.95), times.back());
    return 0;
}

} // namespace ProbeCommands
