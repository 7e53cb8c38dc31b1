// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "audio/FileSignature.h"
#include "audio/PeaksCache.h"
#include "audio/PreviewFiles.h"
#include "audio/WaveformExtractor.h"
#include "platform/Preferences.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <condition_variable>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using AudioFixtures::fileUrl;
using Overview = WaveformExtractor::Overview;

namespace {

// A cache entry that no decoded tone could give, with a decoded length of half a second.
Overview ramp(float top)
{
    Overview overview{{}, 22050, 44100};
    for (int i = 0; i < AudioPreviewPlayer::waveformBarCount; ++i)
        overview.peaks.append(top * float(i) / float(AudioPreviewPlayer::waveformBarCount - 1));
    return overview;
}

auto fields(const std::optional<Overview> &overview)
{
    const Overview o = overview.value_or(Overview{});
    return std::tuple(o.peaks, o.frames, o.sampleRate);
}

// The real file system, except a share at /dead whose calls wait until it answers again. Notes
// every call that comes in on the GUI thread.
class HangingShare final : public PreviewFiles
{
public:
    QString shareOf(const QString &path) const override
    {
        note();
        return isDead(path) ? u"/dead"_qs : PreviewFiles::shareOf(path);
    }
    Status status(const QString &path) const override
    {
        note();
        wait(path);
        return PreviewFiles::status(path);
    }
    std::unique_ptr<AudioDecoder> open(const QString &path,
                                       AudioDecoder::Interrupt interrupt) const override
    {
        note();
        wait(path);
        return PreviewFiles::open(path, std::move(interrupt));
    }

    int parked() const
    {
        const std::lock_guard lock(m_mutex);
        return m_parked;
    }
    void answer()
    {
        const std::lock_guard lock(m_mutex);
        m_answering = true;
        m_answered.notify_all();
    }
    bool calledOnGuiThread() const { return m_calledOnGuiThread; }

private:
    static bool isDead(const QString &path) { return path.startsWith(u"/dead/"_qs); }
    void note() const
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            m_calledOnGuiThread = true;
    }
    void wait(const QString &path) const
    {
        if (!isDead(path))
            return;
        std::unique_lock lock(m_mutex);
        ++m_parked;
        m_answered.wait(lock, [this] { return m_answering; });
        --m_parked;
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_answered;
    mutable int m_parked = 0;
    bool m_answering = false;
    mutable std::atomic<bool> m_calledOnGuiThread{false};
};

// The real file system, except that opens wait while the test holds them.
class HeldOpens final : public PreviewFiles
{
public:
    std::unique_ptr<AudioDecoder> open(const QString &path,
                                       AudioDecoder::Interrupt interrupt) const override
    {
        {
            std::unique_lock lock(m_mutex);
            ++m_waiting;
            m_released.wait(lock, [this] { return !m_holding; });
            --m_waiting;
        }
        return PreviewFiles::open(path, std::move(interrupt));
    }
    void hold(bool holding)
    {
        const std::lock_guard lock(m_mutex);
        m_holding = holding;
        m_released.notify_all();
    }
    int waiting() const
    {
        const std::lock_guard lock(m_mutex);
        return m_waiting;
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_released;
    mutable int m_waiting = 0;
    bool m_holding = false;
};

} // namespace

class TestAudioPreviewPlayer : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A player on a hand-pulled output, which stays owned by the player.
    std::unique_ptr<AudioPreviewPlayer> makePlayer(ManualAudioOutput **output = nullptr,
                                                   bool available = true, int rate = 48000,
                                                   int channels = 2)
    {
        auto device = std::make_unique<ManualAudioOutput>(rate, channels, available);
        if (output != nullptr)
            *output = device.get();
        return std::make_unique<AudioPreviewPlayer>(*m_defaults, std::move(device));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_defaults;
    QString m_timeCoded; // 1 s, left = 0.1 + t / 10, right silent
    QString m_short;     // 0.2 s tone

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
            QSKIP("ffmpeg is needed to make fixtures");
        m_timeCoded = path(QStringLiteral("timecoded.wav"));
        QVERIFY(AudioFixtures::makeFloatWav(
            m_timeCoded, {QStringLiteral("0.1+t/10"), QStringLiteral("0")}, 1.0, 48000));
        m_short = path(QStringLiteral("short.wav"));
        QVERIFY(AudioFixtures::makeFloatWav(m_short, {u"sin(2*PI*440*t)"_qs}, 0.2, 48000));
    }

