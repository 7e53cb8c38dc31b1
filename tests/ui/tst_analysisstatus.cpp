// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiFixtures.h"

#include "analysis/AnalysisWorkerProcess.h"
#include "ui/AnalysisStatusBar.h"
#include "ui/ResultsModel.h"
#include "ui/ResultsTableView.h"
#include "ui/SoundFactsText.h"
#include "ui/WaveformView.h"

#include <QLabel>
#include <QToolButton>

class TestAnalysisStatus : public QObject
{
    Q_OBJECT

    // A stand-in worker that knows every file as a 120 BPM loop in A minor.
    static QStringList workerAnswering(const SoundFacts &facts)
    {
        return {u"-c"_qs, u"while IFS= read -r line; do printf '%1'; done"_qs.arg(
                              QString::fromLatin1(AnalysisWorkerProcess::answerLine(facts)))};
    }

private Q_SLOTS:
    void filterReplacesOneOfItsKind_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("added") << u"kick"_qs << u"bpm:118-122"_qs << u"kick bpm:118-122"_qs;
        QTest::newRow("replaced") << u"kick bpm:90-100 key:C"_qs << u"bpm:118-122"_qs
                                  << u"kick key:C bpm:118-122"_qs;
        QTest::newRow("any case") << u"KEY:Am loop"_qs << u"key:C"_qs << u"loop key:C"_qs;
        QTest::newRow("empty") << QString() << u"kind:loop"_qs << u"kind:loop"_qs;
    }
    void filterReplacesOneOfItsKind()
    {
        QFETCH(QString, text);
        QFETCH(QString, filter);
        QFETCH(QString, expected);
        QCOMPARE(AnalysisStatusBar::withFilter(text, filter), expected);
    }

    void factsRead_data()
    {
        QTest::addColumn<SoundFacts>("facts");
        QTest::addColumn<QString>("summary");
        using Kind = SoundFacts::Kind;
        QTest::newRow("loop") << SoundFacts::analysed(120.004, 21, -9, -1, Kind::Loop)
                              << u"120 BPM  \u00B7  Am"_qs;
        QTest::newRow("half") << SoundFacts::analysed(92.5, -1, -9, -1, Kind::Loop)
                              << u"92.5 BPM"_qs;
        QTest::newRow("key only") << SoundFacts::analysed(0, 3, -9, -1, Kind::Unknown) << u"Eb"_qs;
        QTest::newRow("failed") << SoundFacts::failed() << u"could not analyse"_qs;
        QTest::newRow("not yet") << SoundFacts() << QString();
    }
    void factsRead()
    {
        QFETCH(SoundFacts, facts);
        QFETCH(QString, summary);
        QCOMPARE(SoundFactsText::summary(facts), summary);
    }

    // The menu writes filters into the search, the button pauses, the progress shows, and the
    // loaded sample's title gains its tempo and key once they are known.
    void statusMenuAndFactsLine()
    {
        SearchFixture fixture;
        AnalysisStatusBar bar(*fixture.model);
        QAction *loops = actionNamed(*bar.filterMenu(), u"Loops"_qs);
        QVERIFY(loops);
        loops->trigger();
        QCOMPARE(fixture.model->searchText(), u"kind:loop"_qs);

        SoundAnalysisQueue &queue = fixture.model->soundAnalysis();
        queue.setPaused(true);
        QVERIFY(fixture.addIndexedRoot(u"lib"_qs, {u"a.wav"_qs, u"b.wav"_qs}));
        queue.startWorker(u"sh"_qs, workerAnswering(SoundFacts::analysed(120, 21, -9, -1,
                                                                         SoundFacts::Kind::Loop)));
        QTRY_COMPARE(bar.progressLabel()->text(), u"Analysis paused at 0 of 2"_qs);
        QCOMPARE(bar.pauseButton()->text(), u"Resume"_qs);
        bar.pauseButton()->click();
        QCOMPARE(queue.isPaused(), false);
        QTRY_COMPARE(queue.doneCount(), 2);
        QTRY_COMPARE(bar.progressLabel()->text(), QString());
        QVERIFY(!bar.pauseButton()->isVisibleTo(&bar));

        WaveformView waveform(*fixture.player);
        waveform.showSoundFactsFrom(*fixture.model);
        fixture.player->play(fixture.url(u"lib/a.wav"_qs));
        QTRY_VERIFY(waveform.titleText().endsWith(u"120 BPM  \u00B7  Am"_qs));
    }

    // Each file has its own tempo and key; the columns show them and sort the rows by them,
    // unknown last, and the name column restores the search order.
    void tempoAndKeyColumnsSort()
    {
        SearchFixture fixture;
        QVERIFY(fixture.addIndexedRoot(u"lib"_qs,
                                       {u"a.wav"_qs, u"b.wav"_qs, u"c.wav"_qs, u"d.wav"_qs}));
        const auto answer = [](double bpm, int key) {
            return QString::fromLatin1(AnalysisWorkerProcess::answerLine(
                SoundFacts::analysed(bpm, key, -9, -1, SoundFacts::Kind::Loop)));
        };
        const QString script =
            u"while IFS= read -r line; do case \"$line\" in *a.wav) printf '%1';; "
            "*b.wav) printf '%2';; *c.wav) printf '%3';; *) printf '%4';; esac; done"_qs.arg(
                answer(128, 0), answer(93.5, 21), answer(120, 3),
                QString::fromLatin1(AnalysisWorkerProcess::answerLine(SoundFacts::failed())));
        fixture.model->soundAnalysis().startWorker(u"sh"_qs, {u"-c"_qs, script});
        QTRY_COMPARE(fixture.model->soundAnalysis().doneCount(), 4);

        ResultsTableView table(*fixture.model, *fixture.player, *fixture.tags);
        table.setSoundColumnsShown(true);
        QCOMPARE(fixture.prefs->boolForKey(u"resultsSoundColumns"_qs), true);
        fixture.model->setGlobalSearch(true);
        fixture.model->setSearchText(u"wav"_qs);
        ResultsModel &results = table.resultsModel();
        QTRY_COMPARE(results.rowCount(), 4);
        const auto column = [&results](int which) {
            QStringList texts;
            for (int row = 0; row < results.rowCount(); ++row)
                texts.append(results.index(row, which).data().toString());
            return texts;
        };
        QCOMPARE(column(ResultsModel::TempoColumn),
                 (QStringList{u"128.0"_qs, u"93.5"_qs, u"120.0"_qs, QString()}));
        QCOMPARE(column(ResultsModel::KeyColumn),
                 (QStringList{u"C"_qs, u"Am"_qs, u"Eb"_qs, QString()}));
        table.sortByColumn(ResultsModel::TempoColumn, Qt::AscendingOrder);
        QCOMPARE(column(ResultsModel::NameColumn),
                 (QStringList{u"b.wav"_qs, u"c.wav"_qs, u"a.wav"_qs, u"d.wav"_qs}));
        table.sortByColumn(ResultsModel::KeyColumn, Qt::DescendingOrder);
        QCOMPARE(column(ResultsModel::NameColumn),
                 (QStringList{u"d.wav"_qs, u"b.wav"_qs, u"c.wav"_qs, u"a.wav"_qs}));
        table.sortByColumn(ResultsModel::NameColumn, Qt::DescendingOrder);
        QCOMPARE(column(ResultsModel::NameColumn),
                 (QStringList{u"a.wav"_qs, u"b.wav"_qs, u"c.wav"_qs, u"d.wav"_qs}));
    }
};

QTEST_MAIN(TestAnalysisStatus)
#include "tst_analysisstatus.moc"
