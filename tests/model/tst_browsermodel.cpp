#include "FileManagerReveal.h"
#include "ModelFixture.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {
class RecordingReveal final : public FileManagerReveal
{
public:
    void reveal(const QString &path) override { revealed.append(path); }
    QStringList revealed;
};
} // namespace

class TestBrowserModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rowsFollowExpansion();
    void equalAssignmentsAreSilent();
    void lastErrorClearsItself();
    void addFolderThroughPanel_data();
    void addFolderThroughPanel();
    void droppedFolders();
    void rootsSurviveRestart();
    void removeRootForgetsBelow();
    void relinkMovesExpansionAndSelection();
    void healsRenamedRootAndMarksOffline();
    void navigationPersists();
    void revealInBrowser_data();
    void revealInBrowser();
    void revealInFinder();
    void searchInFolderRaisesFocusOnce();
};

void TestBrowserModel::rowsFollowExpansion()
{
    ModelFixture f;
    f.touch("A/F/deep.wav");
    f.touch("A/x.wav");
    f.mkdir("B");
    auto model = f.makeModel();
    model->addRoot(f.url("A"));
    model->addRoot(f.url("B"));
    QCOMPARE(rowNames(model->visibleRows()), (QStringList{"A", "B"}));

    const FileNodePtr a = model->roots().first();
    model->expand(a);
    QList<VisibleRow> rows = model->visibleRows();
    QCOMPARE(rowNames(rows), (QStringList{"A", "  F", "  x.wav", "B"}));
    QCOMPARE(rows[1].contextID, a->url());
    QVERIFY(rows[0].contextID.isEmpty());

    QVERIFY(!model->node(f.url("A/F/deep.wav")));
    model->expand(model->node(f.url("A/F")));
    rows = model->visibleRows();
    QCOMPARE(rowNames(rows), (QStringList{"A", "  F", "    deep.wav", "  x.wav", "B"}));
    QCOMPARE(rows[2].contextID, a->url()); // the top-level row, not F
    QVERIFY(model->node(f.url("A/F/deep.wav")));

    // A file URL in the expanded set changes nothing.
    QSet<QUrl> expanded = model->expanded();
    expanded.insert(f.url("A/x.wav"));
    model->setExpanded(expanded);
    QCOMPARE(model->visibleRows().size(), 5);
}

void TestBrowserModel::equalAssignmentsAreSilent()
{
    ModelFixture f;
    f.mkdir("S/Kicks");
    auto model = f.makeModel();
    model->addRoot(f.url("S"));
    model->setSelection(f.url("S/Kicks"));

    QSignalSpy selection(model.get(), &BrowserModel::selectionChanged);
    QSignalSpy global(model.get(), &BrowserModel::globalSearchChanged);
    QSignalSpy expanded(model.get(), &BrowserModel::expandedChanged);
    QSignalSpy text(model.get(), &BrowserModel::searchTextChanged);
    QSignalSpy filters(model.get(), &BrowserModel::activeTagFiltersChanged);
    model->setSelection(QUrl::fromLocalFile(f.path("S/./Kicks/"))); // same item, other spelling
    model->setGlobalSearch(false);
    model->setExpanded(model->expanded());
    model->setSearchText(QString());
    model->setActiveTagFilters({});
    QCOMPARE(selection.count(), 0);
    QCOMPARE(global.count(), 0);
    QCOMPARE(expanded.count(), 0);
    QCOMPARE(text.count(), 0);
    QCOMPARE(filters.count(), 0);

    // ...while the explicit operations always tell the observers.
    model->collapseAll();
    QCOMPARE(expanded.count(), 1);
    QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
    model->reloadTree();
    QCOMPARE(roots.count(), 1);
}

