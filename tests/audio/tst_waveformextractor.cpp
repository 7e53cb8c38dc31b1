#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "audio/WaveformExtractor.h"
#include "platform/CancelFlag.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>

namespace {

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

float loudest(const QList<float> &peaks)
{
    return peaks.isEmpty() ? 0.0f : *std::max_element(peaks.begin(), peaks.end());
}

} // namespace

class TestWaveformExtractor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void everyPreviewableFormat_data();
    void everyPreviewableFormat();
    void losslessFilesMatchIndependentDecode_data();
    void losslessFilesMatchIndependentDecode();
    void lossyShortFilesFillEveryBar_data();
    void lossyShortFilesFillEveryBar();
    void vorbisSpansTheDecodedFrames();
    void monoAtHalfScaleNormalisesToOne();
    void silenceGivesZerosNotNothing();
    void rightOnlySignalShowsFullHeight();
    void hundredFrameFile();
    void truncatedFileKeepsWhatWasRead();
    void unreadableFilesGiveNoResult_data();
    void unreadableFilesGiveNoResult();
    void countIsHonoured();
    void cancelledWorkEndsWithoutResult();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestWaveformExtractor::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make fixtures");
}

void TestWaveformExtractor::everyPreviewableFormat_data()
{
    QTest::addColumn<QString>("extension");
    for (const QString &extension : AudioPreviewPlayer::previewableExtensions())
        QTest::newRow(qPrintable(extension)) << extension;
    QTest::newRow("ogg (listed, decodable, not previewed)") << QStringLiteral("ogg");
}

void TestWaveformExtractor::everyPreviewableFormat()
{
    QFETCH(QString, extension);
    // Silence, then a tone: the bars must show the tone in the second half only, whatever the
    // container does with priming and padding.
    const QString file = path(QStringLiteral("format.") + extension);
    QStringList options{QStringLiteral("-ac"), QStringLiteral("2")};
    options += AudioFixtures::encoderOptions(extension);
    QVERIFY(TestSupport::makeAudio(
        file, QStringLiteral("aevalsrc=exprs='if(gte(t,1),0.8*sin(2*PI*440*t),0)':s=44100:d=2"),
        options));

    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE(peaks->size(), 260);
    QCOMPARE(loudest(*peaks), 1.0f);
    // Lossy codecs smear a little energy around the onset; far from it the picture is clear.
    for (int k = 0; k < 120; ++k)
        QVERIFY2((*peaks)[k] < 0.05f,
                 qPrintable(QStringLiteral("bar %1 is %2").arg(k).arg((*peaks)[k])));
    for (int k = 140; k < 255; ++k)
        QVERIFY2((*peaks)[k] > 0.8f,
                 qPrintable(QStringLiteral("bar %1 is %2").arg(k).arg((*peaks)[k])));
}

