// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bookmark.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstdio>

#include <unistd.h>

namespace {

const auto bigEndian32 = [](quint32 value) {
    return QByteArray::fromHex(QByteArray::number(value, 16).rightJustified(8, '0'));
};

} // namespace

class TestBookmark : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findsTheItem_data();
    void findsTheItem();
    void rejectsMalformedData_data();
    void rejectsMalformedData();
};

void TestBookmark::findsTheItem_data()
{
    QTest::addColumn<QString>("item"); // made first, then bookmarked; a folder ends with "/"
    QTest::addColumn<QString>("from"); // renamed to `to` afterwards; empty: left in place
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected"); // empty when the item must not be found
    QTest::addColumn<bool>("stale");

    const auto row = [](const char *name, const char *item, const char *from, const char *to,
                        const char *expected, bool stale) {
        QTest::newRow(name) << QString::fromUtf8(item) << QString::fromUtf8(from)
                            << QString::fromUtf8(to) << QString::fromUtf8(expected) << stale;
    };
    const char *kick = "lib/Drums/kick.wav";
    row("in place", kick, "", "", kick, false);
    row("name with accents in place", "lib/Grüße 日本.wav", "", "", "lib/Grüße 日本.wav", false);
    row("renamed in place", kick, kick, "lib/Drums/kick 2.wav", "lib/Drums/kick 2.wav", true);
    row("moved deeper below an ancestor", kick, kick, "lib/Other/A/B/C/kick.wav",
        "lib/Other/A/B/C/kick.wav", true);
    row("folder renamed", "lib/Drums/", "lib/Drums", "lib/Perc", "lib/Perc", true);
    row("parent folder renamed", kick, "lib/Drums", "lib/Perc", "lib/Perc/kick.wav", true);
    row("folder far above renamed", "far/1/2/3/4/kick.wav", "far/1", "far/one",
        "far/one/2/3/4/kick.wav", true);
    row("folder far above moved into one beside it", "far/1/2/3/4/kick.wav", "far/1", "far/else/1",
        "far/else/1/2/3/4/kick.wav", true);
    row("moved beyond three ancestor levels", "far/1/2/3/4/kick.wav", "far/1/2/3/4/kick.wav",
        "far/else/kick.wav", "", false);
    // The only way from the old folder to the new place is a link, which is never followed.
    row("moved behind a link", "far/1/2/3/4/kick.wav", "far/1/2/3/4/kick.wav", "outside/kick.wav",
        "", false);
    // Normalising or trimming changes size and time; the birth time still knows the file.
    row("edited, then renamed", kick, "+lib/Drums/kick.wav", "lib/Drums/trimmed.wav",
        "lib/Drums/trimmed.wav", true);
    // Made while the first one still exists, so the newcomer cannot reuse its inode.
    row("replaced at the path", kick, "lib/Other/unrelated.wav", kick, kick, true);
}

void TestBookmark::findsTheItem()
{
    QFETCH(QString, item);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    QFETCH(bool, stale);
    QTemporaryDir dir;
    const auto at = [&dir](const QString &relative) { return dir.filePath(relative); };
    QVERIFY(item.endsWith(u'/') ? TestSupport::makeDirs(at(item))
                                : TestSupport::writeFile(at(item), "sample"));
    QVERIFY(TestSupport::writeFile(at(QStringLiteral("lib/Other/unrelated.wav")), "other"));
    QVERIFY(TestSupport::makeDirs(at(QStringLiteral("outside"))));
    QVERIFY(TestSupport::makeDirs(at(QStringLiteral("far/1"))));
    QVERIFY(QFile::link(at(QStringLiteral("outside")), at(QStringLiteral("far/1/outside"))));

    // Dot segments are resolved when the bookmark is made.
    QString rest = item.section(u'/', 1);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    const std::optional<QByteArray> data =
        Bookmark::create(at(item.section(u'/', 0, 0) + QStringLiteral("/./x/../") + rest));
    QVERIFY(data && !Bookmark::create(QString()) && !Bookmark::create(at(u"none.wav"_qs)));
    if (from.startsWith(u'+')) {
        from.remove(0, 1);
        QFile file(at(from));
        QVERIFY(file.open(QIODevice::Append) && file.write("longer now") > 0);
    }
    if (!from.isEmpty()) {
        QVERIFY(TestSupport::makeDirs(QFileInfo(at(to)).absolutePath()));
        QCOMPARE(::rename(QFile::encodeName(at(from)).constData(),
                          QFile::encodeName(at(to)).constData()),
                 0);
    }

    Bookmark::SearchTrace searched;
    const std::optional<Bookmark::Resolution> resolution = Bookmark::resolve(*data, &searched);
    QCOMPARE(resolution.has_value(), !expected.isEmpty());
    if (!resolution) {
        // A failed search is not repeated until a folder it looked in changes.
        QVERIFY(Bookmark::isUnchanged(searched));
        QVERIFY(TestSupport::writeFile(QFileInfo(at(from)).path() + u"/new.wav"_qs));
        QVERIFY(!Bookmark::isUnchanged(searched));
        return;
    }
    QCOMPARE(resolution->path, at(expected));
    QCOMPARE(resolution->stale, stale);
    if (!stale) {
        // Data of the first version, made before birth times were kept, still reads.
        QByteArray first = data->left(46) + data->mid(58);
        first[5] = 1;
        QCOMPARE(Bookmark::resolve(first).value_or(Bookmark::Resolution()).path, at(expected));
    }
}

void TestBookmark::rejectsMalformedData_data()
{
    QTest::addColumn<QByteArray>("data");
    static QTemporaryDir dir;
    const QString kick = dir.filePath(QStringLiteral("kick.wav"));
    QVERIFY(TestSupport::writeFile(kick, "x"));
    const QByteArray valid = *Bookmark::create(kick);
    QVERIFY(Bookmark::resolve(valid));
    const qsizetype lengthAt = valid.size() - kick.toUtf8().size() - 4;

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("other magic") << QByteArray(valid).replace(0, 4, "book");
    QTest::newRow("later version") << QByteArray(valid).replace(4, 2, QByteArray("\x00\x03", 2));
    QTest::newRow("truncated header") << valid.left(20);
    QTest::newRow("truncated path") << valid.chopped(1);
    QTest::newRow("extra byte") << valid + 'x';
    QTest::newRow("length too large")
        << QByteArray(valid).replace(lengthAt, 4, bigEndian32(0xFFFFFFFF));
    QTest::newRow("relative path") << valid.left(lengthAt) + bigEndian32(8) + "kick.wav";
    QTest::newRow("empty path") << valid.left(lengthAt) + bigEndian32(0);
    QTest::newRow("NUL in the path")
        << valid.left(lengthAt) + bigEndian32(6) + QByteArray("/tmp\0x", 6);
}

void TestBookmark::rejectsMalformedData()
{
    QFETCH(QByteArray, data);
    QVERIFY(!Bookmark::resolve(data));
}

QTEST_GUILESS_MAIN(TestBookmark)
#include "tst_bookmark.moc"
