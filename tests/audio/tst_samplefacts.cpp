#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "audio/FileSignature.h"
#include "audio/PeaksCache.h"
#include "platform/Preferences.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

// What the preview knows about a sample beyond its sound: its format line and its cached peaks.
class TestSampleFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void formatLine_data();
    void formatLine();
    void cacheEntries_data();
    void cacheEntries();
    void leastRecentlyUsedEntriesGoFirst();
    void playerUsesAndFillsTheCache();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    static QList<float> ramp(float top);
    // A cache entry of the ramp, with a decoded length of half a second.
    static WaveformExtractor::Overview cachedRamp(float top) { return {ramp(top), 22050, 44100}; }

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_defaults;
    QString m_cacheDir;
};

using Overview = WaveformExtractor::Overview;

QList<float> TestSampleFacts::ramp(float top)
{
    QList<float> peaks;
    for (int i = 0; i < AudioPreviewPlayer::waveformBarCount; ++i)
        peaks.append(top * float(i) / float(AudioPreviewPlayer::waveformBarCount - 1));
    return peaks;
}

void TestSampleFacts::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")) ||
        !TestSupport::haveTool(QStringLiteral("sox")))
        QSKIP("ffmpeg and sox are needed to make fixtures");
}

void TestSampleFacts::init()
{
    m_cacheDir = path(QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral("-") +
                      QString::fromLatin1(QTest::currentDataTag()));
    QDir(m_cacheDir).removeRecursively();
    QFile::remove(path(QStringLiteral("prefs.plist")));
    m_defaults = std::make_unique<Preferences>(path(QStringLiteral("prefs.plist")));
}

void TestSampleFacts::formatLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("ffmpegOptions"); // empty: made by sox
    QTest::addColumn<QString>("line");

    QTest::newRow("wav 16-bit") << "a16.wav"
                                << QStringList{"-ar", "48000", "-ac", "2", "-c:a", "pcm_s16le"}
                                << "WAV · 48 kHz · 16-bit · stereo";
    QTest::newRow("wav 24-bit") << "a24.wav"
                                << QStringList{"-ar", "44100", "-ac", "2", "-c:a", "pcm_s24le"}
                                << "WAV · 44.1 kHz · 24-bit · stereo";
    QTest::newRow("flac") << "a.flac"
                          << QStringList{"-ar", "96000", "-ac", "1", "-sample_fmt", "s16"}
                          << "FLAC · 96 kHz · 16-bit · mono";
    QTest::newRow("mp3") << "a.mp3" << QStringList{"-ar", "44100", "-ac", "2"}
                         << "MP3 · 44.1 kHz · stereo";
    QTest::newRow("aiff mono by sox")
        << "m.aiff" << QStringList() << "AIFF · 22.05 kHz · 16-bit · mono";
    QTest::newRow("six channels") << "six.wav" << QStringList{"-ac", "6", "-c:a", "pcm_f32le"}
                                  << "WAV · 44.1 kHz · 32-bit float · 6 ch";
}

void TestSampleFacts::formatLine()
{
    QFETCH(QString, name);
    QFETCH(QStringList, ffmpegOptions);
    QFETCH(QString, line);

    const QString file = path(name);
    if (ffmpegOptions.isEmpty()) {
        QCOMPARE(
            QProcess::execute(QStringLiteral("sox"), {"-n", "-r", "22050", "-b", "16", "-c", "1",
                                                      file, "synth", "0.3", "sine", "440"}),
            0);
    } else {
        QVERIFY(TestSupport::makeAudio(file, QStringLiteral("sine=sample_rate=44100:duration=0.3"),
                                       ffmpegOptions));
    }
    AudioPreviewPlayer player(*m_defaults, std::make_unique<ManualAudioOutput>());
    QVERIFY(player.play(QUrl::fromLocalFile(file)));
    QCOMPARE(player.loadedFormat(), line);
    player.stop();
    QCOMPARE(player.loadedFormat(), line);
    QVERIFY(!player.play(QUrl::fromLocalFile(path(QStringLiteral("missing.wav")))));
    QVERIFY(player.loadedFormat().isEmpty());
}

void TestSampleFacts::cacheEntries_data()
{
    QTest::addColumn<QString>("askedPath");
    QTest::addColumn<qint64>("sizeDelta");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("damage"); // 0 none, 1 garbage, 2 truncated, 3 foreign, 4 out of range
    QTest::addColumn<bool>("hit");

    QTest::newRow("same file") << "/s/kick.wav" << qint64(0) << 260 << 0 << true;
    QTest::newRow("file changed") << "/s/kick.wav" << qint64(1) << 260 << 0 << false;
    QTest::newRow("other count") << "/s/kick.wav" << qint64(0) << 100 << 0 << false;
    QTest::newRow("other file") << "/s/snare.wav" << qint64(0) << 260 << 0 << false;
    QTest::newRow("garbage") << "/s/kick.wav" << qint64(0) << 260 << 1 << false;
    QTest::newRow("truncated") << "/s/kick.wav" << qint64(0) << 260 << 2 << false;
    QTest::newRow("foreign file") << "/s/kick.wav" << qint64(0) << 260 << 3 << false;
    QTest::newRow("value out of range") << "/s/kick.wav" << qint64(0) << 260 << 4 << false;
}

