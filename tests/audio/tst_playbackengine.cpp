// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
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

    // Half a second of a swelling mono tone at `rate`, and the frames of its sound as the ffmpeg
    // tool decodes them under `oracle` input options, the encoder's padding cut off.
    std::vector<float> makeSound(const QString &file, const QString &encoder, int rate,
                                 const QString &oracle = {})
    {
        if (!TestSupport::makeAudio(
                file,
                QStringLiteral("aevalsrc=exprs='(0.1+1.6*t)*sin(2*PI*440*t)':s=%1:d=0.5").arg(rate),
                QStringList{QStringLiteral("-ac"), QStringLiteral("1")} + encoder.split(u' ')))
            return {};
        std::vector<float> sound =
            AudioFixtures::decodeWithFfmpeg(file, oracle.split(u' ', Qt::SkipEmptyParts))
                .value_or(std::vector<float>());
        if (sound.size() < size_t(rate / 2))
            return {};
        sound.resize(size_t(rate / 2));
        return sound;
    }

    // Plays `engine` at full volume to its end; each report of its end adds one to `finishes`, or
    // 1000 when it was not successful. Nothing when the engine could not start.
    static std::vector<float> playToEnd(PlaybackEngine *engine, ManualAudioOutput &output,
                                        std::atomic<int> &finishes)
    {
        if (engine == nullptr)
            return {};
        engine->setFinishedHandler([&finishes](quint64, bool ok) { finishes += ok ? 1 : 1000; });
        engine->setVolume(1.0f);
        if (!engine->play())
            return {};
        return output.pullUntil([&] { return finishes > 0; });
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
        // The file is opened on the engine's own thread; its length follows.
        QTRY_COMPARE(engine->duration(), 2.0);
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

    void playsTheSoundAndNothingElse_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("oracle");
        QTest::newRow("Vorbis in one Ogg page")
            << u"a.ogg"_qs << u"-c:a libvorbis"_qs << 44100 << u"-flags2 +skip_manual"_qs;
        QTest::newRow("Opus in Ogg") << u"b.oga"_qs << u"-c:a libopus"_qs << 48000 << QString();
        QTest::newRow("AAC in M4A") << u"c.m4a"_qs << u"-c:a aac -f ipod"_qs << 44100 << QString();
        QTest::newRow("MP3") << u"d.mp3"_qs << u"-c:a libmp3lame"_qs << 44100 << QString();
    }

    void playsTheSoundAndNothingElse()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoder);
        QFETCH(int, rate);
        QFETCH(QString, oracle);
        const QString file = m_dir.filePath(name);
        const std::vector<float> sound = makeSound(file, encoder, rate, oracle);
        QVERIFY(!sound.empty());
        // A device at the file's own rate and channel count hears the decoded frames unchanged.
        ManualAudioOutput output(rate, 1);
        std::atomic<int> finishes{0};
        std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(file, output);
        const std::vector<float> played =
            AudioFixtures::withoutSilentFrames(playToEnd(engine.get(), output, finishes), 1);
        QCOMPARE(finishes.load(), 1);
        QCOMPARE(played.size(), AudioFixtures::withoutSilentFrames(sound, 1).size());
        QVERIFY(played == AudioFixtures::withoutSilentFrames(sound, 1));
        QCOMPARE(engine->duration(), 0.5);
    }

    // Surround files fold into the device's channels without adding up past full scale; a file
    // that fits plays at its own level.
    void downmixNeverClips_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("channels");
        QTest::addColumn<float>("loudest");
        QTest::newRow("7.1") << u"7.1"_qs << 8 << 0.0f;
        QTest::newRow("5.1") << u"5.1"_qs << 6 << 0.0f;
        QTest::newRow("stereo as it is") << u"stereo"_qs << 2 << 0.999f;
    }
    void downmixNeverClips()
    {
        QFETCH(QString, layout);
        QFETCH(int, channels);
        QFETCH(float, loudest);
        // Every channel at full scale and in phase: the worst case for a sum.
        const QString file = m_dir.filePath(u"surround-"_qs + layout + u".wav"_qs);
        QStringList exprs;
        for (int c = 0; c < channels; ++c)
            exprs.append(u"sin(2*PI*440*t)"_qs);
        QVERIFY(TestSupport::makeAudio(
            file,
            u"aevalsrc=exprs='%1':s=48000:d=0.3:channel_layout=%2"_qs.arg(exprs.join(u'|'), layout),
            {u"-c:a"_qs, u"pcm_f32le"_qs}));
        ManualAudioOutput output(48000, 2);
        std::atomic<int> finishes{0};
        std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(file, output);
        const std::vector<float> played = playToEnd(engine.get(), output, finishes);
        QCOMPARE(finishes.load(), 1);
        float peak = 0;
        for (float sample : played)
            peak = std::max(peak, std::abs(sample));
        QVERIFY2(peak <= 1.0f && peak > 0.25f && peak >= loudest,
                 qPrintable(QString::number(peak)));
    }

    void oggSeeksAndLoopsWithinTheSound_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("oracle");
        QTest::newRow("Vorbis") << u"e.ogg"_qs << u"-c:a libvorbis"_qs << 44100
                                << u"-flags2 +skip_manual"_qs;
        QTest::newRow("Opus") << u"f.oga"_qs << u"-c:a libopus"_qs << 48000 << QString();
        QTest::newRow("FLAC") << u"g.ogg"_qs << u"-c:a flac -f ogg"_qs << 44100 << QString();
    }

    void oggSeeksAndLoopsWithinTheSound()
    {
        QFETCH(QString, name);
        QFETCH(QString, encoder);
        QFETCH(int, rate);
        QFETCH(QString, oracle);
        const QString file = m_dir.filePath(name);
        const std::vector<float> sound = makeSound(file, encoder, rate, oracle);
        QVERIFY(!sound.empty());
        const auto heard = [](const std::vector<float> &frames) {
            return AudioFixtures::withoutSilentFrames(frames, 1);
        };

        // From halfway, to the end.
        ManualAudioOutput output(rate, 1);
        std::unique_ptr<PlaybackEngine> engine = PlaybackEngine::create(file, output);
        QVERIFY(engine != nullptr);
        std::atomic<int> finishes{0};
        engine->setFinishedHandler([&finishes](quint64, bool ok) { finishes += ok ? 1 : 1000; });
        engine->setVolume(1.0f);
        engine->setCurrentTime(0.25);
        QVERIFY(engine->play());
        const std::vector<float> tail = heard(output.pullUntil([&] { return finishes > 0; }));
        QCOMPARE(finishes.load(), 1);
        QVERIFY(tail == heard(std::vector<float>(sound.begin() + rate / 4, sound.end())));

        // Round and round: each pass is the whole sound, and nothing but it.
        engine = PlaybackEngine::create(file, output);
        QVERIFY(engine != nullptr);
        engine->setVolume(1.0f);
        engine->setLooping(true);
        QVERIFY(engine->play());
        const std::vector<float> once = heard(sound);
        std::vector<float> twice = once;
        twice.insert(twice.end(), once.begin(), once.end());
        std::vector<float> played =
            heard(output.pullUntil([] { return false; }, rate * 3 / 2 / 256));
        QVERIFY(played.size() > twice.size());
        played.resize(twice.size());
        QVERIFY(played == twice);
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
