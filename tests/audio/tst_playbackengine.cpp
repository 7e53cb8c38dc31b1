#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/PlaybackEngine.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>

class TestPlaybackEngine : public QObject
{
    Q_OBJECT

    // A playing engine at full volume; each report of its end adds one to `finishes`, or 1000
    // when the end was not successful or came from another engine.
    std::unique_ptr<PlaybackEngine> start(ManualAudioOutput &output, std::atomic<int> &finishes,
                                          bool looping = false)
    {
        std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(m_timeCoded, output);
        if (engine == nullptr)
            return nullptr;
        engine->setFinishedHandler([&finishes, id = engine->id()](quint64 by, bool ok) {
            finishes += by == id && ok ? 1 : 1000;
        });
        engine->setVolume(1.0f);
        engine->setLooping(looping);
        return engine->play() ? std::move(engine) : nullptr;
    }

    QTemporaryDir m_dir;
    QString m_timeCoded;

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
            QSKIP("ffmpeg is needed to make fixtures");
        // Each sample tells its own time and channel: left = 0.1 + t / 10, right = -left. Never 0.
        m_timeCoded = m_dir.filePath(QStringLiteral("timecoded.wav"));
        QVERIFY(AudioFixtures::makeFloatWav(
            m_timeCoded, {QStringLiteral("0.1+t/10"), QStringLiteral("-0.1-t/10")}, 2.0, 48000));
    }

    void playsEveryFrameAndReportsTheEndOnce()
    {
        ManualAudioOutput output;
        std::unique_ptr<PlaybackEngine> other = PlaybackEngine::create(m_timeCoded, output);
        std::atomic<int> finishes{0};
        std::unique_ptr<PlaybackEngine> engine = start(output, finishes);
        QVERIFY(engine && other && engine->id() != other->id());
        other.reset();
        QCOMPARE(engine->duration(), 2.0);
        QVERIFY(output.hasRenderer());

        const std::vector<float> played =
            AudioFixtures::withoutSilentFrames(output.pullUntil([&] { return finishes > 0; }), 2);
        QVERIFY(played == AudioFixtures::decodeWithFfmpeg(m_timeCoded));
        QCOMPARE(engine->currentTime(), 2.0);
        output.pullUntil([] { return false; }, 20);
        QCOMPARE(finishes.load(), 1);

        engine->stop();
        QVERIFY(!output.hasRenderer());
        QVERIFY(!engine->play());
    }

    void seekPlaysFromTheTargetSample()
    {
        ManualAudioOutput output;
        std::atomic<int> finishes{0};
        std::unique_ptr<PlaybackEngine> engine = start(output, finishes);
        QVERIFY(engine != nullptr);
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
        engine->setCurrentTime(5.0);
        output.pullUntil([&] { return finishes > 0; }, 200);
        QCOMPARE(finishes.load(), 1);
    }

    void loopingStartsAgainAtTheEnd()
    {
        ManualAudioOutput output;
        std::atomic<int> finishes{0};
        std::unique_ptr<PlaybackEngine> engine = start(output, finishes, true);
        QVERIFY(engine != nullptr);
        const std::vector<float> played =
            AudioFixtures::withoutSilentFrames(output.pullUntil([] { return false; }, 500), 2);
        const size_t seam = 2 * 96000;
        QVERIFY(played.size() > seam + 2);
        QVERIFY(qAbs(played[seam - 2] - (0.1f + 95999.0f / 48000.0f / 10.0f)) < 1e-6f);
        QCOMPARE(played[seam], 0.1f);
        QCOMPARE(played[seam + 1], -0.1f);
        // The playhead wraps with the seam; the end is never reported.
        QVERIFY(engine->currentTime() < 1.0);
        QCOMPARE(finishes.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPlaybackEngine)
#include "tst_playbackengine.moc"
