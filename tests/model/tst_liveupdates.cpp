#include "IndexFile.h"
#include "ModelFixtures.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr int refreshTimeout = 5000;

std::unique_ptr<BrowserModel> liveModel(ModelFixture &f, const QString &root, bool live = true)
{
    auto model = f.makeModel(false, live);
    [&] { QVERIFY(model->addDroppedFolders({f.url(root)})); }();
    // Let the watcher finish its initial walk before the test changes anything.
    QTest::qWait(300);
    return model;
}
} // namespace

// Real file-system changes below the roots; every refresh tells the observers of the roots.
class TestLiveUpdates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void onlyWatchedChangesRefresh()
    {
        ModelFixture f;
        f.mkdir("Dead");
        auto dead = liveModel(f, "Dead", false);
        ModelFixture g;
        g.mkdir("R/.cache");
        g.touch("R/victim.wav");
        auto model = liveModel(g, "R");
        model->setSelection(g.url("R/victim.wav"));
        QSignalSpy deadRoots(dead.get(), &BrowserModel::rootsChanged);
        QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
        f.touch("Dead/new.wav");
        g.touch("R/.cache/junk.wav");
        QTest::qWait(2000);
        QCOMPARE(deadRoots.count(), 0);
        QCOMPARE(roots.count(), 0);

        // A folder created later is watched once it appears; a deleted selection is cleared.
        g.mkdir("R/New");
        QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 1, refreshTimeout);
        QTest::qWait(1200);
        g.touch("R/New/inside.wav");
        QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 2, refreshTimeout);
        QVERIFY(QFile::remove(g.path("R/victim.wav")));
        QTRY_VERIFY_WITH_TIMEOUT(model->selection().isEmpty(), refreshTimeout);
    }
    // A burst in an expanded folder: sorted rows and index, never a refresh per file.
    void burstsRefreshOncePerBatchAndSort()
    {
        ModelFixture f;
        f.mkdir("R/Kicks");
        auto model = liveModel(f, "R");
        model->expand(model->roots().first());
        model->expand(model->node(f.url("R/Kicks")));
        QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
        for (int i = 0; i < 30; ++i)
            f.touch(QStringLiteral("R/Kicks/kick %1.wav").arg(i));
        for (const char *name : {"j", "C", "a", "h", "B", "e", "g", "d", "f", "i"})
            f.touch(QStringLiteral("R/Kicks/%1.wav").arg(QLatin1String(name)));
        QTRY_COMPARE_WITH_TIMEOUT(model->visibleRows().size(), 42, refreshTimeout);
        QTest::qWait(2000);
        // One batch, or two when the burst straddles the watcher's first delivery.
        QVERIFY2(roots.count() <= 2, qPrintable(QString::number(roots.count())));
        QCOMPARE(rowNames(model->visibleRows()).mid(2, 10).join("").remove(' '),
                 QStringLiteral("a.wavB.wavC.wavd.wave.wavf.wavg.wavh.wavi.wavj.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(model->index()->size(), size_t(40), refreshTimeout);
        const int afterBurst = roots.count();
        f.touch("R/b.wav");
        QTRY_COMPARE_WITH_TIMEOUT(roots.count(), afterBurst + 1, refreshTimeout);
    }
    void renamedRootIsHealedAndWatched_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("from"); // renamed to `to`
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("healed");
        QTest::newRow("root renamed") << "Samples"
                                      << "Samples"
                                      << "Renamed"
                                      << "Renamed";
        // Only the moved folder hears of it: nothing changes inside the root.
        QTest::newRow("parent renamed") << "S/Samples"
                                        << "S"
                                        << "S2"
                                        << "S2/Samples";
        QTest::newRow("grandparent moved") << "A/B/Samples"
                                           << "A"
                                           << "Z/A"
                                           << "Z/A/B/Samples";
    }
    void renamedRootIsHealedAndWatched()
    {
        QFETCH(QString, root);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, healed);
        ModelFixture f;
        f.touch(root + "/Kit/kick.wav");
        f.mkdir("Z");
        auto model = liveModel(f, root);
        model->expand(model->roots().first());
        QVERIFY(QDir().rename(f.path(from), f.path(to)));
        QTRY_COMPARE_WITH_TIMEOUT(model->roots().first()->path(), f.path(healed), refreshTimeout);
        QVERIFY(model->expanded().contains(f.url(healed)));
        QVERIFY(model->offlineRoots().isEmpty());

        // Watched under its new name.
        QTest::qWait(1500);
        f.touch(healed + "/new.wav");
        QTRY_VERIFY_WITH_TIMEOUT(model->node(f.url(healed + "/new.wav")) != nullptr,
                                 refreshTimeout);
    }
    void deletedRootGoesOfflineAndBack()
    {
        ModelFixture f;
        f.touch("Drive/a.wav");
        auto model = liveModel(f, "Drive");
        QVERIFY(QDir(f.path("Drive")).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(model->offlineRoots(), QSet<QUrl>{f.url("Drive")},
                                  refreshTimeout);
        QCOMPARE(model->roots().size(), 1);
        QTest::qWait(1200);
        f.touch("Drive/b.wav");
        QTRY_VERIFY_WITH_TIMEOUT(model->offlineRoots().isEmpty(), refreshTimeout);
    }
    void liveChangesAreWrittenSparingly()
    {
        ModelFixture f;
        f.touch("R/a.wav");
        auto model = liveModel(f, "R");
        model->setIndexWriteIntervalsForTesting(60000, 3000);
        QTRY_VERIFY(!model->isIndexing());
        const auto holds = [&](const SampleIndex &index, const char *name) {
            for (size_t i = 0; i < index.size(); ++i) {
                if (index.pathString(i) == f.path(QLatin1String(name)))
                    return true;
            }
            return false;
        };
        const auto stored = [&](const char *name) {
            model->waitForIndexWrites();
            return holds(*IndexFile::read(f.path("index.plist")), name);
        };
        const auto indexed = [&](const char *name) { return holds(*model->index(), name); };

        // The first change after a quiet spell is written at once; the next one waits for the
        // spacing; one still unwritten when the model goes is written then.
        f.touch("R/b.wav");
        QTRY_VERIFY_WITH_TIMEOUT(stored("R/b.wav"), refreshTimeout);
        f.touch("R/Sub/c.wav");
        QTRY_VERIFY_WITH_TIMEOUT(indexed("R/Sub/c.wav"), refreshTimeout);
        QVERIFY(!stored("R/Sub/c.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(stored("R/Sub/c.wav"), refreshTimeout);
        f.touch("R/d.wav");
        QTRY_VERIFY_WITH_TIMEOUT(indexed("R/d.wav"), refreshTimeout);
        model.reset();
        QCOMPARE(IndexFile::read(f.path("index.plist"))->size(), size_t(4));
    }
};

QTEST_GUILESS_MAIN(TestLiveUpdates)
#include "tst_liveupdates.moc"
