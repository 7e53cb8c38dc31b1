#include "IndexFile.h"
#include "ModelFixture.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

// Real file-system changes below the roots; every refresh tells the observers of the roots.
class TestLiveUpdates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noWatcherWithoutRootsOrLiveUpdates();
    void burstGivesOneRefresh();
    void separatedBurstsRefreshSeparately();
    void newFilesAppearSorted();
    void deletedSelectionIsCleared();
    void renamedRootIsHealedAndWatched_data();
    void renamedRootIsHealedAndWatched();
    void deletedRootGoesOfflineAndBack();
    void hiddenFoldersAreNotWatched();
    void liveChangesAreWrittenSparingly();
};

namespace {
constexpr int refreshTimeout = 5000;

std::unique_ptr<BrowserModel> liveModel(ModelFixture &f, const QString &root)
{
    auto model = f.makeModel(nullptr, true);
    if (!root.isEmpty()) {
        [&] { QVERIFY(model->addDroppedFolders({f.url(root)})); }();
        // Let the watcher finish its initial walk before the test changes anything.
        QTest::qWait(300);
    }
    return model;
}
} // namespace

void TestLiveUpdates::noWatcherWithoutRootsOrLiveUpdates()
{
    ModelFixture f;
    f.mkdir("R");
    auto dead = f.makeModel(nullptr, false);
    QVERIFY(dead->addDroppedFolders({f.url("R")}));
    QSignalSpy roots(dead.get(), &BrowserModel::rootsChanged);
    QTest::qWait(200);
    f.touch("R/new.wav");
    QTest::qWait(1500);
    QCOMPARE(roots.count(), 0);

    // With live updates on, adding the first root starts watching.
    ModelFixture g;
    g.mkdir("R");
    auto live = g.makeModel(nullptr, true);
    QSignalSpy liveRoots(live.get(), &BrowserModel::rootsChanged);
    g.touch("R/ignored before roots.wav");
    QTest::qWait(1200);
    QCOMPARE(liveRoots.count(), 0);
    QVERIFY(live->addDroppedFolders({g.url("R")}));
    QTest::qWait(300);
    const int afterAdd = liveRoots.count();
    g.touch("R/another.wav");
    QTRY_VERIFY_WITH_TIMEOUT(liveRoots.count() > afterAdd, refreshTimeout);
}

void TestLiveUpdates::burstGivesOneRefresh()
{
    ModelFixture f;
    f.mkdir("R/Kicks");
    auto model = liveModel(f, "R");
    QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
    for (int i = 0; i < 40; ++i)
        f.touch(QStringLiteral("R/Kicks/kick %1.wav").arg(i));
    QTRY_VERIFY_WITH_TIMEOUT(roots.count() >= 1, refreshTimeout);
    QTest::qWait(2000);
    // The burst reaches the model as one batch, or two when it straddles the watcher's first
    // delivery; either way it never costs a refresh per file.
    QVERIFY2(roots.count() <= 2, qPrintable(QString::number(roots.count())));
}

void TestLiveUpdates::separatedBurstsRefreshSeparately()
{
    ModelFixture f;
    f.mkdir("R");
    auto model = liveModel(f, "R");
    QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
    f.touch("R/a.wav");
    QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 1, refreshTimeout);
    QTest::qWait(1200);
    f.touch("R/b.wav");
    QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 2, refreshTimeout);
}

void TestLiveUpdates::newFilesAppearSorted()
{
    ModelFixture f;
    f.mkdir("R/Loops");
    auto model = liveModel(f, "R");
    model->expand(model->roots().first());
    model->expand(model->node(f.url("R/Loops")));
    QCOMPARE(model->visibleRows().size(), 2);
    for (const char *name :
         {"j.wav", "C.wav", "a.wav", "h.wav", "B.wav", "e.wav", "g.wav", "d.wav", "f.wav", "i.wav"})
        f.touch(QStringLiteral("R/Loops/") + QString::fromLatin1(name));
    QTRY_COMPARE_WITH_TIMEOUT(model->visibleRows().size(), 12, refreshTimeout);
    QCOMPARE(rowNames(model->visibleRows()).mid(2),
             (QStringList{"    a.wav", "    B.wav", "    C.wav", "    d.wav", "    e.wav",
                          "    f.wav", "    g.wav", "    h.wav", "    i.wav", "    j.wav"}));
    // The index follows as well.
    QTRY_COMPARE_WITH_TIMEOUT(model->index()->size(), size_t(10), refreshTimeout);
}

void TestLiveUpdates::deletedSelectionIsCleared()
{
    ModelFixture f;
    f.touch("R/victim.wav");
    auto model = liveModel(f, "R");
    model->setSelection(f.url("R/victim.wav"));
    QVERIFY(QFile::remove(f.path("R/victim.wav")));
    QTRY_VERIFY_WITH_TIMEOUT(model->selection().isEmpty(), refreshTimeout);
}

void TestLiveUpdates::renamedRootIsHealedAndWatched_data()
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

void TestLiveUpdates::renamedRootIsHealedAndWatched()
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
    QTRY_VERIFY_WITH_TIMEOUT(model->node(f.url(healed + "/new.wav")) != nullptr, refreshTimeout);
}

void TestLiveUpdates::deletedRootGoesOfflineAndBack()
{
    ModelFixture f;
    f.touch("Drive/a.wav");
    auto model = liveModel(f, "Drive");
    QVERIFY(QDir(f.path("Drive")).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(model->offlineRoots(), QSet<QUrl>{f.url("Drive")}, refreshTimeout);
    QCOMPARE(model->roots().size(), 1);
    QTest::qWait(1200);
    f.touch("Drive/b.wav");
    QTRY_VERIFY_WITH_TIMEOUT(model->offlineRoots().isEmpty(), refreshTimeout);
}

void TestLiveUpdates::hiddenFoldersAreNotWatched()
{
    ModelFixture f;
    f.mkdir("R/.cache");
    auto model = liveModel(f, "R");
    QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
    f.touch("R/.cache/junk.wav");
    QTest::qWait(2000);
    QCOMPARE(roots.count(), 0);

    // A folder created later is watched once it appears.
    f.mkdir("R/New");
    QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 1, refreshTimeout);
    QTest::qWait(1200);
    f.touch("R/New/inside.wav");
    QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 2, refreshTimeout);
}

void TestLiveUpdates::liveChangesAreWrittenSparingly()
{
    ModelFixture f;
    f.touch("R/a.wav");
    auto model = liveModel(f, "R");
    model->setIndexWriteIntervalsForTesting(60000, 3000);
    QTRY_VERIFY(!model->isIndexing());
    const QString file = f.path("index.plist");
    const auto holds = [&](const SampleIndex &index, const char *name) {
        for (size_t i = 0; i < index.size(); ++i) {
            if (index.pathString(i) == f.path(QLatin1String(name)))
                return true;
        }
        return false;
    };
    const auto stored = [&](const char *name) {
        model->waitForIndexWrites();
        return holds(*IndexFile::read(file), name);
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
    QCOMPARE(IndexFile::read(file)->size(), size_t(4));
}

QTEST_GUILESS_MAIN(TestLiveUpdates)
#include "tst_liveupdates.moc"
