#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/PlaybackEngine.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>

namespace {

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
    void playsEveryFrameAndReportsTheEndOnce();
    void seekPlaysFromTheTargetSample();
    void loopingStartsAgainAtTheEnd();

private:
    QTemporaryDir m_dir;
    QString m_timeCoded;
};

void TestPlaybackEngine::initTestCase()
{
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make fixtures");
    // Each sample tells its own time and channel: left = 0.1 + t / 10, right = -left. Never 0.
    m_timeCoded = m_dir.filePath(QStringLiteral("timecoded.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(
        m_timeCoded, {QStringLiteral("0.1+t/10"), QStringLiteral("-0.1-t/10")}, 2.0, 48000));
}

void TestPlaybackEngine::playsEveryFrameAndReportsTheEndOnce()
{
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
    std::unique_ptr<PlaybackEngine> other = PlaybackEngine::create(m_timeCoded, output);
    QVERIFY(engine && other);
    QVERIFY(engine->id() != other->id());
    other.reset();
    QCOMPARE(engine->duration(), 2.0);
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    engine->setVolume(1.0f);
    QVERIFY(engine->play());
    QVERIFY(output.hasRenderer());

    const std::vector<float> played =
        AudioFixtures::withoutSilentFrames(output.pullUntil([&] { return finished.calls > 0; }), 2);
    const std::optional<std::vector<float>> expected = AudioFixtures::decodeWithFfmpeg(m_timeCoded);
    QVERIFY(expected.has_value());
    QCOMPARE(played.size(), expected->size());
    QVERIFY(played == *expected);
    QCOMPARE(engine->currentTime(), 2.0);
    QCOMPARE(finished.lastId.load(), engine->id());
    QVERIFY(finished.successfully);
    output.pullUntil([] { return false; }, 20);
    QCOMPARE(finished.calls.load(), 1);

    engine->stop();
    QVERIFY(!output.hasRenderer());
    QVERIFY(!engine->play());
}

void TestPlaybackEngine::seekPlaysFromTheTargetSample()
{
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
    QVERIFY(engine != nullptr);
    engine->setVolume(1.0f);
    QVERIFY(engine->play());
    output.pullUntil([&] { return engine->currentTime() > 0.05; });

    engine->setCurrentTime(1.25);
    QCOMPARE(engine->currentTime(), 1.25);
    const std::vector<float> played = AudioFixtures::withoutSilentFrames(
        output.pullUntil([&] { return engine->currentTime() > 1.3; }), 2);
    QVERIFY(!played.empty());
    // The first frame after the seek is the one at 1.25 s, not the old position.
    QVERIFY2(qAbs(played[0] - 0.225f) < 1e-6f, qPrintable(QString::number(played[0])));
    QCOMPARE(played[1], -played[0]);
    QVERIFY(qAbs(engine->currentTime() - (1.25 + double(played.size() / 2) / 48000)) < 1e-9);

    // Seeking past the end ends playback.
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    engine->setCurrentTime(5.0);
    output.pullUntil([&] { return finished.calls > 0; }, 200);
    QCOMPARE(finished.calls.load(), 1);
}

void TestPlaybackEngine::loopingStartsAgainAtTheEnd()
{
    ManualAudioOutput output;
    std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
    QVERIFY(engine != nullptr);
    FinishRecorder finished;
    engine->setFinishedHandler(finished.handler());
    engine->setVolume(1.0f);
    engine->setLooping(true);
    QVERIFY(engine->play());
    const std::vector<float> played =
        AudioFixtures::withoutSilentFrames(output.pullUntil([] { return false; }, 500), 2);
    const size_t seam = 2 * 96000;
    QVERIFY(played.size() > seam + 2);
    QVERIFY(qAbs(played[seam - 2] - (0.1f + 95999.0f / 48000.0f / 10.0f)) < 1e-6f);
    QCOMPARE(played[seam], 0.1f);
    QCOMPARE(played[seam + 1], -0.1f);
    // The playhead wraps with the seam; the end is never reported.
    QVERIFY(engine->currentTime() < 1.0);
    QCOMPARE(finished.calls.load(), 0);
}

QTEST_GUILESS_MAIN(TestPlaybackEngine)
#include "tst_playbackengine.moc"
