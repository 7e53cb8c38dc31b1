#include "Bookmark.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

} // namespace

class TestBookmark : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void resolvesWhereItWasMade_data();
    void resolvesWhereItWasMade();
    void findsMovedItemsNearby_data();
    void findsMovedItemsNearby();
    void itemReplacedAtThePathIsStale();
    void failsWithoutAnItem();
    void givesUpAfterTwentyThousandEntries();
    void rejectsMalformedData_data();
    void rejectsMalformedData();
    void accessIsAlwaysGranted();

private:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    bool makeFile(const QString &relative) { return TestSupport::writeFile(path(relative), "x"); }

    QTemporaryDir m_dir;
};

void TestBookmark::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestBookmark::resolvesWhereItWasMade_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("folder");
    QTest::newRow("file") << QStringLiteral("here/kick.wav") << false;
    QTest::newRow("folder") << QStringLiteral("here/Drums") << true;
    QTest::newRow("name with accents") << QStringLiteral("here/Grüße 日本.wav") << false;
}

void TestBookmark::resolvesWhereItWasMade()
{
    QFETCH(QString, item);
    QFETCH(bool, folder);
    QVERIFY(folder ? TestSupport::makeDirs(path(item)) : makeFile(item));
    // Dot segments are resolved when the bookmark is made.
    const std::optional<QByteArray> data = Bookmark::create(
        path(QStringLiteral("here/./x/..")) + QLatin1Char('/') + item.section(QLatin1Char('/'), 1));
    QVERIFY(data);
    const std::optional<Bookmark::Resolution> resolution = Bookmark::resolve(*data);
    QVERIFY(resolution);
    QCOMPARE(resolution->path, path(item));
    QVERIFY(!resolution->stale);

    // Data of the first version, made before birth times were kept, still reads.
    QByteArray first = data->left(46) + data->mid(58);
    first[5] = 1;
    const std::optional<Bookmark::Resolution> old = Bookmark::resolve(first);
    QVERIFY(old);
    QCOMPARE(old->path, path(item));
}

void TestBookmark::findsMovedItemsNearby_data()
{
    QTest::addColumn<QString>("item"); // made first, then bookmarked
    QTest::addColumn<QString>("from"); // renamed to `to` afterwards
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected"); // empty when the item must not be found
    QTest::addColumn<bool>("edited");      // the file grows after it was bookmarked

    QTest::newRow("renamed in place")
        << QStringLiteral("lib/Drums/kick.wav") << QStringLiteral("lib/Drums/kick.wav")
        << QStringLiteral("lib/Drums/kick 2.wav") << QStringLiteral("lib/Drums/kick 2.wav")
        << false;
    QTest::newRow("moved to a sibling folder")
        << QStringLiteral("lib/Drums/kick.wav") << QStringLiteral("lib/Drums/kick.wav")
        << QStringLiteral("lib/Bass/kick.wav") << QStringLiteral("lib/Bass/kick.wav") << false;
    QTest::newRow("moved deeper below an ancestor")
        << QStringLiteral("lib/Packs/Drums/kick.wav") << QStringLiteral("lib/Packs/Drums/kick.wav")
        << QStringLiteral("lib/Other/A/B/C/kick.wav") << QStringLiteral("lib/Other/A/B/C/kick.wav")
        << false;
    QTest::newRow("folder renamed")
        << QStringLiteral("lib/Drums/") << QStringLiteral("lib/Drums")
        << QStringLiteral("lib/Percussion") << QStringLiteral("lib/Percussion") << false;
    QTest::newRow("parent folder renamed")
        << QStringLiteral("lib/Drums/kick.wav") << QStringLiteral("lib/Drums")
        << QStringLiteral("lib/Percussion") << QStringLiteral("lib/Percussion/kick.wav") << false;
    QTest::newRow("moved beyond three ancestor levels")
        << QStringLiteral("far/1/2/3/4/kick.wav") << QStringLiteral("far/1/2/3/4/kick.wav")
        << QStringLiteral("far/elsewhere/kick.wav") << QStringLiteral("") << false;
    // The only way from the old folder to the new place is a link, which is never followed.
    QTest::newRow("moved behind a link")
        << QStringLiteral("far/1/2/3/4/kick.wav") << QStringLiteral("far/1/2/3/4/kick.wav")
        << QStringLiteral("outside/kick.wav") << QStringLiteral("") << false;
    // Normalising or trimming changes size and time; the birth time still knows the file.
    QTest::newRow("edited, then renamed")
        << QStringLiteral("lib/Drums/kick.wav") << QStringLiteral("lib/Drums/kick.wav")
        << QStringLiteral("lib/Drums/kick trimmed.wav")
        << QStringLiteral("lib/Drums/kick trimmed.wav") << true;
}

void TestBookmark::findsMovedItemsNearby()
{
    QFETCH(QString, item);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    QFETCH(bool, edited);
    QTemporaryDir dir;
    const auto at = [&dir](const QString &relative) { return dir.filePath(relative); };
    if (item.endsWith(QLatin1Char('/')))
        QVERIFY(TestSupport::makeDirs(at(item)));
    else
        QVERIFY(TestSupport::writeFile(at(item), "sample"));
    QVERIFY(TestSupport::writeFile(at(QStringLiteral("lib/Other/unrelated.wav")), "other"));
    QVERIFY(TestSupport::makeDirs(at(QStringLiteral("outside"))));
    QVERIFY(TestSupport::makeDirs(at(QStringLiteral("far/1"))));
    QVERIFY(QFile::link(at(QStringLiteral("outside")), at(QStringLiteral("far/1/outside"))));

    const std::optional<QByteArray> data = Bookmark::create(at(QDir::cleanPath(item)));
    QVERIFY(data);
    if (edited) {
        QFile file(at(item));
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.write("longer now") > 0);
    }
    QVERIFY(TestSupport::makeDirs(QFileInfo(at(to)).absolutePath()));
    QVERIFY(QDir().rename(at(from), at(to)));

    const std::optional<Bookmark::Resolution> resolution = Bookmark::resolve(*data);
    if (expected.isEmpty()) {
        QVERIFY(!resolution);
        return;
    }
    QVERIFY(resolution);
    QCOMPARE(resolution->path, at(expected));
    QVERIFY(resolution->stale);
}

