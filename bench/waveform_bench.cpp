// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one playhead tick of the waveform strip against repainting the whole strip, at 1x and
// 2x device pixel ratios. Prints CPU microseconds per frame of this thread (median of several
// rounds; wall time is meaningless on a shared, busy machine) and ratios. Needs ffmpeg on the
// PATH; runs on the offscreen platform.

#include "SilentOutput.h"
#include "WaveformBars.h"
#include "WaveformView.h"
#include "audio/AudioOutput.h"
#include "audio/AudioPreviewPlayer.h"
#include "platform/Preferences.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

double threadMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double medianMicroseconds(int frames, const std::function<void(int)> &frame)
{
    std::vector<double> rounds;
    for (int round = 0; round < 7; ++round) {
        const double start = threadMicroseconds();
        for (int i = 0; i < frames; ++i)
            frame(i);
        rounds.push_back((threadMicroseconds() - start) / frames);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

QRect strip(const QRectF &area, double fraction)
{
    const qreal x = area.left() + fraction * area.width();
    return QRectF(x - 2, area.top(), 4, area.height()).toAlignedRect();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const QString sample = dir.filePath(QStringLiteral("pad.wav"));
    const int made = QProcess::execute(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("aevalsrc=sin(2*PI*220*t)*(0.2+0.8*abs(sin(t))):d=30"), sample});
    if (made != 0) {
        std::fprintf(stderr, "ffmpeg could not make the sample\n");
        return 1;
    }

    Preferences prefs(dir.filePath(QStringLiteral("prefs.plist")));
    AudioPreviewPlayer player(prefs, std::make_unique<SilentOutput>());
    WaveformView view(player);
    if (!player.play(QUrl::fromLocalFile(sample)))
        return 1;
    while (player.waveform().isEmpty()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }

    std::printf("%-22s %12s %12s %12s %10s %10s\n", "strip", "bars (us)", "full (us)", "tick (us)",
                "full/tick", "bars/tick");
    for (const int width : {600, 1200}) {
        for (const qreal ratio : {1.0, 2.0}) {
            view.resize(width, WaveformView::defaultHeight);
            QImage image(QSize(width, WaveformView::defaultHeight) * ratio,
                         QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::black);
            view.render(&image); // fills the bar cache
            const QRectF area = view.waveformArea();
            const int frames = 200;

            // What every tick would cost without the cache: the bars path filled again.
            const double bars = medianMicroseconds(frames, [&](int) {
                QPainter painter(&image);
                WaveformBars::paint(painter, player.waveform(), area.size());
            });
            const double full = medianMicroseconds(frames, [&](int) { view.render(&image); });
            const double tick = medianMicroseconds(frames, [&](int i) {
                const double before = double(i % 300) / 300.0;
                const double after = double(i % 300 + 1) / 300.0;
                view.render(&image, QPoint(), QRegion(strip(area, before)) + strip(area, after));
            });
            char label[64];
            std::snprintf(label, sizeof label, "%d x %d @%gx", width, WaveformView::defaultHeight,
                          ratio);
            std::printf("%-22s %12.1f %12.1f %12.1f %10.1f %10.1f\n", label, bars, full, tick,
                        full / tick, bars / tick);
        }
    }
    return 0;
}
