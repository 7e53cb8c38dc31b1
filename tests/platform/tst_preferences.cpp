// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BinaryPlist.h"
#include "Preferences.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const auto storedMap = [](const QString &path) {
    return BinaryPlist::read(contents(path)).value_or(QVariant()).toMap();
};
const auto i64 = [](qint64 value) { return QVariant::fromValue(value); };
const QString kKey = QStringLiteral("key");

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesSurviveARestartAndReadOnlyAsTheirType_data();
    void valuesSurviveARestartAndReadOnlyAsTheirType();
    void unreadableFileIsKeptAndTheLastGoodCopyRestored_data();
    void unreadableFileIsKeptAndTheLastGoodCopyRestored();
    void oneBadElementCostsOnlyItself();
    void writesAreRetriedCoalescedAndReplaceTheFile();
    void failedSaveLeavesTheFileWholeAndSaysWhy_data();
    void failedSaveLeavesTheFileWholeAndSaysWhy();
};

void TestPreferences::valuesSurviveARestartAndReadOnlyAsTheirType_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected"); // invalid: the key is removed
    // Which typed reads answer: string, string array, array, dictionary, data; and the number.
    QTest::addColumn<QString>("answers");
    QTest::addColumn<double>("number");

    const QDateTime date = QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC);
    const QVariantMap map{{u"/kick.wav"_qs, QVariantList{i64(0), i64(4)}}};
    const QByteArray data("\x00\x01", 2);
    const auto row = [](const char *name, const QVariant &value, const QVariant &expected,
                        const char *answers = "", double number = 0) {
        QTest::newRow(name) << value << expected << QString::fromLatin1(answers) << number;
    };
    row("bool", true, true, "", 1.0);
    row("float reads as double", 0.75f, 0.75, "", 0.75);
    row("double", 2.25, 2.25, "", 2.25);
    row("int reads as 64 bits", -42, i64(-42), "", -42.0);
    row("string", u"3.5"_qs, u"3.5"_qs, "s");
    row("string list", QStringList{u"/b é"_qs}, QVariantList{u"/b é"_qs}, "Sa");
    row("empty list", QVariantList(), QVariantList(), "Sa");
    row("mixed list", QVariantList{u"x"_qs, 1}, QVariantList{u"x"_qs, i64(1)}, "a");
    row("dictionary of arrays", map, map, "d");
    row("data", data, data, "D");
    row("date", date, date);
    row("set to nothing: removed", QVariant(), QVariant());
    // What cannot be stored leaves the old value.
    row("unstorable", QVariantList{QPoint(1, 2)}, u"old"_qs, "s");
}

void TestPreferences::valuesSurviveARestartAndReadOnlyAsTheirType()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    QFETCH(QString, answers);
    QFETCH(double, number);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/Wavelark/Wavelark.plist"));
    auto preferences = std::make_unique<Preferences>(path);
    // The old store writes on destruction, before the new one reads.
    const auto restart = [&] {
        preferences.reset();
        preferences = std::make_unique<Preferences>(path);
    };
    preferences->setObject(u"old"_qs, kKey);
    preferences->setObject(u"kept"_qs, u"other"_qs);
    restart();
    preferences->setObject(value, kKey);
    // Before a restart the value comes from memory, after one from the file.
    for (int round = 0; round < 2; ++round) {
        if (round == 1)
            QCOMPARE(preferences->objectForKey(kKey).metaType(), expected.metaType());
        QCOMPARE(preferences->objectForKey(kKey), expected);
        QCOMPARE(preferences->stringForKey(kKey).has_value(), answers.contains(u's'));
        QCOMPARE(preferences->stringArrayForKey(kKey).has_value(), answers.contains(u'S'));
        QCOMPARE(preferences->arrayForKey(kKey).has_value(), answers.contains(u'a'));
        QCOMPARE(preferences->dictionaryForKey(kKey).has_value(), answers.contains(u'd'));
        QCOMPARE(preferences->dataForKey(kKey).has_value(), answers.contains(u'D'));
        QCOMPARE(preferences->doubleForKey(kKey), number);
        QCOMPARE(preferences->floatForKey(kKey), float(number));
        QCOMPARE(preferences->boolForKey(kKey), number != 0.0);
        QCOMPARE(preferences->stringForKey(u"other"_qs), u"kept"_qs);
        restart();
    }
}

void TestPreferences::unreadableFileIsKeptAndTheLastGoodCopyRestored_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("withLastGood");
    const QByteArray good = *BinaryPlist::write(
        QVariantMap{{u"rootFolderPaths"_qs, QVariantList{u"/lib"_qs}}, {u"masterVolume"_qs, 0.25}});
    QTest::newRow("cut to half") << good.left(good.size() / 2) << true;
    QTest::newRow("random bytes") << QByteArray("\x9f\x01garbage\xff not a property list") << true;
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("array at the top") << *BinaryPlist::write(QVariantList{1, 2}) << true;
    QTest::newRow("no earlier copy") << good.left(good.size() / 2) << false;
}