void TestBrowserModel::lastErrorClearsItself()
{
    ModelFixture f;
    auto model = f.makeModel();
    model->setLastError("x");
    QTest::qWait(2000);
    model->setLastError("y");
    QTest::qWait(1500); // 3.5 s after "x": "y" must still be shown
    QCOMPARE(model->lastError(), QStringLiteral("y"));
    QTRY_COMPARE_WITH_TIMEOUT(model->lastError(), QString(), 2000);

    model->setLastError("z");
    model->setLastError(QString()); // cleared by hand: nothing pending
    model->setLastError("w");
    QTest::qWait(2200);
    QCOMPARE(model->lastError(), QStringLiteral("w"));
}

void TestBrowserModel::addFolderThroughPanel_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("three in panel order")
        << QStringList{} << QStringList{"c", "a", "b"} << QStringList{"c", "a", "b"};
    QTest::newRow("already a root")
        << QStringList{"a"} << QStringList{"a", "b"} << QStringList{"a", "b"};
    QTest::newRow("cancel") << QStringList{"a"} << QStringList{} << QStringList{"a"};
}

void TestBrowserModel::addFolderThroughPanel()
{
    QFETCH(QStringList, existing);
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, expected);
    ModelFixture f;
    for (const char *name : {"a", "b", "c"})
        f.mkdir(QString::fromLatin1(name));
    auto model = f.makeModel();
    for (const QString &name : existing)
        model->addRoot(f.url(name));
    for (const QString &name : chosen)
        f.chooser.answer.append(f.url(name));
    QSignalSpy indexing(model.get(), &BrowserModel::isIndexingChanged);
    model->addFolder();

    QCOMPARE(f.chooser.requests.size(), 1);
    QCOMPARE(f.chooser.requests[0].buttonText, QStringLiteral("Add"));
    QCOMPARE(f.chooser.requests[0].message, QStringLiteral("Choose a samples folder or drive"));
    QVERIFY(f.chooser.requests[0].allowsMultiple);
    QStringList names;
    for (const FileNodePtr &root : model->roots())
        names.append(root->name());
    QCOMPARE(names, expected);
    QStringList stored;
    for (const QString &name : expected)
        stored.append(f.path(name));
    if (!chosen.isEmpty()) {
        QCOMPARE(f.prefs->stringArrayForKey("rootFolderPaths").value_or(QStringList()), stored);
        const QVariantMap bookmarks = f.prefs->dictionaryForKey("rootFolderBookmarks").value();
        for (const QString &path : stored)
            QVERIFY(bookmarks.value(path).toString().size() > 0);
    }
}

void TestBrowserModel::droppedFolders()
{
    ModelFixture f;
    f.mkdir("Drums");
    f.touch("loose.wav");
    auto model = f.makeModel();
    QVERIFY(!model->addDroppedFolders({f.url("loose.wav")}));
    QVERIFY(!model->addDroppedFolders({f.url("missing")}));
    QVERIFY(model->roots().isEmpty());
    QVERIFY(model->addDroppedFolders({f.url("Drums")}));
    QVERIFY(!model->addDroppedFolders({f.url("Drums")}));
    QCOMPARE(model->roots().size(), 1);
    QVERIFY(model->isIndexing());
    QTRY_VERIFY(!model->isIndexing());
}

void TestBrowserModel::rootsSurviveRestart()
{
    ModelFixture f;
    f.touch("R/Sub/kick.wav");
    {
        auto model = f.makeModel();
        QVERIFY(model->addDroppedFolders({f.url("R")}));
        model->expand(model->roots().first());
        model->setSelection(f.url("R/Sub/kick.wav"));
    }
    f.restartPreferences();
    auto model = f.makeModel();
    QCOMPARE(model->roots().size(), 1);
    QCOMPARE(model->roots().first()->path(), f.path("R"));
    QVERIFY(model->expanded().contains(f.url("R")));
    QCOMPARE(model->selection(), f.url("R/Sub/kick.wav"));
    QVERIFY(model->offlineRoots().isEmpty());
}

