#include "DataRows.h"
#include "TagFixtures.h"
#include "TestSupport.h"

#include "tags/FinderTagSync.h"
#include "tags/FinderTagsIO.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TagFixtures;

namespace {
const FinderTagSet red{FinderTag::Red};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};
} // namespace

class TestFinderTagSync : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString file(const QString &relative) const
    {
        TestSupport::writeFile(path(relative), "data");
        return path(relative);
    }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }

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
        const QString root = path("Lib");
        QVERIFY(QDir().mkpath(root));
        QVERIFY(setPythonPlist(root, {"Red\n6"}));
        QVERIFY(setPythonPlist(file("Lib/a.wav"), {"Red\n6", "Work", "Green\n2"}));
        QVERIFY(setPythonPlist(file("Lib/Drums/Kicks/k1.wav"), {"Blau\n4"}));
        QVERIFY(setPythonPlist(file("Lib/.hidden/h.wav"), {"Grau\n1"}));
        QVERIFY(setPythonPlist(path("Lib/Drums"), {"Lila\n3"}));
        QVERIFY(setPythonPlist(file("Lib/plain.wav"), {"Work", "Later\n0"}));
        QVERIFY(setPythonPlist(file("Lib/bad.wav"), {"Red\nx", "Blue\n9"}));
        QVERIFY(setRawAttribute(file("Lib/garbage.wav"), tagAttribute, "not a plist"));
        file("Lib/Drums/none.wav");
        QVERIFY(setPythonPlist(file("Lib/samba.wav"), {"Gelb\n5"}, "binary", sambaAttribute,
                               QByteArray(1, '\0')));
        QVERIFY(setPythonPlist(file("Outside/o.wav"), {"Red\n6"}));
        QVERIFY(setPythonPlist(file("Lib/line\nfeed \xC3\xA9.wav"), {"Red\n6"}));
        // Freedesktop names count as the colour they name.
        QVERIFY(setRawAttribute(file("Lib/kde.wav"), xdgAttribute, "Live, orange,GRAY"));
        // Links are not followed.
        QVERIFY(setPythonPlist(file("Elsewhere/e.wav"), {"Red\n6"}));
        QVERIFY(QFile::link(path("Elsewhere"), path("Lib/Linked")));

        const FinderTagSync::Scan scan = FinderTagSync::scan(
            {QUrl::fromLocalFile(root + "/./"), url("Gone"), url("Lib/a.wav"), url("Outside")});
        QStringList found;
        for (auto it = scan.perItem.cbegin(); it != scan.perItem.cend(); ++it) {
            QStringList raw;
            for (FinderTag tag : FinderTags::sorted(it.value()))
                raw.append(QString::number(FinderTags::rawValue(tag)));
            found.append(QDir(m_dir->path()).relativeFilePath(it.key()) + ':' + raw.join(','));
        }
        found.sort();
        QCOMPARE(found, rowList("Lib/.hidden/h.wav:6|Lib/Drums/Kicks/k1.wav:4|Lib/Drums:5|"
                                "Lib/a.wav:0,3|Lib/kde.wav:1,6|Lib/line\nfeed \xC3\xA9.wav:0|"
                                "Lib/samba.wav:2|Lib:0|Outside/o.wav:0"));
        QCOMPARE(scan.names.mostFrequent(6), QStringLiteral("Red"));
        QVERIFY(FinderTagSync::scan({}).perItem.isEmpty());
    }

    void cancelledScanStopsEarly()
    {
        QVERIFY(setPythonPlist(file("Lib/f0.wav"), {"Red\n6"}));
        const QByteArray value = rawAttribute(path("Lib/f0.wav")).value_or(QByteArray());
        for (int i = 1; i < 2000; ++i)
            QVERIFY(
                setRawAttribute(file(QStringLiteral("Lib/f%1.wav").arg(i)), tagAttribute, value));
        QCOMPARE(FinderTagSync::scan({url("Lib")}).perItem.size(), 2000);
        auto flag = std::make_shared<CancelFlag>();
        flag->cancel();
        QVERIFY(FinderTagSync::scan({url("Lib")}, {}, flag).perItem.size() <= 1);
    }

    void exportItems_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<FinderTagSet>("colours");
        QTest::addColumn<bool>("userNames"); // else none: English only when allowed
        QTest::addColumn<bool>("allowDefaultNames");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<FinderTagSet>("skipped");
        const QStringList none;
        QTest::newRow("red and blue onto Rot")
            << QStringList{"Rot\n6"} << redBlue << false << true << QStringList{"Rot\n6", "Blue\n4"}
            << FinderTagSet();
        QTest::newRow("user's names")
            << none << red << true << false << QStringList{"Rot\n6"} << FinderTagSet();
        QTest::newRow("no names, not English")
            << none << redBlue << false << false << none << redBlue;
        QTest::newRow("other tags survive in order")
            << QStringList{"Work", "Gr\xC3\xBCn\n2", "Later"} << red << true << false
            << QStringList{"Work", "Gr\xC3\xBCn\n2", "Later", "Rot\n6"} << FinderTagSet();
        QTest::newRow("already there, not rewritten")
            << QStringList{"Blue\n4", "Anything\n6"} << redBlue << true << false
            << QStringList{"Blue\n4", "Anything\n6"} << FinderTagSet();
        QTest::newRow("unparsable attribute is replaced")
            << QStringList{"<garbage>"} << red << false << true << QStringList{"Red\n6"}
            << FinderTagSet();
        QTest::newRow("all seven, each with its own index")
            << none << FinderTagSet(FinderTags::all.begin(), FinderTags::all.end()) << true << false
            << QStringList{"Rot\n6",  "Orange\n7", "Gelb\n5", "Gr\xC3\xBCn\n2",
                           "Blau\n4", "Lila\n3",   "Grau\n1"}
            << FinderTagSet();
    }
    void exportItems()
    {
        QFETCH(QStringList, before);
        QFETCH(FinderTagSet, colours);
        QFETCH(bool, userNames);
        QFETCH(bool, allowDefaultNames);
        QFETCH(QStringList, after);
        QFETCH(FinderTagSet, skipped);
        const QString target = file("item.wav");
        if (before == QStringList{"<garbage>"})
            QVERIFY(setRawAttribute(target, tagAttribute, "garbage"));
        else if (!before.isEmpty())
            QVERIFY(setPythonPlist(target, before));
        const std::optional<QByteArray> original = rawAttribute(target);
        const QStringList german{"",     "Rot",  "Orange", "Gelb", "Gr\xC3\xBCn",
                                 "Blau", "Lila", "Grau"};
        const FinderTagSync::ExportResult result = FinderTagSync::exportItems(
            {{QUrl::fromLocalFile(target), colours}},
            FinderTagsIO::tagNameMap(userNames ? std::optional(german) : std::nullopt),
            allowDefaultNames);
        QCOMPARE(result.filesWritten, after.isEmpty() ? 0 : 1);
        QCOMPARE(result.filesFailed, 0);
        QCOMPARE(result.skippedColors, skipped);
        if (after.isEmpty())
            QCOMPARE(rawAttribute(target), std::nullopt);
        else if (after == before)
            QCOMPARE(rawAttribute(target), original);
        else
            QCOMPARE(pythonStrings(target), std::optional<QStringList>(after));
    }

    void exportCountsItemsNotColours()
    {
        const QString folder = path("Folder");
        QVERIFY(QDir().mkpath(folder));
        const QHash<QUrl, FinderTagSet> items{
            {QUrl::fromLocalFile(file("a.wav")), redBlue},
            {QUrl::fromLocalFile(folder), {FinderTag::Green}},
            {url("vanished.wav"), redBlue},
            {QUrl::fromLocalFile("/proc/self/status"), redBlue},
        };
        FinderTagSync::ExportResult result = FinderTagSync::exportItems(items, {}, true);
        QCOMPARE(result.filesWritten, 2);
        QCOMPARE(result.filesFailed, 1); // two failed colours, one item
        QVERIFY(!QFileInfo::exists(path("vanished.wav")));
        QCOMPARE(pythonStrings(folder), std::optional<QStringList>(QStringList{"Green\n2"}));

        const QString readOnly = file("ro.wav");
        Unwritable guard(readOnly);
        if (!guard.ok())
            QSKIP("cannot make a file refuse attribute writes here (root without chattr)");
        result = FinderTagSync::exportItems({{QUrl::fromLocalFile(readOnly), redBlue}}, {}, true);
        QCOMPARE(result.filesWritten, 0);
        QCOMPARE(result.filesFailed, 1);
    }
};

QTEST_GUILESS_MAIN(TestFinderTagSync)
#include "tst_finder_tag_sync.moc"
