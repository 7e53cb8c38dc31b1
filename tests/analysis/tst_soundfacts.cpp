// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/SoundFacts.h"

#include <QTest>

#include <cmath>

using Kind = SoundFacts::Kind;
using Status = SoundFacts::Status;

class TestSoundFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyNames_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("name");
        QTest::newRow("C") << u"C"_qs << 0 << u"C"_qs;
        QTest::newRow("B") << u"B"_qs << 11 << u"B"_qs;
        QTest::newRow("Am") << u"Am"_qs << 21 << u"Am"_qs;
        QTest::newRow("F#m") << u"F#m"_qs << 18 << u"F#m"_qs;
        QTest::newRow("Eb") << u"Eb"_qs << 3 << u"Eb"_qs;
        QTest::newRow("sharps are shown as flats") << u"C#m"_qs << 13 << u"Dbm"_qs;
        QTest::newRow("flats as F#") << u"Gb"_qs << 6 << u"F#"_qs;
        QTest::newRow("around the octave") << u"Cb"_qs << 11 << u"B"_qs;
        QTest::newRow("B#m") << u"B#m"_qs << 12 << u"Cm"_qs;
        QTest::newRow("music signs") << u"B♭m"_qs << 22 << u"Bbm"_qs;
        QTest::newRow("lower-case letter") << u"ab"_qs << 8 << u"Ab"_qs;
        QTest::newRow("empty") << QString() << -1 << QString();
        QTest::newRow("H") << u"H"_qs << -1 << QString();
        QTest::newRow("M is not minor") << u"AM"_qs << -1 << QString();
        QTest::newRow("trailing text") << u"Cmaj"_qs << -1 << QString();
        QTest::newRow("two signs") << u"C##"_qs << -1 << QString();
    }

    void keyNames()
    {
        QFETCH(QString, written);
        QFETCH(int, key);
        QFETCH(QString, name);
        QCOMPARE(SoundFacts::keyFromName(written), key);
        QCOMPARE(SoundFacts::keyName(key), name);
        QCOMPARE(SoundFacts::analysed(0, key, {}, {}, Kind::Unknown).keyName(), name);
    }

    void bytes_data()
    {
        QTest::addColumn<SoundFacts>("facts");
        QTest::newRow("not analysed") << SoundFacts();
        QTest::newRow("failed") << SoundFacts::failed();
        QTest::newRow("loop") << SoundFacts::analysed(123.456, 21, -14.25, -1.0, Kind::Loop);
        QTest::newRow("one-shot, quiet")
            << SoundFacts::analysed(0, 23, -70.5, -30.04, Kind::OneShot);
        QTest::newRow("all unknown") << SoundFacts::analysed(0, -1, {}, {}, Kind::Unknown);
        QTest::newRow("loud, fast") << SoundFacts::analysed(655.0, 0, 3.0, 6.5, Kind::Loop);
    }

    void bytes()
    {
        QFETCH(SoundFacts, facts);
        const QByteArray bytes = facts.toBytes();
        QCOMPARE(bytes.size(), SoundFacts::serializedSize);
        QCOMPARE(SoundFacts::fromBytes(bytes), facts);
        QVERIFY(!SoundFacts::fromBytes(bytes.left(7)));
        QVERIFY(!SoundFacts::fromBytes(bytes + '\0'));
    }

    void values()
    {
        const SoundFacts loop = SoundFacts::analysed(123.456, 21, -14.25, -1.004, Kind::Loop);
        QCOMPARE(loop.status(), Status::Analysed);
        QCOMPARE(loop.bpm(), 123.46);
        QCOMPARE(loop.loudness(), -14.25);
        QCOMPARE(loop.truePeak(), -1.0);
        QCOMPARE(loop.kind(), Kind::Loop);
        // Beyond what the 8 bytes hold, a value is unknown rather than wrong.
        const SoundFacts odd = SoundFacts::analysed(700.0, 24, std::nan(""), -400.0, Kind::OneShot);
        QCOMPARE(odd.bpm(), 0.0);
        QCOMPARE(odd.key(), SoundFacts::unknownKey);
        QCOMPARE(odd.loudness(), std::nullopt);
        QCOMPARE(odd.truePeak(), std::nullopt);
        QCOMPARE(SoundFacts().status(), Status::NotAnalysed);
        QCOMPARE(SoundFacts::failed().status(), Status::Failed);
    }

    void malformedBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("key 24") << QByteArray("\0\0\0\0\0\0\x18\x10", 8);
        QTest::newRow("key -2") << QByteArray("\0\0\0\0\0\0\xfe\x10", 8);
        QTest::newRow("status 3") << QByteArray("\0\0\0\0\0\0\0\x30", 8);
        QTest::newRow("kind 3") << QByteArray("\0\0\0\0\0\0\0\x13", 8);
    }

    void malformedBytes()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!SoundFacts::fromBytes(bytes));
    }
};

QTEST_GUILESS_MAIN(TestSoundFacts)
#include "tst_soundfacts.moc"
