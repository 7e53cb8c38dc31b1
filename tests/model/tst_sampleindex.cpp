#include "CancelFlag.h"
#include "Fold.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "ModelFixture.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

class TestSampleIndex : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void folding_data();
    void folding();
    void foldingEachCodePointMatchesWholeText();
    void buildSkipsHiddenAndLinks();
    void fileRoundTripMatchesPython();
    void corruptIndexFilesReadEmpty_data();
    void corruptIndexFilesReadEmpty();
    void search_data();
    void search();
    void storedIndexServesSearchBeforeBuild();
    void onlyLastSearchApplies();
    void tagScopeNarrowsSearch();
    void patchEqualsFullBuild_data();
    void patchEqualsFullBuild();
};

void TestSampleIndex::folding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");
    QTest::newRow("ascii") << "KICK 808.WAV"
                           << "kick 808.wav";
    QTest::newRow("accent") << QString::fromUtf8("Café") << "cafe";
    QTest::newRow("decomposed accent") << QString::fromUtf8("Cafe\u0301") << "cafe";
    QTest::newRow("full width") << QString::fromUtf8("ＫＩＣＫ") << "kick";
    QTest::newRow("sharp s folds fully") << QString::fromUtf8("Straße") << "strasse";
    QTest::newRow("greek") << QString::fromUtf8("ΣΊΣΥΦΟΣ") << QString::fromUtf8("σισυφοσ");
}

void TestSampleIndex::folding()
{
    QFETCH(QString, text);
    QFETCH(QString, folded);
    QCOMPARE(fold(text), folded);
    std::string utf8;
    foldUtf8(text.toStdString(), utf8);
    QCOMPARE(QString::fromStdString(utf8), folded);
}

void TestSampleIndex::foldingEachCodePointMatchesWholeText()
{
    // The UTF-8 fold takes shortcuts for accented Latin, combining marks and full-width forms;
    // it must give what folding the whole text gives, alone and between other letters.
    std::vector<char32_t> pool;
    for (char32_t c = 0x80; c < 0x370; ++c)
        pool.push_back(c);
    for (char32_t c = 0x1E00; c < 0x1F00; ++c)
        pool.push_back(c);
    for (char32_t c = 0xFF01; c < 0xFF5F; ++c)
        pool.push_back(c);
    for (char32_t c : {U'A', U'e', U'1', U' ', U'\u03A3', U'\u3099', U'\uAC00'})
        pool.push_back(c);
    quint32 seed = 7;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    QStringList texts;
    for (char32_t c : pool)
        texts.append(QStringLiteral("k") + QString::fromUcs4(&c, 1) + QStringLiteral("E"));
    for (int i = 0; i < 3000; ++i) {
        std::u32string text;
        for (quint32 n = next() % 6 + 1; n > 0; --n)
            text.push_back(pool[(next() >> 8) % pool.size()]);
        texts.append(QString::fromStdU32String(text));
    }
    for (const QString &text : std::as_const(texts)) {
        std::string utf8;
        foldUtf8(text.toStdString(), utf8);
        QCOMPARE(QString::fromStdString(utf8), fold(text));
    }
}

