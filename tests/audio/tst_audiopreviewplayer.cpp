#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "audio/WaveformExtractor.h"
#include "platform/Preferences.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <limits>

namespace {

constexpr int deviceFrames = 256;

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

// The device thread's work done by the test: one buffer per call, events processed in between
// so that the player sees the end of playback.
void pullFor(ManualAudioOutput &output, int buffers)
{
    for (int i = 0; i < buffers; ++i) {
        output.pull(deviceFrames);
        QThread::usleep(300);
    }
}

template <typename Done> bool pullUntil(ManualAudioOutput &output, Done done, int limit = 3000)
{
    for (int i = 0; i < limit; ++i) {
        QCoreApplication::processEvents();
        if (done())
            return true;
        output.pull(deviceFrames);
        QThread::usleep(300);
    }
    return done();
}

// The first frame of sound the device receives from now on.
std::optional<float> firstSoundFrame(ManualAudioOutput &output)
{
    for (int i = 0; i < 2000; ++i) {
        const std::vector<float> buffer = output.pull(deviceFrames);
        for (float sample : buffer) {
            if (sample != 0.0f)
                return sample;
        }
        QThread::usleep(300);
    }
    return std::nullopt;
}

} // namespace

class TestAudioPreviewPlayer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void playsEveryPreviewableFormat_data();
    void playsEveryPreviewableFormat();
    void refusesWhatItCannotPlay_data();
    void refusesWhatItCannotPlay();
    void noAudioDeviceMeansCouldNotPlay();
    void replayingAnUnchangedFileKeepsItsWaveform();
    void rewrittenFileIsExtractedAgain_data();
    void rewrittenFileIsExtractedAgain();
    void onlyTheLatestFilesWaveformIsShown();
    void staleFinishedNotificationChangesNothing();
    void endOfPlaybackKeepsTheFileAndSeekReplaysIt();
    void seekEdgeCases_data();
    void seekEdgeCases();
    void progressFollowsThePlayhead();
    void volumeIsReadFromPreferences_data();
    void volumeIsReadFromPreferences();
    void volumeIsStoredAndAppliedAndMuteToggles();
    void errorMessageClearsItself();
    void newerErrorGetsItsFullTime();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A player on a hand-pulled output; the output stays owned by the player.
    std::unique_ptr<AudioPreviewPlayer> makePlayer(ManualAudioOutput **output = nullptr);

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_defaults;
    QString m_timeCoded; // 1 s, left = 0.1 + t / 10, right silent
    QString m_short;     // 0.2 s tone
};

void TestAudioPreviewPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make fixtures");
    m_timeCoded = path(QStringLiteral("timecoded.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(
        m_timeCoded, {QStringLiteral("0.1+t/10"), QStringLiteral("0")}, 1.0, 48000));
    m_short = path(QStringLiteral("short.wav"));
    QVERIFY(AudioFixtures::makeTone(m_short, 0.2, 48000));
}

void TestAudioPreviewPlayer::init()
{
    QFile::remove(path(QStringLiteral("prefs.plist")));
    m_defaults = std::make_unique<Preferences>(path(QStringLiteral("prefs.plist")));
}

void TestAudioPreviewPlayer::cleanup()
{
    m_defaults.reset();
}

std::unique_ptr<AudioPreviewPlayer> TestAudioPreviewPlayer::makePlayer(ManualAudioOutput **output)
{
    auto device = std::make_unique<ManualAudioOutput>();
    if (output != nullptr)
        *output = device.get();
    return std::make_unique<AudioPreviewPlayer>(*m_defaults, std::move(device));
}

void TestAudioPreviewPlayer::playsEveryPreviewableFormat_data()
{
    QTest::addColumn<QString>("extension");
    for (const QString &extension : AudioPreviewPlayer::previewableExtensions())
        QTest::newRow(qPrintable(extension)) << extension;
    QTest::newRow("upper case") << QStringLiteral("WAV");
}

