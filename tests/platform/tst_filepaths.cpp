// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Paths are bytes: names that are not UTF-8 go through the model's QString form and back unchanged.
#include "FilePaths.h"

#include <QTest>

class TestFilePaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bytesSurviveTheRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("/s/Kick 01.wav") << u"/s/Kick 01.wav"_qs;
        QTest::newRow("utf-8") << QByteArray("/s/caf\xc3\xa9.wav") << u"/s/caf\u00e9.wav"_qs;
        QTest::newRow("latin-1") << QByteArray("/s/caf\xe9-latin1.wav")
                                 << u"/s/caf\\xE9-latin1.wav"_qs;
        QTest::newRow("byte order mark bytes")
            << QByteArray("/s/\xff\xfe.wav") << u"/s/\\xFF\\xFE.wav"_qs;
        QTest::newRow("cp437 box") << QByteArray("/\x81\x82") << u"/\\x81\\x82"_qs;
        QTest::newRow("overlong slash") << QByteArray("/a\xc0\xaf") << u"/a\\xC0\\xAF"_qs;
        QTest::newRow("encoded surrogate") << QByteArray("/\xed\xa0\x80") << u"/\\xED\\xA0\\x80"_qs;
        QTest::newRow("cut sequence") << QByteArray("/\xe2\x82") << u"/\\xE2\\x82"_qs;
        QTest::newRow("astral") << QByteArray("/\xf0\x9f\xa5\x81.wav") << u"/\U0001F941.wav"_qs;
        // A real name that holds a code point of the carrying block is carried byte by byte, so
        // it can never be taken for another name's escaped byte.
        QTest::newRow("carrying block itself")
            << QByteArray("/\xee\xbe\x80") << u"/\\xEE\\xBE\\x80"_qs;
        QTest::newRow("newline and tab") << QByteArray("/a\nb\tc") << u"/a\u240Ab\u2409c"_qs;
    }
    void bytesSurviveTheRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString path = FilePaths::decoded(bytes);
        QCOMPARE(FilePaths::encoded(path), bytes);
        // The index keeps paths as UTF-8; that form is always valid and comes back the same.
        const std::string utf8 = FilePaths::escapedUtf8(bytes.toStdString());
        QVERIFY(QUtf8StringView(utf8).isValidUtf8());
        QCOMPARE(QString::fromUtf8(utf8), path);
        QCOMPARE(FilePaths::displayText(path), shown);
        // Normalising a path keeps its bytes too.
        QCOMPARE(FilePaths::encoded(FilePaths::normalized(path)), bytes);
        QCOMPARE(FilePaths::encoded(FilePaths::normalized(QUrl::fromLocalFile(path))), bytes);
    }

    void distinctBytesStayDistinctAndDragExactly()
    {
        const QStringList paths{
            FilePaths::decoded("/s/caf\xe9.wav"), FilePaths::decoded("/s/caf\xe8.wav"),
            FilePaths::decoded("/s/caf\xef\xbf\xbd.wav"), FilePaths::decoded("/s/caf\xc3\xa9.wav")};
        for (qsizetype i = 0; i < paths.size(); ++i) {
            for (qsizetype j = i + 1; j < paths.size(); ++j)
                QVERIFY2(paths.at(i) != paths.at(j), qPrintable(QString::number(i * 10 + j)));
        }
        QCOMPARE(FilePaths::uriList(paths.mid(0, 2)),
                 QByteArray("file:///s/caf%E9.wav\r\nfile:///s/caf%E8.wav\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestFilePaths)
#include "tst_filepaths.moc"
