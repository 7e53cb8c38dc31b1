#include "AudioFixtures.h"
#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "audio/FileSignature.h"
#include "audio/PeaksCache.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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

} // namespace

// What the preview knows about a sample beyond its sound: its format line and its cached peaks.
class TestSampleFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatLine_data();
    void formatLine();
    void cacheEntries_data();
    void cacheEntries();
    void leastRecentlyUsedEntriesGoFirst();
    void playerUsesAndFillsTheCache();

private:
    QTemporaryDir m_dir;
    Preferences m_defaults{m_dir.filePath(QStringLiteral("prefs.plist"))};
};

void TestSampleFacts::formatLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("options"); // empty: made by sox
    QTest::addColumn<QString>("line");
    QTest::newRow("wav 24-bit") << u"a24.wav"_qs << u"-ar 44100 -ac 2 -c:a pcm_s24le"_qs
                                << u"WAV · 44.1 kHz · 24-bit · stereo"_qs;
    QTest::newRow("flac") << u"a.flac"_qs << u"-ar 96000 -ac 1 -sample_fmt s16"_qs
                          << u"FLAC · 96 kHz · 16-bit · mono"_qs;
    QTest::newRow("mp3") << u"a.mp3"_qs << u"-ar 48000 -ac 2"_qs << u"MP3 · 48 kHz · stereo"_qs;
    QTest::newRow("aiff by sox") << u"m.aiff"_qs << QString()
                                 << u"AIFF · 22.05 kHz · 16-bit · mono"_qs;
    QTest::newRow("six channels") << u"six.wav"_qs << u"-ac 6 -c:a pcm_f32le"_qs
                                  << u"WAV · 44.1 kHz · 32-bit float · 6 ch"_qs;
}

void TestSampleFacts::formatLine()
{
    QFETCH(QString, name);
    QFETCH(QString, options);
    QFETCH(QString, line);
    const QString file = m_dir.filePath(name);
    if (options.isEmpty()) {
        QCOMPARE(QProcess::execute(QStringLiteral("sox"),
                                   QStringLiteral("-n -r 22050 -b 16 -c 1 %1 synth 0.3 sine 440")
                                       .arg(file)
                                       .split(u' ')),
                 0);
    } else {
        QVERIFY(TestSupport::makeAudio(file, QStringLiteral("sine=sample_rate=44100:duration=0.3"),
                                       options.split(u' ')));
    }
    AudioPreviewPlayer player(m_defaults, std::make_unique<ManualAudioOutput>());
    QVERIFY(player.play(AudioFixtures::fileUrl(file)));
    player.stop();
    QCOMPARE(player.loadedFormat(), line);
    QVERIFY(!player.play(AudioFixtures::fileUrl(m_dir.filePath(QStringLiteral("missing.wav")))));
    QVERIFY(player.loadedFormat().isEmpty());
}

void TestSampleFacts::cacheEntries_data()
{
    QTest::addColumn<QString>("askedPath");
    QTest::addColumn<qint64>("sizeDelta");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("damage"); // 0 none, 1 garbage, 2 truncated, 3 foreign, 4 out of range
    QTest::addColumn<bool>("hit");
    const QString kick = QStringLiteral("/s/kick.wav");
    QTest::newRow("same file") << kick << qint64(0) << 260 << 0 << true;
    QTest::newRow("file changed") << kick << qint64(1) << 260 << 0 << false;
    QTest::newRow("other count") << kick << qint64(0) << 100 << 0 << false;
    QTest::newRow("other file") << u"/s/snare.wav"_qs << qint64(0) << 260 << 0 << false;
    for (int damage = 1; damage <= 4; ++damage)
        QTest::addRow("damaged %d", damage) << kick << qint64(0) << 260 << damage << false;
}

