// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis through the worker process as the app runs it (one worker, nice 10, SCHED_IDLE):
// N files of each format, first with an empty cache, then again answered from the cache; and the
// app's memory for the facts of a 1,000,000-entry index with every file analysed. Needs ffmpeg.
//
// usage: sound_worker_bench WAVELARK_BINARY [FILES] [SECONDS]
//
// On the 2-core development machine (shared with other builds): 50 files of 4 s take 40-69 ms
// each (600-1,030 ms a minute of audio: WAV and FLAC fastest, MP3 slowest); 400 files of 0.5 s
// take 7.5-15 ms each. From the cache a file costs 0.17-0.3 ms, so a restart re-checks a
// 1,000,000-file library in about 3-5 minutes of the idle worker, while analysing it from
// scratch takes one core 3-11 hours at these per-file costs. The facts of 1,000,000 analysed
// entries take 8.2 MB of heap (8.2 bytes a file) beside the index's 47 MB. 100,000 answers as
// fast as a stand-in worker gives them pass the queue in 3.0 s; the longest GUI-thread event
// meanwhile is 4.4 ms.

#include "Preferences.h"
#include "SampleIndex.h"
#include "SoundAnalysisQueue.h"
#include "SoundFactsTable.h"
#include "analysis/AnalysisWorker.h"
#include "analysis/AnalysisWorkerProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include <malloc.h>

