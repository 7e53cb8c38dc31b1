#include "BinaryPlist.h"
#include "Preferences.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariantMap storedMap(const QString &path)
{
    return BinaryPlist::read(contents(path)).value_or(QVariant()).toMap();
}

const QString kKey = QStringLiteral("key");

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesSurviveARestart_data();
    void valuesSurviveARestart();
    void typedReadsOfAnotherTypeAreAbsent_data();
    void typedReadsOfAnotherTypeAreAbsent();
    void unreadableFileIsLeftAloneUntilAChange_data();
    void unreadableFileIsLeftAloneUntilAChange();
    void writesAreCoalesced();
    void removalSurvivesARestart();
    void setObjectIgnoresWhatCannotBeStored();
    void failedWriteIsReportedAndRetried();
    void defaultPathFollowsXdgConfigHome();
};

void TestPreferences::valuesSurviveARestart_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("bool") << QStringLiteral("bool") << QVariant(true) << QVariant(true);
    QTest::newRow("float") << QStringLiteral("float") << QVariant(0.8f) << QVariant(double(0.8f));
    QTest::newRow("double") << QStringLiteral("double") << QVariant(312.5) << QVariant(312.5);
    QTest::newRow("integer") << QStringLiteral("integer") << QVariant::fromValue<qint64>(-42)
                             << QVariant::fromValue<qint64>(-42);
    QTest::newRow("string") << QStringLiteral("object") << QVariant(QStringLiteral("left"))
                            << QVariant(QStringLiteral("left"));
    QTest::newRow("string list")
        << QStringLiteral("object")
        << QVariant(QStringList{QStringLiteral("/a"), QStringLiteral("/b é")})
        << QVariant(QVariantList{QStringLiteral("/a"), QStringLiteral("/b é")});
    const QVariantMap tags{{QStringLiteral("/music/kick.wav"), QVariantList{0, 4}}};
    QTest::newRow("dictionary of arrays")
        << QStringLiteral("object") << QVariant(tags)
        << QVariant(QVariantMap{
               {QStringLiteral("/music/kick.wav"),
                QVariantList{QVariant::fromValue<qint64>(0), QVariant::fromValue<qint64>(4)}}});
    QTest::newRow("data") << QStringLiteral("object")
                          << QVariant(QByteArray("\x00\x01bookmark", 10))
                          << QVariant(QByteArray("\x00\x01bookmark", 10));
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC);
    QTest::newRow("date") << QStringLiteral("object") << QVariant(date) << QVariant(date);
}

void TestPreferences::valuesSurviveARestart()
{
    QFETCH(QString, setter);
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/Wavelark/Wavelark.plist"));
    {
        Preferences preferences(path);
        if (setter == QLatin1String("bool"))
            preferences.setBool(value.toBool(), kKey);
        else if (setter == QLatin1String("float"))
            preferences.setFloat(value.toFloat(), kKey);
        else if (setter == QLatin1String("double"))
            preferences.setDouble(value.toDouble(), kKey);
        else if (setter == QLatin1String("integer"))
            preferences.setInteger(value.toLongLong(), kKey);
        else
            preferences.setObject(value, kKey);
        QVERIFY(preferences.objectForKey(kKey).isValid());
        QVERIFY(!QFile::exists(path));
    }
    QVERIFY(QFile::exists(path));
    Preferences restarted(path);
    QCOMPARE(restarted.objectForKey(kKey), expected);
    QCOMPARE(restarted.objectForKey(kKey).metaType(), expected.metaType());
    if (setter == QLatin1String("float"))
        QCOMPARE(restarted.floatForKey(kKey), 0.8f);
}

void TestPreferences::typedReadsOfAnotherTypeAreAbsent_data()
{
    QTest::addColumn<QVariant>("value");
    // Which typed reads answer: string, string array, array, dictionary, data; and the number.
    QTest::addColumn<QString>("answers");
    QTest::addColumn<double>("number");

    QTest::newRow("string") << QVariant(QStringLiteral("3.5")) << QStringLiteral("s") << 0.0;
    QTest::newRow("string list") << QVariant(QStringList{QStringLiteral("x")})
                                 << QStringLiteral("Sa") << 0.0;
    QTest::newRow("empty list") << QVariant(QVariantList()) << QStringLiteral("Sa") << 0.0;
    QTest::newRow("mixed list") << QVariant(QVariantList{QStringLiteral("x"), 1})
                                << QStringLiteral("a") << 0.0;
    QTest::newRow("dictionary") << QVariant(QVariantMap{{QStringLiteral("a"), 1}})
                                << QStringLiteral("d") << 0.0;
    QTest::newRow("data") << QVariant(QByteArray("abc")) << QStringLiteral("D") << 0.0;
    QTest::newRow("bool") << QVariant(true) << QStringLiteral("") << 1.0;
    QTest::newRow("integer") << QVariant(7) << QStringLiteral("") << 7.0;
    QTest::newRow("double") << QVariant(2.25) << QStringLiteral("") << 2.25;
    QTest::newRow("date") << QVariant(QDateTime::currentDateTimeUtc()) << QStringLiteral("") << 0.0;
}

