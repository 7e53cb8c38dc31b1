#include "ModelFixtures.h"
#include "TagFixtures.h"

#include "tags/FinderTagsIO.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

using namespace TagFixtures;

namespace {
const FinderTagSet red{FinderTag::Red};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};

// Runs an import or export and waits for its completion, which must come on the main thread.
template <typename Result, typename Start> std::optional<Result> finish(Start start)
{
    std::optional<Result> result;
    start([&result](Result value) {
        QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
        result = value;
    });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 20000))
        return std::nullopt;
    return result;
}
std::optional<qint64> importNow(BrowserModel &model)
{
    return finish<qint64>([&](auto done) { model.importFinderTags(done); });
}
std::optional<BrowserModel::ExportSummary> exportNow(BrowserModel &model, bool allowDefaultNames)
{
    return finish<BrowserModel::ExportSummary>(
        [&](auto done) { model.exportFinderTags(allowDefaultNames, done); });
}
} // namespace

class TestBrowserModelFinderTags : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QTemporaryDir probe;
        if (!userAttributesWork(probe.path()))
            QSKIP("the temporary folder's file system has no user attributes");
    }

    void importAddsColoursBelowTheRoots()
    {
        ModelFixture f;
        const QString a = f.touch("Lib/a.wav");
        const QString b = f.touch("Lib/Pack/b.wav");
        const QString outside = f.touch("Other/o.wav");
        QVERIFY(setPythonPlist(a, {"Red\n6", "Work", "Green\n2"}));
        QVERIFY(setPythonPlist(b, {"Blau\n4"}));
        QVERIFY(setPythonPlist(outside, {"Red\n6"}));
        f.store->setTags(red, QUrl::fromLocalFile(b));
        QCOMPARE(importNow(*f.makeModel(true)), std::optional<qint64>(0)); // no roots
        auto model = f.makeModel(true, false, {"Lib"});
        const qint64 revision = f.store->revision();

        QCOMPARE(importNow(*model), std::optional<qint64>(2));
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(a)),
                 (FinderTagSet{FinderTag::Red, FinderTag::Green}));
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(b)), redBlue);
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(outside)), FinderTagSet());
        QCOMPARE(f.store->revision(), revision + 1);
        QCOMPARE(pythonStrings(b), std::optional<QStringList>(QStringList{"Blau\n4"})); // read only
        QCOMPARE(importNow(*model), std::optional<qint64>(0));
        QCOMPARE(f.store->revision(), revision + 1);

        // Without a tag store nothing happens, at once.
        auto bare = f.makeModel(false, false, {"Lib"});
        QCOMPARE(importNow(*bare), std::optional<qint64>(0));
        QCOMPARE(exportNow(*bare, true)->filesWritten, 0);
    }

    // A German user's files came from a Mac: one import teaches "Rot", also for a name Dolphin
    // gave, and the export then writes it to both attributes though English names are not allowed.
    void importTeachesNamesForTheExport()
    {
        ModelFixture f;
        const QString fromMac = f.touch("Lib/mac.wav");
        const QString untagged = f.touch("Lib/new.wav");
        const QString fromDolphin = f.touch("Lib/Kde/kde.wav");
        QVERIFY(setPythonPlist(fromMac, {"Rot\n6", "Work"}));
        QVERIFY(setRawAttribute(fromDolphin, xdgAttribute, "Live, rot"));
        auto model = f.makeModel(true, false, {"Lib"});
        QCOMPARE(importNow(*model), std::optional<qint64>(2));
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(fromDolphin)), red);
        f.store->setTags(redBlue, QUrl::fromLocalFile(untagged));

        const auto summary = exportNow(*model, false);
        QVERIFY(summary);
        QCOMPARE(summary->filesWritten, 3);
        QCOMPARE(summary->skippedColors, FinderTagSet{FinderTag::Blue});
        QCOMPARE(pythonStrings(untagged), std::optional(QStringList{"Rot\n6"}));
        QCOMPARE(rawAttribute(untagged, xdgAttribute), std::optional(QByteArray("Rot")));
        QCOMPARE(rawAttribute(fromMac, xdgAttribute), std::optional(QByteArray("Rot")));
        QCOMPARE(rawAttribute(fromDolphin, xdgAttribute), std::optional(QByteArray("Live, rot")));
        QCOMPARE(pythonStrings(fromMac), std::optional(QStringList{"Rot\n6", "Work"}));

        // A fresh start reads the names back from the preferences file.
        f.prefs->flush();
        QCOMPARE(FinderTagsIO::favoriteTagNames(Preferences(f.prefs->filePath())),
                 std::optional(QStringList{"", "Rot", "", "", "", "", "", ""}));
    }
};

QTEST_GUILESS_MAIN(TestBrowserModelFinderTags)
#include "tst_browser_model_finder_tags.moc"