void TestBookmark::itemReplacedAtThePathIsStale()
{
    QVERIFY(makeFile(QStringLiteral("replaced/kick.wav")));
    const std::optional<QByteArray> data =
        Bookmark::create(path(QStringLiteral("replaced/kick.wav")));
    QVERIFY(data);
    // Made while the first one still exists, so the newcomer cannot reuse its inode.
    QVERIFY(makeFile(QStringLiteral("replaced/new.wav")));
    QVERIFY(::rename(QFile::encodeName(path(QStringLiteral("replaced/new.wav"))).constData(),
                     QFile::encodeName(path(QStringLiteral("replaced/kick.wav"))).constData()) ==
            0);
    const std::optional<Bookmark::Resolution> resolution = Bookmark::resolve(*data);
    QVERIFY(resolution);
    QCOMPARE(resolution->path, path(QStringLiteral("replaced/kick.wav")));
    QVERIFY(resolution->stale);
}

void TestBookmark::failsWithoutAnItem()
{
    QVERIFY(!Bookmark::create(QString()));
    QVERIFY(!Bookmark::create(path(QStringLiteral("never/there.wav"))));

    QVERIFY(makeFile(QStringLiteral("quiet/a/b/deleted/kick.wav")));
    QVERIFY(makeFile(QStringLiteral("quiet/a/b/deleted/snare.wav")));
    const std::optional<QByteArray> data =
        Bookmark::create(path(QStringLiteral("quiet/a/b/deleted/kick.wav")));
    QVERIFY(data);
    QVERIFY(QFile::remove(path(QStringLiteral("quiet/a/b/deleted/kick.wav"))));
    QVERIFY(!Bookmark::resolve(*data));

    // A failed search need not be repeated until a folder it read changes. Its three ancestor
    // levels stay inside this test's folder, away from busy ones.
    Bookmark::SearchTrace searched;
    QVERIFY(!Bookmark::resolve(*data, &searched));
    QVERIFY(Bookmark::isUnchanged(searched));
    QVERIFY(makeFile(QStringLiteral("quiet/a/b/deleted/new.wav")));
    QVERIFY(!Bookmark::isUnchanged(searched));
}

void TestBookmark::givesUpAfterTwentyThousandEntries()
{
    QVERIFY(makeFile(QStringLiteral("crowded/Drums/kick.wav")));
    const QString crowded = path(QStringLiteral("crowded/Drums/"));
    for (int i = 0; i < 20001; ++i) {
        const QByteArray name = QFile::encodeName(crowded + QString::number(i));
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    const std::optional<QByteArray> data = Bookmark::create(crowded + QStringLiteral("kick.wav"));
    QVERIFY(data);
    QVERIFY(TestSupport::makeDirs(path(QStringLiteral("crowded/Bass"))));
    QVERIFY(QDir().rename(crowded + QStringLiteral("kick.wav"),
                          path(QStringLiteral("crowded/Bass/kick.wav"))));
    // The old folder alone holds more entries than the search may visit.
    QVERIFY(!Bookmark::resolve(*data));
}

void TestBookmark::rejectsMalformedData_data()
{
    QTest::addColumn<QByteArray>("data");
    QVERIFY(makeFile(QStringLiteral("malformed/kick.wav")));
    const QByteArray valid = *Bookmark::create(path(QStringLiteral("malformed/kick.wav")));
    QVERIFY(Bookmark::resolve(valid));
    const qsizetype lengthAt =
        valid.size() - path(QStringLiteral("malformed/kick.wav")).toUtf8().size() - 4;

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("other magic") << QByteArray(valid).replace(0, 4, "book");
    QTest::newRow("later version") << QByteArray(valid).replace(4, 2, QByteArray("\x00\x03", 2));
    QTest::newRow("truncated header") << valid.left(20);
    QTest::newRow("truncated path") << valid.chopped(1);
    QTest::newRow("extra byte") << valid + 'x';
    QTest::newRow("length too large")
        << QByteArray(valid).replace(lengthAt, 4, bigEndian32(0xFFFFFFFF));
    QTest::newRow("relative path")
        << valid.left(lengthAt) + bigEndian32(8) + QByteArray("kick.wav");
    QTest::newRow("empty path") << valid.left(lengthAt) + bigEndian32(0);
    QTest::newRow("NUL in the path")
        << valid.left(lengthAt) + bigEndian32(6) + QByteArray("/tmp\0x", 6);
    QTest::newRow("not a bookmark") << QByteArray("file:///home/user/kick.wav");
}

void TestBookmark::rejectsMalformedData()
{
    QFETCH(QByteArray, data);
    QVERIFY(!Bookmark::resolve(data));
}

void TestBookmark::accessIsAlwaysGranted()
{
    QVERIFY(Bookmark::startAccessing(path(QStringLiteral("anything"))));
    Bookmark::stopAccessing(path(QStringLiteral("anything")));
}

QTEST_GUILESS_MAIN(TestBookmark)
#include "tst_bookmark.moc"