void TestWaveformExtractor::losslessFilesMatchIndependentDecode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("source");

    const QString noise = QStringLiteral("anoisesrc=color=pink:amplitude=0.7:duration=3.7:seed=7");
    QTest::newRow("wav s16 stereo 44.1k")
        << QStringLiteral("a.wav")
        << QStringList{QStringLiteral("-ac"),   QStringLiteral("2"),    QStringLiteral("-ar"),
                       QStringLiteral("44100"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}
        << noise;
    QTest::newRow("flac 24-bit 96k mono")
        << QStringLiteral("b.flac")
        << QStringList{QStringLiteral("-ac"),         QStringLiteral("1"),
                       QStringLiteral("-ar"),         QStringLiteral("96000"),
                       QStringLiteral("-sample_fmt"), QStringLiteral("s32")}
        << noise;
    QTest::newRow("aiff 6 channels") << QStringLiteral("c.aiff")
                                     << QStringList{QStringLiteral("-ac"), QStringLiteral("6"),
                                                    QStringLiteral("-ar"), QStringLiteral("48000")}
                                     << noise;
    QTest::newRow("wav float, longer than one block")
        << QStringLiteral("d.wav")
        << QStringList{QStringLiteral("-ac"),   QStringLiteral("2"),    QStringLiteral("-ar"),
                       QStringLiteral("22050"), QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")}
        << QStringLiteral(
               "anoisesrc=color=white:amplitude=0.3:duration=7:seed=3,volume='0.2+t/8':eval=frame");
}

void TestWaveformExtractor::losslessFilesMatchIndependentDecode()
{
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(QString, source);
    const QString file = path(name);
    QVERIFY(TestSupport::makeAudio(file, source, options));

    int channels = 0;
    const std::optional<std::vector<float>> samples =
        AudioFixtures::decodeWithFfmpeg(file, &channels);
    QVERIFY(samples.has_value());
    const QList<float> expected = AudioFixtures::referencePeaks(*samples, channels, 260);

    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE(*peaks, expected);
}

void TestWaveformExtractor::lossyShortFilesFillEveryBar_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("firstBar");
    QTest::addColumn<int>("endBar");
    QTest::newRow("mp3") << QStringLiteral("mp3") << 0 << 260;
    QTest::newRow("m4a") << QStringLiteral("m4a") << 0 << 260;
    QTest::newRow("mp4") << QStringLiteral("mp4") << 0 << 260;
    // Raw AAC carries no word on its priming and padding, so its ends stay quiet.
    QTest::newRow("aac") << QStringLiteral("aac") << 20 << 240;
}

void TestWaveformExtractor::lossyShortFilesFillEveryBar()
{
    // Encoder priming and padding are not part of the sound: a steady tone fills every bar,
    // the last ones included.
    QFETCH(QString, extension);
    QFETCH(int, firstBar);
    QFETCH(int, endBar);
    const QString file = path(QStringLiteral("steady.") + extension);
    QStringList options{QStringLiteral("-ac"), QStringLiteral("1")};
    options += AudioFixtures::encoderOptions(extension);
    QVERIFY(TestSupport::makeAudio(
        file, QStringLiteral("sine=frequency=440:sample_rate=44100:duration=0.5"), options));
    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    for (int k = firstBar; k < endBar; ++k)
        QVERIFY2((*peaks)[k] > 0.5f,
                 qPrintable(QStringLiteral("bar %1 is %2").arg(k).arg((*peaks)[k])));
}

void TestWaveformExtractor::vorbisSpansTheDecodedFrames()
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
    QVERIFY(last >= 0);
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
    const std::optional<std::vector<float>> decoded = AudioFixtures::decodeWithFfmpeg(file);
    QVERIFY(decoded);

    const std::optional<WaveformExtractor::Overview> overview =
        WaveformExtractor::computeOverview(fileUrl(file), 260);
    QVERIFY(overview.has_value());
    QCOMPARE(overview->frames, qint64(decoded->size()));
    for (int k = 0; k < 260; ++k)
        QVERIFY2(overview->peaks[k] > 0.5f,
                 qPrintable(QStringLiteral("bar %1 is %2").arg(k).arg(overview->peaks[k])));
}

void TestWaveformExtractor::monoAtHalfScaleNormalisesToOne()
{
    const QString file = path(QStringLiteral("half.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5*sin(2*PI*100*t)")}, 1.0, 44100));
    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE(loudest(*peaks), 1.0f);
}

void TestWaveformExtractor::silenceGivesZerosNotNothing()
{
    const QString file = path(QStringLiteral("silence.flac"));
    QVERIFY(TestSupport::makeAudio(file, QStringLiteral("anullsrc=r=44100:cl=stereo"),
                                   {QStringLiteral("-t"), QStringLiteral("1.5")}));
    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE(*peaks, QList<float>(260, 0.0f));
}

void TestWaveformExtractor::rightOnlySignalShowsFullHeight()
{
    const QString file = path(QStringLiteral("right.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(
        file, {QStringLiteral("0"), QStringLiteral("if(gte(t,0.5),0.9,0.09)")}, 1.0, 26000));
    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE((*peaks)[0], 0.1f);
    QCOMPARE((*peaks)[129], 0.1f);
    QCOMPARE((*peaks)[130], 1.0f);
    QCOMPARE((*peaks)[259], 1.0f);
}

