#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/PlaybackEngine.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

constexpr int deviceFrames = 256;

// Pulls device buffers until `done` holds or `limit` buffers went by, pausing a little between
// buffers as a device would, and returns every frame pulled.
template <typename Done>
std::vector<float> pullUntil(ManualAudioOutput &output, Done done, int limit = 4000)
{
    std::vector<float> all;
    for (int i = 0; i < limit && !done(); ++i) {
        const std::vector<float> buffer = output.pull(deviceFrames);
        all.insert(all.end(), buffer.begin(), buffer.end());
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return all;
}

// The frames that carry sound: underruns while the decoder catches up are exact silence.
std::vector<float> withoutSilentFrames(const std::vector<float> &interleaved, int channels)
{
    std::vector<float> kept;
    for (size_t f = 0; f + size_t(channels) <= interleaved.size(); f += size_t(channels)) {
        bool silent = true;
        for (int c = 0; c < channels; ++c)
            silent = silent && interleaved[f + size_t(c)] == 0.0f;
        if (!silent)
            kept.insert(kept.end(), interleaved.begin() + qsizetype(f),
                        interleaved.begin() + qsizetype(f) + channels);
    }
    return kept;
}

struct FinishRecorder
{
    std::atomic<int> calls{0};
    std::atomic<quint64> lastId{0};
    std::atomic<bool> successfully{false};

    PlaybackEngine::FinishedHandler handler()
    {
        return [this](quint64 id, bool ok) {
            lastId = id;
            successfully = ok;
            ++calls;
        };
    }
};

} // namespace

class TestPlaybackEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void playsEveryFrameOfTheFile();
    void reportsTheEndOnceWithItsId();
    void gainIsSetAtStartAndRampedOnChange();
    void monoPlaysAtFullLevelOnBothChannels();
    void resamplesToTheDeviceRate();
    void seekPlaysFromTheTargetSample();
    void stopDetachesFromTheOutput();
    void failsAtOnce_data();
    void failsAtOnce();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QString m_timeCoded;
};

void TestPlaybackEngine::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make fixtures");
    // Each sample tells its own time: left = 0.1 + t / 10, right = -left. Never 0.
    m_timeCoded = path(QStringLiteral("timecoded.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(
        m_timeCoded, {QStringLiteral("0.1+t/10"), QStringLiteral("-0.1-t/10")}, 2.0, 48000));
}

void TestPlaybackEngine::playsEveryFrameOfTheFile()
{
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
    QVERIFY(engine != nullptr);
    QCOMPARE(engine->duration(), 2.0);
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    engine->setVolume(1.0f);
    QVERIFY(engine->play());

    const std::vector<float> played =
        withoutSilentFrames(pullUntil(output, [&] { return finished.calls > 0; }), 2);
    std::optional<std::vector<float>> expected = AudioFixtures::decodeWithFfmpeg(m_timeCoded);
    QVERIFY(expected.has_value());
    QCOMPARE(played.size(), expected->size());
    QVERIFY(played == *expected);
    QCOMPARE(engine->currentTime(), 2.0);
}