    void init()
    {
        m_defaults.reset();
        QFile::remove(path(QStringLiteral("prefs.plist")));
        m_defaults = std::make_unique<Preferences>(path(QStringLiteral("prefs.plist")));
    }

    void playsEveryPreviewableFormat_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("options"); // on top of stereo at 44.1 kHz
        QTest::addColumn<QString>("line");    // the format line; empty: not checked
        const QHash<QString, std::pair<const char *, const char *>> lines{
            {u"wav"_qs, {"-c:a pcm_s24le", "WAV · 44.1 kHz · 24-bit · stereo"}},
            {u"wave"_qs, {"-ac 6 -c:a pcm_f32le", "WAV · 44.1 kHz · 32-bit float · 6 ch"}},
            {u"aif"_qs, {"-ar 22050 -ac 1", "AIFF · 22.05 kHz · 16-bit · mono"}},
            {u"flac"_qs, {"-ar 96000 -ac 1 -sample_fmt s16", "FLAC · 96 kHz · 16-bit · mono"}},
            {u"mp3"_qs, {"-ar 48000", "MP3 · 48 kHz · stereo"}},
            {u"ogg"_qs, {"", "VORBIS · 44.1 kHz · stereo"}},
            {u"oga"_qs, {"", "OPUS · 48 kHz · stereo"}},
        };
        for (const QString &extension : AudioPreviewPlayer::previewableExtensions()) {
            const auto [options, line] = lines.value(extension);
            QTest::newRow(qPrintable(extension))
                << extension << QString::fromUtf8(options) << QString::fromUtf8(line);
        }
    }

    void playsEveryPreviewableFormat()
    {
        QFETCH(QString, extension);
        QFETCH(QString, options);
        QFETCH(QString, line);
        // Silence, then a tone: the bars must show the tone in the second half only, whatever the
        // container does with priming and padding.
        const QString file = path(QStringLiteral("format.") + extension);
        QVERIFY(TestSupport::makeAudio(
            file, QStringLiteral("aevalsrc=exprs='if(gte(t,1),0.8*sin(2*PI*440*t),0)':s=44100:d=2"),
            QStringList{QStringLiteral("-ac"), QStringLiteral("2")} +
                AudioFixtures::encoderOptions(extension) +
                options.split(u' ', Qt::SkipEmptyParts)));
        // The real SDL device, on the dummy driver.
        AudioPreviewPlayer player(*m_defaults);
        QVERIFY(player.play(fileUrl(file)));
        QCOMPARE(player.playingURL(), fileUrl(file));
        QVERIFY(player.isGeneratingWaveform());
        // The facts of the file follow its open.
        QTRY_VERIFY(!player.loadedFormat().isEmpty());
        // Raw AAC states no length; its duration is an estimate from the bit rate.
        QVERIFY2(extension == QLatin1String("aac") || qAbs(player.duration() - 2.0) < 0.05,
                 qPrintable(QString::number(player.duration())));
        if (!line.isEmpty())
            QCOMPARE(player.loadedFormat(), line);
        QTRY_VERIFY(!player.isGeneratingWaveform());
        // Once decoded, the length is the sound's own, to the frame (Opus: resampled to 48 kHz).
        QVERIFY2(extension == QLatin1String("aac") || qAbs(player.duration() - 2.0) < 1e-4,
                 qPrintable(QString::number(player.duration(), 'g', 10)));
        const QList<float> peaks = player.waveform();
        QCOMPARE(peaks.size(), 260);
        QCOMPARE(*std::max_element(peaks.begin(), peaks.end()), 1.0f);
        // Lossy codecs smear a little energy around the onset; far from it the picture is clear.
        // Encoder priming and padding are not part of the sound, so the tone fills the last bars
        // too, except in raw AAC, which carries no word on its padding.
        for (int k = 0; k < (extension == QLatin1String("aac") ? 250 : 260); ++k)
            QVERIFY2(k < 120 ? peaks[k] < 0.05f : k < 140 || peaks[k] > 0.8f,
                     qPrintable(QString::number(k)));
    }

    void refusesWhatItCannotPlay_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // null: an Opus file made by ffmpeg
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("atOnce"); // else when the file's open answers
        const auto row = [](const char *name, const QByteArray &bytes, const char *message,
                            bool atOnce) {
            QTest::newRow(name) << QString::fromUtf8(name) << bytes << QString::fromUtf8(message)
                                << atOnce;
        };
        row("X.OPUS", QByteArray(), "Can't preview .opus files", true);
        row("README", "hello", "Can't preview . files", true);
        row("kick.wav", QByteArray(4096, '\x7f'), "Couldn't play kick.wav", false);
        row("half.flac", QByteArray("fLaC\0\0\0\x22", 8), "Couldn't play half.flac", false);
        row("missing.wav", QByteArray(""), "Couldn't play missing.wav", false);
        QTest::newRow("no audio device")
            << QString() << QByteArray() << u"Couldn't play short.wav"_qs << true;
    }

    void refusesWhatItCannotPlay()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(bool, atOnce);
        const QString file = name.isEmpty() ? m_short : path(name);
        if (bytes.isNull() && !name.isEmpty()) {
            QVERIFY(TestSupport::makeAudio(file, QStringLiteral("sine=d=0.2"),
                                           AudioFixtures::encoderOptions(QStringLiteral("oga"))));
        } else if (!bytes.isEmpty()) {
            QVERIFY(TestSupport::writeFile(file, bytes));
        }
        ManualAudioOutput *output = nullptr;
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output, !name.isEmpty());
        if (!name.isEmpty()) {
            QVERIFY(player->play(fileUrl(m_timeCoded)));
            QTRY_COMPARE(player->waveform().size(), 260);
        }
        QCOMPARE(player->play(fileUrl(file)), !atOnce);
        QTRY_COMPARE(player->lastError(), message);
        QVERIFY(!player->isPlaying() && !output->hasRenderer());
        QVERIFY(player->loadedURL().isEmpty() && player->loadedFormat().isEmpty());
        QVERIFY(player->waveform().isEmpty() && !player->isGeneratingWaveform());
        player->seek(0.5); // nothing to seek in
        QVERIFY(!player->isPlaying());
        if (!name.isEmpty()) {
            // The next good file clears the message as soon as it opens.
            QVERIFY(player->play(fileUrl(m_short)));
            QTRY_VERIFY_WITH_TIMEOUT(player->lastError().isNull(), 1000);
            return;
        }
        // The message goes by itself.
        QTRY_VERIFY_WITH_TIMEOUT(player->lastError().isNull(), 4000);
    }

    void aFifoNamedLikeASampleHoldsNothingUp()
    {
        const QString fifo = path(QStringLiteral("kick7.wav"));
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        // Whoever opens it waits for a writer; should that be the GUI thread, this writer frees
        // it after 3 s and the clock tells.
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::thread writer([&] {
            std::unique_lock lock(mutex);
            if (finished.wait_for(lock, std::chrono::seconds(3), [&] { return done; }))
                return;
            const int fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        });
        const auto release = qScopeGuard([&] {
            {
                const std::lock_guard lock(mutex);
                done = true;
            }
            finished.notify_all();
            writer.join();
        });

        ManualAudioOutput *output = nullptr;
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
        player->setVolume(1.0f);
        QElapsedTimer clock;
        clock.start();
        player->play(fileUrl(fifo));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(player->lastError(), u"Couldn't play kick7.wav"_qs);
        QVERIFY(!player->isPlaying());
        // The sample chosen next is heard.
        QVERIFY(player->play(fileUrl(m_timeCoded)));
        const std::vector<float> heard = AudioFixtures::withoutSilentFrames(
            output->pullUntil([&] { return player->progress() > 0.1; }), 2);
        QVERIFY(!heard.empty() && qAbs(heard.front() - 0.1f) < 1e-6f);
        QVERIFY(player->lastError().isNull());
    }

    void aPreparedFilePlaysTheSameFrames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("rewritten"); // after it was prepared
        QTest::newRow("wav at the device's rate") << u"a.wav"_qs << 48000 << 0.5 << false;
        QTest::newRow("wav resampled") << u"b.wav"_qs << 44100 << 0.5 << false;
        QTest::newRow("flac") << u"c.flac"_qs << 44100 << 0.5 << false;
        QTest::newRow("mp3") << u"d.mp3"_qs << 44100 << 0.5 << false;
        QTest::newRow("shorter than the block") << u"e.wav"_qs << 44100 << 0.03 << false;
        QTest::newRow("rewritten after it was prepared") << u"f.flac"_qs << 44100 << 0.5 << true;
    }

    // The first block comes from the cache, the rest from the file: not a frame may be lost,
    // doubled or changed at the seam.
    void aPreparedFilePlaysTheSameFrames()
    {
        QFETCH(QString, name);
        QFETCH(int, rate);
        QFETCH(double, seconds);
        QFETCH(bool, rewritten);
        const QString file = path(QStringLiteral("prepared/") + name);
        QVERIFY(QDir().mkpath(path(QStringLiteral("prepared"))));
        const auto make = [&](double frequency, double length) {
            return TestSupport::makeAudio(
                file,
                QStringLiteral("aevalsrc=exprs='0.5*sin(2*PI*%1*t)|0.3*sin(2*PI*%2*t+1)':s=%3:d=%4")
                    .arg(frequency)
                    .arg(frequency * 1.5)
                    .arg(rate)
                    .arg(length),
                AudioFixtures::encoderOptions(QFileInfo(file).suffix()));
        };
        QVERIFY(make(440, seconds));
        const QUrl url = fileUrl(file);
        const auto heard = [&](bool prepared) {
            ManualAudioOutput *output = nullptr;
            std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
            if (prepared) {
                QSignalSpy done(player.get(), &AudioPreviewPlayer::firstBlocksPrepared);
                player->prepare({url});
                if (!done.wait(5000))
                    return std::vector<float>();
                if (rewritten && !make(550, seconds + 0.25))
                    return std::vector<float>();
            }
            player->play(url);
            return AudioFixtures::withoutSilentFrames(
                output->pullUntil([&] { return !player->isPlaying(); }), 2);
        };
        const std::vector<float> prepared = heard(true);
        const std::vector<float> plain = heard(false);
        QVERIFY(!plain.empty());
        QCOMPARE(prepared.size(), plain.size());
        QVERIFY(prepared == plain);
    }

    void aPreparedFileSoundsWhileItsOpenWaits()
    {
        const auto files = std::make_shared<HeldOpens>();
        ManualAudioOutput *output = nullptr;
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
        player->setFiles(files, std::chrono::seconds(20));
        player->setVolume(1.0f);
        QSignalSpy done(player.get(), &AudioPreviewPlayer::firstBlocksPrepared);
        player->prepare({fileUrl(m_timeCoded)});
        QVERIFY(done.wait(5000));

        files->hold(true);
        QVERIFY(player->play(fileUrl(m_timeCoded)));
        std::vector<float> pulled;
        for (int i = 0; i < 200 && (files->waiting() == 0 || pulled.size() < 2 * 2048); ++i) {
            const std::vector<float> buffer = output->pull(256);
            pulled.insert(pulled.end(), buffer.begin(), buffer.end());
            QCoreApplication::processEvents();
            QThread::usleep(500);
        }
        QVERIFY(files->waiting() > 0);
        const std::vector<float> early = AudioFixtures::withoutSilentFrames(pulled, 2);
        QVERIFY2(early.size() >= 2 * 1024, qPrintable(QString::number(early.size())));
        QVERIFY(qAbs(early.front() - 0.1f) < 1e-6f);

        files->hold(false);
        const std::vector<float> rest = output->pullUntil([&] { return !player->isPlaying(); });
        pulled.insert(pulled.end(), rest.begin(), rest.end());
        // Left is 0.1 + t / 10 at 48 kHz, frame after frame across the seam.
        const std::vector<float> all = AudioFixtures::withoutSilentFrames(pulled, 2);
        QCOMPARE(all.size(), size_t(2 * 48000));
        for (size_t frame = 0; frame < all.size() / 2; ++frame) {
            const float expected = 0.1f + float(frame) / 48000.0f / 10.0f;
            QVERIFY2(qAbs(all[2 * frame] - expected) < 1e-6f,
                     qPrintable(QStringLiteral("frame %1: %2").arg(frame).arg(all[2 * frame])));
        }
        QVERIFY(player->lastError().isNull());
    }

    void aShareThatNeverAnswersCostsFourThreads()
    {
        const auto share = std::make_shared<HangingShare>();
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
        player->setFiles(share, std::chrono::milliseconds(300));
        // Each file on the dead share parks its opener and its waveform job, until four are
        // parked; the next is refused without a thread of its own. None of it holds up play().
        QElapsedTimer clock;
        for (const char *name : {"a.wav", "b.wav", "c.wav"}) {
            const QUrl url = QUrl::fromLocalFile(u"/dead/"_qs + QString::fromUtf8(name));
            clock.start();
            QVERIFY(player->play(url));
            QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(player->playingURL(), url);
            QTRY_COMPARE(player->lastError(), u"Couldn't play "_qs + QString::fromUtf8(name) +
                                                  u": the disk isn't answering"_qs);
            QVERIFY(!player->isPlaying() && player->loadedURL().isEmpty());
            QVERIFY(player->waveform().isEmpty() && !player->isGeneratingWaveform());
        }
        QCOMPARE(share->parked(), 4);
        // The newest choice wins at once, and a file elsewhere plays meanwhile.
        QVERIFY(player->play(QUrl::fromLocalFile(u"/dead/d.wav"_qs)));
        QVERIFY(player->play(fileUrl(m_short)));
        QTRY_VERIFY(player->duration() > 0 && player->lastError().isNull());
        QTRY_VERIFY(!player->isGeneratingWaveform());
        QCOMPARE(player->waveform().size(), 260);
        QCOMPARE(share->parked(), 4);

        // Once the share answers, its files are tried again: this one is simply not there.
        share->answer();
        QTRY_COMPARE(share->parked(), 0);
        QVERIFY(player->play(QUrl::fromLocalFile(u"/dead/e.wav"_qs)));
        QTRY_COMPARE(player->lastError(), u"Couldn't play e.wav"_qs);
        QVERIFY(!share->calledOnGuiThread());

        // Threads still parked when the player goes hold up neither it nor the end of the test.
        const auto forever = std::make_shared<HangingShare>();
        player->setFiles(forever, std::chrono::milliseconds(300));
        QVERIFY(player->play(QUrl::fromLocalFile(u"/dead/f.wav"_qs)));
        QTRY_COMPARE(forever->parked(), 2);
        clock.start();
        player.reset();
        QVERIFY(clock.elapsed() < 100);
    }

    void waveformFollowsTheLatestFileAndItsChanges()
    {
        const QString file = path(QStringLiteral("rewritten.wav"));
        QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("0.5")}, 0.5, 8000));
        // A cached entry is shown without decoding; what is decoded goes into the cache.
        auto cache = std::make_shared<const PeaksCache>(path(QStringLiteral("player-cache")));
        const std::optional<FileSignature> cached = FileSignature::of(fileUrl(m_short));
        QVERIFY(cached && cache->store(m_short, *cached, ramp(1.0f)));
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer();
        player->setPeaksCache(cache);
        QVERIFY(player->play(fileUrl(m_short)));
        QTRY_COMPARE(player->waveform(), ramp(1.0f).peaks);
        QVERIFY(!player->isGeneratingWaveform());
        // A long file, still being read when the next one is chosen.
        const QString longFile = path(QStringLiteral("long.flac"));
        QVERIFY(TestSupport::makeAudio(longFile,
                                       QStringLiteral("sine=sample_rate=48000:duration=40"),
                                       {QStringLiteral("-ac"), QStringLiteral("2")}));
        QVERIFY(player->play(fileUrl(longFile)));
        QVERIFY(player->play(fileUrl(file)));
        QTRY_VERIFY(!player->isGeneratingWaveform());
        QCOMPARE(player->waveform(), QList<float>(260, 1.0f));

        // The same size with a new modification time: a fade-in, whose first bar is quiet.
        QVERIFY(AudioFixtures::makeFloatWav(file, {QStringLiteral("t")}, 0.5, 8000));
        const QString later = QString::number(QDateTime::currentSecsSinceEpoch() + 60);
        QCOMPARE(TestSupport::run(u"touch"_qs, {u"-d"_qs, u"@"_qs + later, file}).exitCode, 0);
        QVERIFY(player->play(fileUrl(file)));
        QTRY_COMPARE(player->waveform(), *WaveformExtractor::computePeaks(fileUrl(file), 260));
        QVERIFY(!player->isGeneratingWaveform());
        QVERIFY(player->waveform().first() < 0.01f);
        QTRY_COMPARE(fields(cache->find(file, *FileSignature::of(fileUrl(file)), 260)),
                     fields(Overview{player->waveform(), 4000, 8000}));

        // Away from the long file to one that cannot be played: its bars never land.
        QSignalSpy shown(player.get(), &AudioPreviewPlayer::waveformChanged);
        QVERIFY(player->play(fileUrl(longFile)));
        QVERIFY(player->play(fileUrl(path(QStringLiteral("x.ogg")))));
        QTRY_COMPARE(player->lastError(), u"Couldn't play x.ogg"_qs);
        QTest::qWait(300);
        QVERIFY(player->waveform().isEmpty() && !player->isGeneratingWaveform());
        QCOMPARE(shown.count(), 1);
    }

    void endOfPlaybackKeepsTheFileAndSeekReplaysIt()
    {
        ManualAudioOutput *output = nullptr;
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output);
        QVERIFY(player->play(fileUrl(m_short)));
        // Reports from an engine that never existed, or from one replaced since, change nothing.
        player->audioPlayerDidFinishPlaying(std::numeric_limits<quint64>::max(), true);
        QVERIFY(player->isPlaying());
        // The short file runs out; its report waits for the main thread.
        for (int i = 0; i < 60; ++i) {
            output->pull();
            QThread::usleep(300);
        }
        QThread::msleep(100);
        QVERIFY(player->play(fileUrl(m_timeCoded)));
        QTest::qWait(50);
        QCOMPARE(player->playingURL(), fileUrl(m_timeCoded));
        QList<double> seen;
        connect(player.get(), &AudioPreviewPlayer::progressChanged, this,
                [&] { seen.append(player->progress()); });
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

    void durationPlayheadAndSeekSpanTheSound()
    {
        // Vorbis whose sound ends 30 frames into its last packet, all in one page.
        const QString file = path(QStringLiteral("padded.ogg"));
        QVERIFY(TestSupport::makeAudio(
            file, QStringLiteral("aevalsrc=exprs='(0.1+1.6*t)*sin(2*PI*440*t)':s=44100:d=0.5"),
            {QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-c:a"),
             QStringLiteral("libvorbis")}));
        const std::vector<float> decoded =
            AudioFixtures::decodeWithFfmpeg(file, {u"-flags2"_qs, u"+skip_manual"_qs})
                .value_or(std::vector<float>());
        QVERIFY(decoded.size() > 22050);
        const auto soundFrom = [&](int first) {
            return AudioFixtures::withoutSilentFrames(
                {decoded.begin() + first, decoded.begin() + 22050}, 1);
        };
        ManualAudioOutput *output = nullptr;
        std::unique_ptr<AudioPreviewPlayer> player = makePlayer(&output, true, 44100, 1);
        player->setVolume(1.0f);
        QVERIFY(player->play(fileUrl(file)));
        QTRY_COMPARE(player->duration(), 0.5);
        QTRY_VERIFY(!player->isGeneratingWaveform());
        QCOMPARE(player->duration(), 0.5);
        const std::vector<float> heard = AudioFixtures::withoutSilentFrames(
            output->pullUntil([&] { return !player->isPlaying(); }), 1);
        QCOMPARE(heard.size(), soundFrom(0).size());
        QVERIFY(heard == soundFrom(0));

        // A click at 60 % of a stopped preview plays from frame 13230 of the sound.
        player->seek(0.6);
        const std::vector<float> rest = AudioFixtures::withoutSilentFrames(
            output->pullUntil([&] { return !player->isPlaying(); }), 1);
        QCOMPARE(rest.size(), soundFrom(13230).size());
        QVERIFY(rest == soundFrom(13230));
    }

    void volumeIsStoredAndAppliedAndMuteToggles()
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

        // Muted, the playing file falls silent within the ramp.
        player->toggleMute();
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
        // What is not a number reads as absent; what is out of range is clamped.
        reread.setObject(u"loud"_qs, QStringLiteral("masterVolume"));
        reread.setObject(7.0, QStringLiteral("lastNonZeroVolume"));
        AudioPreviewPlayer odd(reread, std::make_unique<ManualAudioOutput>());
        QVERIFY(odd.volume() == 0.8f && odd.lastNonZeroVolume() == 1.0f);
    }

    void cacheEntries()
    {
        const PeaksCache cache(path(QStringLiteral("cache")));
        const QString kick = QStringLiteral("/s/kick.wav");
        const FileSignature stored{1'700'000'000'123'456'789, 52'000};
        QVERIFY(cache.store(kick, stored, ramp(1.0f)));
        QVERIFY(fields(cache.find(kick, stored, 260)) == fields(ramp(1.0f)));
        // Another size, modification time, bar count or file misses.
        QVERIFY(!cache.find(kick, {stored.modified, stored.size + 1}, 260));
        QVERIFY(!cache.find(kick, {stored.modified + 1, stored.size}, 260));
        QVERIFY(!cache.find(kick, stored, 100));
        QVERIFY(!cache.find(QStringLiteral("/s/snare.wav"), stored, 260));
        // So does a damaged entry, which the next store replaces.
        QFile file(cache.entryPath(kick));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray good = file.readAll();
        file.close();
        QByteArray outOfRange = good;
        outOfRange.back() = char(0x40); // the last peak, 1.0f, becomes 4.0f
        for (const QByteArray &bytes :
             {QByteArray(good.size(), '\x5a'), good.chopped(3), outOfRange}) {
            QVERIFY(TestSupport::writeFile(file.fileName(), bytes));
            QVERIFY(!cache.find(kick, stored, 260));
            QVERIFY(cache.store(kick, stored, ramp(0.5f)));
            QVERIFY(fields(cache.find(kick, stored, 260)) == fields(ramp(0.5f)));
        }

        // Over its capacity, here two entries, the least recently used ones go first.
        const PeaksCache small(path(QStringLiteral("lru")), good.size() * 5 / 2);
        const QString a = u"/a.wav"_qs, b = u"/b.wav"_qs, c = u"/c.wav"_qs;
        QVERIFY(small.store(a, stored, ramp(1.0f)));
        QTest::qWait(15); // distinct modification times
        QVERIFY(small.store(b, stored, ramp(1.0f)));
        QTest::qWait(15);
        QVERIFY(small.find(a, stored, 260)); // a used again: b is now the least recently used
        QTest::qWait(15);
        QVERIFY(small.store(c, stored, ramp(1.0f)));
        QVERIFY(small.find(a, stored, 260) && !small.find(b, stored, 260));
        QVERIFY(small.find(c, stored, 260));
    }
};

QTEST_GUILESS_MAIN(TestAudioPreviewPlayer)
#include "tst_audiopreviewplayer.moc"