void TestPreferences::unreadableFileIsKeptAndTheLastGoodCopyRestored()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, withLastGood);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.plist"));
    const QVariantMap values{{u"rootFolderPaths"_qs, QVariantList{u"/lib"_qs}},
                             {u"masterVolume"_qs, 0.25}};
    QVERIFY(TestSupport::writeFile(path, *BinaryPlist::write(values)));
    if (withLastGood)
        Preferences read(path); // a good read leaves its copy behind
    for (int damage = 1; damage <= 4; ++damage) {
        QVERIFY(TestSupport::writeFile(path, bytes));
        Preferences preferences(path);
        QVERIFY(!preferences.loadProblem().isEmpty());
        const QStringList aside =
            QDir(dir.path()).entryList({u"p.plist.corrupt-*"_qs}, QDir::Files, QDir::Name);
        QCOMPARE(aside.size(), std::min(damage, Preferences::keptCorruptCopies));
        QCOMPARE(contents(dir.filePath(aside.last())), bytes);
        QVERIFY(preferences.loadProblemDetails().contains(aside.last()));
        if (withLastGood) {
            QCOMPARE(preferences.stringArrayForKey(u"rootFolderPaths"_qs), QStringList{u"/lib"_qs});
            QCOMPARE(preferences.floatForKey(u"masterVolume"_qs), 0.25f);
            // The restored values go back to their place without waiting for a change.
            QVERIFY(preferences.flush());
            QCOMPARE(storedMap(path), values);
        } else {
            QVERIFY(!preferences.objectForKey(u"rootFolderPaths"_qs).isValid());
            QVERIFY(preferences.flush());
            QVERIFY(!QFile::exists(path));
        }
    }
}

void TestPreferences::oneBadElementCostsOnlyItself()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.plist"));
    const QVariantMap stored{
        {u"roots"_qs, QVariantList{u"/lib"_qs, 42, u"/lib2"_qs}},
        {u"tags"_qs, QVariantMap{{u"/lib/a.wav"_qs, QVariantList{0}},
                                 {u"/lib/b.wav"_qs, QVariant()},
                                 {u"/lib/c.wav"_qs, QVariantList{1, QVariant(), 3}}}},
        {u"plain"_qs, QVariantList{u"/x"_qs}},
        {u"nothing"_qs, QVariant()}};
    QVERIFY(TestSupport::writeFile(path, *BinaryPlist::write(stored)));
    Preferences preferences(path);

    bool complete = true;
    QCOMPARE(preferences.stringsInArrayForKey(u"roots"_qs, &complete),
             (QStringList{u"/lib"_qs, u"/lib2"_qs}));
    QVERIFY(!complete);
    QCOMPARE(preferences.stringsInArrayForKey(u"plain"_qs, &complete), QStringList{u"/x"_qs});
    QVERIFY(complete);
    QCOMPARE(preferences.stringsInArrayForKey(u"missing"_qs, &complete), QStringList());
    QVERIFY(complete);

    QCOMPARE(preferences.dictionaryForKey(u"tags"_qs),
             (QVariantMap{{u"/lib/a.wav"_qs, QVariantList{i64(0)}},
                          {u"/lib/c.wav"_qs, QVariantList{i64(1), i64(3)}}}));
    QVERIFY(!preferences.isIntact(u"tags"_qs));
    QVERIFY(!preferences.isIntact(u"nothing"_qs));
    QVERIFY(preferences.isIntact(u"plain"_qs));
    // Reading wrote nothing.
    QCOMPARE(storedMap(path).keys(), stored.keys());
    preferences.setObject(QVariantMap(), u"tags"_qs);
    QVERIFY(preferences.isIntact(u"tags"_qs));
}