void TestAudioPreviewPlayer::playsEveryPreviewableFormat()
{
    QFETCH(QString, extension);
    // The real SDL device, on the dummy driver.
    const QString file = path(QStringLiteral("tone.") + extension);
    QVERIFY(AudioFixtures::makeTone(file, 0.4));
    const QUrl url = fileUrl(file);
    AudioPreviewPlayer player(*m_defaults);

    QVERIFY(player.play(url));
    QCOMPARE(player.playingURL(), url);
    QVERIFY(player.isPlaying());
    QCOMPARE(player.loadedURL(), url);
    QCOMPARE(player.waveformToken(), url);
    QVERIFY2(qAbs(player.duration() - 0.4) < 0.05, qPrintable(QString::number(player.duration())));
    QCOMPARE(player.progress(), 0.0);
    QVERIFY(player.lastError().isNull());
    QVERIFY(player.isGeneratingWaveform());
    QVERIFY(player.waveform().isEmpty());

    QTRY_VERIFY(!player.isGeneratingWaveform());
    QCOMPARE(player.waveform().size(), 260);
    QTRY_VERIFY(!player.isPlaying());
    QCOMPARE(player.progress(), 0.0);
    QCOMPARE(player.loadedURL(), url);
    QCOMPARE(player.waveform().size(), 260);
}

void TestAudioPreviewPlayer::refusesWhatItCannotPlay_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // null: an Ogg file made by ffmpeg; empty: no file
    QTest::addColumn<QString>("message");

    QTest::newRow("ogg") << QStringLiteral("x.ogg") << QByteArray()
                         << QStringLiteral("Can't preview .ogg files");
    QTest::newRow("OGG") << QStringLiteral("X.OGG") << QByteArray()
                         << QStringLiteral("Can't preview .ogg files");
    QTest::newRow("oga") << QStringLiteral("y.oga") << QByteArray()
                         << QStringLiteral("Can't preview .oga files");
    QTest::newRow("text") << QStringLiteral("notes.txt") << QByteArray("hello")
                          << QStringLiteral("Can't preview .txt files");
    QTest::newRow("no extension") << QStringLiteral("README") << QByteArray("hello")
                                  << QStringLiteral("Can't preview . files");
    QTest::newRow("undecodable") << QStringLiteral("kick.wav") << QByteArray(4096, '\x7f')
                                 << QStringLiteral("Couldn't play kick.wav");
    QTest::newRow("missing") << QStringLiteral("gone.mp3") << QByteArray("")
                             << QStringLiteral("Couldn't play gone.mp3");
    QTest::newRow("truncated header")
        << QStringLiteral("half.flac") << QByteArray("fLaC\0\0\0\x22", 8)
        << QStringLiteral("Couldn't play half.flac");
}

void TestAudioPreviewPlayer::refusesWhatItCannotPlay()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString file = path(name);
    if (bytes.isNull()) {
        QVERIFY(TestSupport::makeAudio(file, QStringLiteral("sine=d=0.2"),
                                       AudioFixtures::encoderOptions(QStringLiteral("ogg"))));
    } else if (!bytes.isEmpty()) {
        QVERIFY(TestSupport::writeFile(file, bytes));
    }

    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    QVERIFY(player->play(fileUrl(m_timeCoded)));
    QTRY_COMPARE(player->waveform().size(), 260);

    QVERIFY(!player->play(fileUrl(file)));
    QCOMPARE(player->lastError(), message);
    QVERIFY(!player->isPlaying());
    QVERIFY(!output->hasRenderer());
    QCOMPARE(player->duration(), 0.0);
    QCOMPARE(player->progress(), 0.0);
    QVERIFY(player->loadedURL().isEmpty());
    QVERIFY(player->waveform().isEmpty());
    QVERIFY(!player->isGeneratingWaveform());
    QVERIFY(player->waveformToken().isEmpty());
    // Nothing to seek in.
    player->seek(0.5);
    QVERIFY(!player->isPlaying());

    // The next good file clears the message at once.
    QVERIFY(player->play(fileUrl(m_short)));
    QVERIFY(player->lastError().isNull());
}

