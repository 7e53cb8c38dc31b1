#include "TagTestSupport.h"
#include "TestSupport.h"

#include "platform/Preferences.h"
#include "tags/FinderTag.h"
#include "tags/FinderTagsIO.h"
#include "tags/TagNameLearner.h"
#include "tags/XdgTags.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TagTestSupport;
using FinderTagsIO::Entry;
using NameMap = QMap<qint64, QString>;

namespace {
const QString lf = QStringLiteral("\n");

QString s(const char *text)
{
    return QString::fromUtf8(text);
}
} // namespace

class TestFinderTagsIO : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_shmFolder; // a tmpfs folder for attributes beyond the 4 KiB of ext4, if any
    int m_counter = 0;

    QString newFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.wav").arg(++m_counter));
        TestSupport::writeFile(path, "RIFF");
        return path;
    }
    QUrl url(const QString &path) { return QUrl::fromLocalFile(path); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!userAttributesWork(m_dir.path()))
            QSKIP("the temporary folder's file system has no user attributes");
        QVERIFY2(TestSupport::haveTool(QStringLiteral("python3")), "python3 is needed");
    }

    void readsWhatPythonWrites_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("strings");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("coloured and plain") << s("binary") << QStringList{s("Red\n6"), s("Work")}
                                            << QStringList{s("Red\t6"), s("Work\t0")};
        QTest::newRow("xml format") << s("xml") << QStringList{s("Red\n6"), s("Work")}
                                    << QStringList{s("Red\t6"), s("Work\t0")};
        QTest::newRow("word after line feed")
            << s("binary") << QStringList{s("Mix\nfoo")} << QStringList{s("Mix\\nfoo\t0")};
        QTest::newRow("index above 7")
            << s("binary") << QStringList{s("Mix\n8")} << QStringList{s("Mix\\n8\t0")};
        QTest::newRow("negative index")
            << s("binary") << QStringList{s("Mix\n-1")} << QStringList{s("Mix\\n-1\t0")};
        QTest::newRow("nothing after line feed")
            << s("binary") << QStringList{s("Mix\n")} << QStringList{s("Mix\\n\t0")};
        QTest::newRow("several line feeds")
            << s("binary") << QStringList{s("A\nB\n3")} << QStringList{s("A\\nB\\n3\t0")};
        QTest::newRow("space before digit")
            << s("binary") << QStringList{s("A\n 3")} << QStringList{s("A\\n 3\t0")};
        QTest::newRow("huge number") << s("binary") << QStringList{s("A\n99999999999999999999")}
                                     << QStringList{s("A\\n99999999999999999999\t0")};
        QTest::newRow("explicit plus sign")
            << s("binary") << QStringList{s("A\n+3")} << QStringList{s("A\t3")};
        QTest::newRow("explicit zero")
            << s("binary") << QStringList{s("A\n0")} << QStringList{s("A\t0")};
        QTest::newRow("empty name with colour")
            << s("binary") << QStringList{s("\n2")} << QStringList{s("\t2")};
        QTest::newRow("unicode names")
            << s("binary") << QStringList{s("Rot \xF0\x9F\x8D\x8E\n6"), s("Gr\xC3\xBCn\n2")}
            << QStringList{s("Rot \xF0\x9F\x8D\x8E\t6"), s("Gr\xC3\xBCn\t2")};
        QTest::newRow("empty list") << s("binary") << QStringList{} << QStringList{};
        QTest::newRow("order kept")
            << s("binary") << QStringList{s("Z\n1"), s("A\n7"), s("M"), s("B\n4")}
            << QStringList{s("Z\t1"), s("A\t7"), s("M\t0"), s("B\t4")};
    }
    void readsWhatPythonWrites()
    {
        QFETCH(QString, format);
        QFETCH(QStringList, strings);
        QFETCH(QStringList, expected);
        const QString path = newFile();
        QVERIFY(setPythonPlist(path, strings, format));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), expected);
    }

    // Every problem with the attribute's value reads as no tags.
    void malformedValuesReadAsNothing_data()
    {
        QTest::addColumn<QByteArray>("value");

        QTest::newRow("not a plist") << QByteArray("Red\n6");
        QTest::newRow("bplist header only") << QByteArray("bplist00");
        QTest::newRow("truncated") << handMadePlist("\xA1\x01\x53Red", {0, 2}, 0).chopped(5);
        QTest::newRow("root is a string") << handMadePlist("\x53Red", {0}, 0);
        QTest::newRow("root is a dictionary")
            << handMadePlist(QByteArray("\xD1\x01\x02\x51k\x51v", 7), {0, 3, 5}, 0);
        QTest::newRow("integer element")
            << handMadePlist("\xA2\x01\x02\x53Red\x10\x06", {0, 3, 7}, 0);
        QTest::newRow("nested array") << handMadePlist("\xA2\x01\x02\x53Red\xA0", {0, 3, 7}, 0);
        QTest::newRow("array contains itself") << handMadePlist(QByteArray("\xA1\x00", 2), {0}, 0);
        QTest::newRow("reference out of range") << handMadePlist("\xA1\x05", {0}, 0);
        QTest::newRow("top object out of range") << handMadePlist("\xA1\x01\x53Red", {0, 2}, 9);
        QTest::newRow("array claims 2^40 elements")
            << handMadePlist(QByteArray("\xAF\x13\x00\x00\x01\x00\x00\x00\x00\x00", 10), {0}, 0);
        QTest::newRow("string longer than the file") << handMadePlist(
            QByteArray("\xA1\x01\x5F\x13\x00\x00\x00\x00\x7F\xFF\xFF\xFF", 12), {0, 2}, 0);
        QTest::newRow("xml with a number") << QByteArray(
            "<?xml version=\"1.0\"?><plist><array><integer>6</integer></array></plist>");
        QTest::newRow("xml not closed") << QByteArray("<plist><array><string>Red");
        QTest::newRow("random bytes") << QByteArray(3000, '\xA5');
        QTest::newRow("one NUL byte") << QByteArray(1, '\0');
    }
    void malformedValuesReadAsNothing()
    {
        QFETCH(QByteArray, value);
        const QString path = newFile();
        QVERIFY(setRawAttribute(path, tagAttribute, value));
        QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
        QCOMPARE(FinderTagsIO::decodeEntries(value), QList<Entry>());
    }

    void emptyAttributeReadsAsNothing()
    {
        const QString path = newFile();
        QVERIFY(setRawAttribute(path, tagAttribute, QByteArray()));
        QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
    }

    void otherCarriersAreReadWhenOursIsAbsent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("suffix");
        QTest::addColumn<bool>("alsoOurs");
        QTest::addColumn<QStringList>("expected");

        const QString samba = QString::fromUtf8(FinderTagsIO::sambaAttributeName);
        const QString mapped = QString::fromUtf8(FinderTagsIO::sambaMappedAttributeName);
        QTest::newRow("samba stream with NUL")
            << samba << QByteArray(1, '\0') << false << QStringList{s("Blue\t4")};
        QTest::newRow("samba stream without NUL")
            << samba << QByteArray() << false << QStringList{s("Blue\t4")};
        QTest::newRow("samba mapped colon")
            << mapped << QByteArray(1, '\0') << false << QStringList{s("Blue\t4")};
        QTest::newRow("ours wins over samba")
            << samba << QByteArray(1, '\0') << true << QStringList{s("Ours\t6")};
    }
    void otherCarriersAreReadWhenOursIsAbsent()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, suffix);
        QFETCH(bool, alsoOurs);
        QFETCH(QStringList, expected);
        const QString path = newFile();
        QVERIFY(setPythonPlist(path, {s("Blue\n4")}, s("binary"), name, suffix));
        if (alsoOurs)
            QVERIFY(setPythonPlist(path, {s("Ours\n6")}));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), expected);
    }

    // A malformed attribute of ours is still ours: the other carriers are not consulted.
    void malformedOursHidesOtherCarriers()
    {
        const QString path = newFile();
        QVERIFY(setPythonPlist(path, {s("Blue\n4")}, s("binary"),
                               QString::fromUtf8(FinderTagsIO::sambaAttributeName)));
        QVERIFY(setRawAttribute(path, tagAttribute, "garbage"));
        QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
    }

    void pythonReadsWhatWeWrite_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("coloured and plain")
            << QList<Entry>{{s("Red"), 6}, {s("Work"), 0}} << QStringList{s("Red\n6"), s("Work")};
        QTest::newRow("negative index is no colour")
            << QList<Entry>{{s("Odd"), -3}} << QStringList{s("Odd")};
        QTest::newRow("index written as given")
            << QList<Entry>{{s("Nine"), 9}} << QStringList{s("Nine\n9")};
        QTest::newRow("unicode") << QList<Entry>{{s("\xE8\xB5\xA4"), 6}, {s("Gr\xC3\xBCn"), 2}}
                                 << QStringList{s("\xE8\xB5\xA4\n6"), s("Gr\xC3\xBCn\n2")};
        QTest::newRow("name with line feed")
            << QList<Entry>{{s("Two\nlines"), 3}} << QStringList{s("Two\nlines\n3")};
        QTest::newRow("same name twice")
            << QList<Entry>{{s("A"), 1}, {s("A"), 1}} << QStringList{s("A\n1"), s("A\n1")};
        QStringList many;
        QList<Entry> manyEntries;
        for (int i = 0; i < 200; ++i) {
            manyEntries.append({QStringLiteral("tag%1").arg(i), i % 8});
            many.append(i % 8 ? QStringLiteral("tag%1\n%2").arg(i).arg(i % 8)
                              : QStringLiteral("tag%1").arg(i));
        }
        QTest::newRow("200 entries") << manyEntries << many;
    }
    void pythonReadsWhatWeWrite()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(QStringList, expected);
        const QString path = newFile();
        QVERIFY(FinderTagsIO::writeEntries(entries, url(path)));
        QCOMPARE(pythonStrings(path), std::optional<QStringList>(expected));
    }

    void writeReplacesAndRemoves()
    {
        const QString path = newFile();
        QVERIFY(FinderTagsIO::writeEntries({{s("Red"), 6}, {s("Work"), 0}}, url(path)));
        QVERIFY(FinderTagsIO::writeEntries({{s("Blue"), 4}}, url(path)));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), QStringList{s("Blue\t4")});
        QVERIFY(FinderTagsIO::writeEntries({}, url(path)));
        QCOMPARE(rawAttribute(path), std::nullopt);
        // Removing what is not there succeeds.
        QVERIFY(FinderTagsIO::writeEntries({}, url(path)));
    }

    void largeAttributes_data()
    {
        QTest::addColumn<int>("nameLength");
        QTest::newRow("2 KiB name") << 2000;
        QTest::newRow("60 KiB name") << 60000;
        QTest::newRow("65,500-byte name") << 65500;
    }
    void largeAttributes()
    {
        QFETCH(int, nameLength);
        // ext4 keeps attributes within one block; tmpfs takes the kernel's 64 KiB maximum.
        QString folder = m_dir.path();
        if (nameLength > 3000) {
            if (!QFileInfo(QStringLiteral("/dev/shm")).isWritable() ||
                !userAttributesWork(QStringLiteral("/dev/shm")))
                QSKIP("no tmpfs with user attributes for values beyond 4 KiB");
            folder = QStringLiteral("/dev/shm");
        }
        QTemporaryDir dir(folder + QStringLiteral("/tags-XXXXXX"));
        const QString path = dir.filePath(QStringLiteral("big.wav"));
        QVERIFY(TestSupport::writeFile(path));
        const QString name(nameLength, QLatin1Char('x'));
        const bool fits = nameLength < 65500; // the plist's own bytes push it past 64 KiB
        QCOMPARE(FinderTagsIO::writeEntries({{name, 2}}, url(path)), fits);
        if (!fits) {
            // The kernel refuses it; whatever Python manages to store must still read safely.
            QVERIFY(!setPythonPlist(path, {name + s("\n2")}));
            QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
            return;
        }
        QCOMPARE(FinderTagsIO::readEntries(url(path)), (QList<Entry>{{name, 2}}));
        QCOMPARE(pythonStrings(path), std::optional<QStringList>(QStringList{name + s("\n2")}));
    }

    void manyAttributesOnOneFile()
    {
        // The name listing outgrows its first buffer.
        const QString path = newFile();
        for (int i = 0; i < 60; ++i)
            QVERIFY(setRawAttribute(path, QStringLiteral("user.other.attribute.%1").arg(i), "v"));
        QVERIFY(setPythonPlist(path, {s("Green\n2")}));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), QStringList{s("Green\t2")});
    }

    void missingAndUnsupportedFiles()
    {
        const QUrl missing = url(m_dir.filePath(QStringLiteral("gone.wav")));
        QCOMPARE(FinderTagsIO::readEntries(missing), QList<Entry>());
        QVERIFY(!FinderTagsIO::writeEntries({{s("Red"), 6}}, missing));
        QVERIFY(!FinderTagsIO::writeEntries({}, missing));

        QVERIFY(!FinderTagsIO::writeEntries({{s("Red"), 6}}, QUrl(s("https://example.com/a"))));
        QCOMPARE(FinderTagsIO::readEntries(QUrl()), QList<Entry>());

        // /proc has no user attributes at all: reads find nothing, every write fails.
        const QUrl proc = url(QStringLiteral("/proc/self/status"));
        QCOMPARE(FinderTagsIO::readEntries(proc), QList<Entry>());
        QVERIFY(!FinderTagsIO::writeEntries({{s("Red"), 6}}, proc));
        QVERIFY(!FinderTagsIO::writeEntries({}, proc));
    }

    void readOnlyFileRefusesWrites()
    {
        const QString path = newFile();
        QVERIFY(setPythonPlist(path, {s("Work")}));
        Unwritable guard(path);
        if (!guard.ok())
            QSKIP("cannot make a file refuse attribute writes here (root without chattr)");
        QVERIFY(!FinderTagsIO::writeEntries({{s("Red"), 6}}, url(path)));
        QVERIFY(!FinderTagsIO::writeEntries({}, url(path)));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), QStringList{s("Work\t0")});
    }

    void symbolicLinksAreFollowed()
    {
        const QString target = newFile();
        const QString link = m_dir.filePath(QStringLiteral("link.wav"));
        QVERIFY(QFile::link(target, link));
        QVERIFY(FinderTagsIO::writeEntries({{s("Purple"), 3}}, url(link)));
        QCOMPARE(pythonStrings(target), std::optional<QStringList>(QStringList{s("Purple\n3")}));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(link))), QStringList{s("Purple\t3")});

        const QString dangling = m_dir.filePath(QStringLiteral("dangling.wav"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), dangling));
        QCOMPARE(FinderTagsIO::readEntries(url(dangling)), QList<Entry>());
        QVERIFY(!FinderTagsIO::writeEntries({{s("Red"), 6}}, url(dangling)));
    }

    void foldersCarryTagsToo()
    {
        const QString folder = m_dir.filePath(QStringLiteral("Kicks"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(FinderTagsIO::writeEntries({{s("Orange"), 7}}, url(folder)));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(folder + s("/")))),
                 QStringList{s("Orange\t7")});
    }

    void tagNameMap_data()
    {
        QTest::addColumn<std::optional<QStringList>>("names");
        QTest::addColumn<NameMap>("expected");

        QTest::newRow("absent") << std::optional<QStringList>() << NameMap();
        QTest::newRow("seven names")
            << std::optional<QStringList>(QStringList(7, s("n"))) << NameMap();
        QStringList german{s(""),     s("Rot"),  s("Orange"), s(""), s("Gr\xC3\xBCn"),
                           s("Blau"), s("Lila"), s("Grau")};
        QTest::newRow("eight, yellow empty")
            << std::optional<QStringList>(german)
            << NameMap{{6, s("Rot")},  {7, s("Orange")}, {2, s("Gr\xC3\xBCn")},
                       {4, s("Blau")}, {3, s("Lila")},   {1, s("Grau")}};
        QStringList nine = german;
        nine[3] = s("Gelb");
        nine.append(s("Extra"));
        QTest::newRow("nine names")
            << std::optional<QStringList>(nine)
            << NameMap{{6, s("Rot")},  {7, s("Orange")}, {5, s("Gelb")}, {2, s("Gr\xC3\xBCn")},
                       {4, s("Blau")}, {3, s("Lila")},   {1, s("Grau")}};
    }
    void tagNameMap()
    {
        QFETCH(std::optional<QStringList>, names);
        QFETCH(NameMap, expected);
        QCOMPARE(FinderTagsIO::tagNameMap(names), expected);
    }

    // `before` and `after` are the raw freedesktop list; absent when null.
    void xdgTagsMerge_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("read");

        QTest::newRow("no attribute")
            << QByteArray() << QStringList{s("Rot")} << QByteArray("Rot") << QStringList{s("Rot")};
        QTest::newRow("empty attribute") << QByteArray("") << QStringList{s("Rot")}
                                         << QByteArray("Rot") << QStringList{s("Rot")};
        QTest::newRow("existing names kept")
            << QByteArray("Work,Live") << QStringList{s("Rot"), s("Blau")}
            << QByteArray("Work,Live,Rot,Blau")
            << QStringList{s("Work"), s("Live"), s("Rot"), s("Blau")};
        QTest::newRow("case-insensitive duplicate")
            << QByteArray("ROT,gr\xC3\x9cn") << QStringList{s("rot"), s("Gr\xC3\xBCn")}
            << QByteArray("ROT,gr\xC3\x9cn") << QStringList{s("ROT"), s("gr\xC3\x9cn")};
        QTest::newRow("spaces after commas, empty parts")
            << QByteArray(" Work, Live ,, ") << QStringList{s("live"), s("Rot")}
            << QByteArray("Work,Live,Rot") << QStringList{s("Work"), s("Live"), s("Rot")};
        QTest::newRow("name with a comma left out")
            << QByteArray() << QStringList{s("Rot, dunkel"), s("Blau")} << QByteArray("Blau")
            << QStringList{s("Blau")};
        QTest::newRow("nothing to add")
            << QByteArray() << QStringList{s("a,b"), s(" ")} << QByteArray() << QStringList();
        QTest::newRow("not UTF-8, left alone") << QByteArray("Work,\xFF") << QStringList{s("Rot")}
                                               << QByteArray("Work,\xFF") << QStringList();
    }
    void xdgTagsMerge()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, added);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, read);
        const QString file = newFile();
        const QString xdg = QString::fromLatin1(XdgTags::attributeName);
        if (!before.isNull())
            QVERIFY(setRawAttribute(file, xdg, before));
        QVERIFY(FinderTagsIO::addXdgTags(added, url(file)));
        QCOMPARE(rawAttribute(file, xdg), after.isNull() ? std::nullopt : std::optional(after));
        QCOMPARE(FinderTagsIO::readXdgTags(url(file)), read);
    }

    // Each file is a list of "name\nindex" strings, split at the last line feed so that names
    // may hold one; `stored` and `learnt` name red, blue and gray (empty: no list at all).
    void learntTagNames_data()
    {
        QTest::addColumn<QList<QStringList>>("files");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("learnt");
        const QStringList none;
        QTest::newRow("nothing seen")
            << QList<QStringList>{{s("Work\n0"), s("\n6")}} << none << none;
        QTest::newRow("one file") << QList<QStringList>{{s("Rot\n6"), s("Work\n0"), s("Blau\n4")}}
                                  << none << QStringList{s("Rot"), s("Blau"), s("")};
        QTest::newRow("most often wins")
            << QList<QStringList>{{s("Red\n6")}, {s("Rot\n6")}, {s("Rot\n6"), s("Grau\n1")}} << none
            << QStringList{s("Rot"), s(""), s("Grau")};
        QTest::newRow("tie goes to the first seen")
            << QList<QStringList>{{s("Rouge\n6")}, {s("Rot\n6")}, {s("Rot\n6")}, {s("Rouge\n6")}}
            << none << QStringList{s("Rouge"), s(""), s("")};
        QTest::newRow("empty names and line feeds are no names")
            << QList<QStringList>{{s("\n6")}, {s("\n6")}, {s("Ro\nt\n6")}, {s("Rot\n6")}} << none
            << QStringList{s("Rot"), s(""), s("")};
        QTest::newRow("unseen colours keep their names")
            << QList<QStringList>{{s("Rosso\n6")}} << QStringList{s("Rot"), s("Blau"), s("")}
            << QStringList{s("Rosso"), s("Blau"), s("")};
    }
    void learntTagNames()
    {
        QFETCH(QList<QStringList>, files);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, learnt);
        const auto list = [](const QStringList &n) -> std::optional<QStringList> {
            if (n.isEmpty())
                return std::nullopt;
            return QStringList{{}, n[0], {}, {}, {}, n[1], {}, n[2]};
        };
        const QString prefsPath = m_dir.filePath(QStringLiteral("prefs%1.plist").arg(++m_counter));
        {
            Preferences defaults(prefsPath);
            if (!stored.isEmpty())
                defaults.setObject(*list(stored),
                                   QString::fromLatin1(FinderTagsIO::favoriteTagNamesKey));
            TagNameLearner learner;
            for (const QStringList &file : files) {
                QList<Entry> entries;
                for (const QString &string : file) {
                    const qsizetype lf = string.lastIndexOf(QLatin1Char('\n'));
                    entries.append({string.left(lf), string.mid(lf + 1).toLongLong()});
                }
                learner.record(entries);
            }
            learner.storeInto(defaults);
        }
        QCOMPARE(FinderTagsIO::favoriteTagNames(Preferences(prefsPath)), list(learnt));
    }
};

QTEST_GUILESS_MAIN(TestFinderTagsIO)
#include "tst_finder_tags_io.moc"
