#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "audio/WaveformExtractor.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <limits>

using AudioFixtures::fileUrl;

class TestAudioPreviewPlayer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void playsEveryPreviewableFormat_data();
    void playsEveryPreviewableFormat();
    void refusesWhatItCannotPlay_data();
    void refusesWhatItCannotPlay();
    void waveformIsKeptUntilTheFileChanges();
    void onlyTheLatestFilesWaveformIsShown();
    void staleFinishedNotificationChangesNothing();
    void endOfPlaybackKeepsTheFileAndSeekReplaysIt();
    void volumeIsReadFromPreferences_data();
    void volumeIsReadFromPreferences();
    void volumeIsStoredAndAppliedAndMuteToggles();
    void errorMessageClearsItselfAfterItsFullTime();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A player on a hand-pulled output, which stays owned by the player.
    std::unique_ptr<AudioPreviewPlayer> makePlayer(ManualAudioOutput **output = nullptr,
                                                   bool available = true);

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_defaults;
    QString m_timeCoded; // 1 s, left = 0.1 + t / 10, right silent
    QString m_short;     // 0.2 s tone
};

void TestAudioPreviewPlayer::initTestCase()
{
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
    m_defaults.reset();
    QFile::remove(path(QStringLiteral("prefs.plist")));
    m_defaults = std::make_unique<Preferences>(path(QStringLiteral("prefs.plist")));
}

std::unique_ptr<AudioPreviewPlayer> TestAudioPreviewPlayer::makePlayer(ManualAudioOutput **output,
                                                                       bool available)
{
    auto device = std::make_unique<ManualAudioOutput>(48000, 2, available);
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
    const QString file = path(QStringLiteral("tone.") + extension);
    QVERIFY(AudioFixtures::makeTone(file, 0.4));
    // The real SDL device, on the dummy driver.
    AudioPreviewPlayer player(*m_defaults);
    QVERIFY(player.play(fileUrl(file)));
    QCOMPARE(player.playingURL(), fileUrl(file));
    QVERIFY2(qAbs(player.duration() - 0.4) < 0.05, qPrintable(QString::number(player.duration())));
    QVERIFY(player.isGeneratingWaveform());
    QTRY_COMPARE(player.waveform().size(), 260);
    QTRY_VERIFY(!player.isPlaying());
    QCOMPARE(player.loadedURL(), fileUrl(file));
    QCOMPARE(player.waveform().size(), 260);
}

void TestAudioPreviewPlayer::refusesWhatItCannotPlay_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // null: an Ogg file made by ffmpeg; empty: no file
    QTest::addColumn<QString>("message");
    const auto row = [](const char *name, const QByteArray &bytes, const char *message) {
        QTest::newRow(name) << QString::fromUtf8(name) << bytes << QString::fromUtf8(message);
    };
    row("x.ogg", QByteArray(), "Can't preview .ogg files");
    row("X.OGA", QByteArray(), "Can't preview .oga files");
    row("notes.txt", "hello", "Can't preview .txt files");
    row("README", "hello", "Can't preview . files");
    row("kick.wav", QByteArray(4096, '\x7f'), "Couldn't play kick.wav");
    row("gone.mp3", "", "Couldn't play gone.mp3");
    row("half.flac", QByteArray("fLaC\0\0\0\x22", 8), "Couldn't play half.flac");
    QTest::newRow("no audio device") << QString() << QByteArray() << u"Couldn't play short.wav"_qs;
}

void TestAudioPreviewPlayer::refusesWhatItCannotPlay()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const QString file = name.isEmpty() ? m_short : path(name);
    if (bytes.isNull() && !name.isEmpty()) {
        QVERIFY(TestSupport::makeAudio(file, QStringLiteral("sine=d=0.2"),
                                       AudioFixtures::encoderOptions(QStringLiteral("ogg"))));
    } else if (!bytes.isEmpty()) {
        QVERIFY(TestSupport::writeFile(file, bytes));
    }
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output, !name.isEmpty());
    if (!name.isEmpty()) {
        QVERIFY(player->play(fileUrl(m_timeCoded)));
        QTRY_COMPARE(player->waveform().size(), 260);
    }
    QVERIFY(!player->play(fileUrl(file)));
    QCOMPARE(player->lastError(), message);
    QVERIFY(!player->isPlaying() && !output->hasRenderer());
    QCOMPARE(player->duration(), 0.0);
    QVERIFY(player->loadedURL().isEmpty() && player->waveformToken().isEmpty());
    QVERIFY(player->waveform().isEmpty() && !player->isGeneratingWaveform());
    player->seek(0.5); // nothing to seek in
    QVERIFY(!player->isPlaying());
    if (!name.isEmpty()) {
        // The next good file clears the message at once.
        QVERIFY(player->play(fileUrl(m_short)));
        QVERIFY(player->lastError().isNull());
        return;
    }
    // The same through SDL when no driver can be opened.
    const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    {
        AudioPreviewPlayer sdlPlayer(*m_defaults);
        QVERIFY(!sdlPlayer.play(fileUrl(m_short)));
        QCOMPARE(sdlPlayer.lastError(), message);
    }
    qputenv("SDL_AUDIODRIVER", driver);
}

