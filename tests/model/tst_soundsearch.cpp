// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelFixtures.h"

#include "AnalysisWorkerProcess.h"
#include "Fold.h"
#include "IndexFile.h"
#include "SampleSearch.h"
#include "SoundAnalysisQueue.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Kind = SoundFacts::Kind;

class TestSoundSearch : public QObject
{
    Q_OBJECT

    struct Sample
    {
        const char *path;
        SoundFacts facts;
    };

    static std::vector<Sample> library()
    {
        const auto loop = [](double bpm, const char *key, double lufs) {
            return SoundFacts::analysed(bpm, SoundFacts::keyFromName(QString::fromLatin1(key)),
                                        lufs, -1, Kind::Loop);
        };
        return {
            {"/s/kick 118.wav", loop(118.0, "Am", -9)},
            {"/s/kick 120.wav", loop(120.4, "C", -7)},
            {"/s/kick 120b.wav", loop(120.5, "Am", -14)},
            {"/s/snare 121.wav", loop(120.6, "F#m", -12)},
            {"/s/pad 122.wav", loop(122.0, "", -6)},
            {"/s/pad 123.wav", loop(122.01, "Am", -20)},
            {"/s/hit.wav",
             SoundFacts::analysed(0, SoundFacts::keyFromName(u"Am"_qs), -5, -1, Kind::OneShot)},
            {"/s/kick not analysed.wav", SoundFacts()},
            {"/s/broken 120.wav", SoundFacts::failed()},
        };
    }

private Q_SLOTS:
    void filtersFindExactlyTheRightFiles_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected"); // file names, in search order
        QTest::newRow("range") << u"bpm:118-122"_qs
                               << QStringList{u"kick 118.wav"_qs, u"kick 120.wav"_qs,
                                              u"kick 120b.wav"_qs, u"pad 122.wav"_qs,
                                              u"snare 121.wav"_qs};
        // One value takes half a beat per minute either side, ends included.
        QTest::newRow("one value")
            << u"bpm:120"_qs << QStringList{u"kick 120.wav"_qs, u"kick 120b.wav"_qs};
        QTest::newRow("with a word")
            << u"kick bpm:120"_qs << QStringList{u"kick 120.wav"_qs, u"kick 120b.wav"_qs};
        QTest::newRow("word after") << u"bpm:120 snare"_qs << QStringList{};
        QTest::newRow("key") << u"key:Am"_qs
                             << QStringList{u"hit.wav"_qs, u"kick 118.wav"_qs, u"kick 120b.wav"_qs,
                                            u"pad 123.wav"_qs};
        QTest::newRow("key, lower case") << u"key:f#m"_qs << QStringList{u"snare 121.wav"_qs};
        QTest::newRow("relative keys")
            << u"key:Am,C kick"_qs
            << QStringList{u"kick 118.wav"_qs, u"kick 120.wav"_qs, u"kick 120b.wav"_qs};
        QTest::newRow("one-shot") << u"kind:one-shot"_qs << QStringList{u"hit.wav"_qs};
        QTest::newRow("loudness") << u"lufs:-12..-6"_qs
                                  << QStringList{u"kick 118.wav"_qs, u"kick 120.wav"_qs,
                                                 u"pad 122.wav"_qs, u"snare 121.wav"_qs};
        QTest::newRow("all together") << u"KIND:LOOP key:Am bpm:117-121 lufs:-15..-8"_qs
                                      << QStringList{u"kick 118.wav"_qs, u"kick 120b.wav"_qs};
        QTest::newRow("not a filter: a word") << u"bpm:fast"_qs << QStringList{};
        QTest::newRow("no key of that name: a word") << u"key:H"_qs << QStringList{};
    }
    void filtersFindExactlyTheRightFiles()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        SampleIndex::Builder builder;
        for (const Sample &sample : library()) {
            const QString path = QString::fromUtf8(sample.path);
            builder.append(sample.path, fold(path.section(u'/', -1)).toStdString());
        }
        const std::shared_ptr<const SampleIndex> index = builder.finish();
        SoundFactsTable facts(index->size());
        for (const Sample &sample : library())
            facts.set(*index->find(QString::fromUtf8(sample.path)), sample.facts);

        SampleSearch search;
        QSignalSpy results(&search, &SampleSearch::resultsChanged);
        search.setText(text);
        search.run(index, {}, index, facts);
        if (!expected.isEmpty())
            QVERIFY(results.wait());
        else
            QTest::qWait(100);
        QStringList found;
        for (const FileNodePtr &node : search.results())
            found.append(node->path().section(u'/', -1));
        QCOMPARE(found, expected);

        // Facts of another index say nothing about this one.
        if (!expected.isEmpty()) {
            search.setText(text + u" "_qs);
            search.run(index, {}, {}, facts);
            QVERIFY(results.wait());
            QCOMPARE(search.results().size(), 0);
        }
    }

    // Facts travel in the index file beside each entry; a file without them still reads.
    void indexFileKeepsFacts_data()
    {
        QTest::addColumn<bool>("withFacts");
        QTest::newRow("with facts") << true;
        QTest::newRow("without") << false;
    }
    void indexFileKeepsFacts()
    {
        QFETCH(bool, withFacts);
        SampleIndex::Builder builder;
        for (const Sample &sample : library()) {
            const QString name = QString::fromUtf8(sample.path).section(u'/', -1);
            if (withFacts)
                builder.append(sample.path, fold(name).toStdString(), sample.facts);
            else
                builder.append(sample.path, fold(name).toStdString());
        }
        const std::shared_ptr<const SampleIndex> written = builder.finish();
        QTemporaryDir dir;
        const QString file = dir.filePath(u"index.plist"_qs);
        QVERIFY(IndexFile::write(*written, file));
        const std::shared_ptr<const SampleIndex> read = IndexFile::read(file);
        QCOMPARE(read->size(), library().size());
        QCOMPARE(read->hasStoredFacts(), withFacts);
        for (const Sample &sample : library()) {
            const std::optional<size_t> entry = read->find(QString::fromUtf8(sample.path));
            QVERIFY(entry);
            QCOMPARE(read->storedFacts(*entry), withFacts ? sample.facts : SoundFacts());
        }
    }

    void progressTextGroupsDigits()
    {
        QCOMPARE(SoundAnalysisQueue::progressText(12400, 780000, false),
                 u"Analysing 12,400 of 780,000"_qs);
        QCOMPARE(SoundAnalysisQueue::progressText(780000, 780000, false), QString());
        QCOMPARE(SoundAnalysisQueue::progressText(0, 0, false), QString());
    }

    // A stand-in worker answers every file; the folder in view goes first, every file is
    // counted once, a pause holds the rest back and is remembered.
    void queueAnalysesTheFocusFirstAndPauses()
    {
        ModelFixture fixture;
        const QString log = fixture.path(u"requests.log"_qs);
        const QString answer = QString::fromLatin1(
            AnalysisWorkerProcess::answerLine(SoundFacts::analysed(100, 0, -10, -1, Kind::Loop)));
        const QString script =
            u"while IFS= read -r line; do echo \"$line\" >> '%1'; printf '%2'; done"_qs.arg(log,
                                                                                            answer);

        SampleIndex::Builder builder;
        for (int folder = 0; folder < 4; ++folder) {
            for (int file = 0; file < 10; ++file) {
                builder.append(u"/lib/f%1/s%2.wav"_qs.arg(folder).arg(file).toStdString(),
                               u"s%1.wav"_qs.arg(file).toStdString());
            }
        }
        const std::shared_ptr<const SampleIndex> index = builder.finish();

        SoundAnalysisQueue queue(*fixture.prefs);
        QCOMPARE(queue.isPaused(), false);
        queue.setFocus(u"/lib/f2"_qs, u"/lib/f2/s7.wav"_qs);
        queue.setIndex(index);
        queue.startWorker(u"sh"_qs, {u"-c"_qs, script});
        QTRY_COMPARE(queue.doneCount(), 40);
        QCOMPARE(queue.progressText(), QString());
        QCOMPARE(queue.factsFor(u"/lib/f3/s1.wav"_qs).bpm(), 100.0);

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> requests = file.readAll().split('\n');
        QCOMPARE(requests.size(), 41);
        QCOMPARE(requests.first(), QByteArray("?/lib/f2/s7.wav"));
        for (int i = 1; i < 10; ++i)
            QVERIFY2(requests[i].startsWith("?/lib/f2/"), requests[i].constData());

        // A change on disk sends the files of that folder through the worker again, only them.
        FileSystemChanges changes;
        changes.folders = {u"/lib/f1"_qs};
        queue.recheck(changes);
        const auto logged = [&log] {
            QFile all(log);
            return all.open(QIODevice::ReadOnly) ? all.readAll().split('\n') : QList<QByteArray>();
        };
        QTRY_COMPARE(logged().size(), 51);
        QTRY_COMPARE(queue.doneCount(), 40);
        const QList<QByteArray> all = logged();
        for (int i = 40; i < 50; ++i)
            QVERIFY2(all[i].startsWith("?/lib/f1/"), all[i].constData());

        SoundAnalysisQueue paused(*fixture.prefs);
        paused.setPaused(true);
        QCOMPARE(fixture.prefs->boolForKey(u"soundAnalysisPaused"_qs), true);
        SoundAnalysisQueue restarted(*fixture.prefs);
        QCOMPARE(restarted.isPaused(), true);
        restarted.setIndex(index);
        restarted.startWorker(u"sh"_qs, {u"-c"_qs, script});
        QTRY_COMPARE(restarted.totalCount(), 40);
        QCOMPARE(restarted.progressText(), u"Analysis paused at 0 of 40"_qs);
        QTest::qWait(200);
        QCOMPARE(restarted.doneCount(), 0);
        restarted.setPaused(false);
        QTRY_COMPARE(restarted.doneCount(), 40);
    }
};

QTEST_GUILESS_MAIN(TestSoundSearch)
#include "tst_soundsearch.moc"