void TestAudioPreviewPlayer::noAudioDeviceMeansCouldNotPlay()
{
    auto device = std::make_unique<ManualAudioOutput>(48000, 2, false);
    AudioPreviewPlayer player(*m_defaults, std::move(device));
    QVERIFY(!player.play(fileUrl(m_short)));
    QCOMPARE(player.lastError(), QStringLiteral("Couldn't play short.wav"));
    QVERIFY(player.loadedURL().isEmpty());

    // The same through SDL when no driver can be opened.
    const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    {
        AudioPreviewPlayer sdlPlayer(*m_defaults);
        QVERIFY(!sdlPlayer.play(fileUrl(m_short)));
        QCOMPARE(sdlPlayer.lastError(), QStringLiteral("Couldn't play short.wav"));
    }
    qputenv("SDL_AUDIODRIVER", driver);
}

void TestAudioPreviewPlayer::replayingAnUnchangedFileKeepsItsWaveform()
{
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    const QUrl url = fileUrl(m_timeCoded);
    QVERIFY(player->play(url));
    QTRY_VERIFY(!player->isGeneratingWaveform());
    const QList<float> waveform = player->waveform();
    QCOMPARE(waveform.size(), 260);

    QSignalSpy generating(player.get(), &AudioPreviewPlayer::isGeneratingWaveformChanged);
    QSignalSpy waveformChanges(player.get(), &AudioPreviewPlayer::waveformChanged);
    QSignalSpy loaded(player.get(), &AudioPreviewPlayer::loadedURLChanged);
    QVERIFY(player->play(url)); // while playing: a restart
    QCOMPARE(player->playingURL(), url);
    player->stop();
    QVERIFY(!player->isPlaying());
    QCOMPARE(player->waveform(), waveform);
    QVERIFY(player->play(url)); // after stopping
    QTest::qWait(50);
    QCOMPARE(generating.count(), 0);
    QCOMPARE(waveformChanges.count(), 0);
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(player->waveform(), waveform);
}

void TestAudioPreviewPlayer::rewrittenFileIsExtractedAgain_data()
{
    QTest::addColumn<bool>("sameSize");
    QTest::newRow("new contents and size") << false;
    QTest::newRow("same size, new modification time") << true;
}

void TestAudioPreviewPlayer::rewrittenFileIsExtractedAgain()
{
    QFETCH(bool, sameSize);
    const QString file = path(QStringLiteral("rewritten.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 0.5, 8000));
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QVERIFY(player->play(fileUrl(file)));
    QTRY_VERIFY(!player->isGeneratingWaveform());
    QCOMPARE(player->waveform(), QList<float>(260, 1.0f));

    // The second version fades in: its first bar is quieter than its last.
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("t")}, sameSize ? 0.5 : 0.75, 8000));
    QFile touched(file);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime));
    touched.close();

    QVERIFY(player->play(fileUrl(file)));
    QVERIFY(player->isGeneratingWaveform());
    QVERIFY(player->waveform().isEmpty());
    QTRY_VERIFY(!player->isGeneratingWaveform());
    QCOMPARE(player->waveform(), *WaveformExtractor::computePeaks(fileUrl(file), 260));
    QVERIFY(player->waveform().first() < 0.01f);
}