void TestAudioPreviewPlayer::waveformIsKeptUntilTheFileChanges()
{
    const QString file = path(QStringLiteral("rewritten.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 0.5, 8000));
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QVERIFY(player->play(fileUrl(file)));
    QTRY_VERIFY(!player->isGeneratingWaveform());
    QCOMPARE(player->waveform(), QList<float>(260, 1.0f));

    QSignalSpy generating(player.get(), &AudioPreviewPlayer::isGeneratingWaveformChanged);
    QSignalSpy loaded(player.get(), &AudioPreviewPlayer::loadedURLChanged);
    QVERIFY(player->play(fileUrl(file))); // while playing: a restart
    player->stop();
    QVERIFY(player->play(fileUrl(file))); // after stopping
    QCOMPARE(generating.count(), 0);
    QCOMPARE(loaded.count(), 0);

    // The same size with a new modification time: a fade-in, whose first bar is quiet.
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("t")}, 0.5, 8000));
    QFile touched(file);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime));
    touched.close();
    QVERIFY(player->play(fileUrl(file)));
    QVERIFY(player->isGeneratingWaveform() && player->waveform().isEmpty());
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
    QSignalSpy shown(player.get(), &AudioPreviewPlayer::waveformChanged);
    QVERIFY(player->play(fileUrl(a)));
    QVERIFY(player->play(fileUrl(b)));
    QCOMPARE(player->waveformToken(), fileUrl(b));
    QTRY_COMPARE(player->waveform(), expected);
    QVERIFY(!player->isGeneratingWaveform());

    // Back to A, then away to a file that cannot be previewed: A's result must not land.
    QVERIFY(player->play(fileUrl(a)));
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("x.ogg")))));
    QTest::qWait(300);
    QVERIFY(player->waveform().isEmpty() && !player->isGeneratingWaveform());
    // B's waveform, then emptied for A, then for the refused file: never A's.
    QCOMPARE(shown.count(), 2);
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
    for (int i = 0; i < 60; ++i) {
        output->pull();
        QThread::usleep(300);
    }
    QThread::msleep(100);
    QVERIFY(player->play(fileUrl(m_timeCoded)));
    QTest::qWait(50);
    QCOMPARE(player->playingURL(), fileUrl(m_timeCoded));
    // The current engine's own report still ends playback.
    output->pullUntil([&] { return !player->isPlaying(); });
    QVERIFY(!player->isPlaying());
    QCOMPARE(player->loadedURL(), fileUrl(m_timeCoded));
}

void TestAudioPreviewPlayer::endOfPlaybackKeepsTheFileAndSeekReplaysIt()
{
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    QList<double> seen;
    connect(player.get(), &AudioPreviewPlayer::progressChanged, this,
            [&] { seen.append(player->progress()); });
    QVERIFY(player->play(fileUrl(m_timeCoded)));
    QTRY_VERIFY(!player->isGeneratingWaveform());
    output->pullUntil([&] { return !player->isPlaying(); });
    QVERIFY(!player->isPlaying());
    // The playhead only moved forward, then went back to 0 at the end.
    QVERIFY(seen.size() >= 2 && seen.last() == 0.0);
    QVERIFY(std::is_sorted(seen.begin(), seen.end() - 1));
    QCOMPARE(player->loadedURL(), fileUrl(m_timeCoded));
    QCOMPARE(player->duration(), 1.0);
    QCOMPARE(player->waveform().size(), 260);

    QSignalSpy generating(player.get(), &AudioPreviewPlayer::isGeneratingWaveformChanged);
    player->setVolume(1.0f);
    player->seek(0.5);
    QCOMPARE(player->playingURL(), fileUrl(m_timeCoded));
    QCOMPARE(player->progress(), 0.5);
    // The device hears the middle of the file, not its start.
    const std::vector<float> heard = AudioFixtures::withoutSilentFrames(
        output->pullUntil([&] { return player->progress() > 0.6; }), 2);
    QVERIFY(!heard.empty());
    QVERIFY2(qAbs(heard[0] - 0.15f) < 1e-6f, qPrintable(QString::number(heard[0])));
    QCOMPARE(generating.count(), 0);
    player->stop();
    QCOMPARE(player->progress(), 0.0);
    // Out of range: clamped, or ignored when not a number.
    player->seek(qQNaN());
    QVERIFY(!player->isPlaying());
    player->seek(-3.0);
    QCOMPARE(player->progress(), 0.0);
    player->seek(1.7);
    QCOMPARE(player->progress(), 1.0);
    output->pullUntil([&] { return !player->isPlaying(); }, 100);
    QVERIFY(!player->isPlaying());
}

