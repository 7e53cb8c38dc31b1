#include "ModelFixture.h"
#include "TagStore.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

class TestTagFilters : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void scopeFromStore_data();
    void scopeFromStore();
    void taggedFileShownTwice();
    void toggleRecomputesAndSearches();
    void relinkMovesTags();
    void description_data();
    void description();
};

namespace {
struct TagFixture : ModelFixture
{
    TagFixture()
    {
        touch("R/Drums/Kicks/kick 1.wav");
        touch("R/Drums/Kicks/kick 2.wav");
        touch("R/Drums/snare.wav");
        touch("R/Bass/bass kick.wav");
        touch("R/loose kick.wav");
        touch("Outside/out kick.wav");
        store = std::make_unique<TagStore>(*prefs);
    }
    std::unique_ptr<TagStore> store;
};
} // namespace

void TestTagFilters::scopeFromStore_data()
{
    QTest::addColumn<QList<int>>("filters");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("samples");
    // Tags: Drums red, Drums/Kicks blue, Bass/bass kick.wav blue, loose kick red, Outside red.
    QTest::newRow("none") << QList<int>{} << QStringList{} << QStringList{};
    QTest::newRow("red") << QList<int>{0} << QStringList{"Drums"} << QStringList{"loose kick.wav"};
    QTest::newRow("blue: a file and a folder")
        << QList<int>{4} << QStringList{"Kicks"} << QStringList{"bass kick.wav"};
    QTest::newRow("red or blue: nested folder only through its outer folder")
        << QList<int>{0, 4} << QStringList{"Drums"}
        << QStringList{"bass kick.wav", "loose kick.wav"};
    QTest::newRow("green: nothing") << QList<int>{3} << QStringList{} << QStringList{};
}

void TestTagFilters::scopeFromStore()
{
    QFETCH(QList<int>, filters);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, samples);
    TagFixture f;
    f.store->setTags({FinderTag::Red}, f.url("R/Drums"));
    f.store->setTags({FinderTag::Blue}, f.url("R/Drums/Kicks"));
    f.store->setTags({FinderTag::Blue}, f.url("R/Bass/bass kick.wav"));
    f.store->setTags({FinderTag::Red}, f.url("R/loose kick.wav"));
    f.store->setTags({FinderTag::Red}, f.url("Outside/out kick.wav"));
    f.store->setTags({FinderTag::Green}, f.url("R/gone.wav")); // never existed
    auto model = f.makeModel(f.store.get());
    QVERIFY(model->addDroppedFolders({f.url("R")}));
    for (int raw : filters)
        model->toggleTagFilter(static_cast<FinderTag>(raw));

    const auto names = [](const QList<FileNodePtr> &nodes, bool directories) {
        QStringList list;
        for (const FileNodePtr &node : nodes)
            list.append(node->isDirectory() == directories ? node->name() : QStringLiteral("?"));
        return list;
    };
    QTRY_COMPARE(names(model->tagScopeSamples(), false), samples);
    QTRY_COMPARE(names(model->tagScopeFolders(), true), folders);
}

void TestTagFilters::taggedFileShownTwice()
{
    TagFixture f;
    f.store->setTags({FinderTag::Red}, f.url("R/Drums"));
    f.store->setTags({FinderTag::Red}, f.url("R/Drums/snare.wav"));
    auto model = f.makeModel(f.store.get());
    QVERIFY(model->addDroppedFolders({f.url("R")}));
    model->toggleTagFilter(FinderTag::Red);
    QTRY_VERIFY(!model->tagScopeFolders().isEmpty());
    model->expand(model->tagScopeFolders().first());
    const QList<VisibleRow> rows = model->tagScopedRows();
    QCOMPARE(rowNames(rows), (QStringList{"Drums", "  Kicks", "  snare.wav", "snare.wav"}));
    QVERIFY(rows[2].id() != rows[3].id());
    QCOMPARE(rows[2].contextID, f.url("R/Drums"));
    // The selection lookup finds items shown only in the tag rows.
    QVERIFY(model->node(f.url("R/Drums/snare.wav")));
}

void TestTagFilters::toggleRecomputesAndSearches()
{
    TagFixture f;
    f.store->setTags({FinderTag::Red}, f.url("R/Drums"));
    f.store->setTags({FinderTag::Red}, f.url("R/loose kick.wav"));
    auto model = f.makeModel(f.store.get());
    QVERIFY(model->addDroppedFolders({f.url("R")}));
    QTRY_VERIFY(!model->isIndexing());
    model->setGlobalSearch(true);
    model->setSearchText("kick");
    QTRY_COMPARE(model->searchResults().size(), 4);

    model->toggleTagFilter(FinderTag::Red);
    QTRY_COMPARE(model->searchResults().size(), 3); // kick 1, kick 2 and the loose kick
    QStringList names;
    for (const FileNodePtr &node : model->searchResults())
        names.append(node->name());
    QCOMPARE(names, (QStringList{"kick 1.wav", "kick 2.wav", "loose kick.wav"}));

    // Switching the last filter off restores the normal scope and empties the lists.
    model->toggleTagFilter(FinderTag::Red);
    QVERIFY(model->tagScopeFolders().isEmpty());
    QTRY_COMPARE(model->searchResults().size(), 4);

    // Without a tag store filters can be switched on but yield nothing.
    auto bare = f.makeModel(nullptr);
    bare->toggleTagFilter(FinderTag::Red);
    QCOMPARE(bare->activeTagFilters().size(), 1);
    QVERIFY(bare->tagScopeFolders().isEmpty() && bare->tagScopeSamples().isEmpty());
}

void TestTagFilters::relinkMovesTags()
{
    TagFixture f;
    f.store->setTags({FinderTag::Purple}, f.url("R/Drums/snare.wav"));
    auto model = f.makeModel(f.store.get());
    QVERIFY(model->addDroppedFolders({f.url("R")}));
    QVERIFY(QDir().rename(f.path("R"), f.path("Moved")));
    model->relink(model->roots().first(), f.url("Moved"));
    QCOMPARE(f.store->tagsFor(f.url("Moved/Drums/snare.wav")), FinderTagSet{FinderTag::Purple});
    QVERIFY(f.store->tagsFor(f.url("R/Drums/snare.wav")).isEmpty());
}

void TestTagFilters::description_data()
{
    QTest::addColumn<QList<int>>("filters");
    QTest::addColumn<QString>("text");
    QTest::newRow("one") << QList<int>{6} << "Gray";
    QTest::newRow("two") << QList<int>{0, 1} << "2 colors";
    QTest::newRow("all") << QList<int>{0, 1, 2, 3, 4, 5, 6} << "7 colors";
}

void TestTagFilters::description()
{
    QFETCH(QList<int>, filters);
    QFETCH(QString, text);
    ModelFixture f;
    auto model = f.makeModel();
    for (int raw : filters)
        model->toggleTagFilter(static_cast<FinderTag>(raw));
    QCOMPARE(model->tagFilterDescription(), text);
}

QTEST_GUILESS_MAIN(TestTagFilters)
#include "tst_tagfilters.moc"