void TestAudioPreviewPlayer::onlyTheLatestFilesWaveformIsShown()
{
    // A is long enough that its extraction is still running when B is chosen.
    const QString a = path(QStringLiteral("long-a.flac"));
    QVERIFY(TestSupport::makeAudio(
        a, QStringLiteral("sine=frequency=200:sample_rate=48000:duration=40"),
        {QStringLiteral("-ac"), QStringLiteral("2")}));
    const QString b = path(QStringLiteral("ramp-b.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(b, {QStringLiteral("t")}, 0.5, 8000));
    const QList<float> expected = *WaveformExtractor::computePeaks(fileUrl(b), 260);

    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QList<QList<float>> shown;
    QList<bool> generating;
    connect(player.get(), &AudioPreviewPlayer::waveformChanged, this,
            [&] { shown.append(player->waveform()); });
    connect(player.get(), &AudioPreviewPlayer::isGeneratingWaveformChanged, this,
            [&] { generating.append(player->isGeneratingWaveform()); });

    QVERIFY(player->play(fileUrl(a)));
    QVERIFY(player->play(fileUrl(b)));
    QCOMPARE(player->waveformToken(), fileUrl(b));
    QTRY_VERIFY(!player->isGeneratingWaveform());
    QTest::qWait(300);
    QCOMPARE(generating, (QList<bool>{true, false}));
    QCOMPARE(shown, QList<QList<float>>{expected});
    QCOMPARE(player->waveform(), expected);

    // Back to A, then away to a file that cannot be previewed: A's result must not land.
    QVERIFY(player->play(fileUrl(a)));
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("x.ogg")))));
    QTest::qWait(300);
    QVERIFY(player->waveform().isEmpty());
    QVERIFY(!player->isGeneratingWaveform());
}

void TestAudioPreviewPlayer::staleFinishedNotificationChangesNothing()
{
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    QVERIFY(player->play(fileUrl(m_short)));

    // A report for an engine that never existed.
    player->audioPlayerDidFinishPlaying(std::numeric_limits<quint64>::max(), true);
    QVERIFY(player->isPlaying());

    // Let the short file run out without handing the main thread its report, then replace it.
    pullFor(*output, 60);
    QThread::msleep(100);
    QVERIFY(player->isPlaying());
    QVERIFY(player->play(fileUrl(m_timeCoded)));
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QCOMPARE(player->playingURL(), fileUrl(m_timeCoded));

    // The current engine's own report still ends playback.
    QVERIFY(pullUntil(*output, [&] { return !player->isPlaying(); }));
    QCOMPARE(player->loadedURL(), fileUrl(m_timeCoded));
}

void TestAudioPreviewPlayer::endOfPlaybackKeepsTheFileAndSeekReplaysIt()
{
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    const QUrl url = fileUrl(m_timeCoded);
    QVERIFY(player->play(url));
    QTRY_VERIFY(!player->isGeneratingWaveform());
    QVERIFY(pullUntil(*output, [&] { return !player->isPlaying(); }));

    QVERIFY(player->playingURL().isEmpty());
    QCOMPARE(player->progress(), 0.0);
    QCOMPARE(player->loadedURL(), url);
    QCOMPARE(player->duration(), 1.0);
    QCOMPARE(player->waveform().size(), 260);

    QSignalSpy generating(player.get(), &AudioPreviewPlayer::isGeneratingWaveformChanged);
    player->setVolume(1.0f);
    player->seek(0.5);
    QCOMPARE(player->playingURL(), url);
    QCOMPARE(player->progress(), 0.5);
    // The device hears the middle of the file, not its start.
    const std::optional<float> first = firstSoundFrame(*output);
    QVERIFY(first.has_value());
    QVERIFY2(qAbs(*first - 0.15f) < 1e-6f, qPrintable(QString::number(*first)));
    QCOMPARE(generating.count(), 0);
}

void TestAudioPreviewPlayer::seekEdgeCases_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<bool>("playsAfter");
    QTest::addColumn<double>("progress");

    QTest::newRow("beyond the end clamps to 1") << true << 1.7 << true << 1.0;
    QTest::newRow("below 0 clamps to 0") << true << -3.0 << true << 0.0;
    QTest::newRow("not a number") << true << std::numeric_limits<double>::quiet_NaN() << false
                                  << 0.0;
    QTest::newRow("infinite") << true << std::numeric_limits<double>::infinity() << false << 0.0;
    QTest::newRow("nothing loaded") << false << 0.5 << false << 0.0;
}