void TestSampleFacts::cacheEntries()
{
    QFETCH(QString, askedPath);
    QFETCH(qint64, sizeDelta);
    QFETCH(int, count);
    QFETCH(int, damage);
    QFETCH(bool, hit);

    const PeaksCache cache(m_cacheDir);
    const FileSignature stored{1'700'000'000'123'456'789, 52'000};
    QVERIFY(cache.store(QStringLiteral("/s/kick.wav"), stored, cachedRamp(1.0f)));
    const QString entry = cache.entryPath(QStringLiteral("/s/kick.wav"));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    if (damage == 1)
        bytes.fill('\x5a');
    else if (damage == 2)
        bytes.chop(3);
    else if (damage == 3)
        bytes.replace(0, 4, "RIFF");
    else if (damage == 4)
        bytes[bytes.size() - 1] = char(0x40); // the last peak, 1.0f, becomes 4.0f
    QVERIFY(TestSupport::writeFile(entry, bytes));

    const FileSignature asked{stored.modified, stored.size + sizeDelta};
    const auto found = cache.find(askedPath, asked, count);
    QCOMPARE(found.has_value(), hit);
    if (hit) {
        QCOMPARE(found->peaks, ramp(1.0f));
        QCOMPARE(found->frames, cachedRamp(1.0f).frames);
        QCOMPARE(found->sampleRate, cachedRamp(1.0f).sampleRate);
    }
    // What was not usable is replaced by the next store.
    QVERIFY(cache.store(askedPath, asked, cachedRamp(0.5f)));
    QCOMPARE(cache.find(askedPath, asked, 260).value_or(Overview{}).peaks, ramp(0.5f));
}

void TestSampleFacts::leastRecentlyUsedEntriesGoFirst()
{
    const FileSignature signature{7, 7};
    qint64 entrySize = 0;
    {
        const PeaksCache probe(path(QStringLiteral("size-probe")));
        QVERIFY(probe.store(QStringLiteral("/a.wav"), signature, cachedRamp(1.0f)));
        entrySize = QFileInfo(probe.entryPath(QStringLiteral("/a.wav"))).size();
    }
    // Room for three entries of the same size.
    const PeaksCache cache(m_cacheDir, entrySize * 3 + entrySize / 2);
    const QStringList names{"/a.wav", "/b.wav", "/c.wav", "/d.wav"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(cache.store(names[i], signature, cachedRamp(1.0f)));
        QTest::qWait(15); // distinct modification times
    }
    QVERIFY(cache.find(names[0], signature, AudioPreviewPlayer::waveformBarCount));
    QTest::qWait(15);
    QVERIFY(cache.store(names[3], signature, cachedRamp(1.0f)));

    QStringList kept;
    for (const QString &name : names) {
        if (cache.find(name, signature, AudioPreviewPlayer::waveformBarCount))
            kept.append(name);
    }
    QCOMPARE(kept, QStringList({"/a.wav", "/c.wav", "/d.wav"}));
}

void TestSampleFacts::playerUsesAndFillsTheCache()
{
    const QString cached = path(QStringLiteral("cached.wav"));
    const QString fresh = path(QStringLiteral("fresh.wav"));
    QVERIFY(AudioFixtures::makeTone(cached, 0.5));
    QVERIFY(AudioFixtures::makeTone(fresh, 0.5));
    auto cache = std::make_shared<const PeaksCache>(m_cacheDir);
    // A tone could never give a ramp: seeing it proves the file was not decoded.
    const std::optional<FileSignature> signature = FileSignature::of(QUrl::fromLocalFile(cached));
    QVERIFY(signature);
    QVERIFY(cache->store(cached, *signature, cachedRamp(1.0f)));

    AudioPreviewPlayer player(*m_defaults, std::make_unique<ManualAudioOutput>());
    player.setPeaksCache(cache);
    QVERIFY(player.play(QUrl::fromLocalFile(cached)));
    QTRY_COMPARE(player.waveform(), ramp(1.0f));
    QVERIFY(!player.isGeneratingWaveform());

    QVERIFY(player.play(QUrl::fromLocalFile(fresh)));
    QTRY_VERIFY(!player.isGeneratingWaveform());
    QCOMPARE(player.waveform().size(), AudioPreviewPlayer::waveformBarCount);
    const std::optional<FileSignature> freshSignature =
        FileSignature::of(QUrl::fromLocalFile(fresh));
    QVERIFY(freshSignature);
    QTRY_COMPARE(cache->find(fresh, *freshSignature, AudioPreviewPlayer::waveformBarCount)
                     .value_or(Overview{})
                     .peaks,
                 player.waveform());
}

QTEST_GUILESS_MAIN(TestSampleFacts)
#include "tst_samplefacts.moc"