void TestSampleIndex::buildSkipsHiddenAndLinks()
{
    ModelFixture f;
    f.touch("R/KICK.WAV");
    f.touch("R/.hidden.wav");
    f.touch("R/.Hidden/inside.wav");
    f.touch("R/notes.txt");
    f.touch("R/Kit.bundle/in bundle.wav");
    f.mkdir("R/folder.wav");
    QVERIFY(QFile::link(f.path("R/KICK.WAV"), f.path("R/link.wav")));
    QVERIFY(QFile::link(f.path("Outside"), f.path("R/LinkedDir")));
    f.touch("Outside/outside.wav");
    f.touch("R/Nested/deep.aif");

    CancelFlag flag;
    auto index =
        IndexBuilder::buildIndex({f.path("R"), f.path("R/Nested"), f.path("missing")}, flag);
    QStringList paths;
    for (size_t i = 0; i < index->size(); ++i)
        paths.append(index->pathString(i));
    paths.sort();
    QCOMPARE(paths, (QStringList{f.path("R/KICK.WAV"), f.path("R/Kit.bundle/in bundle.wav"),
                                 f.path("R/Nested/deep.aif"), f.path("R/Nested/deep.aif")}));
    for (size_t i = 0; i < index->size(); ++i) {
        if (index->pathString(i).endsWith("KICK.WAV"))
            QCOMPARE(QString::fromStdString(std::string(index->folded(i))), "kick.wav");
    }

    // No roots: an empty list at once. A cancelled flag stops the walk.
    QCOMPARE(IndexBuilder::buildIndex({}, flag)->size(), size_t(0));
    for (int i = 0; i < 3000; ++i)
        f.touch(QStringLiteral("Big/s%1.wav").arg(i));
    CancelFlag cancelled;
    cancelled.cancel();
    QVERIFY(IndexBuilder::buildIndex({f.path("Big")}, cancelled)->size() < 3000);
}

void TestSampleIndex::fileRoundTripMatchesPython()
{
    ModelFixture f;
    f.touch(QString::fromUtf8("R/Café Bass.wav"));
    f.touch("R/kick\nnewline.wav");
    f.touch("R/Drums/Snare 1.aif");
    CancelFlag flag;
    auto index = IndexBuilder::buildIndex({f.path("R")}, flag);
    const QString file = f.path("out/index.plist");
    QVERIFY(IndexFile::write(*index, file));

    const auto result =
        TestSupport::python("import plistlib,sys,json\n"
                            "d=plistlib.load(open(sys.argv[1],'rb'))\n"
                            "assert isinstance(d,list)\n"
                            "print(json.dumps(sorted((e['path'],e['folded']) for e in d)))",
                            {file});
    QCOMPARE(result.exitCode, 0);
    const QString json = QString::fromUtf8(result.out);
    QVERIFY(json.contains(QString::fromUtf8("caf\\u00e9 bass.wav")) ||
            json.contains("cafe bass.wav"));
    QVERIFY(json.contains("kick\\nnewline.wav"));

    auto loaded = IndexFile::read(file);
    QCOMPARE(loaded->size(), index->size());
    for (size_t rank = 0; rank < index->size(); ++rank) {
        QCOMPARE(loaded->path(rank), index->path(rank));
        QCOMPARE(loaded->folded(rank), index->folded(rank));
    }

    // Python writes, we read.
    const QString pyFile = f.path("py.plist");
    QCOMPARE(
        TestSupport::python("import plistlib,sys\n"
                            "plistlib.dump([{'path':'/x/\u00c9t\u00e9.wav','folded':'ete.wav'}],"
                            "open(sys.argv[1],'wb'),fmt=plistlib.FMT_BINARY)",
                            {pyFile})
            .exitCode,
        0);
    auto fromPython = IndexFile::read(pyFile);
    QCOMPARE(fromPython->size(), size_t(1));
    QCOMPARE(fromPython->pathString(0), QString::fromUtf8("/x/Été.wav"));
}

void TestSampleIndex::corruptIndexFilesReadEmpty_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::newRow("garbage") << QByteArray("open(p,'wb').write(b'not a plist at all')");
    QTest::newRow("truncated") << QByteArray(
        "b=plistlib.dumps([{'path':'/a.wav','folded':'a.wav'}],fmt=plistlib.FMT_BINARY)\n"
        "open(p,'wb').write(b[:-10])");
    QTest::newRow("root not an array")
        << QByteArray("open(p,'wb').write(plistlib.dumps({'path':'/a'},fmt=plistlib.FMT_BINARY))");
    QTest::newRow("element missing a key") << QByteArray(
        "open(p,'wb').write(plistlib.dumps([{'path':'/a.wav'}],fmt=plistlib.FMT_BINARY))");
    QTest::newRow("value not text") << QByteArray(
        "open(p,'wb').write(plistlib.dumps([{'path':1,'folded':'a'}],fmt=plistlib.FMT_BINARY))");
    QTest::newRow("xml plist") << QByteArray(
        "open(p,'wb').write(plistlib.dumps([{'path':'/a.wav','folded':'a.wav'}]))");
}