void TestAudioPreviewPlayer::volumeIsReadFromPreferences_data()
{
    QTest::addColumn<QVariant>("master");
    QTest::addColumn<QVariant>("remembered");
    QTest::addColumn<float>("volume");
    QTest::addColumn<float>("lastNonZero");
    const auto row = [](const char *name, const QVariant &master, const QVariant &remembered,
                        float volume, float lastNonZero) {
        QTest::newRow(name) << master << remembered << volume << lastNonZero;
    };
    row("nothing stored", QVariant(), QVariant(), 0.8f, 0.8f);
    row("too loud", 1.4f, QVariant(), 1.0f, 1.0f);
    row("negative", -0.5f, QVariant(), 0.0f, 0.0f);
    row("double", 0.25, QVariant(), 0.25f, 0.25f);
    row("integer", qint64(1), QVariant(), 1.0f, 1.0f);
    row("muted", 0.0f, 0.6f, 0.0f, 0.6f);
    row("remembered too loud", 0.5f, 7.0f, 0.5f, 1.0f);
    row("not a number", u"loud"_qs, true, 0.8f, 0.8f);
}

void TestAudioPreviewPlayer::volumeIsReadFromPreferences()
{
    QFETCH(QVariant, master);
    QFETCH(QVariant, remembered);
    QFETCH(float, volume);
    QFETCH(float, lastNonZero);
    m_defaults->setObject(master, QStringLiteral("masterVolume"));
    m_defaults->setObject(remembered, QStringLiteral("lastNonZeroVolume"));
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QCOMPARE(player->volume(), volume);
    QCOMPARE(player->lastNonZeroVolume(), lastNonZero);
    // Reading writes nothing back.
    QCOMPARE(m_defaults->objectForKey(QStringLiteral("masterVolume")), master);
}

void TestAudioPreviewPlayer::volumeIsStoredAndAppliedAndMuteToggles()
{
    const QString file = path(QStringLiteral("level.wav"));
    QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 2.0, 48000));
    ManualAudioOutput *output = nullptr;
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
    QSignalSpy changes(player.get(), &AudioPreviewPlayer::volumeChanged);
    player->setVolume(0.6f);
    player->setVolume(0.6f);
    QCOMPARE(changes.count(), 1);
    QVERIFY(player->play(fileUrl(file)));
    const std::vector<float> heard = AudioFixtures::withoutSilentFrames(
        output->pullUntil([&] { return player->progress() > 0.05; }), 2);
    QVERIFY(!heard.empty() && heard.front() == 0.5f * 0.6f);

    player->toggleMute();
    QCOMPARE(player->volume(), 0.0f);
    // The playing file falls silent within the ramp.
    for (int i = 0; i < 4; ++i)
        output->pull();
    const std::vector<float> muted = output->pull();
    QCOMPARE(*std::max_element(muted.begin(), muted.end()), 0.0f);
    player->toggleMute();
    QCOMPARE(player->volume(), 0.6f);
    player->setVolume(2.0f);
    QCOMPARE(player->volume(), 1.0f);
    player->setVolume(0.0f);
    QCOMPARE(changes.count(), 5);

    // A new run reads what the last one stored; unmuting it goes back to the last level.
    QVERIFY(m_defaults->flush());
    Preferences reread(path(QStringLiteral("prefs.plist")));
    AudioPreviewPlayer next(reread, std::make_unique<ManualAudioOutput>());
    QCOMPARE(next.volume(), 0.0f);
    next.toggleMute();
    QCOMPARE(next.volume(), 1.0f);
}

void TestAudioPreviewPlayer::errorMessageClearsItselfAfterItsFullTime()
{
    std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
    QSignalSpy changes(player.get(), &AudioPreviewPlayer::lastErrorChanged);
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("first.oga")))));
    QTest::qWait(1500);
    // A newer message, even the same one, restarts the clock; clearing by hand stops it.
    QVERIFY(!player->play(fileUrl(path(QStringLiteral("second.oga")))));
    QTest::qWait(1500);
    QCOMPARE(player->lastError(), QStringLiteral("Can't preview .oga files"));
    QTRY_VERIFY_WITH_TIMEOUT(player->lastError().isNull(), 2000);
    QCOMPARE(changes.count(), 2);
    player->setLastError(QStringLiteral("one"));
    player->setLastError(QString());
    QCOMPARE(changes.count(), 4);
}

QTEST_GUILESS_MAIN(TestAudioPreviewPlayer)
#include "tst_audiopreviewplayer.moc"
