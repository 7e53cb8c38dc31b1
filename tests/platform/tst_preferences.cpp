#include "BinaryPlist.h"
#include "Preferences.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QPoint>
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
    void unreadableFileIsLeftAloneUntilAChange_data();
    void unreadableFileIsLeftAloneUntilAChange();
    void writesAreRetriedCoalescedAndReplaceTheFile();
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

void TestPreferences::unreadableFileIsLeftAloneUntilAChange_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("garbage") << QByteArray("not a property list at all, but some text");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << BinaryPlist::write(QVariantMap{{kKey, 1}})->chopped(4);
    QTest::newRow("array at the top") << *BinaryPlist::write(QVariantList{1, 2});
}

void TestPreferences::unreadableFileIsLeftAloneUntilAChange()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.plist"));
    QVERIFY(TestSupport::writeFile(path, bytes));
    {
        Preferences preferences(path);
        QVERIFY(!preferences.objectForKey(kKey).isValid());
        preferences.removeObjectForKey(kKey);
        QVERIFY(preferences.flush());
    }
    QCOMPARE(contents(path), bytes);
    Preferences preferences(path);
    preferences.setBool(false, QStringLiteral("windowAlwaysOnTop"));
    QVERIFY(preferences.flush());
    QCOMPARE(storedMap(path), (QVariantMap{{QStringLiteral("windowAlwaysOnTop"), false}}));
}

void TestPreferences::writesAreRetriedCoalescedAndReplaceTheFile()
{
    QTemporaryDir dir;
    // A regular file where a parent folder should be: no folder can be made.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    QVERIFY(TestSupport::writeFile(blocker, "x"));
    const QString path = blocker + QStringLiteral("/folder/p.plist");
    Preferences preferences(path);
    QSignalSpy failed(&preferences, &Preferences::writeFailed);
    preferences.setDouble(0.5, QStringLiteral("masterVolume"));
    QVERIFY(!preferences.flush());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), path);

    // Once the obstacle is gone, the next changes are written shortly after, once, with all set.
    QVERIFY(QFile::remove(blocker));
    preferences.setDouble(1.0, QStringLiteral("a"));
    preferences.setObject(QStringLiteral("c"), QStringLiteral("c"));
    QVERIFY(!QFile::exists(path));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000);
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

    // Without a path of its own, the store lives under $XDG_CONFIG_HOME.
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QCOMPARE(Preferences::defaultFilePath(), dir.filePath(u"Wavelark/Wavelark.plist"_qs));
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