void TestSampleIndex::corruptIndexFilesReadEmpty()
{
    QFETCH(QByteArray, script);
    ModelFixture f;
    const QString file = f.path("index.plist");
    QCOMPARE(TestSupport::python("import plistlib,sys\np=sys.argv[1]\n" + QString::fromUtf8(script),
                                 {file})
                 .exitCode,
             0);
    QVERIFY(IndexFile::read(file)->isEmpty());
    QVERIFY(IndexFile::read(f.path("missing.plist"))->isEmpty());

    // At start-up a corrupt file just leaves the index empty until the build delivers.
    f.touch("R/a.wav");
    f.prefs->setObject(QStringList{f.path("R")}, "rootFolderPaths");
    auto model = f.makeModel();
    QTRY_VERIFY(!model->isIndexing());
    QCOMPARE(model->index()->size(), size_t(1));
    model->waitForIndexWrites();
    QCOMPARE(IndexFile::read(file)->size(), size_t(1));
}

void TestSampleIndex::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("global");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two words any order")
        << "808 kick" << true << ""
        << QStringList{"S/Drums/Kick 808.wav", "S/DrumsExtra/kick-808 long.wav"};
    QTest::newRow("same word twice")
        << "808 808" << true << ""
        << QStringList{"S/Drums/Kick 808.wav", "S/DrumsExtra/kick-808 long.wav"};
    QTest::newRow("case and accents")
        << QString::fromUtf8("CAFÉ") << true << "" << QStringList{"S/Cafe Keys.wav"};
    QTest::newRow("spaces only") << "   " << true << "" << QStringList{};
    QTest::newRow("folder scope excludes sibling prefix")
        << "kick" << false << "S/Drums" << QStringList{"S/Drums/Kick 808.wav"};
    QTest::newRow("file selected scopes to its folder")
        << "kick" << false << "S/DrumsExtra/kick-808 long.wav"
        << QStringList{"S/DrumsExtra/kick-808 long.wav"};
    QTest::newRow("same names ordered by path")
        << "snare" << true << "" << QStringList{"S/A/snare.wav", "S/B/snare.wav"};
    QTest::newRow("tab separates terms")
        << "kick\tlong" << true << "" << QStringList{"S/DrumsExtra/kick-808 long.wav"};
}

void TestSampleIndex::search()
{
    QFETCH(QString, text);
    QFETCH(bool, global);
    QFETCH(QString, selection);
    QFETCH(QStringList, expected);
    ModelFixture f;
    for (const char *name : {"S/Drums/Kick 808.wav", "S/DrumsExtra/kick-808 long.wav",
                             "S/Cafe Keys.wav", "S/B/snare.wav", "S/A/snare.wav"})
        f.touch(QString::fromUtf8(name));
    auto model = f.makeModel();
    QVERIFY(model->addDroppedFolders({f.url("S")}));
    QTRY_VERIFY(!model->isIndexing());
    if (!selection.isEmpty())
        model->setSelection(f.url(selection));
    model->setGlobalSearch(global);
    QSignalSpy results(model.get(), &BrowserModel::searchResultsChanged);
    model->setSearchText(text);
    if (!expected.isEmpty())
        QTRY_VERIFY(results.count() > 0);
    else
        QTest::qWait(100);
    QStringList got;
    for (const FileNodePtr &node : model->searchResults()) {
        QVERIFY(!node->isDirectory());
        got.append(node->path());
    }
    QStringList want;
    for (const QString &e : expected)
        want.append(f.path(e));
    QCOMPARE(got, want);
}