void TestSampleFacts::cacheEntries()
{
    QFETCH(QString, askedPath);
    QFETCH(qint64, sizeDelta);
    QFETCH(int, count);
    QFETCH(int, damage);
    QFETCH(bool, hit);
    const PeaksCache cache(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())));
    const FileSignature stored{1'700'000'000'123'456'789, 52'000};
    QVERIFY(cache.store(QStringLiteral("/s/kick.wav"), stored, ramp(1.0f)));
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
    const std::optional<Overview> found = cache.find(askedPath, asked, count);
    QCOMPARE(found.has_value(), hit);
    if (hit) {
        QCOMPARE(found->peaks, ramp(1.0f).peaks);
        QCOMPARE(found->frames, ramp(1.0f).frames);
        QCOMPARE(found->sampleRate, ramp(1.0f).sampleRate);
    }
    // What was not usable is replaced by the next store.
    QVERIFY(cache.store(askedPath, asked, ramp(0.5f)));
    QCOMPARE(cache.find(askedPath, asked, 260).value_or(Overview{}).peaks, ramp(0.5f).peaks);
}

void TestSampleFacts::leastRecentlyUsedEntriesGoFirst()
{
    const FileSignature signature{7, 7};
    const PeaksCache probe(m_dir.filePath(QStringLiteral("size-probe")));
    QVERIFY(probe.store(QStringLiteral("/a.wav"), signature, ramp(1.0f)));
    const qint64 entrySize = QFileInfo(probe.entryPath(QStringLiteral("/a.wav"))).size();
    // Room for three entries of the same size.
    const PeaksCache cache(m_dir.filePath(QStringLiteral("lru")), entrySize * 7 / 2);
    const QStringList names{u"/a.wav"_qs, u"/b.wav"_qs, u"/c.wav"_qs, u"/d.wav"_qs};
    for (int i = 0; i < 4; ++i) {
        if (i == 3) // a used again, so b is now the least recently used
            QVERIFY(cache.find(names[0], signature, 260));
        QTest::qWait(15); // distinct modification times
        QVERIFY(cache.store(names[i], signature, ramp(1.0f)));
    }
    QStringList kept;
    for (const QString &name : names) {
        if (cache.find(name, signature, 260))
            kept.append(name);
    }
    QCOMPARE(kept, QStringList({u"/a.wav"_qs, u"/c.wav"_qs, u"/d.wav"_qs}));
}

void TestSampleFacts::playerUsesAndFillsTheCache()
{
    const QString cached = m_dir.filePath(QStringLiteral("cached.wav"));
    const QString fresh = m_dir.filePath(QStringLiteral("fresh.wav"));
    QVERIFY(AudioFixtures::makeTone(cached, 0.5) && AudioFixtures::makeTone(fresh, 0.5));
    auto cache = std::make_shared<const PeaksCache>(m_dir.filePath(QStringLiteral("player")));
    const std::optional<FileSignature> signature =
        FileSignature::of(AudioFixtures::fileUrl(cached));
    QVERIFY(signature && cache->store(cached, *signature, ramp(1.0f)));

    AudioPreviewPlayer player(m_defaults, std::make_unique<ManualAudioOutput>());
    player.setPeaksCache(cache);
    QVERIFY(player.play(AudioFixtures::fileUrl(cached)));
    QTRY_COMPARE(player.waveform(), ramp(1.0f).peaks);
    QVERIFY(!player.isGeneratingWaveform());

    QVERIFY(player.play(AudioFixtures::fileUrl(fresh)));
    QTRY_VERIFY(!player.isGeneratingWaveform());
    QCOMPARE(player.waveform().size(), 260);
    const std::optional<FileSignature> freshSignature =
        FileSignature::of(AudioFixtures::fileUrl(fresh));
    QVERIFY(freshSignature);
    QTRY_COMPARE(cache->find(fresh, *freshSignature, 260).value_or(Overview{}).peaks,
                 player.waveform());
}

QTEST_GUILESS_MAIN(TestSampleFacts)
#include "tst_samplefacts.moc"
