// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRows.h"
#include "FileManagerReveal.h"
#include "FileStamp.h"
#include "IndexFile.h"
#include "LibraryFiles.h"
#include "ModelFixtures.h"

#include <QDir>

#include <QSignalSpy>
#include <QTest>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {
class RecordingReveal final : public FileManagerReveal
{
public:
    void reveal(const QString &path) override { revealed.append(path); }
    QStringList revealed;
};
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
    [&] { QVERIFY(addFolders(*model, {f.url("R")})); }();
    return model;
}
constexpr int refreshTimeout = 5000;

std::unique_ptr<BrowserModel> liveModel(ModelFixture &f, const QString &root, bool withTags = false)
{
    auto model = f.makeModel(withTags, true);
    [&] { QVERIFY(addFolders(*model, {f.url(root)})); }();
    // Let the watcher finish its initial walk before the test changes anything.
    QTest::qWait(300);
    return model;
}

bool inIndexFile(BrowserModel &model, const ModelFixture &f, const QString &file)
{
    model.waitForIndexWrites();
    const auto index = IndexFile::read(f.path("index.plist"));
    for (size_t i = 0; i < index->size(); ++i) {
        if (index->pathString(i) == f.path(file))
            return true;
    }
    return false;
}
// A live change reaches the index file within the watcher's batch and the refresh debounce, with
// some margin.
constexpr int storedWithinMs = 2500;
} // namespace