void TestAudioPreviewPlayer::seekEdgeCases()
{
    QFETCH(bool, loaded);
    QFETCH(double, fraction);
    QFETCH(bool, playsAfter);
    QFETCH(double, progress);

    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    if (loaded) {
        QVERIFY(player->play(fileUrl(m_timeCoded)));
        player->stop();
    }
    player->seek(fraction);
    QCOMPARE(player->isPlaying(), playsAfter);
    QCOMPARE(player->progress(), progress);
    if (fraction > 1) {
        // Played from the end: it ends almost at once.
        QVERIFY(pullUntil(
            *output, [&] { return !player->isPlaying(); }, 100));
    }
}

void TestAudioPreviewPlayer::progressFollowsThePlayhead()
{
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    QList<double> seen;
    connect(player.get(), &AudioPreviewPlayer::progressChanged, this,
            [&] { seen.append(player->progress()); });
    QVERIFY(player->play(fileUrl(m_timeCoded)));
    QVERIFY(pullUntil(*output, [&] { return player->progress() >= 0.5; }));
    // With the device idle the playhead holds still.
    QTest::qWait(100);
    const double held = player->progress();
    QTest::qWait(100);
    QCOMPARE(player->progress(), held);
    QVERIFY(held < 1.0);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QVERIFY(seen.size() >= 2);

    player->stop();
    QCOMPARE(player->progress(), 0.0);
    pullFor(*output, 10);
    QTest::qWait(100);
    QCOMPARE(player->progress(), 0.0);
}

void TestAudioPreviewPlayer::volumeIsReadFromPreferences_data()
{
    QTest::addColumn<QVariant>("master");
    QTest::addColumn<QVariant>("remembered");
    QTest::addColumn<float>("volume");
    QTest::addColumn<float>("lastNonZero");

    QTest::newRow("nothing stored") << QVariant() << QVariant() << 0.8f << 0.8f;
    QTest::newRow("too loud") << QVariant(1.4f) << QVariant() << 1.0f << 1.0f;
    QTest::newRow("negative") << QVariant(-0.5f) << QVariant() << 0.0f << 0.0f;
    QTest::newRow("only master") << QVariant(0.3f) << QVariant() << 0.3f << 0.3f;
    QTest::newRow("double") << QVariant(0.25) << QVariant() << 0.25f << 0.25f;
    QTest::newRow("integer") << QVariant(qint64(1)) << QVariant() << 1.0f << 1.0f;
    QTest::newRow("muted") << QVariant(0.0f) << QVariant(0.6f) << 0.0f << 0.6f;
    QTest::newRow("remembered too loud") << QVariant(0.5f) << QVariant(7.0f) << 0.5f << 1.0f;
    QTest::newRow("not a number") << QVariant(QStringLiteral("loud")) << QVariant(true) << 0.8f
                                  << 0.8f;
}

void TestAudioPreviewPlayer::volumeIsReadFromPreferences()
{
    QFETCH(QVariant, master);
    QFETCH(QVariant, remembered);
    QFETCH(float, volume);
    QFETCH(float, lastNonZero);
    if (master.isValid())
        m_defaults->setObject(master, QStringLiteral("masterVolume"));
    if (remembered.isValid())
        m_defaults->setObject(remembered, QStringLiteral("lastNonZeroVolume"));

    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QCOMPARE(player->volume(), volume);
    QCOMPARE(player->lastNonZeroVolume(), lastNonZero);
    // Reading writes nothing back.
    QCOMPARE(m_defaults->objectForKey(QStringLiteral("masterVolume")), master);
    QCOMPARE(m_defaults->objectForKey(QStringLiteral("lastNonZeroVolume")), remembered);
}

