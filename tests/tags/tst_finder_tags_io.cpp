// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRows.h"
#include "ModelFixtures.h"
#include "TagFixtures.h"
#include "TestSupport.h"

#include "platform/BinaryPlist.h"
#include "platform/Preferences.h"
#include "tags/FinderTagSync.h"
#include "tags/FinderTagsIO.h"
#include "tags/TagNameLearner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace TagFixtures;
using FinderTagsIO::Entry;

namespace {
const FinderTagSet red{FinderTag::Red};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};
// "name\tindex" per entry, line feeds shown as \n: readable in a failed comparison.
QStringList describe(const QList<Entry> &entries)
{
    QStringList lines;
    for (const Entry &entry : entries)
        lines.append(QString(entry.name).replace('\n', "\\n") + '\t' +
                     QString::number(entry.colorIndex));
    return lines;
}
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

// Reading and writing the tags of one item, the walks of the import and export over many, and
// the model running them.
class TestFinderTagsIO : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_counter = 0;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString file(const QString &relative) const
    {
        TestSupport::writeFile(path(relative), "RIFF");
        return path(relative);
    }
    QString newFile() { return file(QStringLiteral("f%1.wav").arg(++m_counter)); }
    // Relative paths are below the test's folder.
    QUrl url(const QString &item) const
    {
        return QUrl::fromLocalFile(QDir::isAbsolutePath(item) ? item : path(item));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QTemporaryDir probe;
        if (!setRawAttribute(probe.path(), QStringLiteral("user.probe"), "1"))
            QSKIP("the temporary folder's file system has no user attributes");
    }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // `carrier` names the attribute Python writes; a second row part adds our own over it.
    void readsWhatPythonWrites_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("carrier");
        QTest::addColumn<QStringList>("strings");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const QString &carrier, const char *strings,
                            const char *expected, const char *format = "binary") {
            QTest::newRow(name) << format << carrier << rowList(strings) << rowList(expected);
        };
        const QString ours = tagAttribute;
        row("coloured and plain, order kept", ours, "Z\n1|Red\n6|Work|B\n4",
            "Z\t1|Red\t6|Work\t0|B\t4");
        row("xml format", ours, "Red\n6|Work", "Red\t6|Work\t0", "xml");
        row("only a number from 0 to 7 after the last line feed is a colour", ours,
            "M\nfoo|M\n8|M\n-1|M\n|A\nB\n3|A\n 3|A\n99999999999999999999|A\n+3|A\n0|\n2",
            "M\\nfoo\t0|M\\n8\t0|M\\n-1\t0|M\\n\t0|A\\nB\\n3\t0|A\\n 3\t0|"
            "A\\n99999999999999999999\t0|A\t3|A\t0|\t2");
        row("unicode names", ours, "Rot \xF0\x9F\x8D\x8E\n6|Gr\xC3\xBCn\n2",
            "Rot \xF0\x9F\x8D\x8E\t6|Gr\xC3\xBCn\t2");
        row("empty list", ours, "", "");
        row("samba stream", sambaAttribute, "Blue\n4", "Blue\t4");
        row("samba mapped colon", QString(sambaAttribute).replace(33, 1, QChar(0xF022)), "Blue\n4",
            "Blue\t4");
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

    // Every problem with the attribute's value reads as no tags (the plist reader's own
    // robustness is the codec's test).
    void malformedValuesReadAsNothing_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("not a plist") << QByteArray("Red\n6");
        QTest::newRow("root is a string") << *BinaryPlist::write(QString("Red"));
        QTest::newRow("root is a dictionary") << *BinaryPlist::write(QVariantMap{{"k", "v"}});
        QTest::newRow("integer element") << *BinaryPlist::write(QVariantList{"Red", 6});
        QTest::newRow("nested array") << *BinaryPlist::write(QVariantList{"Red", QVariantList()});
        QTest::newRow("xml with a number") << QByteArray(
            "<?xml version=\"1.0\"?><plist><array><integer>6</integer></array></plist>");
        QTest::newRow("xml not closed") << QByteArray("<plist><array><string>Red");
        QTest::newRow("one NUL byte") << QByteArray(1, '\0');
    }
    void malformedValuesReadAsNothing()
    {
        QFETCH(QByteArray, value);
        const QString path = newFile();
        QVERIFY(setRawAttribute(path, tagAttribute, value));
        QCOMPARE(FinderTagsIO::readEntries(url(path)), QList<Entry>());
    }

    void pythonReadsWhatWeWrite_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QStringList>("expected");
        // A negative index is no colour; the same entry may come twice.
        QTest::newRow("plain, coloured, unicode, line feeds")
            << QList<Entry>{{"Red", 6},          {"Work", 0},       {"Odd", -3}, {"Nine", 9},
                            {"\xE8\xB5\xA4", 6}, {"Two\nlines", 3}, {"A", 1},    {"A", 1}}
            << QStringList{"Red\n6",          "Work",          "Odd",  "Nine\n9",
                           "\xE8\xB5\xA4\n6", "Two\nlines\n3", "A\n1", "A\n1"};
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
        // Many other attributes, and 200 entries: the name listing and the value outgrow the
        // reader's first buffer.
        for (int i = 0; i < 45; ++i)
            QVERIFY(setRawAttribute(path, QStringLiteral("user.other.attribute.%1").arg(i), "v"));
        QVERIFY(FinderTagsIO::writeEntries({{"Old", 2}}, url(path)));
        QVERIFY(FinderTagsIO::writeEntries(entries, url(path)));
        QCOMPARE(pythonStrings(path), std::optional<QStringList>(expected));
        QCOMPARE(FinderTagsIO::readEntries(url(path)).size(), entries.size());
        QVERIFY(FinderTagsIO::writeEntries({}, url(path)));
        QCOMPARE(rawAttribute(path), std::nullopt);
        QVERIFY(FinderTagsIO::writeEntries({}, url(path))); // removing what is not there
    }

    void linksAreFollowedOtherItemsRefused()
    {
        // /proc has no user attributes at all.
        for (const QUrl &target : {url("gone.wav"), url("/proc/self/status")}) {
            QCOMPARE(FinderTagsIO::readEntries(target), QList<Entry>());
            QVERIFY(!FinderTagsIO::writeEntries({{"Red", 6}}, target));
            QVERIFY(!FinderTagsIO::writeEntries({}, target));
        }
        QVERIFY(!FinderTagsIO::writeEntries({{"Red", 6}}, QUrl("https://example.com/a")));
        QCOMPARE(FinderTagsIO::readEntries(QUrl()), QList<Entry>());
        // The plist's own bytes push a 65,500-byte name past the kernel's 64 KiB maximum.
        QVERIFY(!FinderTagsIO::writeEntries({{QString(65500, 'x'), 2}}, url(newFile())));

        // Links are followed, as the file manager does.
        const QString target = newFile();
        const QString link = m_dir->filePath(QStringLiteral("link.wav"));
        QVERIFY(QFile::link(target, link));
        QVERIFY(FinderTagsIO::writeEntries({{"Purple", 3}}, url(link)));
        QCOMPARE(pythonStrings(target), std::optional<QStringList>(QStringList{"Purple\n3"}));
        QCOMPARE(FinderTagsIO::readEntries(url(link)), (QList<Entry>{{"Purple", 3}}));
    }

    // Per colour the name seen most often, ties going to the first seen; empty names and names
    // with a line feed are none; colours not seen keep the name they had.
    void learntTagNames()
    {
        TagNameLearner learner;
        learner.record({{"Work", 0}, {"", 6}, {"Ro\nt", 6}});
        QCOMPARE(learner.learntNames(std::nullopt), std::optional<QStringList>());
        learner.record({{"Rouge", 6}, {"", 6}, {"Ro\nt", 6}, {"Blau", 4}});
        learner.record({{"Rot", 6}, {"Azul", 4}});
        learner.record({{"Rot", 6}});
        QCOMPARE(learner.learntNames(QStringList{"", "Rosso", "", "", "", "Blu", "", "Grigio"}),
                 (QStringList{"", "Rot", "", "", "", "Blau", "", "Grigio"}));
    }

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
        // Cancelled, the walk stops at the first item below the root.
        auto flag = std::make_shared<CancelFlag>();
        flag->cancel();
        QCOMPARE(FinderTagSync::scan({url("Lib")}, {}, flag).perItem.size(), 1);
    }

    void exportItems_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<FinderTagSet>("colours");
        QTest::addColumn<bool>("userNames"); // else none: English only when allowed
        QTest::addColumn<bool>("allowDefaultNames");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<FinderTagSet>("skipped");
        const auto row = [](const char *name, const char *before, const FinderTagSet &colours,
                            bool userNames, bool english, const char *after,
                            const FinderTagSet &skipped = {}) {
            QTest::newRow(name) << rowList(before) << colours << userNames << english
                                << rowList(after) << skipped;
        };
        row("red and blue onto Rot", "Rot\n6", redBlue, false, true, "Rot\n6|Blue\n4");
        row("no names, not English", "", redBlue, false, false, "", redBlue);
        row("other tags survive in order", "Work|Gr\xC3\xBCn\n2|Later", red, true, false,
            "Work|Gr\xC3\xBCn\n2|Later|Rot\n6");
        row("already there, not rewritten", "Blue\n4|Anything\n6", redBlue, true, false,
            "Blue\n4|Anything\n6");
        row("unparsable attribute is replaced", "<garbage>", red, false, true, "Red\n6");
        row("all seven, each with its own index", "",
            FinderTagSet(FinderTags::all.begin(), FinderTags::all.end()), true, false,
            "Rot\n6|Orange\n7|Gelb\n5|Gr\xC3\xBCn\n2|Blau\n4|Lila\n3|Grau\n1");
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
        const FinderTagSync::ExportResult result = FinderTagSync::exportItems(items, {}, true);
        QCOMPARE(result.filesWritten, 2);
        QCOMPARE(result.filesFailed, 1); // two failed colours, one item
        QVERIFY(!QFileInfo::exists(path("vanished.wav")));
        QCOMPARE(pythonStrings(folder), std::optional<QStringList>(QStringList{"Green\n2"}));
    }

    // A German user's files came from a Mac: the import adds their colours below the roots and
    // learns their names, which also match a name Dolphin gave, whatever its case; the export then
    // writes those names to both attributes, after the names there, though English names are not
    // allowed.
    void importAndExportThroughTheModel()
    {
        ModelFixture f;
        const QString a = f.touch("Lib/a.wav");
        const QString b = f.touch("Lib/Pack/b.wav");
        const QString fromDolphin = f.touch("Lib/Kde/kde.wav");
        const QString untagged = f.touch("Lib/new.wav");
        const QString outside = f.touch("Other/o.wav");
        QVERIFY(setPythonPlist(a, {"Rot\n6", "Work", "Green\n2"}));
        QVERIFY(setPythonPlist(b, {"Blau\n4"}));
        QVERIFY(setRawAttribute(fromDolphin, xdgAttribute, "Live, rot"));
        // A freedesktop list that is not UTF-8 names nothing, and is never rewritten.
        QVERIFY(setRawAttribute(untagged, xdgAttribute, "Work,\xFF"));
        QVERIFY(setPythonPlist(outside, {"Red\n6"}));
        f.store->setTags(red, QUrl::fromLocalFile(b));
        QCOMPARE(importNow(*f.makeModel(true)), std::optional<qint64>(0)); // no roots
        auto model = f.makeModel(true, false, {"Lib"});
        const qint64 revision = f.store->revision();

        QCOMPARE(importNow(*model), std::optional<qint64>(3));
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(a)),
                 (FinderTagSet{FinderTag::Red, FinderTag::Green}));
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(b)), redBlue);
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(fromDolphin)), red);
        QCOMPARE(f.store->tagsFor(QUrl::fromLocalFile(outside)), FinderTagSet());
        QCOMPARE(f.store->revision(), revision + 1);
        QCOMPARE(pythonStrings(b), std::optional(QStringList{"Blau\n4"})); // read only
        QCOMPARE(importNow(*model), std::optional<qint64>(0));
        QCOMPARE(f.store->revision(), revision + 1);

        f.store->setTags({FinderTag::Red, FinderTag::Purple}, QUrl::fromLocalFile(untagged));
        const auto summary = exportNow(*model, false);
        QVERIFY(summary);
        QCOMPARE(summary->filesWritten, 4);
        QCOMPARE(summary->skippedColors, FinderTagSet{FinderTag::Purple});
        QCOMPARE(pythonStrings(untagged), std::optional(QStringList{"Rot\n6"}));
        QCOMPARE(pythonStrings(b), std::optional(QStringList{"Blau\n4", "Rot\n6"}));
        QCOMPARE(pythonStrings(a), std::optional(QStringList{"Rot\n6", "Work", "Green\n2"}));
        QCOMPARE(rawAttribute(untagged, xdgAttribute), std::optional(QByteArray("Work,\xFF")));
        QCOMPARE(rawAttribute(a, xdgAttribute), std::optional(QByteArray("Rot,Green")));
        QCOMPARE(rawAttribute(fromDolphin, xdgAttribute), std::optional(QByteArray("Live, rot")));

        // A fresh start reads the names back from the preferences file.
        f.prefs->flush();
        QCOMPARE(FinderTagsIO::favoriteTagNames(Preferences(f.prefs->filePath())),
                 std::optional(QStringList{"", "Rot", "", "", "Green", "Blau", "", ""}));

        // Without a tag store nothing happens, at once.
        auto bare = f.makeModel(false, false, {"Lib"});
        QCOMPARE(importNow(*bare), std::optional<qint64>(0));
        QCOMPARE(exportNow(*bare, true)->filesWritten, 0);
    }
};

QTEST_GUILESS_MAIN(TestFinderTagsIO)
#include "tst_finder_tags_io.moc"