void TestPreferences::writesAreRetriedCoalescedAndReplaceTheFile()
{
    QTemporaryDir dir;
    // A regular file where a parent folder should be: no folder can be made.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    QVERIFY(TestSupport::writeFile(blocker, "x"));
    const QString path = blocker + QStringLiteral("/folder/p.plist");
    Preferences preferences(path);
    QSignalSpy failed(&preferences, &Preferences::saveProblemChanged);
    preferences.setDouble(0.5, QStringLiteral("masterVolume"));
    QVERIFY(!preferences.flush());
    QCOMPARE(failed.count(), 1);
    QVERIFY(preferences.saveProblem().startsWith(u"Couldn't save your settings: "_qs));

    // Once the obstacle is gone, the next changes are written shortly after, once, with all set.
    QVERIFY(QFile::remove(blocker));
    preferences.setDouble(1.0, QStringLiteral("a"));
    preferences.setObject(QStringLiteral("c"), QStringLiteral("c"));
    QVERIFY(!QFile::exists(path));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000);
    QCOMPARE(preferences.saveProblem(), QString());
    QCOMPARE(failed.count(), 2);
    const QByteArray first = contents(path);
    QCOMPARE(storedMap(path),
             (QVariantMap{{u"masterVolume"_qs, 0.5}, {u"a"_qs, 1.0}, {u"c"_qs, u"c"_qs}}));

    // A reader that still holds the old file sees it whole: the new one replaces it.
    const QString held = dir.filePath(QStringLiteral("held.plist"));
    QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(held).constData()), 0);
    preferences.setDouble(3.0, QStringLiteral("a"));
    preferences.setDouble(4.0, QStringLiteral("a"));
    QCOMPARE(storedMap(path).value(QStringLiteral("a")), QVariant(1.0));
    QTRY_COMPARE_WITH_TIMEOUT(storedMap(path).value(QStringLiteral("a")), QVariant(4.0), 5000);
    QCOMPARE(contents(held), first);

    // Setting what is stored already is no change and writes nothing.
    QCOMPARE(::unlink(QFile::encodeName(held).constData()), 0);
    QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(held).constData()), 0);
    preferences.setDouble(4.0, QStringLiteral("a"));
    preferences.setObject(QStringLiteral("c"), QStringLiteral("c"));
    QTest::qWait(400);
    QCOMPARE(QFileInfo(path).fileTime(QFileDevice::FileModificationTime),
             QFileInfo(held).fileTime(QFileDevice::FileModificationTime));
    QCOMPARE(QFileInfo(path).metadataChangeTime(), QFileInfo(held).metadataChangeTime());

    // Without a path of its own, the store lives under $XDG_CONFIG_HOME.
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QCOMPARE(Preferences::defaultFilePath(), dir.filePath(u"Wavelark/Wavelark.plist"_qs));
}

void TestPreferences::failedSaveLeavesTheFileWholeAndSaysWhy_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("problem");
    QTest::newRow("disk full") << u"full"_qs << u"Couldn't save your settings: the disk is full"_qs;
    QTest::newRow("read-only") << u"ro"_qs
                               << u"Couldn't save your settings: the disk is read-only"_qs;
}

void TestPreferences::failedSaveLeavesTheFileWholeAndSaysWhy()
{
    QFETCH(QString, cause);
    QFETCH(QString, problem);
    // A small file system of our own; mounting one needs root, as CI has.
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::geteuid() != 0 ||
        TestSupport::run(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, u"size=256k"_qs,
                                       u"tmpfs"_qs, dir.path()})
                .exitCode != 0)
        QSKIP("mounting a small file system needs root");
    const auto unmount = qScopeGuard([&] { TestSupport::run(u"umount"_qs, {dir.path()}); });
    const QString path = dir.filePath(QStringLiteral("Wavelark/Wavelark.plist"));
    const QString filler = dir.filePath(QStringLiteral("filler"));
    {
        Preferences preferences(path);
        preferences.setObject(QVariantList{u"/lib"_qs}, u"rootFolderPaths"_qs);
        QVERIFY(preferences.flush());
    }
    const QByteArray good = contents(path);
    Preferences preferences(path);
    if (cause == u"full"_qs)
        TestSupport::run(u"dd"_qs, {u"if=/dev/zero"_qs, u"of="_qs + filler, u"bs=4k"_qs});
    else
        QVERIFY(TestSupport::run(u"mount"_qs, {u"-o"_qs, u"remount,ro"_qs, dir.path()}).exitCode ==
                0);

    preferences.setObject(QString(20000, u'x'), u"big"_qs);
    QVERIFY(!preferences.flush());
    QCOMPARE(preferences.saveProblem(), problem);
    QCOMPARE(contents(path), good);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{u"Wavelark.plist"_qs, u"Wavelark.plist.last-good"_qs}));

    // Room again: the retry saves what was kept in memory and the message goes.
    if (cause == u"full"_qs)
        QVERIFY(QFile::remove(filler));
    else
        QVERIFY(TestSupport::run(u"mount"_qs, {u"-o"_qs, u"remount,rw"_qs, dir.path()}).exitCode ==
                0);
    QTRY_COMPARE_WITH_TIMEOUT(preferences.saveProblem(), QString(),
                              Preferences::retryIntervalMs + 3000);
    QCOMPARE(storedMap(path).value(u"big"_qs).toString().size(), 20000);
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