void TestSampleIndex::storedIndexServesSearchBeforeBuild()
{
    ModelFixture f;
    f.touch("R/one.wav");
    CancelFlag flag;
    // A stored index that names a file the disk no longer has: it serves until the build lands.
    SampleIndex::Builder builder;
    builder.append(f.path("R/stored only.wav").toStdString(), "stored only.wav");
    QVERIFY(IndexFile::write(*builder.finish(), f.path("index.plist")));
    f.prefs->setObject(QStringList{f.path("R")}, "rootFolderPaths");
    auto model = f.makeModel();
    QTRY_VERIFY(!model->isIndexing());
    // Whichever came first, the build has the last word.
    QCOMPARE(model->index()->size(), size_t(1));
    QCOMPARE(model->index()->pathString(0), f.path("R/one.wav"));
}

void TestSampleIndex::onlyLastSearchApplies()
{
    ModelFixture f;
    f.touch("R/alpha.wav");
    f.touch("R/beta.wav");
    auto model = f.makeModel();
    QVERIFY(model->addDroppedFolders({f.url("R")}));
    model->setGlobalSearch(true);
    QTRY_VERIFY(!model->isIndexing());
    QSignalSpy results(model.get(), &BrowserModel::searchResultsChanged);
    model->setSearchText("alp");
    model->setSearchText("bet");
    QTRY_COMPARE(results.count(), 1);
    QCOMPARE(model->searchResults().first()->name(), QStringLiteral("beta.wav"));
    model->setSearchText("alpha");
    model->setSearchText(QString()); // cleared before the pause ends: the result is dropped
    QTest::qWait(150);
    QVERIFY(model->searchResults().isEmpty());

    // Two index builds in a row: one result applied, still indexing until it lands.
    QSignalSpy indexing(model.get(), &BrowserModel::isIndexingChanged);
    model->startIndexing();
    model->startIndexing();
    QVERIFY(model->isIndexing());
    QTRY_VERIFY(!model->isIndexing());
    QCOMPARE(indexing.count(), 2);
}

void TestSampleIndex::tagScopeNarrowsSearch()
{
    SampleIndex::Builder builder;
    for (const char *path : {"/r/tagged/a kick.wav", "/r/tagged/sub/b kick.wav",
                             "/r/taggedmore/c kick.wav", "/r/loose/d kick.wav", "/r/e kick.wav"})
        builder.append(path, fold(QFileInfo(QString::fromUtf8(path)).fileName()).toStdString());
    auto index = builder.finish();
    SampleIndex::Scope scope;
    scope.kind = SampleIndex::Scope::Kind::Tags;
    scope.folders = {"/r/tagged"};
    scope.files = {"/r/loose/d kick.wav"};
    CancelFlag flag;
    QStringList got;
    for (quint32 entry : index->search({"kick"}, scope, flag))
        got.append(index->pathString(entry));
    QCOMPARE(got, (QStringList{"/r/tagged/a kick.wav", "/r/tagged/sub/b kick.wav",
                               "/r/loose/d kick.wav"}));
    flag.cancel();
    QVERIFY(index->search({"kick"}, {}, flag).empty());
}

namespace {

// Entries as (folded, path), in index order.
QList<std::pair<QString, QString>> entries(const SampleIndex &index)
{
    QList<std::pair<QString, QString>> list;
    for (size_t i = 0; i < index.size(); ++i)
        list.append({QString::fromStdString(std::string(index.folded(i))), index.pathString(i)});
    return list;
}

std::vector<std::string> absolute(const ModelFixture &f, const QStringList &relative)
{
    std::vector<std::string> paths;
    for (const QString &path : relative)
        paths.push_back(f.path(path).toStdString());
    return paths;
}

} // namespace

