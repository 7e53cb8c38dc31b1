// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

#include "analysis/AnalysisWorker.h"
#include "analysis/AnalysisWorkerProcess.h"
#include "analysis/SoundCache.h"
#include "analysis/TimbreStore.h"
#include "platform/FilePaths.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace std::chrono_literals;
using Status = SoundFacts::Status;

class TestAnalysisWorker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // This test program is also a real worker (see main below).
    std::unique_ptr<AnalysisWorker> realWorker(const QString &cache)
    {
        return std::make_unique<AnalysisWorker>(
            QCoreApplication::applicationFilePath(),
            QStringList{QString::fromLatin1(AnalysisWorkerProcess::argument), u"--cache"_qs, cache},
            20s);
    }

    static QHash<QString, SoundFacts> collect(AnalysisWorker &worker, const QStringList &paths)
    {
        QHash<QString, SoundFacts> answers;
        QObject::connect(
            &worker, &AnalysisWorker::analysed, &worker,
            [&answers](const QString &p, const SoundFacts &f) { answers.insert(p, f); });
        for (const QString &p : paths)
            worker.analyze(p);
        [&] { QTRY_COMPARE_WITH_TIMEOUT(answers.size(), paths.size(), 60000); }();
        return answers;
    }

    bool clicks(const QString &file, double bpm)
    {
        const double period = 60.0 / bpm;
        return TestSupport::makeAudio(
            file, u"aevalsrc=exprs='if(lt(mod(t,%1),0.03),sin(2*PI*1000*t)*exp(-mod(t,%1)*150),0)'"
                  ":s=44100:d=%2"_qs.arg(period, 0, 'g', 17)
                      .arg(8 * period, 0, 'g', 17));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!TestSupport::haveTool(u"ffmpeg"_qs))
            QSKIP("ffmpeg is needed to make fixtures");
    }

    void protocolKeepsEveryByteOfAPath_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain") << QByteArray("/a/b.wav");
        QTest::newRow("newline and backslash") << QByteArray("/a/x\ny\\n\\.wav");
        QTest::newRow("Latin-1") << QByteArray("/caf\xe9.wav");
    }
    void protocolKeepsEveryByteOfAPath()
    {
        QFETCH(QByteArray, bytes);
        const QByteArray line = AnalysisWorkerProcess::requestLine(
            AnalysisWorkerProcess::Request::Analyse, FilePaths::decoded(bytes));
        QCOMPARE(line.count('\n'), 1);
        const auto parsed = AnalysisWorkerProcess::parseRequest(line);
        QVERIFY(parsed);
        QCOMPARE(parsed->second, bytes);
    }

    // A stand-in worker that crashes on one file and hangs on another: each costs that file
    // only, and the worker is told afterwards to remember the file as failed.
    void crashAndHangCostOneFileEach()
    {
        const QString log = path(u"requests.log"_qs);
        const QString good = QString::fromLatin1(AnalysisWorkerProcess::answerLine(
            SoundFacts::analysed(120, 9, -10, -1, SoundFacts::Kind::Loop)));
        const QString script =
            u"while IFS= read -r line; do echo \"$line\" >> '%1'; case \"$line\" in "
            "'?'*crash*) kill -SEGV $$;; '?'*hang*) sleep 30;; *) printf '%2';; esac; done"_qs.arg(
                log, good);
        AnalysisWorker worker(u"sh"_qs, {u"-c"_qs, script}, 400ms);
        const QStringList files{u"/s/a.wav"_qs, u"/s/crash.wav"_qs, u"/s/b.wav"_qs,
                                u"/s/hang.wav"_qs, u"/s/c.wav"_qs};
        const QHash<QString, SoundFacts> answers = collect(worker, files);
        for (const QString &file : files) {
            const bool bad = file.contains(u"crash"_qs) || file.contains(u"hang"_qs);
            QCOMPARE(answers.value(file).status(), bad ? Status::Failed : Status::Analysed);
        }
        QCOMPARE(answers.value(u"/s/c.wav"_qs).bpm(), 120.0);
        QCOMPARE(worker.restarts(), 2);
        QTRY_COMPARE(worker.pending(), 0);
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray requests = file.readAll();
        QVERIFY2(requests.contains("!/s/crash.wav\n"), requests.constData());
        QVERIFY2(requests.contains("!/s/hang.wav\n"), requests.constData());
    }

    void aMissingWorkerFailsEveryFile()
    {
        AnalysisWorker worker(path(u"no-such-program"_qs), {}, 1s);
        const QHash<QString, SoundFacts> answers = collect(worker, {u"/a.wav"_qs, u"/b.wav"_qs});
        QCOMPARE(answers.value(u"/a.wav"_qs).status(), Status::Failed);
        QCOMPARE(answers.value(u"/b.wav"_qs).status(), Status::Failed);
    }

    void realWorkerAnalysesAtIdlePriority()
    {
        const QString loop = path(u"loop120.wav"_qs);
        QVERIFY(clicks(loop, 120));
        const QString corrupt = path(u"corrupt.wav"_qs);
        QVERIFY(TestSupport::writeFile(corrupt, "RIFF\x01\x02WAVEfmt no decoder takes this"));
        const QString cache = path(u"cache/facts.bin"_qs);
        auto worker = realWorker(cache);
        const auto answers = collect(*worker, {loop, corrupt, path(u"missing.wav"_qs)});
        QCOMPARE(answers.value(loop).status(), Status::Analysed);
        QVERIFY(qAbs(answers.value(loop).bpm() - 120) < 1);
        QCOMPARE(answers.value(corrupt).status(), Status::Failed);
        QCOMPARE(answers.value(path(u"missing.wav"_qs)).status(), Status::Failed);

        // /proc/PID/stat: field 19 is the nice value, field 41 the scheduling policy.
        QFile stat(u"/proc/%1/stat"_qs.arg(worker->processId()));
        QVERIFY(stat.open(QIODevice::ReadOnly));
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        QCOMPARE(fields.value(19 - 3).toInt(), 10);
        QCOMPARE(fields.value(41 - 3).toInt(), 5); // SCHED_IDLE
        // Saved as soon as the worker has nothing more to do, not only when it ends.
        QTRY_VERIFY(QFile::exists(cache));
    }

    // A file that takes more processor time than allowed ends the worker, which the app then
    // starts again; the next file is analysed as usual.
    void processorTimeLimit()
    {
        const QString slow = path(u"slow.wav"_qs);
        QVERIFY(TestSupport::makeAudio(slow, u"sine=frequency=440:duration=120"_qs));
        const QString loop = path(u"quick.wav"_qs);
        QVERIFY(clicks(loop, 120));
        AnalysisWorker worker(
            QCoreApplication::applicationFilePath(),
            {QString::fromLatin1(AnalysisWorkerProcess::argument), u"--time-limit"_qs, u"100"_qs},
            60s);
        const auto answers = collect(worker, {slow, loop});
        QCOMPARE(answers.value(slow).status(), Status::Failed);
        QCOMPARE(answers.value(loop).status(), Status::Analysed);
        QCOMPARE(worker.restarts(), 1);
    }

    // The cache answers for a file by its identity: moving it keeps the answer, editing it asks
    // for a new one. The planted answer (77 BPM) tells a cache hit from a fresh analysis. What
    // the file sounds like is kept by its path: a file known only by its facts is answered at
    // once and listened to afterwards.
    void cacheFollowsTheFileNotThePath_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("fromCache");
        QTest::newRow("unchanged") << u"none"_qs << true;
        QTest::newRow("moved") << u"move"_qs << true;
        QTest::newRow("edited") << u"edit"_qs << false;
        QTest::newRow("touched") << u"touch"_qs << false;
    }
    void cacheFollowsTheFileNotThePath()
    {
        QFETCH(QString, change);
        QFETCH(bool, fromCache);
        const QString folder = path(change);
        QString file = folder + u"/loop.wav"_qs;
        QVERIFY(clicks(file, 120));
        const QString cachePath = folder + u"/facts.bin"_qs;
        const SoundFacts planted = SoundFacts::analysed(77, 0, -20, -3, SoundFacts::Kind::Loop);
        {
            SoundCache cache(cachePath);
            const std::optional<quint64> key = SoundCache::keyOf(FilePaths::encoded(file));
            QVERIFY(key);
            cache.insert(*key, planted);
            QVERIFY(cache.save());
        }
        if (change == u"move"_qs) {
            QVERIFY(QFile::rename(file, folder + u"/moved.wav"_qs));
            file = folder + u"/moved.wav"_qs;
        } else if (change == u"edit"_qs) {
            QVERIFY(clicks(file, 120));
        } else if (change == u"touch"_qs) {
            QVERIFY(TestSupport::run(u"touch"_qs, {u"-d"_qs, u"2001-02-03"_qs, file}).exitCode ==
                    0);
        }
        auto worker = realWorker(cachePath);
        const SoundFacts facts = collect(*worker, {file}).value(file);
        QCOMPARE(facts.status(), Status::Analysed);
        QCOMPARE(qRound(facts.bpm()), fromCache ? 77 : 120);
        const quint64 key = TimbreStore::pathKey(FilePaths::encoded(file));
        const QString store = TimbreStore::filePathBeside(cachePath);
        QTRY_VERIFY_WITH_TIMEOUT(TimbreStore::find(TimbreStore::read(store), key), 30000);
        const Timbre timbre = *TimbreStore::find(TimbreStore::read(store), key);
        QVERIFY(timbre.descriptor().isValid());
        QVERIFY(timbre.audioHash() != 0);
    }

    void corruptCacheIsDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << QByteArray("not a cache at all");
        QTest::newRow("cut record") << QByteArray("WLSND\0\0\1", 8) + QByteArray(10, '\1');
        QTest::newRow("other version") << QByteArray("WLSND\0\0\7", 8);
    }
    void corruptCacheIsDropped()
    {
        QFETCH(QByteArray, bytes);
        const QString cachePath =
            path(u"corrupt-%1.bin"_qs.arg(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(TestSupport::writeFile(cachePath, bytes));
        SoundCache cache(cachePath);
        cache.load();
        QCOMPARE(cache.size(), 0);
        cache.insert(42, SoundFacts::failed());
        QVERIFY(cache.save());
        SoundCache again(cachePath);
        again.load();
        QCOMPARE(again.find(42), SoundFacts::failed());
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], AnalysisWorkerProcess::argument) == 0)
        return AnalysisWorkerProcess::run(argc - 2, argv + 2);
    QCoreApplication app(argc, argv);
    TestAnalysisWorker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_analysisworker.moc"
