#include "ModelFixtures.h"

#include <QDir>
#include <QTest>

namespace {
// Drums red, Drums/Kicks blue, Bass/bass kick.wav blue, loose kick red, Outside red.
std::unique_ptr<BrowserModel> taggedModel(ModelFixture &f)
{
    for (const char *name :
         {"R/Drums/Kicks/kick 1.wav", "R/Drums/Kicks/kick 2.wav", "R/Drums/snare.wav",
          "R/Bass/bass kick.wav", "R/loose kick.wav", "Outside/out kick.wav"})
        f.touch(QString::fromUtf8(name));
    f.store->setTags({FinderTag::Red}, f.url("R/Drums"));
    f.store->setTags({FinderTag::Blue}, f.url("R/Drums/Kicks"));
    f.store->setTags({FinderTag::Blue}, f.url("R/Bass/bass kick.wav"));
    f.store->setTags({FinderTag::Red}, f.url("R/loose kick.wav"));
    f.store->setTags({FinderTag::Red}, f.url("Outside/out kick.wav"));
    f.store->setTags({FinderTag::Green}, f.url("R/gone.wav")); // never existed
    auto model = f.makeModel(true);
    [&] { QVERIFY(model->addDroppedFolders({f.url("R")})); }();
    return model;
}
} // namespace

class TestTagFilters : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void scopeFromStore_data()
    {
        QTest::addColumn<QList<int>>("filters");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("samples");
        QTest::addColumn<QString>("description");
        QTest::newRow("red") << QList<int>{0} << QStringList{"Drums"}
                             << QStringList{"loose kick.wav"} << "Red";
        QTest::newRow("blue: a file and a folder")
            << QList<int>{4} << QStringList{"Kicks"} << QStringList{"bass kick.wav"} << "Blue";
        QTest::newRow("red or blue: nested folder only through its outer folder")
            << QList<int>{0, 4} << QStringList{"Drums"}
            << QStringList{"bass kick.wav", "loose kick.wav"} << "2 colors";
        QTest::newRow("green: nothing")
            << QList<int>{3} << QStringList{} << QStringList{} << "Green";
        QTest::newRow("all") << QList<int>{0, 1, 2, 3, 4, 5, 6} << QStringList{"Drums"}
                             << QStringList{"bass kick.wav", "loose kick.wav"} << "7 colors";
    }
    void scopeFromStore()
    {
        QFETCH(QList<int>, filters);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, samples);
        QFETCH(QString, description);
        ModelFixture f;
        auto model = taggedModel(f);
        for (int raw : filters)
            model->toggleTagFilter(static_cast<FinderTag>(raw));
        const auto names = [](const QList<FileNodePtr> &nodes, bool directories) {
            QStringList list;
            for (const FileNodePtr &node : nodes)
                list.append(node->isDirectory() == directories ? node->name()
                                                               : QStringLiteral("?"));
            return list;
        };
        QTRY_COMPARE(names(model->tagScopeSamples(), false), samples);
        QTRY_COMPARE(names(model->tagScopeFolders(), true), folders);
        QCOMPARE(model->tagFilterDescription(), description);
    }
    void taggedFileShownTwice()
    {
        ModelFixture f;
        auto model = taggedModel(f);
        f.store->setTags({FinderTag::Red}, f.url("R/Drums/snare.wav"));
        model->toggleTagFilter(FinderTag::Red);
        QTRY_VERIFY(!model->tagScopeFolders().isEmpty());
        model->expand(model->tagScopeFolders().first());
        const QList<VisibleRow> rows = model->tagScopedRows();
        QCOMPARE(rowNames(rows),
                 (QStringList{"Drums", "  Kicks", "  snare.wav", "loose kick.wav", "snare.wav"}));
        QVERIFY(rows[2].id() != rows[4].id());
        QCOMPARE(rows[2].contextID, f.url("R/Drums"));
        // The selection lookup finds items shown only in the tag rows.
        QVERIFY(model->node(f.url("R/Drums/snare.wav")));
    }
    void toggleRecomputesAndSearches()
    {
        ModelFixture f;
        auto model = taggedModel(f);
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
        auto bare = f.makeModel(false);
        bare->toggleTagFilter(FinderTag::Red);
        QCOMPARE(bare->activeTagFilters().size(), 1);
        QVERIFY(bare->tagScopeFolders().isEmpty() && bare->tagScopeSamples().isEmpty());
    }
    void relinkMovesTags()
    {
        ModelFixture f;
        auto model = taggedModel(f);
        QVERIFY(QDir().rename(f.path("R"), f.path("Moved")));
        model->relink(model->roots().first(), f.url("Moved"));
        QCOMPARE(f.store->tagsFor(f.url("Moved/Drums")), FinderTagSet{FinderTag::Red});
        QCOMPARE(f.store->tagsFor(f.url("Moved/Bass/bass kick.wav")),
                 FinderTagSet{FinderTag::Blue});
        QVERIFY(f.store->tagsFor(f.url("R/Drums")).isEmpty());
        QCOMPARE(f.store->tagsFor(f.url("Outside/out kick.wav")), FinderTagSet{FinderTag::Red});
    }
};

QTEST_GUILESS_MAIN(TestTagFilters)
#include "tst_tagfilters.moc"