class TestBrowserModel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The shell test drives the chooser; here: what is stored, and which folders are skipped.
    void addFolderThroughPanel()
    {
        ModelFixture f;
        for (const char *name : {"a", "b", "c"})
            f.mkdir(QString::fromLatin1(name));
        f.touch("loose.wav");
        auto model = f.makeModel(false, false, {"a"});
        f.chooser.answer = {f.url("c"), f.url("a"), f.url("b")};
        model->addFolder();
        QCOMPARE(nodeNames(model->roots()), rowList("a|c|b"));
        const QStringList stored{f.path("a"), f.path("c"), f.path("b")};
        // Their bookmarks are what healing goes by: the live tests' business.
        QCOMPARE(f.prefs->stringArrayForKey("rootFolderPaths").value_or(QStringList()), stored);
        // Dropped folders follow the same rules.
        QVERIFY(!addFolders(*model, {f.url("c"), f.url("loose.wav"), f.url("missing")}));
    }
    void rootsSurviveRestartAndRemoval()
    {
        ModelFixture f;
        f.touch("R/Sub/kick.wav");
        f.touch("B/b.wav");
        {
            auto model = f.makeModel();
            QVERIFY(addFolders(*model, {f.url("R"), f.url("B")}));
            model->expand(model->roots().first());
            model->setSelection(f.url("R/Sub/kick.wav"));
        }
        f.restart();
        auto model = f.makeModel();
        QCOMPARE(model->roots().size(), 2);
        QCOMPARE(model->roots().first()->path(), f.path("R"));
        QCOMPARE(model->expanded(), QSet<QUrl>{f.url("R")});
        QCOMPARE(model->selection(), f.url("R/Sub/kick.wav"));

        model->removeRoot(model->roots().at(1));
        QCOMPARE(model->selection(), f.url("R/Sub/kick.wav")); // elsewhere: kept
        model->removeRoot(model->roots().at(0));
        QVERIFY(model->expanded().isEmpty());
        QVERIFY(model->selection().isEmpty());
        QVERIFY(!f.prefs->objectForKey("selectedItemPath").isValid());
        QVERIFY(f.prefs->dictionaryForKey("rootFolderBookmarks").value().isEmpty());
    }
    void relinkMovesExpansionAndSelection()
    {
        ModelFixture f;
        f.touch("Old/Kit/snare.wav");
        f.touch("New/Kit/snare.wav");
        f.store->setTags({FinderTag::Red}, f.url("Old/Kit"));
        auto model = f.makeModel(true, false, {"Old"});
        const FileNodePtr root = model->roots().first();
        model->expand(root);
        settledRows(*model);
        model->expand(model->node(f.url("Old/Kit")));
        model->setSelection(f.url("Old/Kit/snare.wav"));
        f.chooser.answer = {f.url("New")};
        model->relink(root, f.url("Old/")); // its own place, and no root at all: nothing
        model->relink(nullptr, f.url("New"));
        QCOMPARE(model->roots().first()->path(), f.path("Old"));
        model->relinkRoot(root);
        QVERIFY(f.chooser.requests.last().message.contains("Old"));
        QCOMPARE(model->roots().first()->path(), f.path("New"));
        QCOMPARE(model->expanded(), f.urls({"New", "New/Kit"}));
        QCOMPARE(model->selection(), f.url("New/Kit/snare.wav"));
        QCOMPARE(f.store->tagsFor(f.url("New/Kit")), FinderTagSet{FinderTag::Red});
        QVERIFY(f.store->tagsFor(f.url("Old/Kit")).isEmpty());
    }
    void navigationPersists()
    {
        ModelFixture f;
        f.touch("R/A/B/x.wav");
        auto model = f.makeModel(false, false, {"R"});
        model->toggle(model->roots().first());
        QCOMPARE(f.prefs->stringArrayForKey("expandedFolderPaths").value(),
                 QStringList{f.path("R")});
        settledRows(*model);
        model->toggle(model->node(f.url("R/A")));
        model->setSelection(f.url("R/A/B"));
        QCOMPARE(f.prefs->stringForKey("selectedItemPath").value(), f.path("R/A/B"));
        QSignalSpy selection(model.get(), &BrowserModel::selectionChanged);
        model->setSelection(QUrl::fromLocalFile(f.path("R/./A/B/"))); // the same, spelt otherwise
        QCOMPARE(selection.count(), 0);
        model->toggle(FileNode::create(f.url("R/A/B/x.wav"), false)); // files are ignored
        QCOMPARE(model->expanded().size(), 2);

        model->setSearchText("x");
        model->setGlobalSearch(true);
        model->setSelection(f.url("R/A")); // a new selection turns global search off
        QVERIFY(!model->globalSearch());
        model->collapseAll();
        QVERIFY(f.prefs->stringArrayForKey("expandedFolderPaths").value().isEmpty());
        QVERIFY(!model->node(model->selection()));

        // Searching in a folder and revealing are the sidebar test's; a file gone is not shown.
        RecordingReveal reveal;
        model->setFileManagerReveal(&reveal);
        model->revealInFinder(f.url("R/gone.wav"));
        QVERIFY(settle(*model));
        QVERIFY(reveal.revealed.isEmpty() && model->lastError().startsWith("gone.wav"));
    }
    void revealInBrowser_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("expanded");
        QTest::addColumn<QString>("selected");
        QTest::newRow("file deep inside")
            << "R/A/B/x.wav" << rowList("R|R/A|R/A/B") << "R/A/B/x.wav";
        QTest::newRow("folder opens too") << "R/A" << rowList("R|R/A") << "R/A";
        QTest::newRow("deleted file selects deepest folder")
            << "R/A/B/gone.wav" << rowList("R|R/A|R/A/B") << "R/A/B";
        QTest::newRow("outside every root") << "elsewhere.wav" << rowList("") << "elsewhere.wav";
    }
    // A folder that may not be read says so in one row instead of looking empty.
    void unreadableFolderSaysSo()
    {
        ModelFixture f;
        f.touch("R/Locked/kick.wav");
        f.touch("R/Open/snare.wav");
        QFile::setPermissions(f.path("R/Locked"), QFileDevice::Permissions());
        const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther;
        for (const QString &folder : {f.dir.path(), f.path("R"), f.path("R/Open")})
            QFile::setPermissions(folder, open);
        // Root reads everything: the folders are read as somebody else.
        struct ListedAsNobody final : LibraryFiles
        {
            FileNode::Listing list(const QString &folder) const override
            {
                const bool root = ::geteuid() == 0;
                if (root) {
                    ::setfsgid(65534);
                    ::setfsuid(65534);
                }
                FileNode::Listing listing = LibraryFiles::list(folder);
                if (root) {
                    ::setfsuid(0);
                    ::setfsgid(0);
                }
                return listing;
            }
        };
        BrowserModel model(*f.prefs, f.path("index.plist"), false, nullptr, nullptr,
                           std::make_shared<ListedAsNobody>());
        model.addRoot(f.url("R"));
        model.expand(model.roots().constFirst());
        settledRows(model);
        for (const QString &folder : QStringList{"R/Locked", "R/Open"})
            model.expand(model.node(f.url(folder)));
        QStringList rows;
        for (const VisibleRow &row : settledRows(model))
            rows.append(QString::number(row.depth) + u' ' + row.node->name() +
                        (row.node->isNote() ? u"!"_qs : QString()));
        QFile::setPermissions(f.path("R/Locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner);
        QCOMPARE(rows, QStringList({"0 R", "1 Locked", "2 No permission to read this folder!",
                                    "1 Open", "2 snare.wav"}));
    }

    void revealInBrowser()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, expanded);
        QFETCH(QString, selected);
        ModelFixture f;
        f.touch("R/A/B/x.wav");
        auto model = f.makeModel(false, false, {"R"});
        model->setSearchText("x");
        model->setGlobalSearch(true);
        model->revealInBrowser(f.url(target));
        QVERIFY(settle(*model));
        QCOMPARE(model->expanded(), f.urls(expanded));
        QCOMPARE(model->selection(), f.url(selected));
        QVERIFY(model->searchText().isEmpty());
        QVERIFY(!model->globalSearch());
        // Revealing opens folders for the moment only.
        QVERIFY(
            f.prefs->stringArrayForKey("expandedFolderPaths").value_or(QStringList()).isEmpty());
    }

    // The scope's descriptions are the search bar test's.
    void scopeFromStore_data()
    {
        QTest::addColumn<QList<int>>("filters");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("samples");
        const auto row = [](const char *name, const QList<int> &filters, const char *folders,
                            const char *samples) {
            QTest::newRow(name) << filters << rowList(folders) << rowList(samples);
        };
        row("red", {0}, "Drums", "loose kick.wav");
        row("blue: a file and a folder", {4}, "Kicks", "bass kick.wav");
        row("red or blue: nested folder only through its outer folder", {0, 4}, "Drums",
            "bass kick.wav|loose kick.wav");
        row("green: nothing", {3}, "", "");
    }
    void scopeFromStore()
    {
        QFETCH(QList<int>, filters);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, samples);
        ModelFixture f;
        auto model = taggedModel(f);
        for (int raw : filters)
            model->toggleTagFilter(static_cast<FinderTag>(raw));
        QTRY_COMPARE(nodeNames(model->tagScopeSamples()), samples);
        QTRY_COMPARE(nodeNames(model->tagScopeFolders()), folders);
    }
    void toggleRecomputesRowsAndSearches()
    {
        ModelFixture f;
        auto model = taggedModel(f);
        f.store->setTags({FinderTag::Red}, f.url("R/Drums/snare.wav"));
        QTRY_VERIFY(!model->isIndexing());
        model->setGlobalSearch(true);
        model->setSearchText("kick");
        QTRY_COMPARE(model->searchResults().size(), 4);
        model->toggleTagFilter(FinderTag::Red);
        QTRY_COMPARE(model->searchResults().size(), 3); // kick 1, kick 2 and the loose kick
        QCOMPARE(nodeNames(model->searchResults()),
                 (QStringList{"kick 1.wav", "kick 2.wav", "loose kick.wav"}));
        // A tagged file in a tagged, expanded folder is shown twice, as two rows.
        model->expand(model->tagScopeFolders().first());
        const QList<VisibleRow> rows = settledRows(*model, true);
        QCOMPARE(rowNames(rows),
                 (QStringList{"Drums", "  Kicks", "  snare.wav", "loose kick.wav", "snare.wav"}));
        QVERIFY(rows[2].id() != rows[4].id());
        QCOMPARE(rows[2].contextID, f.url("R/Drums"));
        // The selection lookup finds items shown only in the tag rows.
        QVERIFY(model->node(f.url("R/Drums/snare.wav")));

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
    // Real file-system changes below the roots; every refresh tells the observers of the roots.
    // What the watcher leaves out (hidden folders) is its own test's.
    void laterFoldersAreWatchedAndGoneSelectionCleared()
    {
        ModelFixture f;
        f.touch("R/victim.wav");
        auto model = liveModel(f, "R");
        model->setSelection(f.url("R/victim.wav"));
        QSignalSpy roots(model.get(), &BrowserModel::rootsChanged);
        f.mkdir("R/New");
        QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 1, refreshTimeout);
        QTest::qWait(1200);
        f.touch("R/New/inside.wav");
        QTRY_COMPARE_WITH_TIMEOUT(roots.count(), 2, refreshTimeout);
        QVERIFY(QFile::remove(f.path("R/victim.wav")));
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
        QTRY_COMPARE_WITH_TIMEOUT(settledRows(*model).size(), 42, refreshTimeout);
        QTest::qWait(2000);
        // One batch, or two when the burst straddles the watcher's first delivery.
        QVERIFY2(roots.count() <= 2, qPrintable(QString::number(roots.count())));
        QCOMPARE(rowNames(settledRows(*model)).mid(2, 10).join("").remove(' '),
                 QStringLiteral("a.wavB.wavC.wavd.wave.wavf.wavg.wavh.wavi.wavj.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(model->index()->size(), size_t(40), refreshTimeout);
        const int afterBurst = roots.count();
        f.touch("R/b.wav");
        QTRY_COMPARE_WITH_TIMEOUT(roots.count(), afterBurst + 1, refreshTimeout);
    }
    void renamedRootIsHealedAndWatched_data()
    {
        // The root; the folder renamed; its new name; where the root is then; a folder beside the
        // renamed one that holds 20,000 files.
        QTest::addColumn<QStringList>("move");
        QTest::newRow("root renamed") << rowList("Samples|Samples|Renamed|Renamed");
        // Only the moved folder hears of it: nothing changes inside the root.
        QTest::newRow("parent renamed") << rowList("S/Samples|S|S2|S2/Samples");
        QTest::newRow("grandparent moved") << rowList("A/B/Samples|A|Z/A|Z/A/B/Samples");
        QTest::newRow("parent renamed beside a crowded folder")
            << rowList("R/outer/inner|R/outer|R/outer2|R/outer2/inner|R/lib");
    }
    void renamedRootIsHealedAndWatched()
    {
        QFETCH(QStringList, move);
        const QString root = move[0], from = move[1], to = move[2], healed = move[3];
        ModelFixture f;
        f.touch(root + "/Kit/kick.wav");
        f.mkdir("Z");
        if (move.size() > 4) {
            for (int i = 0; i < 20000; ++i)
                QVERIFY(TestSupport::writeFile(f.path(move[4] + QStringLiteral("/%1.wav").arg(i))));
        }
        f.store->setTags({FinderTag::Red}, f.url(root + "/Kit/kick.wav"));
        auto model = liveModel(f, root, true);
        model->expand(model->roots().first());
        QVERIFY(QDir().rename(f.path(from), f.path(to)));
        QTRY_COMPARE_WITH_TIMEOUT(model->roots().first()->path(), f.path(healed), refreshTimeout);
        QVERIFY(model->expanded().contains(f.url(healed)));
        QVERIFY(model->offlineRoots().isEmpty());
        QTRY_COMPARE(f.store->tagsFor(f.url(healed + "/Kit/kick.wav")),
                     FinderTagSet{FinderTag::Red});

        // Watched under its new name.
        QTest::qWait(1500);
        f.touch(healed + "/new.wav");
        const auto shown = [&] {
            settledRows(*model);
            return model->node(f.url(healed + "/new.wav")) != nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown(), refreshTimeout);
    }
    // Deleted, the root cannot be healed: it goes offline, and comes back with the folder.
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
    // Unpacking a pack and working in it: each file reaches the index file as quickly as one in
    // a folder that was there from the start, however the folders came.
    void filesInNewFoldersReachTheIndexFile_data()
    {
        QTest::addColumn<QString>("change");    // "mv FROM TO" or the first new file
        QTest::addColumn<QStringList>("later"); // files made one after another afterwards
        QTest::newRow("new folder") << "R/Pack/New Folder/fresh hit.wav"
                                    << rowList("R/Pack/New Folder/second.wav|R/Pack/Loops/b.wav");
        QTest::newRow("folders made inside a new folder")
            << "R/Pack/Other/Deep/x.wav" << rowList("R/Pack/Other/Deep/y.wav");
        QTest::newRow("folder moved in")
            << "mv Outside/Moved R/Pack/Moved" << rowList("R/Pack/Moved/Inner/later.wav");
    }
    void filesInNewFoldersReachTheIndexFile()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, later);
        ModelFixture f;
        f.touch("R/Pack/Loops/a.wav");
        f.touch("Outside/Moved/Inner/m.wav");
        auto model = liveModel(f, "R");
        QTRY_VERIFY(!model->isIndexing());
        const auto stored = [&](const QString &file) { return inIndexFile(*model, f, file); };
        QString first = change;
        if (change.startsWith("mv ")) {
            const QStringList words = change.split(' ');
            QVERIFY(QDir().rename(f.path(words[1]), f.path(words[2])));
            first = words[2] + "/Inner/m.wav";
        } else {
            f.touch(change);
        }
        QTRY_VERIFY_WITH_TIMEOUT(stored(first), storedWithinMs);
        for (const QString &file : std::as_const(later)) {
            QTest::qWait(1200);
            f.touch(file);
            QTRY_VERIFY_WITH_TIMEOUT(stored(file), storedWithinMs);
        }
    }
    // Clearing out a tagged folder leaves its tags searching for their items; later changes
    // still reach the index file as quickly as before.
    void changesAfterDeletingTaggedFilesStayQuick()
    {
        ModelFixture f;
        f.touch("R/lib/a.wav");
        for (int i = 0; i < 150; ++i) {
            const QString file = QStringLiteral("R/lib/Tagged/t%1.wav").arg(i);
            f.touch(file);
            f.store->setTags({FinderTag::Red}, f.url(file));
        }
        auto model = liveModel(f, "R/lib", true);
        QTRY_VERIFY(!model->isIndexing());
        const auto stored = [&](const QString &file) { return inIndexFile(*model, f, file); };
        f.touch("R/lib/before.wav");
        QTRY_VERIFY_WITH_TIMEOUT(stored("R/lib/before.wav"), storedWithinMs);

        QVERIFY(QDir(f.path("R/lib/Tagged")).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(!stored("R/lib/Tagged/t0.wav"), storedWithinMs);
        for (const QString &name : rowList("R/lib/after 1.wav|R/lib/after 2.wav")) {
            QTest::qWait(1200);
            f.touch(name);
            QTRY_VERIFY_WITH_TIMEOUT(stored(name), storedWithinMs);
        }
        // Simply gone: the tags stay until the items come back or their root goes.
        QTRY_VERIFY(!f.store->isRelocating());
        QCOMPARE(f.store->tags().size(), 150);
    }
    // A live change is appended to the index file's journal at once; the file is written whole
    // once the changes have rested, or when the model goes.
    void liveChangesAreJournaledThenWrittenWhole()
    {
        ModelFixture f;
        f.touch("R/a.wav");
        auto model = liveModel(f, "R");
        model->setIndexCompactionDelayForTesting(5000);
        QTRY_VERIFY(!model->isIndexing());
        model->waitForIndexWrites();
        const QString file = f.path("index.plist");
        const auto stamp = [&] {
            model->waitForIndexWrites();
            return FileStamp::of(file);
        };
        // Files are only added: the counts tell which are in.
        const auto stored = [&] {
            model->waitForIndexWrites();
            return IndexFile::read(file)->size();
        };
        const auto inFileAlone = [&] {
            QFile plist(file);
            return plist.open(QIODevice::ReadOnly) ? IndexFile::readBytes(plist.readAll())->size()
                                                   : size_t(0);
        };
        const std::optional<FileStamp> built = stamp();
        QVERIFY(built);
        QCOMPARE(inFileAlone(), size_t(1));

        f.touch("R/b.wav");
        QTRY_COMPARE_WITH_TIMEOUT(stored(), size_t(2), storedWithinMs);
        f.touch("R/Sub/c.wav");
        QTRY_COMPARE_WITH_TIMEOUT(stored(), size_t(3), storedWithinMs);
        QCOMPARE(stamp(), built);
        QCOMPARE(inFileAlone(), size_t(1));

        QTRY_VERIFY_WITH_TIMEOUT(stamp() != built, 10000);
        QCOMPARE(inFileAlone(), size_t(3));
        QCOMPARE(stored(), size_t(3));

        const std::optional<FileStamp> compacted = stamp();
        f.touch("R/d.wav");
        QTRY_COMPARE_WITH_TIMEOUT(model->index()->size(), size_t(4), refreshTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(stored(), size_t(4), storedWithinMs);
        QCOMPARE(stamp(), compacted);
        model.reset();
        QVERIFY(FileStamp::of(file) != compacted);
        QCOMPARE(inFileAlone(), size_t(4));
    }
};

QTEST_GUILESS_MAIN(TestBrowserModel)
#include "tst_browsermodel.moc"