void TestPlaybackEngine::reportsTheEndOnceWithItsId()
{
    const QString file = path(QStringLiteral("short.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 0.1, 48000));
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> first = PlaybackEngine::create(file, output);
    std::unique_ptr<PlaybackEngine> second = PlaybackEngine::create(file, output);
    QVERIFY(first && second);
    QVERIFY(first->id() != second->id());

    FinishRecorder finished;
    first->setFinishedHandler(finished.handler());
    QVERIFY(first->play());
    // Not before the device has taken the frames: 0.1 s is 4800 frames, over 18 buffers.
    QTest::qWait(50);
    QCOMPARE(finished.calls.load(), 0);
    pullUntil(output, [&] { return finished.calls > 0; });
    QCOMPARE(finished.calls.load(), 1);
    QCOMPARE(finished.lastId.load(), first->id());
    QVERIFY(finished.successfully);
    pullUntil(
        output, [] { return false; }, 20);
    QCOMPARE(finished.calls.load(), 1);
}

void TestPlaybackEngine::gainIsSetAtStartAndRampedOnChange()
{
    const QString file = path(QStringLiteral("dc.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 1.0, 48000));
    ManualAudioOutput output(48000, 1);
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(file, output);
    QVERIFY(engine != nullptr);
    engine->setVolume(0.8f);
    QVERIFY(engine->play());

    std::vector<float> before =
        withoutSilentFrames(pullUntil(output, [&] { return engine->currentTime() > 0.1; }), 1);
    QVERIFY(!before.empty());
    for (float sample : before)
        QCOMPARE(sample, 0.4f);

    engine->setVolume(0.2f);
    const std::vector<float> after =
        withoutSilentFrames(pullUntil(output, [&] { return engine->currentTime() > 0.2; }), 1);
    // 0.4 down to 0.1 in steps no bigger than the 5 ms ramp allows, then steady.
    const float step = 0.5f / (48000 * 0.005f);
    float previous = 0.4f;
    qsizetype rampFrames = 0;
    for (float sample : after) {
        QVERIFY2(sample <= previous + 1e-6f, "the gain went back up");
        QVERIFY2(previous - sample <= step + 1e-6f, "the gain jumped");
        if (sample > 0.1f + 1e-6f)
            ++rampFrames;
        previous = sample;
    }
    QCOMPARE(after.back(), 0.5f * 0.2f);
    QVERIFY2(rampFrames > 100 && rampFrames <= 48000 * 5 / 1000,
             qPrintable(QString::number(rampFrames)));
    QCOMPARE(engine->volume(), 0.2f);
}

void TestPlaybackEngine::monoPlaysAtFullLevelOnBothChannels()
{
    const QString file = path(QStringLiteral("mono.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.4")}, 0.2, 48000));
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(file, output);
    QVERIFY(engine != nullptr);
    engine->setVolume(1.0f);
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    QVERIFY(engine->play());
    const std::vector<float> played =
        withoutSilentFrames(pullUntil(output, [&] { return finished.calls > 0; }), 2);
    QCOMPARE(played.size(), size_t(0.2 * 48000 * 2));
    for (float sample : played)
        QCOMPARE(sample, 0.4f);
}

void TestPlaybackEngine::resamplesToTheDeviceRate()
{
    const QString file = path(QStringLiteral("rate.flac"));
    QVERIFY(TestSupport::makeAudio(file, QStringLiteral("aevalsrc=exprs='0.5|0.5':s=44100:d=1.5")));
    ManualAudioOutput output(48000, 2);
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(file, output);
    QVERIFY(engine != nullptr);
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    engine->setVolume(1.0f);
    QVERIFY(engine->play());
    const std::vector<float> played =
        withoutSilentFrames(pullUntil(output, [&] { return finished.calls > 0; }), 2);
    const qsizetype frames = qsizetype(played.size()) / 2;
    QVERIFY2(qAbs(frames - 72000) < 64, qPrintable(QString::number(frames)));
    // Away from the edges the level is the file's.
    QVERIFY2(qAbs(played[size_t(frames)] - 0.5f) < 1e-3f,
             qPrintable(QString::number(played[size_t(frames)])));
}

void TestPlaybackEngine::seekPlaysFromTheTargetSample()
{
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
    QVERIFY(engine != nullptr);
    engine->setVolume(1.0f);
    QVERIFY(engine->play());
    pullUntil(output, [&] { return engine->currentTime() > 0.05; });

    engine->setCurrentTime(1.25);
    QCOMPARE(engine->currentTime(), 1.25);
    const std::vector<float> played =
        withoutSilentFrames(pullUntil(output, [&] { return engine->currentTime() > 1.3; }), 2);
    QVERIFY(!played.empty());
    // The first frame after the seek is the one at 1.25 s, not the old position.
    const float expected = 0.1f + float(60000.0 / 48000.0) / 10.0f;
    QVERIFY2(qAbs(played[0] - expected) < 1e-6f,
             qPrintable(QStringLiteral("%1 instead of %2").arg(played[0]).arg(expected)));
    QCOMPARE(played[1], -played[0]);
    QVERIFY(qAbs(engine->currentTime() - (1.25 + double(played.size() / 2) / 48000)) < 1e-9);

    // Seeking past the end ends playback.
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    engine->setCurrentTime(5.0);
    pullUntil(
        output, [&] { return finished.calls > 0; }, 200);
    QCOMPARE(finished.calls.load(), 1);
}

void TestPlaybackEngine::stopDetachesFromTheOutput()
{
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
    QVERIFY(engine != nullptr);
    QVERIFY(!output.hasRenderer());
    QVERIFY(engine->play());
    QVERIFY(output.hasRenderer());
    engine->stop();
    QVERIFY(!output.hasRenderer());
    QVERIFY(!engine->play());
}

void TestPlaybackEngine::failsAtOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("deviceAvailable");
    QTest::newRow("missing file") << QStringLiteral("none.wav") << QByteArray() << true;
    QTest::newRow("garbage") << QStringLiteral("kick.wav") << QByteArray(3000, 'x') << true;
    QTest::newRow("no device") << QString() << QByteArray() << false;
}

void TestPlaybackEngine::failsAtOnce()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, deviceAvailable);
    QString file = m_timeCoded;
    if (!name.isEmpty()) {
        file = path(name);
        if (!bytes.isEmpty())
            QVERIFY(TestSupport::writeFile(file, bytes));
    }
    ManualAudioOutput output(48000, 2, deviceAvailable);
    QVERIFY(PlaybackEngine::create(file, output) == nullptr);
}

QTEST_GUILESS_MAIN(TestPlaybackEngine)
#include "tst_playbackengine.moc"