void TestBrowserModel::removeRootForgetsBelow()
{
    ModelFixture f;
    f.touch("A/a.wav");
    f.touch("B/b.wav");
    auto model = f.makeModel();
    model->addRoot(f.url("A"));
    model->addRoot(f.url("B"));
    model->expand(model->roots().at(0));
    model->setSelection(f.url("B/b.wav"));
    model->removeRoot(model->roots().at(0));
    QCOMPARE(model->roots().size(), 1);
    QVERIFY(!model->expanded().contains(f.url("A")));
    QCOMPARE(model->selection(), f.url("B/b.wav")); // elsewhere: kept
    model->removeRoot(model->roots().at(0));
    QVERIFY(model->selection().isEmpty());
    QVERIFY(!f.prefs->objectForKey("selectedItemPath").isValid());
    QVERIFY(f.prefs->dictionaryForKey("rootFolderBookmarks").value().isEmpty());
}

void TestBrowserModel::relinkMovesExpansionAndSelection()
{
    ModelFixture f;
    f.touch("Old/Kit/snare.wav");
    f.touch("New/Kit/snare.wav");
    auto model = f.makeModel();
    model->addRoot(f.url("Old"));
    const FileNodePtr root = model->roots().first();
    model->expand(root);
    model->expand(model->node(f.url("Old/Kit")));
    model->setSelection(f.url("Old/Kit/snare.wav"));

    model->relink(root, f.url("Old")); // own URL: nothing
    QCOMPARE(model->roots().first()->path(), f.path("Old"));

    f.chooser.answer = {f.url("New")};
    model->relinkRoot(root);
    QCOMPARE(f.chooser.requests.last().buttonText, QStringLiteral("Relink"));
    QCOMPARE(f.chooser.requests.last().message,
             QStringLiteral("Choose the new location of \u201COld\u201D"));
    QCOMPARE(model->roots().first()->path(), f.path("New"));
    QVERIFY(model->expanded().contains(f.url("New/Kit")));
    QVERIFY(!model->expanded().contains(f.url("Old/Kit")));
    QCOMPARE(model->selection(), f.url("New/Kit/snare.wav"));
}

void TestBrowserModel::healsRenamedRootAndMarksOffline()
{
    ModelFixture f;
    f.touch("Library/Kit/kick.wav");
    f.mkdir("Other");
    auto model = f.makeModel();
    model->addRoot(f.url("Library"));
    model->addRoot(f.url("Other"));
    model->expand(model->roots().first());
    model->setSelection(f.url("Library/Kit/kick.wav"));

    std::optional<bool> healed;
    const auto heal = [&] {
        healed.reset();
        model->healMovedRoots([&](bool moved) { healed = moved; });
    };
    QVERIFY(QDir().rename(f.path("Library"), f.path("Renamed")));
    heal();
    QTRY_COMPARE(healed, std::optional(true));
    QCOMPARE(model->roots().first()->path(), f.path("Renamed"));
    QCOMPARE(model->roots().at(1)->path(), f.path("Other")); // keeps its place
    QVERIFY(model->expanded().contains(f.url("Renamed")));
    QCOMPARE(model->selection(), f.url("Renamed/Kit/kick.wav"));
    QCOMPARE(f.prefs->stringArrayForKey("rootFolderPaths").value().first(), f.path("Renamed"));

    // Deleted: it cannot be healed and goes offline, then comes back.
    QVERIFY(QDir(f.path("Other")).removeRecursively());
    heal();
    QTRY_COMPARE(healed, std::optional(false));
    model->updateOfflineRoots();
    QCOMPARE(model->offlineRoots(), QSet<QUrl>{f.url("Other")});
    QCOMPARE(model->roots().size(), 2);
    f.mkdir("Other");
    model->updateOfflineRoots();
    QVERIFY(model->offlineRoots().isEmpty());
}