void TestAudioPreviewPlayer::volumeIsStoredAndAppliedAndMuteToggles()
{
    const QString file = path(QStringLiteral("level.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 2.0, 48000));
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    QSignalSpy changes(player.get(), &AudioPreviewPlayer::volumeChanged);

    player->setVolume(0.6f);
    QCOMPARE(changes.count(), 1);
    player->setVolume(0.6f);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(m_defaults->floatForKey(QStringLiteral("masterVolume")), 0.6f);
    QCOMPARE(m_defaults->floatForKey(QStringLiteral("lastNonZeroVolume")), 0.6f);

    QVERIFY(player->play(fileUrl(file)));
    QCOMPARE(firstSoundFrame(*output), std::optional<float>(0.5f * 0.6f));

    player->toggleMute();
    QCOMPARE(player->volume(), 0.0f);
    QCOMPARE(m_defaults->floatForKey(QStringLiteral("masterVolume")), 0.0f);
    QCOMPARE(m_defaults->floatForKey(QStringLiteral("lastNonZeroVolume")), 0.6f);
    // The playing file falls silent within the ramp.
    pullFor(*output, 4);
    std::vector<float> muted = output->pull(deviceFrames);
    QCOMPARE(*std::max_element(muted.begin(), muted.end()), 0.0f);

    player->toggleMute();
    QCOMPARE(player->volume(), 0.6f);
    QCOMPARE(changes.count(), 3);

    player->setVolume(2.0f);
    QCOMPARE(player->volume(), 1.0f);

    // Unmuting with nothing remembered goes to 0.8.
    m_defaults->setFloat(0.0f, QStringLiteral("masterVolume"));
    m_defaults->setFloat(0.0f, QStringLiteral("lastNonZeroVolume"));
    std::unique_ptr<AudioPreviewPlayer> fresh = makePlayer();
    QCOMPARE(fresh->volume(), 0.0f);
    fresh->toggleMute();
    QCOMPARE(fresh->volume(), 0.8f);

    // A new run reads what the last one stored.
    QVERIFY(m_defaults->flush());
    Preferences reread(path(QStringLiteral("prefs.plist")));
    AudioPreviewPlayer next(reread, std::make_unique<ManualAudioOutput>());
    QCOMPARE(next.volume(), 0.8f);
    QCOMPARE(next.lastNonZeroVolume(), 0.8f);
}

void TestAudioPreviewPlayer::errorMessageClearsItself()
{
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QSignalSpy changes(player.get(), &AudioPreviewPlayer::lastErrorChanged);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("a.ogg")))));
    QCOMPARE(player->lastError(), QStringLiteral("Can't preview .ogg files"));
    QTRY_VERIFY_WITH_TIMEOUT(player->lastError().isNull(), 4000);
    QVERIFY2(clock.elapsed() >= 2450, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(changes.count(), 2);

    // Clearing by hand cancels the pending clear; a later message gets a fresh timer.
    player->setLastError(QStringLiteral("one"));
    QTest::qWait(1500);
    player->setLastError(QString());
    player->setLastError(QStringLiteral("two"));
    QTest::qWait(1500);
    QCOMPARE(player->lastError(), QStringLiteral("two"));
    QTRY_VERIFY_WITH_TIMEOUT(player->lastError().isNull(), 2000);
}

void TestAudioPreviewPlayer::newerErrorGetsItsFullTime()
{
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("first.oga")))));
    QTest::qWait(1500);
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("second.txt")))));
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1500); // past the first message's deadline
    QCOMPARE(player->lastError(), QStringLiteral("Can't preview .txt files"));
    QTRY_VERIFY_WITH_TIMEOUT(player->lastError().isNull(), 2000);
    QVERIFY(clock.elapsed() >= 2450);

    // The same message again still restarts the clock.
    player->setLastError(QStringLiteral("same"));
    QTest::qWait(1500);
    player->setLastError(QStringLiteral("same"));
    QTest::qWait(1500);
    QCOMPARE(player->lastError(), QStringLiteral("same"));
}

QTEST_GUILESS_MAIN(TestAudioPreviewPlayer)
#include "tst_audiopreviewplayer.moc"