void TestPreferences::typedReadsOfAnotherTypeAreAbsent()
{
    QFETCH(QVariant, value);
    QFETCH(QString, answers);
    QFETCH(double, number);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.plist"));
    {
        Preferences preferences(path);
        preferences.setObject(value, kKey);
    }
    auto first = std::make_unique<Preferences>(path);
    for (int round = 0; round < 2; ++round) {
        // Before a restart the value comes from memory, after one from the file.
        Preferences &preferences = *first;
        QVERIFY(preferences.objectForKey(kKey).isValid());
        QCOMPARE(preferences.stringForKey(kKey).has_value(), answers.contains(QLatin1Char('s')));
        QCOMPARE(preferences.stringArrayForKey(kKey).has_value(),
                 answers.contains(QLatin1Char('S')));
        QCOMPARE(preferences.arrayForKey(kKey).has_value(), answers.contains(QLatin1Char('a')));
        QCOMPARE(preferences.dictionaryForKey(kKey).has_value(),
                 answers.contains(QLatin1Char('d')));
        QCOMPARE(preferences.dataForKey(kKey).has_value(), answers.contains(QLatin1Char('D')));
        QCOMPARE(preferences.doubleForKey(kKey), number);
        QCOMPARE(preferences.floatForKey(kKey), float(number));
        QCOMPARE(preferences.boolForKey(kKey), number != 0.0);
        first = std::make_unique<Preferences>(path);
    }
    QVERIFY(!first->objectForKey(QStringLiteral("missing")).isValid());
    QCOMPARE(first->doubleForKey(QStringLiteral("missing")), 0.0);
    QVERIFY(!first->stringForKey(QStringLiteral("missing")));
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
        QTest::qWait(300);
    }
    QCOMPARE(contents(path), bytes);
    {
        Preferences preferences(path);
        preferences.setBool(false, QStringLiteral("windowAlwaysOnTop"));
        QVERIFY(preferences.flush());
    }
    QCOMPARE(storedMap(path), (QVariantMap{{QStringLiteral("windowAlwaysOnTop"), false}}));
}

void TestPreferences::writesAreCoalesced()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new/folder/p.plist"));
    Preferences preferences(path);
    preferences.setDouble(1.0, QStringLiteral("a"));
    preferences.setDouble(2.0, QStringLiteral("b"));
    preferences.setObject(QStringLiteral("c"), QStringLiteral("c"));
    // Nothing is written at the time of a change...
    QVERIFY(!QFile::exists(path));
    // ...but shortly after, once, with everything set so far.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000);
    QCOMPARE(storedMap(path), (QVariantMap{{QStringLiteral("a"), 1.0},
                                           {QStringLiteral("b"), 2.0},
                                           {QStringLiteral("c"), QStringLiteral("c")}}));

    preferences.setDouble(3.0, QStringLiteral("a"));
    preferences.setDouble(4.0, QStringLiteral("a"));
    QCOMPARE(storedMap(path).value(QStringLiteral("a")), QVariant(1.0));
    QTRY_COMPARE_WITH_TIMEOUT(storedMap(path).value(QStringLiteral("a")), QVariant(4.0), 5000);
    QVERIFY(preferences.flush());
}

void TestPreferences::removalSurvivesARestart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.plist"));
    {
        Preferences preferences(path);
        preferences.setObject(QStringLiteral("/path"), QStringLiteral("selectedItemPath"));
        preferences.setBool(true, QStringLiteral("focusFollowsMouseEnabled"));
    }
    {
        Preferences preferences(path);
        QVERIFY(preferences.objectForKey(QStringLiteral("selectedItemPath")).isValid());
        preferences.removeObjectForKey(QStringLiteral("selectedItemPath"));
        QVERIFY(!preferences.objectForKey(QStringLiteral("selectedItemPath")).isValid());
        // An invalid value removes too.
        preferences.setObject(QVariant(), QStringLiteral("focusFollowsMouseEnabled"));
        QVERIFY(!preferences.objectForKey(QStringLiteral("focusFollowsMouseEnabled")).isValid());
    }
    Preferences preferences(path);
    QVERIFY(!preferences.objectForKey(QStringLiteral("selectedItemPath")).isValid());
    QVERIFY(!preferences.objectForKey(QStringLiteral("focusFollowsMouseEnabled")).isValid());
    QCOMPARE(storedMap(path), QVariantMap());
}

void TestPreferences::setObjectIgnoresWhatCannotBeStored()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.plist"));
    Preferences preferences(path);
    preferences.setObject(QStringLiteral("kept"), kKey);
    preferences.setObject(QPoint(1, 2), kKey);
    preferences.setObject(QVariantList{QPoint(1, 2)}, kKey);
    QCOMPARE(preferences.stringForKey(kKey), QStringLiteral("kept"));
    QVERIFY(preferences.flush());
    QCOMPARE(storedMap(path), (QVariantMap{{kKey, QStringLiteral("kept")}}));
}

void TestPreferences::failedWriteIsReportedAndRetried()
{
    QTemporaryDir dir;
    // A regular file where the parent folder should be: no folder can be made.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    QVERIFY(TestSupport::writeFile(blocker, "x"));
    const QString path = blocker + QStringLiteral("/p.plist");
    Preferences preferences(path);
    QSignalSpy failed(&preferences, &Preferences::writeFailed);
    preferences.setDouble(0.5, QStringLiteral("masterVolume"));
    QVERIFY(!preferences.flush());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), path);
    QCOMPARE(preferences.doubleForKey(QStringLiteral("masterVolume")), 0.5);

    // Once the obstacle is gone, the next change writes everything.
    QVERIFY(QFile::remove(blocker));
    preferences.setBool(true, QStringLiteral("windowAlwaysOnTop"));
    QVERIFY(preferences.flush());
    QCOMPARE(storedMap(path), (QVariantMap{{QStringLiteral("masterVolume"), 0.5},
                                           {QStringLiteral("windowAlwaysOnTop"), true}}));
}

void TestPreferences::defaultPathFollowsXdgConfigHome()
{
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const QString path = Preferences::defaultFilePath();
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
    QCOMPARE(path, dir.path() + QStringLiteral("/Wavelark/Wavelark.plist"));
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
