// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/WaveformExtractor.h"
#include "platform/CancelFlag.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using AudioFixtures::fileUrl;

class TestWaveformExtractor : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
            QSKIP("ffmpeg is needed to make fixtures");
    }
    void matchesIndependentDecode_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("channels");
        const QString noise =
            QStringLiteral("anoisesrc=color=pink:amplitude=0.7:duration=3.7:seed=7");
        QTest::newRow("wav s16 stereo") << u"a.wav"_qs << noise << u"-ac 2 -c:a pcm_s16le"_qs << 2;
        QTest::newRow("flac 24-bit 96k mono")
            << u"b.flac"_qs << noise << u"-ac 1 -ar 96000 -sample_fmt s32"_qs << 1;
        QTest::newRow("aiff 6 channels") << u"c.aiff"_qs << noise << u"-ac 6 -ar 48000"_qs << 6;
        QTest::newRow("float, longer than one block")
            << u"d.wav"_qs
            << u"anoisesrc=color=white:amplitude=0.3:duration=7:seed=3,volume='0.2+t/8':eval=frame"_qs
            << u"-ac 2 -ar 22050 -c:a pcm_f32le"_qs << 2;
        QTest::newRow("right channel only")
            << u"e.wav"_qs << u"aevalsrc=exprs='0|if(gte(t,0.5),0.9,0.09)':s=26000:d=1"_qs
            << u"-c:a pcm_f32le"_qs << 2;
        QTest::newRow("100 frames") << u"f.wav"_qs << u"aevalsrc=exprs='0.3':s=8000:d=0.0125"_qs
                                    << u"-c:a pcm_f32le"_qs << 1;
        QTest::newRow("silence") << u"g.flac"_qs << u"anullsrc=r=44100:cl=stereo"_qs << u"-t 1.5"_qs
                                 << 2;
        // NaN samples never win a bar.
        QTest::newRow("NaN")
            << u"i.wav"_qs
            << u"aevalsrc=exprs='if(lt(t,0.5),0.4*sin(2*PI*440*t),sqrt(-1))':s=8000:d=1"_qs
            << u"-c:a pcm_f32le"_qs << 1;
        // The header promises 2 s; only the first half survives.
        QTest::newRow("truncated")
            << u"h.wav"_qs << u"aevalsrc=exprs='0.6':s=8000:d=2"_qs << u"-c:a pcm_f32le"_qs << 1;
    }

    void matchesIndependentDecode()
    {
        QFETCH(QString, name);
        QFETCH(QString, source);
        QFETCH(QString, options);
        QFETCH(int, channels);
        const bool truncated = name == QLatin1String("h.wav");
        const QString file = path(name);
        QVERIFY(TestSupport::makeAudio(file, source, options.split(u' ')));
        if (truncated) {
            QFile whole(file);
            QVERIFY(whole.open(QIODevice::ReadWrite) && whole.resize(whole.size() / 2));
        }
        std::optional<std::vector<float>> samples = AudioFixtures::decodeWithFfmpeg(file);
        QVERIFY(samples.has_value());
        // What was cut off counts as silence: the bars keep the length the header states.
        if (truncated)
            samples->resize(2 * 8000);
        QCOMPARE(WaveformExtractor::computePeaks(fileUrl(file), 260).value_or(QList<float>()),
                 AudioFixtures::referencePeaks(*samples, channels, 260));
        // The count is the caller's.
        QCOMPARE(WaveformExtractor::computePeaks(fileUrl(file), 7).value_or(QList<float>()),
                 AudioFixtures::referencePeaks(*samples, channels, 7));
    }

    void vorbisSpansTheDecodedFrames()
    {
        // The last page's granule position states more frames than the packets decode to, as some
        // encoders write it: the bars must span the decoded frames only.
        const QString file = path(QStringLiteral("overstated.ogg"));
        QVERIFY(TestSupport::makeAudio(
            file, QStringLiteral("sine=frequency=440:sample_rate=44100:duration=0.5"),
            {QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-c:a"),
             QStringLiteral("libvorbis")}));
        QFile ogg(file);
        QVERIFY(ogg.open(QIODevice::ReadWrite));
        QByteArray bytes = ogg.readAll();
        const qsizetype last = bytes.lastIndexOf("OggS");
        uchar *page = reinterpret_cast<uchar *>(bytes.data() + last);
        qToLittleEndian<qint64>(qFromLittleEndian<qint64>(page + 6) + 2000, page + 6);
        qToLittleEndian<quint32>(0, page + 22);
        quint32 crc = 0;
        for (qsizetype i = last; i < bytes.size(); ++i) {
            crc ^= quint32(uchar(bytes[i])) << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
        }
        qToLittleEndian<quint32>(crc, page + 22);
        QVERIFY(ogg.seek(0) && ogg.write(bytes) == bytes.size());
        ogg.close();

        const std::optional<WaveformExtractor::Overview> overview =
            WaveformExtractor::computeOverview(fileUrl(file), 260);
        QVERIFY(overview.has_value());
        QCOMPARE(overview->frames, qint64(AudioFixtures::decodeWithFfmpeg(file)->size()));
        QVERIFY(*std::min_element(overview->peaks.begin(), overview->peaks.end()) > 0.5f);
    }

    void lengthLeavesTheEncodersPaddingOut_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<int>("rate");
        // The ffmpeg input options under which the tool decodes every frame of the sound.
        QTest::addColumn<QString>("oracle");
        // The whole sound fits one page, the case where FFmpeg trims the end by the wrong amount.
        QTest::newRow("Vorbis in Ogg")
            << u"one-page.ogg"_qs << u"-c:a libvorbis"_qs << 44100 << u"-flags2 +skip_manual"_qs;
        QTest::newRow("Opus in Ogg")
            << u"preskip.oga"_qs << u"-c:a libopus"_qs << 48000 << QString();
        QTest::newRow("MP3 with a LAME header")
            << u"lame.mp3"_qs << u"-c:a libmp3lame"_qs << 44100 << QString();
        QTest::newRow("AAC in M4A with an edit list")
            << u"primed.m4a"_qs << u"-c:a aac -f ipod"_qs << 44100 << QString();
    }

    void lengthLeavesTheEncodersPaddingOut()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoder);
        QFETCH(int, rate);
        QFETCH(QString, oracle);
        // Half a second of a swelling tone: every bar differs, so a stretched slice shows.
        const QString file = path(name);
        QVERIFY(TestSupport::makeAudio(
            file,
            QStringLiteral("aevalsrc=exprs='(0.1+1.6*t)*sin(2*PI*440*t)':s=%1:d=0.5").arg(rate),
            QStringList{QStringLiteral("-ac"), QStringLiteral("1")} + encoder.split(u' ')));
        const qint64 length = rate / 2;
        std::optional<std::vector<float>> sound =
            AudioFixtures::decodeWithFfmpeg(file, oracle.split(u' ', Qt::SkipEmptyParts));
        QVERIFY(sound.has_value() && qint64(sound->size()) >= length);
        sound->resize(size_t(length));

        const std::optional<WaveformExtractor::Overview> overview =
            WaveformExtractor::computeOverview(fileUrl(file), 260);
        QVERIFY(overview.has_value());
        QCOMPARE(overview->frames, length);
        QCOMPARE(overview->sampleRate, rate);
        QCOMPARE(overview->peaks, AudioFixtures::referencePeaks(*sound, 1, 260));
    }

    void unreadableFilesGiveNoResult_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("missing") << u"missing.wav"_qs << QByteArray() << 260 << false;
        QTest::newRow("garbage") << u"kick.wav"_qs << QByteArray("not audio at all\n").repeated(50)
                                 << 260 << false;
        QTest::newRow("no frames") << u"frameless.wav"_qs << QByteArray() << 260 << false;
        QTest::newRow("no bars") << u"short.wav"_qs << QByteArray() << 0 << false;
        QTest::newRow("cancelled") << u"short.wav"_qs << QByteArray() << 260 << true;
    }

    void unreadableFilesGiveNoResult()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QFETCH(bool, cancelled);
        const QString file = path(name);
        if (name == QLatin1String("frameless.wav"))
            QVERIFY(TestSupport::makeAudio(file, QStringLiteral("anullsrc=r=8000:cl=mono"),
                                           {QStringLiteral("-t"), QStringLiteral("0")}));
        else if (name == QLatin1String("short.wav"))
            QVERIFY(AudioFixtures::makeFloatWav(file, {u"sin(2*PI*440*t)"_qs}, 0.5, 44100));
        else if (!bytes.isNull())
            QVERIFY(TestSupport::writeFile(file, bytes));
        CancelFlag flag;
        if (cancelled)
            flag.cancel();
        QCOMPARE(WaveformExtractor::computePeaks(fileUrl(file), count, &flag), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestWaveformExtractor)
#include "tst_waveformextractor.moc"
