#include "DataRows.h"
#include "TagFixtures.h"
#include "TestSupport.h"

#include "platform/Preferences.h"
#include "tags/FinderTagsIO.h"
#include "tags/TagNameLearner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TagFixtures;
using FinderTagsIO::Entry;

namespace {
// "name\tindex" per entry, line feeds shown as \n: readable in a failed comparison.
QStringList describe(const QList<Entry> &entries)
{
    QStringList lines;
    for (const Entry &entry : entries)
        lines.append(QString(entry.name).replace('\n', "\\n") + '\t' +
                     QString::number(entry.colorIndex));
    return lines;
}
} // namespace

class TestFinderTagsIO : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_counter = 0;

    QString newFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.wav").arg(++m_counter));
        TestSupport::writeFile(path, "RIFF");
        return path;
    }
    static QUrl url(const QString &path) { return QUrl::fromLocalFile(path); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!userAttributesWork(m_dir.path()))
            QSKIP("the temporary folder's file system has no user attributes");
    }

    // `carrier` names the attribute Python writes; a second row part adds our own over it.
    void readsWhatPythonWrites_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("carrier");
        QTest::addColumn<QStringList>("strings");
        QTest::addColumn<QStringList>("expected");
        const QString bin = "binary", ours = tagAttribute;
        QTest::newRow("coloured and plain, order kept")
            << bin << ours << rowList("Z\n1|Red\n6|Work|B\n4")
            << rowList("Z\t1|Red\t6|Work\t0|B\t4");
        QTest::newRow("xml format")
            << "xml" << ours << rowList("Red\n6|Work") << rowList("Red\t6|Work\t0");
        QTest::newRow("only a number from 0 to 7 after the last line feed is a colour")
            << bin << ours
            << rowList("M\nfoo|M\n8|M\n-1|M\n|A\nB\n3|A\n 3|A\n99999999999999999999|A\n+3|A\n0|\n2")
            << rowList("M\\nfoo\t0|M\\n8\t0|M\\n-1\t0|M\\n\t0|A\\nB\\n3\t0|A\\n 3\t0|"
                       "A\\n99999999999999999999\t0|A\t3|A\t0|\t2");
        QTest::newRow("unicode names")
            << bin << ours << rowList("Rot \xF0\x9F\x8D\x8E\n6|Gr\xC3\xBCn\n2")
            << rowList("Rot \xF0\x9F\x8D\x8E\t6|Gr\xC3\xBCn\t2");
        QTest::newRow("empty list") << bin << ours << QStringList() << QStringList();
        QTest::newRow("samba stream")
            << bin << sambaAttribute << rowList("Blue\n4") << rowList("Blue\t4");
        QTest::newRow("samba mapped colon")
            << bin << QString(sambaAttribute).replace(33, 1, QChar(0xF022)) << rowList("Blue\n4")
            << rowList("Blue\t4");
    }
    void readsWhatPythonWrites()
    {
        QFETCH(QString, format);
        QFETCH(QString, carrier);
        QFETCH(QStringList, strings);
        QFETCH(QStringList, expected);
        const QString path = newFile();
        const bool samba = carrier.startsWith("user.DosStream");
        // Samba's value carries one extra NUL, which the reader drops.
        QVERIFY(setPythonPlist(path, strings, format, carrier, samba ? QByteArray(1, '\0') : ""));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), expected);
        if (carrier == tagAttribute)
            return;
        // Ours, when present, wins over the other carriers, even when malformed.
        QVERIFY(setPythonPlist(path, {"Ours\n6"}));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), QStringList{"Ours\t6"});
        QVERIFY(setRawAttribute(path, tagAttribute, "garbage"));
        QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
    }

    // Every problem with the attribute's value reads as no tags.
    void malformedValuesReadAsNothing_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("empty") << QByteArray("");
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

    void pythonReadsWhatWeWrite_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("coloured and plain; negative index is no colour")
            << QList<Entry>{{"Red", 6}, {"Work", 0}, {"Odd", -3}, {"Nine", 9}}
            << QStringList{"Red\n6", "Work", "Odd", "Nine\n9"};
        QTest::newRow("unicode, line feeds, twice the same")
            << QList<Entry>{{"\xE8\xB5\xA4", 6}, {"Two\nlines", 3}, {"A", 1}, {"A", 1}}
            << QStringList{"\xE8\xB5\xA4\n6", "Two\nlines\n3", "A\n1", "A\n1"};
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
        QVERIFY(FinderTagsIO::writeEntries({{"Old", 2}}, url(path)));
        QVERIFY(FinderTagsIO::writeEntries(entries, url(path)));
        QCOMPARE(pythonStrings(path), std::optional<QStringList>(expected));
        QCOMPARE(FinderTagsIO::readEntries(url(path)).size(), entries.size());
        QVERIFY(FinderTagsIO::writeEntries({}, url(path)));
        QCOMPARE(rawAttribute(path), std::nullopt);
        QVERIFY(FinderTagsIO::writeEntries({}, url(path))); // removing what is not there
    }

    void largeAttributes_data()
    {
        QTest::addColumn<int>("nameLength");
        QTest::newRow("1,000-byte name on ext4") << 1000;
        QTest::newRow("60 KiB name on tmpfs") << 60000;
        QTest::newRow("65,500-byte name does not fit") << 65500;
    }
    void largeAttributes()
    {
        QFETCH(int, nameLength);
        // ext4 keeps attributes within one block; tmpfs takes the kernel's 64 KiB maximum.
        QString folder = m_dir.path();
        if (nameLength > 3000) {
            folder = QStringLiteral("/dev/shm");
            if (!QFileInfo(folder).isWritable() || !userAttributesWork(folder))
                QSKIP("no tmpfs with user attributes for values beyond 4 KiB");
        }
        QTemporaryDir dir(folder + QStringLiteral("/tags-XXXXXX"));
        const QString path = dir.filePath(QStringLiteral("big.wav"));
        QVERIFY(TestSupport::writeFile(path));
        // Many other attributes: the name listing outgrows its first buffer.
        for (int i = 0; i < 45; ++i)
            QVERIFY(setRawAttribute(path, QStringLiteral("user.other.attribute.%1").arg(i), "v"));
        const QString name(nameLength, QLatin1Char('x'));
        const bool fits = nameLength < 65500; // the plist's own bytes push it past 64 KiB
        QCOMPARE(FinderTagsIO::writeEntries({{name, 2}}, url(path)), fits);
        if (!fits) {
            // The kernel refuses it; whatever Python manages to store must still read safely.
            QVERIFY(!setPythonPlist(path, {name + "\n2"}));
            QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
            return;
        }
        QCOMPARE(FinderTagsIO::readEntries(url(path)), (QList<Entry>{{name, 2}}));
        QCOMPARE(pythonStrings(path), std::optional<QStringList>(QStringList{name + "\n2"}));
    }

    void filesThatCannotCarryTags()
    {
        const QUrl missing = url(m_dir.filePath(QStringLiteral("gone.wav")));
        const QString dangling = m_dir.filePath(QStringLiteral("dangling.wav"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("nowhere")), dangling));
        // /proc has no user attributes at all.
        for (const QUrl &target : {missing, url(dangling), url("/proc/self/status")}) {
            QCOMPARE(FinderTagsIO::readEntries(target), QList<Entry>());
            QVERIFY(!FinderTagsIO::writeEntries({{"Red", 6}}, target));
            QVERIFY(!FinderTagsIO::writeEntries({}, target));
        }
        QVERIFY(!FinderTagsIO::writeEntries({{"Red", 6}}, QUrl("https://example.com/a")));
        QCOMPARE(FinderTagsIO::readEntries(QUrl()), QList<Entry>());

        const QString path = newFile();
        QVERIFY(setPythonPlist(path, {"Work"}));
        Unwritable guard(path);
        if (!guard.ok())
            QSKIP("cannot make a file refuse attribute writes here (root without chattr)");
        QVERIFY(!FinderTagsIO::writeEntries({{"Red", 6}}, url(path)));
        QVERIFY(!FinderTagsIO::writeEntries({}, url(path)));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(path))), QStringList{"Work\t0"});
    }

    void linksAreFollowedAndFoldersCarryTags()
    {
        const QString target = newFile();
        const QString link = m_dir.filePath(QStringLiteral("link.wav"));
        QVERIFY(QFile::link(target, link));
        QVERIFY(FinderTagsIO::writeEntries({{"Purple", 3}}, url(link)));
        QCOMPARE(pythonStrings(target), std::optional<QStringList>(QStringList{"Purple\n3"}));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(link))), QStringList{"Purple\t3"});
        const QString folder = m_dir.filePath(QStringLiteral("Kicks"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(FinderTagsIO::writeEntries({{"Orange", 7}}, url(folder)));
        QCOMPARE(describe(FinderTagsIO::readEntries(url(folder + "/"))), QStringList{"Orange\t7"});
    }

    // `before` and `after` are the raw freedesktop list; absent when null.
    void xdgTagsMerge_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("read");
        QTest::newRow("no attribute")
            << QByteArray() << QStringList{"Rot"} << QByteArray("Rot") << QStringList{"Rot"};
        QTest::newRow("empty attribute")
            << QByteArray("") << QStringList{"Rot"} << QByteArray("Rot") << QStringList{"Rot"};
        QTest::newRow("existing names kept")
            << QByteArray("Work,Live") << QStringList{"Rot", "Blau"}
            << QByteArray("Work,Live,Rot,Blau") << QStringList{"Work", "Live", "Rot", "Blau"};
        QTest::newRow("case-insensitive duplicate")
            << QByteArray("ROT,gr\xC3\x9cn") << QStringList{"rot", "Gr\xC3\xBCn"}
            << QByteArray("ROT,gr\xC3\x9cn") << QStringList{"ROT", "gr\xC3\x9cn"};
        QTest::newRow("spaces after commas, empty parts")
            << QByteArray(" Work, Live ,, ") << QStringList{"live", "Rot"}
            << QByteArray("Work,Live,Rot") << QStringList{"Work", "Live", "Rot"};
        QTest::newRow("name with a comma left out")
            << QByteArray() << QStringList{"Rot, dunkel", "Blau"} << QByteArray("Blau")
            << QStringList{"Blau"};
        QTest::newRow("nothing to add")
            << QByteArray() << QStringList{"a,b", " "} << QByteArray() << QStringList();
        QTest::newRow("not UTF-8, left alone") << QByteArray("Work,\xFF") << QStringList{"Rot"}
                                               << QByteArray("Work,\xFF") << QStringList();
    }
    void xdgTagsMerge()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, added);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, read);
        const QString file = newFile();
        if (!before.isNull())
            QVERIFY(setRawAttribute(file, xdgAttribute, before));
        QVERIFY(FinderTagsIO::addXdgTags(added, url(file)));
        QCOMPARE(rawAttribute(file, xdgAttribute),
                 after.isNull() ? std::nullopt : std::optional(after));
        QCOMPARE(FinderTagsIO::readXdgTags(url(file)), read);
    }

    // Each file is a list of "name\nindex" strings, split at the last line feed so that names
    // may hold one; `stored` and `learnt` name red, blue and gray (empty: no list at all).
    void learntTagNames_data()
    {
        QTest::addColumn<QStringList>("files"); // per file its strings, joined by ","
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("learnt");
        const QStringList none;
        QTest::newRow("nothing seen") << rowList("Work\n0|\n6") << none << none;
        QTest::newRow("one file") << rowList("Rot\n6,Work\n0,Blau\n4") << none
                                  << rowList("Rot|Blau|");
        QTest::newRow("most often wins")
            << rowList("Red\n6|Rot\n6|Rot\n6,Grau\n1") << none << rowList("Rot||Grau");
        QTest::newRow("tie goes to the first seen")
            << rowList("Rouge\n6|Rot\n6|Rot\n6|Rouge\n6") << none << rowList("Rouge||");
        QTest::newRow("empty names and line feeds are no names")
            << rowList("\n6|\n6|Ro\nt\n6|Rot\n6") << none << rowList("Rot||");
        QTest::newRow("unseen colours keep their names")
            << rowList("Rosso\n6") << rowList("Rot|Blau|") << rowList("Rosso|Blau|");
    }
    void learntTagNames()
    {
        QFETCH(QStringList, files);
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
                defaults.setObject(*list(stored), "FavoriteTagNames");
            TagNameLearner learner;
            for (const QString &file : files) {
                QList<Entry> entries;
                for (const QString &string : file.split(',')) {
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
