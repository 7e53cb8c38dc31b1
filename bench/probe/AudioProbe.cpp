// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"
#include "ProbeSupport.h"

#include "audio/AudioDecoder.h"
#include "audio/AudioPreviewPlayer.h"
#include "audio/WaveformExtractor.h"
#include "platform/Preferences.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

struct Arguments
{
    QString file;
    int repeat = 1;
};

// FILE, then `--repeat N` when `withRepeat`; absent on a usage error.
std::optional<Arguments> parse(const QStringList &args, bool withRepeat)
{
    Arguments parsed;
    QStringList rest = args;
    while (!rest.isEmpty()) {
        const QString arg = rest.takeFirst();
        if (withRepeat && arg == QLatin1String("--repeat")) {
            if (rest.isEmpty())
                return std::nullopt;
            bool ok = false;
            parsed.repeat = rest.takeFirst().toInt(&ok);
            if (!ok || parsed.repeat < 1)
                return std::nullopt;
        } else if (parsed.file.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            parsed.file = arg;
        } else {
            return std::nullopt;
        }
    }
    if (parsed.file.isEmpty())
        return std::nullopt;
    return parsed;
}

int usage(const char *text)
{
    QTextStream(stderr) << "usage: wavelark-probe " << text << '\n';
    return 2;
}

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
}

qint64 steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

namespace ProbeCommands {

int peaks(const QStringList &args)
{
    const std::optional<Arguments> parsed = parse(args, false);
    if (!parsed)
        return usage("peaks FILE");
    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(
        fileUrl(parsed->file), AudioPreviewPlayer::waveformBarCount);
    if (!peaks) {
        std::printf("unavailable\n");
        return 1;
    }
    for (qsizetype i = 0; i < peaks->size(); ++i)
        std::printf(i == 0 ? "%.6f" : " %.6f", double((*peaks)[i]));
    std::printf("\n");
    return 0;
}

int info(const QStringList &args)
{
    const std::optional<Arguments> parsed = parse(args, false);
    if (!parsed)
        return usage("info FILE");
    const std::unique_ptr<AudioDecoder> decoder = AudioDecoder::open(parsed->file);
    if (decoder == nullptr) {
        std::printf("unavailable\n");
        return 1;
    }
    std::printf("%s\n", decoder->formatFacts().toUtf8().constData());
    return 0;
}

int peaksBench(const QStringList &args)
{
    const std::optional<Arguments> parsed = parse(args, true);
    if (!parsed)
        return usage("peaks-bench FILE --repeat N");
    const QUrl url = fileUrl(parsed->file);
    std::vector<double> times;
    for (int i = 0; i < parsed->repeat; ++i) {
        QElapsedTimer clock;
        clock.start();
        const std::optional<QList<float>> peaks =
            WaveformExtractor::computePeaks(url, AudioPreviewPlayer::waveformBarCount);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!peaks) {
            std::printf("unavailable\n");
            return 1;
        }
    }
    std::printf("median_ms %.3f\n", ProbeSupport::median(times));
    return 0;
}

int latency(const QStringList &args)
{
    const std::optional<Arguments> parsed = parse(args, true);
    if (!parsed)
        return usage("latency FILE --repeat N");
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    Preferences defaults(dir.filePath(QStringLiteral("prefs.plist")));
    AudioPreviewPlayer player(defaults);
    const QUrl url = fileUrl(parsed->file);

    // One untimed play opens the device and starts the file's only waveform extraction.
    std::vector<double> times;
    for (int i = -1; i < parsed->repeat; ++i) {
        const qint64 start = steadyNanoseconds();
        if (!player.play(url)) {
            QTextStream(stderr) << player.lastError() << '\n';
            return 1;
        }
        QElapsedTimer timeout;
        timeout.start();
        while (player.firstOutputNanoseconds() < 0 && timeout.elapsed() < 2000)
            QThread::usleep(50);
        const qint64 first = player.firstOutputNanoseconds();
        if (first < 0) {
            QTextStream(stderr) << "no frames reached the device\n";
            return 1;
        }
        if (i >= 0)
            times.push_back(double(first - start) / 1e6);
        player.stop();
        while (player.isGeneratingWaveform() && timeout.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    std::printf("median_ms %.3f\n", ProbeSupport::median(times));
    return 0;
}

} // namespace ProbeCommands