void TestBrowserModel::navigationPersists()
{
    ModelFixture f;
    f.touch("R/A/B/x.wav");
    auto model = f.makeModel();
    model->addRoot(f.url("R"));
    const FileNodePtr root = model->roots().first();
    model->toggle(root);
    QCOMPARE(f.prefs->stringArrayForKey("expandedFolderPaths").value(), QStringList{f.path("R")});
    model->toggle(model->node(f.url("R/A")));
    model->setSelection(f.url("R/A/B"));
    QCOMPARE(f.prefs->stringForKey("selectedItemPath").value(), f.path("R/A/B"));

    model->setSearchText("x");
    model->setGlobalSearch(true);
    model->setSelection(f.url("R/A")); // a new selection turns global search off
    QVERIFY(!model->globalSearch());

    model->collapseAll();
    QVERIFY(f.prefs->stringArrayForKey("expandedFolderPaths").value().isEmpty());
    QCOMPARE(model->selection(), f.url("R/A"));
    QVERIFY(!model->node(model->selection()));

    FileNodePtr file = FileNode::create(f.url("R/A/B/x.wav"), false);
    model->toggle(file); // files are ignored
    QVERIFY(model->expanded().isEmpty());
}

void TestBrowserModel::revealInBrowser_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("expanded");
    QTest::addColumn<QString>("selected");
    QTest::newRow("file deep inside")
        << "R/A/B/x.wav" << QStringList{"R", "R/A", "R/A/B"} << "R/A/B/x.wav";
    QTest::newRow("folder opens too") << "R/A" << QStringList{"R", "R/A"} << "R/A";
    QTest::newRow("deleted file selects deepest folder")
        << "R/A/B/gone.wav" << QStringList{"R", "R/A", "R/A/B"} << "R/A/B";
    QTest::newRow("outside every root") << "elsewhere.wav" << QStringList{} << "elsewhere.wav";
}

void TestBrowserModel::revealInBrowser()
{
    QFETCH(QString, target);
    QFETCH(QStringList, expanded);
    QFETCH(QString, selected);
    ModelFixture f;
    f.touch("R/A/B/x.wav");
    auto model = f.makeModel();
    model->addRoot(f.url("R"));
    model->setSearchText("x");
    model->setGlobalSearch(true);
    f.prefs->flush();
    const QStringList storedBefore =
        f.prefs->stringArrayForKey("expandedFolderPaths").value_or(QStringList());

    model->revealInBrowser(f.url(target));
    QSet<QUrl> expectedSet;
    for (const QString &e : expanded)
        expectedSet.insert(f.url(e));
    QCOMPARE(model->expanded(), expectedSet);
    QCOMPARE(model->selection(), f.url(selected));
    QVERIFY(model->searchText().isEmpty());
    QVERIFY(!model->globalSearch());
    QCOMPARE(f.prefs->stringArrayForKey("expandedFolderPaths").value_or(QStringList()),
             storedBefore);
}

void TestBrowserModel::revealInFinder()
{
    ModelFixture f;
    f.touch("Kick 01.wav");
    auto model = f.makeModel();
    RecordingReveal reveal;
    model->setFileManagerReveal(&reveal);
    model->revealInFinder(f.url("Kick 01.wav"));
    QCOMPARE(reveal.revealed, QStringList{f.path("Kick 01.wav")});
    QVERIFY(model->lastError().isEmpty());
    model->revealInFinder(f.url("Kick 02.wav"));
    QCOMPARE(reveal.revealed.size(), 1);
    QCOMPARE(model->lastError(), QStringLiteral("Kick 02.wav isn't available right now"));
}

void TestBrowserModel::searchInFolderRaisesFocusOnce()
{
    ModelFixture f;
    f.mkdir("R/Kicks");
    auto model = f.makeModel();
    const qint64 before = model->searchFocusRequest();
    model->searchInFolder(f.url("R/Kicks"));
    QCOMPARE(model->searchFocusRequest(), before + 1);
    QCOMPARE(model->selection(), f.url("R/Kicks"));
}

QTEST_GUILESS_MAIN(TestBrowserModel)
#include "tst_browsermodel.moc"