namespace {

using namespace std::chrono_literals;

// Heap bytes in use: resident memory would hide what reuses pages the index build freed.
qint64 heapBytes()
{
    return qint64(mallinfo2().uordblks);
}

// Every file once through a fresh worker client; milliseconds until the last answer.
qint64 analyseAll(const QString &binary, const QString &cache, const QStringList &files,
                  int *failed, int *restarts)
{
    AnalysisWorker worker(
        binary,
        {QString::fromLatin1(AnalysisWorkerProcess::argument), QStringLiteral("--cache"), cache},
        60s);
    QEventLoop loop;
    int answered = 0;
    *failed = 0;
    QObject::connect(&worker, &AnalysisWorker::analysed, &loop,
                     [&](const QString &, const SoundFacts &facts) {
                         *failed += facts.status() != SoundFacts::Status::Analysed;
                         if (++answered == files.size())
                             loop.quit();
                     });
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files)
        worker.analyze(file);
    loop.exec();
    *restarts = worker.restarts();
    return timer.elapsed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: sound_worker_bench WAVELARK_BINARY [FILES] [SECONDS]\n");
        return 2;
    }
    const QString binary = args[1];
    const int count = args.size() > 2 ? args[2].toInt() : 20;
    const double seconds = args.size() > 3 ? args[3].toDouble() : 4.0;
    QTemporaryDir dir;
    const struct
    {
        const char *name;
        const char *options;
    } formats[] = {{"wav", "-c:a pcm_s16le"},
                   {"flac", "-c:a flac"},
                   {"mp3", "-c:a libmp3lame -b:a 192k"},
                   {"ogg", "-c:a libvorbis -q:a 5"}};
    std::printf("%d files of %.1f s each, stereo 44.1 kHz\n", count, seconds);
    std::printf("format  cold ms/file  cold ms/min of audio  cached ms/file  failed\n");
    for (const auto &format : formats) {
        const QString first =
            dir.filePath(QStringLiteral("first.%1").arg(QLatin1String(format.name)));
        QStringList ffmpeg{QStringLiteral("-v"),
                           QStringLiteral("error"),
                           QStringLiteral("-y"),
                           QStringLiteral("-f"),
                           QStringLiteral("lavfi"),
                           QStringLiteral("-i"),
                           QStringLiteral("aevalsrc=exprs='0.5*sin(2*PI*55*mod(t,0.5))*exp(-mod(t,"
                                          "0.5)*12)+0.15*(random(0)-0.5)*exp(-mod(t+0.25,0.5)*60)"
                                          "+0.05*(sin(2*PI*220*t)+sin(2*PI*261.63*t))|0.4*sin(2*"
                                          "PI*55*mod(t,0.5))*exp(-mod(t,0.5)*12)':s=44100:d=%1")
                               .arg(seconds)};
        ffmpeg += QString::fromLatin1(format.options).split(QLatin1Char(' '));
        ffmpeg.append(first);
        if (QProcess::execute(QStringLiteral("ffmpeg"), ffmpeg) != 0)
            return 1;
        // Copies are new files to the cache: each has its own inode.
        QStringList files;
        for (int i = 0; i < count; ++i) {
            const QString copy = dir.filePath(QStringLiteral("%1-%2.%3")
                                                  .arg(QLatin1String(format.name))
                                                  .arg(i)
                                                  .arg(QLatin1String(format.name)));
            QFile::copy(first, copy);
            files.append(copy);
        }
        const QString cache =
            dir.filePath(QStringLiteral("cache-%1.bin").arg(QLatin1String(format.name)));
        int failed = 0;
        int restarts = 0;
        const qint64 cold = analyseAll(binary, cache, files, &failed, &restarts);
        int failedAgain = 0;
        int restartsAgain = 0;
        const qint64 warm = analyseAll(binary, cache, files, &failedAgain, &restartsAgain);
        std::printf("%-6s  %12.1f  %20.0f  %14.2f  %d (%d restarts)\n", format.name,
                    double(cold) / count, double(cold) / (count * seconds / 60.0),
                    double(warm) / count, failed, restarts);
    }

    // The facts the app holds for a whole library: one table entry per file and a bit for
    // "checked this session", beside an index of the same size.
    constexpr size_t entries = 1000000;
    SampleIndex::Builder builder;
    for (size_t i = 0; i < entries; ++i) {
        const std::string name = "sample " + std::to_string(i) + ".wav";
        builder.append("/library/pack " + std::to_string(i / 40) + "/" + name, name);
    }
    const std::shared_ptr<SampleIndex> index = builder.finish();
    const qint64 before = heapBytes();
    SoundFactsTable facts(index->size());
    std::vector<bool> checked(index->size());
    for (size_t entry = 0; entry < index->size(); ++entry) {
        facts.set(entry, SoundFacts::analysed(60 + double(entry % 120), int(entry % 24), -12, -1,
                                              SoundFacts::Kind::Loop));
        checked[entry] = true;
    }
    const qint64 after = heapBytes();
    std::printf("1,000,000 entries analysed: facts %.1f MB of heap (%.1f bytes a file; table "
                "%.1f MB), index %.1f MB\n",
                double(after - before) / 1e6, double(after - before) / entries,
                double(facts.memoryUsage()) / 1e6, double(index->memoryUsage()) / 1e6);

    // The GUI thread while the queue takes answers as fast as a stand-in worker gives them (the
    // cache-hit rate, the most the thread ever sees): the longest gap between 1 ms timer ticks
    // is the longest the thread was busy with one event.
    constexpr int queued = 100000;
    SampleIndex::Builder small;
    for (int i = 0; i < queued; ++i) {
        const std::string name = "loop " + std::to_string(i) + ".wav";
        small.append("/library/pack " + std::to_string(i / 40) + "/" + name, name);
    }
    Preferences defaults(dir.filePath(QStringLiteral("prefs.plist")));
    SoundAnalysisQueue queue(defaults);
    queue.setIndex(small.finish());
    const QString answer = QString::fromLatin1(AnalysisWorkerProcess::answerLine(
        SoundFacts::analysed(120, 21, -9, -1, SoundFacts::Kind::Loop)));
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&queue, &SoundAnalysisQueue::progressChanged, &loop, [&] {
        if (queue.doneCount() == queued)
            loop.quit();
    });
    clock.start();
    tick.start(1);
    queue.startWorker(QStringLiteral("sh"),
                      {QStringLiteral("-c"),
                       QStringLiteral("while IFS= read -r l; do printf '%1'; done").arg(answer)});
    loop.exec();
    std::printf("%d answers through the queue: %.0f ms, %.1f us an answer (wall time, a bound on "
                "the GUI thread's share); longest GUI-thread event %.1f ms\n",
                queued, double(clock.elapsed()), double(clock.nsecsElapsed()) / 1e3 / queued,
                double(longest) / 1e6);
    return 0;
}