void TestWaveformExtractor::hundredFrameFile()
{
    const QString file = path(QStringLiteral("short.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.3")}, 100.0 / 8000, 8000));
    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(file), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE(peaks->size(), 260);
    QList<float> expected(260, 0.0f);
    for (int f = 0; f < 100; ++f)
        expected[f * 260 / 100] = 1.0f;
    QCOMPARE(*peaks, expected);
}

void TestWaveformExtractor::truncatedFileKeepsWhatWasRead()
{
    // The header promises 2 s; only the first half survives, and it is loud.
    const QString whole = path(QStringLiteral("whole.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(whole, {QStringLiteral("0.6")}, 2.0, 8000));
    QFile source(whole);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    const QString cut = path(QStringLiteral("cut.wav"));
    QVERIFY(TestSupport::writeFile(cut, bytes.left(bytes.size() / 2)));

    const std::optional<QList<float>> peaks = WaveformExtractor::computePeaks(fileUrl(cut), 260);
    QVERIFY(peaks.has_value());
    QCOMPARE((*peaks)[0], 1.0f);
    QCOMPARE((*peaks)[120], 1.0f);
    QCOMPARE((*peaks)[140], 0.0f);
    QCOMPARE((*peaks)[259], 0.0f);
}

void TestWaveformExtractor::unreadableFilesGiveNoResult_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    // A null byte array leaves the file out; "frameless" makes a valid file without frames.
    QTest::newRow("missing") << QStringLiteral("missing.wav") << QByteArray();
    QTest::newRow("empty") << QStringLiteral("empty.wav") << QByteArray("");
    QTest::newRow("garbage") << QStringLiteral("kick.wav")
                             << QByteArray("this is not audio at all, only text\n").repeated(50);
    QTest::newRow("no frames") << QStringLiteral("frameless.wav") << QByteArray();
}

void TestWaveformExtractor::unreadableFilesGiveNoResult()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QString file = path(name);
    if (name == QLatin1String("frameless.wav"))
        QVERIFY(TestSupport::makeAudio(file, QStringLiteral("anullsrc=r=8000:cl=mono"),
                                       {QStringLiteral("-t"), QStringLiteral("0")}));
    else if (!bytes.isNull())
        QVERIFY(TestSupport::writeFile(file, bytes));
    QCOMPARE(WaveformExtractor::computePeaks(fileUrl(file), 260), std::nullopt);
}

void TestWaveformExtractor::countIsHonoured()
{
    const QString file = path(QStringLiteral("count.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("t")}, 1.0, 1000));
    const std::optional<QList<float>> one = WaveformExtractor::computePeaks(fileUrl(file), 1);
    QVERIFY(one.has_value());
    QCOMPARE(*one, QList<float>{1.0f});
    const std::optional<QList<float>> ten = WaveformExtractor::computePeaks(fileUrl(file), 10);
    QVERIFY(ten.has_value());
    // A ramp t over 1 s: slice k ends at 0.1 * (k + 1) - 1 ms.
    QCOMPARE(ten->size(), 10);
    QCOMPARE(ten->last(), 1.0f);
    QVERIFY(qAbs((*ten)[4] - 0.499f / 0.999f) < 1e-4f);
    QCOMPARE(WaveformExtractor::computePeaks(fileUrl(file), 0), std::nullopt);
}

void TestWaveformExtractor::cancelledWorkEndsWithoutResult()
{
    const QString file = path(QStringLiteral("cancel.flac"));
    QVERIFY(AudioFixtures::makeTone(file, 1.0));
    CancelFlag flag;
    flag.cancel();
    QCOMPARE(WaveformExtractor::computePeaks(fileUrl(file), 260, &flag), std::nullopt);
}

QTEST_GUILESS_MAIN(TestWaveformExtractor)
#include "tst_waveformextractor.moc"
