#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

// What really reached the device: SDL's disk driver writes every buffer it plays to a file,
// 32-bit float stereo at 48 kHz as the player asks for.
class TestAudioDiskOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void playsTheFileAtTheSetGain();
    void switchingFilesPlaysTheNewOneFromItsStart();
    void seekingToTheMiddlePlaysTheMiddle();
    void loopingRestartsWithoutAGap();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // The frames that carry sound, as (left, right) pairs; the device's idle buffers are silence.
    std::vector<std::pair<float, float>> soundFrames() const;

    QTemporaryDir m_dir;
    QString m_output;
    QString m_timeCoded; // 1 s: left = 0.1 + t / 10, right = -left
    QString m_level;     // 0.25 s at 0.6 on both channels
    std::unique_ptr<Preferences> m_defaults;
};

void TestAudioDiskOutput::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make fixtures");
    qputenv("SDL_AUDIODRIVER", "disk");
    m_timeCoded = path(QStringLiteral("timecoded.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(
        m_timeCoded, {QStringLiteral("0.1+t/10"), QStringLiteral("-0.1-t/10")}, 1.0, 48000));
    m_level = path(QStringLiteral("level.flac"));
    QVERIFY(TestSupport::makeAudio(m_level,
                                   QStringLiteral("aevalsrc=exprs='0.6|0.6':s=48000:d=0.25"),
                                   {QStringLiteral("-sample_fmt"), QStringLiteral("s32")}));
}

void TestAudioDiskOutput::init()
{
    // A fresh file per case; SDL reads the variable when the player opens the device.
    m_output = path(QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral(".raw"));
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_output));
    m_defaults = std::make_unique<Preferences>(path(QStringLiteral("prefs.plist")));
}

std::vector<std::pair<float, float>> TestAudioDiskOutput::soundFrames() const
{
    QFile file(m_output);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    std::vector<std::pair<float, float>> frames;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        if (samples[i] != 0.0f || samples[i + 1] != 0.0f)
            frames.emplace_back(samples[i], samples[i + 1]);
    }
    return frames;
}

void TestAudioDiskOutput::playsTheFileAtTheSetGain()
{
    {
        AudioPreviewPlayer player(*m_defaults);
        player.setVolume(0.5f);
        QVERIFY(player.play(QUrl::fromLocalFile(m_timeCoded)));
        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    } // closing the device flushes the file

    const std::vector<std::pair<float, float>> frames = soundFrames();
    QCOMPARE(frames.size(), size_t(48000));
    for (size_t f = 0; f < frames.size(); f += 997) {
        const float expected = (0.1f + float(f) / 48000.0f / 10.0f) * 0.5f;
        QVERIFY2(
            qAbs(frames[f].first - expected) < 1e-6f,
            qPrintable(
                QStringLiteral("frame %1: %2, not %3").arg(f).arg(frames[f].first).arg(expected)));
        QCOMPARE(frames[f].second, -frames[f].first);
    }
}

void TestAudioDiskOutput::switchingFilesPlaysTheNewOneFromItsStart()
{
    {
        AudioPreviewPlayer player(*m_defaults);
        player.setVolume(1.0f);
        QVERIFY(player.play(QUrl::fromLocalFile(m_timeCoded)));
        QTest::qWait(200);
        QVERIFY(player.play(QUrl::fromLocalFile(m_level)));
        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    }

    const std::vector<std::pair<float, float>> frames = soundFrames();
    // First part of the time-coded file, from its start; then the whole of the level file.
    QVERIFY(frames.size() > 12000);
    QCOMPARE(frames.front().first, 0.1f);
    size_t f = 0;
    while (f < frames.size() && frames[f].first != frames[f].second)
        ++f;
    QVERIFY2(f > 2400 && f < 48000, qPrintable(QString::number(f)));
    QCOMPARE(frames.size() - f, size_t(12000));
    for (; f < frames.size(); ++f)
        QVERIFY(qAbs(frames[f].first - 0.6f) < 1e-6f && frames[f].second == frames[f].first);
}

void TestAudioDiskOutput::seekingToTheMiddlePlaysTheMiddle()
{
    {
        AudioPreviewPlayer player(*m_defaults);
        player.setVolume(1.0f);
        QVERIFY(player.play(QUrl::fromLocalFile(m_timeCoded)));
        player.stop();
        // Nothing plays; the seek replays the loaded file from its middle.
        player.seek(0.5);
        QVERIFY(player.isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    }

    const std::vector<std::pair<float, float>> frames = soundFrames();
    QVERIFY(!frames.empty());
    // The stopped start may have left a few frames; after them comes t = 0.5 s onwards.
    size_t f = 0;
    while (f < frames.size() && frames[f].first < 0.15f - 1e-6f)
        ++f;
    QVERIFY2(f < 1024, qPrintable(QString::number(f)));
    QVERIFY(qAbs(frames[f].first - 0.15f) < 1e-6f);
    QCOMPARE(frames.size() - f, size_t(24000));
    QVERIFY(qAbs(frames.back().first - (0.1f + 47999.0f / 48000.0f / 10.0f)) < 1e-6f);
}

void TestAudioDiskOutput::loopingRestartsWithoutAGap()
{
    const qint64 fileFrames = 48000;
    {
        AudioPreviewPlayer player(*m_defaults);
        player.setVolume(1.0f);
        player.setPreviewLoops(true);
        QVERIFY(player.play(QUrl::fromLocalFile(m_timeCoded)));
        // Well past the first seam: the device keeps asking, the engine keeps answering.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_output).size() > qint64(1.6 * fileFrames * 8), 8000);
        QVERIFY(player.isPlaying());
        player.stop();
    }

    QFile file(m_output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    size_t first = 0;
    while (first < samples.size() && samples[first] == 0.0f)
        first += 2;
    const size_t seam = first + size_t(fileFrames) * 2;
    QVERIFY(seam + 4800 * 2 < samples.size());
    // Every frame up to and past the seam carries sound: the file's values never reach 0.
    for (size_t i = first; i < seam + 4800 * 2; i += 2)
        QVERIFY2(samples[i] != 0.0f,
                 qPrintable(QStringLiteral("silence at frame %1").arg((i - first) / 2)));
    QVERIFY(qAbs(samples[seam - 2] - (0.1f + 47999.0f / 48000.0f / 10.0f)) < 1e-6f);
    QCOMPARE(samples[seam], 0.1f);
    QCOMPARE(samples[seam + 1], -0.1f);
    QVERIFY(qAbs(samples[seam + 2 * 4800] - 0.11f) < 1e-6f);
}

QTEST_GUILESS_MAIN(TestAudioDiskOutput)
#include "tst_audiodiskoutput.moc"