void TestSampleIndex::patchEqualsFullBuild_data()
{
    QTest::addColumn<QStringList>("roots");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed"); // files or whole folders
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("trees");
    const QStringList drums{"R/A/kick 2.wav", "R/B/kick 1.wav", "R/B/snare.wav"};
    QTest::newRow("file added") << QStringList{"R"} << drums << QStringList{"R/A/kick 1.wav"}
                                << QStringList{} << QStringList{"R/A"} << QStringList{};
    QTest::newRow("file removed") << QStringList{"R"} << drums << QStringList{}
                                  << QStringList{"R/B/kick 1.wav"} << QStringList{"R/B"}
                                  << QStringList{};
    QTest::newRow("folder moved in")
        << QStringList{"R"} << drums << QStringList{"R/New/Sub/clap.wav", "R/New/kick 3.wav"}
        << QStringList{} << QStringList{"R"} << QStringList{"R/New"};
    QTest::newRow("folder deleted") << QStringList{"R"} << drums << QStringList{}
                                    << QStringList{"R/B"} << QStringList{"R"} << QStringList{"R/B"};
    QTest::newRow("overlapping roots keep duplicates")
        << QStringList{"R", "R/A"} << drums << QStringList{"R/A/hat.wav"} << QStringList{}
        << QStringList{"R/A"} << QStringList{};
    QTest::newRow("hidden folder stays out")
        << QStringList{"R"} << drums << QStringList{"R/.cache/x.wav", "R/B/.y.wav"} << QStringList{}
        << QStringList{"R/B"} << QStringList{"R/.cache"};
    QTest::newRow("composed and decomposed names")
        << QStringList{"R"} << QStringList{"R/A/Caf\u00e9 1.wav", "R/B/cafe 1.wav"}
        << QStringList{"R/A/Cafe\u0301 1.wav", "R/C/CAF\u00c9 1.wav"} << QStringList{}
        << QStringList{"R/A", "R/C"} << QStringList{};
    QTest::newRow("sibling folders sharing a prefix")
        << QStringList{"R"} << QStringList{"R/Kick/a.wav", "R/Kicks/a.wav", "R/Kick/Sub/a.wav"}
        << QStringList{"R/Kick 2/a.wav", "R/Kick/b.wav"} << QStringList{"R/Kicks/a.wav"}
        << QStringList{"R/Kick", "R/Kicks", "R/Kick 2"} << QStringList{};
}

void TestSampleIndex::patchEqualsFullBuild()
{
    QFETCH(QStringList, roots);
    QFETCH(QStringList, before);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, trees);
    ModelFixture f;
    for (const QString &file : before)
        f.touch(file);
    QStringList rootPaths;
    for (const QString &root : roots)
        rootPaths.append(f.path(root));
    CancelFlag flag;
    const auto old = IndexBuilder::buildIndex(rootPaths, flag);

    for (const QString &file : added)
        f.touch(file);
    for (const QString &gone : removed) {
        QFileInfo info(f.path(gone));
        QVERIFY(info.isDir() ? QDir(info.filePath()).removeRecursively()
                             : QFile::remove(info.filePath()));
    }
    const auto part =
        IndexBuilder::buildPart(rootPaths, absolute(f, folders), absolute(f, trees), flag);
    const auto patched = old->patched(absolute(f, folders), absolute(f, trees), *part);
    const auto full = IndexBuilder::buildIndex(rootPaths, flag);
    QCOMPARE(entries(*patched), entries(*full));

    // The order itself, checked apart from the index's own comparison: folded name, then the
    // composed path byte by byte.
    auto expected = entries(*full);
    std::stable_sort(expected.begin(), expected.end(), [](const auto &a, const auto &b) {
        const QByteArray fa = a.first.toUtf8(), fb = b.first.toUtf8();
        if (fa != fb)
            return fa < fb;
        return a.second.normalized(QString::NormalizationForm_C).toUtf8() <
               b.second.normalized(QString::NormalizationForm_C).toUtf8();
    });
    QCOMPARE(entries(*full), expected);
}

QTEST_GUILESS_MAIN(TestSampleIndex)
#include "tst_sampleindex.moc"
