#include "TagTestSupport.h"
#include "TestSupport.h"

#include "tags/FinderTag.h"
#include "tags/FinderTagSync.h"
#include "tags/FinderTagsIO.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TagTestSupport;

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

const FinderTagSet red{FinderTag::Red};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};

} // namespace

class TestFinderTagSync : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString file(const QString &relative)
    {
        TestSupport::writeFile(path(relative), "data");
        return path(relative);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QTemporaryDir probe;
        if (!userAttributesWork(probe.path()))
            QSKIP("the temporary folder's file system has no user attributes");
    }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void scanFindsColoursAtEveryDepth()
    {
        const QString root = path(s("Lib"));
        QVERIFY(QDir().mkpath(root));
        QVERIFY(setPythonPlist(root, {s("Red\n6")}));
        QVERIFY(setPythonPlist(file(s("Lib/a.wav")), {s("Red\n6"), s("Work"), s("Green\n2")}));
        QVERIFY(setPythonPlist(file(s("Lib/Drums/Kicks/k1.wav")), {s("Blau\n4")}));
        QVERIFY(setPythonPlist(file(s("Lib/.hidden/h.wav")), {s("Grau\n1")}));
        QVERIFY(setPythonPlist(path(s("Lib/Drums")), {s("Lila\n3")}));
        QVERIFY(setPythonPlist(file(s("Lib/plain.wav")), {s("Work"), s("Later\n0")}));
        QVERIFY(setPythonPlist(file(s("Lib/bad.wav")), {s("Red\nx"), s("Blue\n9")}));
        QVERIFY(setRawAttribute(file(s("Lib/garbage.wav")), tagAttribute, "not a plist"));
        file(s("Lib/Drums/none.wav"));
        QVERIFY(setPythonPlist(file(s("Lib/samba.wav")), {s("Gelb\n5")}, s("binary"),
                               QString::fromUtf8(FinderTagsIO::sambaAttributeName),
                               QByteArray(1, '\0')));
        QVERIFY(setPythonPlist(file(s("Outside/o.wav")), {s("Red\n6")}));
        QVERIFY(setPythonPlist(file(s("Lib/line\nfeed \xC3\xA9.wav")), {s("Red\n6")}));

        const FinderTagSync::Scan scan =
            FinderTagSync::scan({QUrl::fromLocalFile(root + s("/./"))});
        const QHash<QString, FinderTagSet> expected{
            {root, red},
            {root + s("/a.wav"), {FinderTag::Red, FinderTag::Green}},
            {root + s("/Drums"), {FinderTag::Purple}},
            {root + s("/Drums/Kicks/k1.wav"), {FinderTag::Blue}},
            {root + s("/.hidden/h.wav"), {FinderTag::Gray}},
            {root + s("/samba.wav"), {FinderTag::Yellow}},
            {root + s("/line\nfeed \xC3\xA9.wav"), red},
        };
        QCOMPARE(scan.perItem, expected);
    }

    void scanDoesNotFollowLinkedFolders()
    {
        const QString root = path(s("Lib"));
        QVERIFY(setPythonPlist(file(s("Elsewhere/e.wav")), {s("Red\n6")}));
        QVERIFY(setPythonPlist(file(s("Lib/l.wav")), {s("Red\n6")}));
        QVERIFY(QFile::link(path(s("Elsewhere")), path(s("Lib/Linked"))));
        QVERIFY(QFile::link(path(s("Lib")), path(s("Lib/Loop"))));

        const FinderTagSync::Scan scan = FinderTagSync::scan({QUrl::fromLocalFile(root)});
        QCOMPARE(scan.perItem.keys(), QStringList{root + s("/l.wav")});
    }

    void scanOfSeveralAndMissingRoots()
    {
        QVERIFY(setPythonPlist(file(s("A/a.wav")), {s("Red\n6")}));
        QVERIFY(setPythonPlist(file(s("B/b.wav")), {s("Blue\n4")}));
        const FinderTagSync::Scan scan = FinderTagSync::scan(
            {QUrl::fromLocalFile(path(s("A"))), QUrl::fromLocalFile(path(s("Gone"))),
             QUrl::fromLocalFile(path(s("B"))), QUrl::fromLocalFile(path(s("A/a.wav")))});
        QCOMPARE(scan.perItem.size(), 2);
        QCOMPARE(scan.perItem.value(path(s("B/b.wav"))), FinderTagSet{FinderTag::Blue});
        QVERIFY(FinderTagSync::scan({}).perItem.isEmpty());
    }

    void cancelledScanStopsEarly()
    {
        const QString root = path(s("Lib"));
        QVERIFY(setPythonPlist(file(s("Lib/f0.wav")), {s("Red\n6")}));
        const QByteArray value = rawAttribute(path(s("Lib/f0.wav"))).value_or(QByteArray());
        for (int i = 1; i < 2000; ++i)
            QVERIFY(
                setRawAttribute(file(QStringLiteral("Lib/f%1.wav").arg(i)), tagAttribute, value));
        QVERIFY(setRawAttribute(root, tagAttribute, value));
        QCOMPARE(FinderTagSync::scan({QUrl::fromLocalFile(root)}).perItem.size(), 2001);

        auto flag = std::make_shared<CancelFlag>();
        flag->cancel();
        const FinderTagSync::Scan scan = FinderTagSync::scan({QUrl::fromLocalFile(root)}, {}, flag);
        QVERIFY(scan.perItem.size() <= 1);
    }

    void exportItems_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<FinderTagSet>("colours");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("allowDefaultNames");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<qint64>("written");
        QTest::addColumn<FinderTagSet>("skipped");

        const QStringList none;
        const QStringList german{s(""),     s("Rot"),  s("Orange"), s("Gelb"), s("Gr\xC3\xBCn"),
                                 s("Blau"), s("Lila"), s("Grau")};
        QTest::newRow("red and blue onto Rot")
            << QStringList{s("Rot\n6")} << redBlue << none << true
            << QStringList{s("Rot\n6"), s("Blue\n4")} << qint64(1) << FinderTagSet();
        QTest::newRow("user's names") << QStringList() << red << german << false
                                      << QStringList{s("Rot\n6")} << qint64(1) << FinderTagSet();
        QTest::newRow("no names, not English")
            << QStringList() << redBlue << none << false << QStringList() << qint64(0) << redBlue;
        QTest::newRow("no names, English")
            << QStringList() << redBlue << none << true << QStringList{s("Red\n6"), s("Blue\n4")}
            << qint64(1) << FinderTagSet();
        QTest::newRow("other tags survive in order")
            << QStringList{s("Work"), s("Gr\xC3\xBCn\n2"), s("Later")} << red << german << false
            << QStringList{s("Work"), s("Gr\xC3\xBCn\n2"), s("Later"), s("Rot\n6")} << qint64(1)
            << FinderTagSet();
        QTest::newRow("already there")
            << QStringList{s("Blue\n4"), s("Anything\n6")} << redBlue << german << false
            << QStringList{s("Blue\n4"), s("Anything\n6")} << qint64(1) << FinderTagSet();
        QStringList partial = german;
        partial[5] = QString();
        QTest::newRow("blue without a name")
            << QStringList() << redBlue << partial << false << QStringList{s("Rot\n6")} << qint64(1)
            << FinderTagSet{FinderTag::Blue};
        QTest::newRow("unparsable attribute is replaced")
            << QStringList{s("<garbage>")} << red << none << true << QStringList{s("Red\n6")}
            << qint64(1) << FinderTagSet();
        QTest::newRow("all seven")
            << QStringList() << FinderTagSet(FinderTags::all.begin(), FinderTags::all.end())
            << german << false
            << QStringList{s("Rot\n6"),  s("Orange\n7"), s("Gelb\n5"), s("Gr\xC3\xBCn\n2"),
                           s("Blau\n4"), s("Lila\n3"),   s("Grau\n1")}
            << qint64(1) << FinderTagSet();
    }
    void exportItems()
    {
        QFETCH(QStringList, before);
        QFETCH(FinderTagSet, colours);
        QFETCH(QStringList, names);
        QFETCH(bool, allowDefaultNames);
        QFETCH(QStringList, after);
        QFETCH(qint64, written);
        QFETCH(FinderTagSet, skipped);

        const QString target = file(s("item.wav"));
        if (before == QStringList{s("<garbage>")})
            QVERIFY(setRawAttribute(target, tagAttribute, "garbage"));
        else if (!before.isEmpty())
            QVERIFY(setPythonPlist(target, before));
        const std::optional<QByteArray> original = rawAttribute(target);

        const FinderTagSync::ExportResult result = FinderTagSync::exportItems(
            {{QUrl::fromLocalFile(target), colours}},
            FinderTagsIO::tagNameMap(names.isEmpty() ? std::nullopt : std::optional(names)),
            allowDefaultNames);
        QCOMPARE(result.filesWritten, written);
        QCOMPARE(result.filesFailed, 0);
        QCOMPARE(result.skippedColors, skipped);
        if (after.isEmpty())
            QCOMPARE(rawAttribute(target), std::nullopt);
        else if (after == before)
            QCOMPARE(rawAttribute(target), original); // not rewritten
        else
            QCOMPARE(pythonStrings(target), std::optional<QStringList>(after));
    }

    void exportCountsItemsNotColours()
    {
        const QString a = file(s("a.wav"));
        const QString folder = path(s("Folder"));
        QVERIFY(QDir().mkpath(folder));
        const QString readOnly = file(s("ro.wav"));
        const QHash<QUrl, FinderTagSet> items{
            {QUrl::fromLocalFile(a), redBlue},
            {QUrl::fromLocalFile(folder), {FinderTag::Green}},
            {QUrl::fromLocalFile(path(s("vanished.wav"))), redBlue},
            {QUrl::fromLocalFile(QStringLiteral("/proc/self/status")), redBlue},
        };
        FinderTagSync::ExportResult result = FinderTagSync::exportItems(items, {}, true);
        QCOMPARE(result.filesWritten, 2);
        QCOMPARE(result.filesFailed, 1); // two failed colours, one item
        QVERIFY(!QFileInfo::exists(path(s("vanished.wav"))));
        QCOMPARE(pythonStrings(folder), std::optional<QStringList>(QStringList{s("Green\n2")}));

        Unwritable guard(readOnly);
        if (!guard.ok())
            QSKIP("cannot make a file refuse attribute writes here (root without chattr)");
        result = FinderTagSync::exportItems({{QUrl::fromLocalFile(readOnly), redBlue}}, {}, true);
        QCOMPARE(result.filesWritten, 0);
        QCOMPARE(result.filesFailed, 1);
    }

    void exportThenScanRoundTrip()
    {
        QHash<QUrl, FinderTagSet> items;
        for (int i = 0; i < 7; ++i) {
            const FinderTag tag = FinderTags::all[size_t(i)];
            items.insert(QUrl::fromLocalFile(file(QStringLiteral("Lib/%1.wav").arg(i))),
                         {tag, FinderTag::Gray});
        }
        QCOMPARE(FinderTagSync::exportItems(items, {}, true).filesWritten, 7);
        const FinderTagSync::Scan scan = FinderTagSync::scan({QUrl::fromLocalFile(path(s("Lib")))});
        QHash<QUrl, FinderTagSet> found;
        for (auto it = scan.perItem.cbegin(); it != scan.perItem.cend(); ++it)
            found.insert(QUrl::fromLocalFile(it.key()), it.value());
        QCOMPARE(found, items);
    }
};

QTEST_GUILESS_MAIN(TestFinderTagSync)
#include "tst_finder_tag_sync.moc"
