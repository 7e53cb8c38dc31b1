// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

#include "analysis/SoundAnalyzer.h"
#include "platform/CancelFlag.h"
#include "platform/FilePaths.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <future>

using Kind = SoundFacts::Kind;
using Status = SoundFacts::Status;

class TestSoundAnalyzer : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;

    // A short decaying click on every beat; the file lasts exactly `beats` beats.
    static QString clicks(double bpm, int beats, int rate)
    {
        const double period = 60.0 / bpm;
        return QStringLiteral("aevalsrc=exprs='if(lt(mod(t,%1),0.03),sin(2*PI*1000*t)*"
                              "exp(-mod(t,%1)*150),0)':s=%2:d=%3")
            .arg(period, 0, 'g', 17)
            .arg(rate)
            .arg(beats * period, 0, 'g', 17);
    }
    // Sawtooth-like tones (six harmonics) of the given frequencies, summed.
    static QString chord(const QList<double> &hertz, double seconds)
    {
        QStringList tones;
        for (const double f : hertz) {
            for (int h = 1; h <= 6; ++h)
                tones << QStringLiteral("sin(2*PI*%1*t)/%2").arg(f * h).arg(h);
        }
        return QStringLiteral("aevalsrc=exprs='0.1*(%1)':s=48000:d=%2")
            .arg(tones.join(u'+'))
            .arg(seconds);
    }

    // The summary of ffmpeg's own EBU R128 meter: integrated loudness and true peak.
    static std::pair<double, double> ffmpegLoudness(const QString &file)
    {
        const TestSupport::ProcessResult result = TestSupport::run(
            u"ffmpeg"_qs, {u"-nostats"_qs, u"-i"_qs, file, u"-af"_qs, u"ebur128=peak=true"_qs,
                           u"-f"_qs, u"null"_qs, u"-"_qs});
        const QString summary = QString::fromUtf8(result.err).section(u"Summary:"_qs, -1);
        const auto number = [&summary](const QString &pattern) {
            return QRegularExpression(pattern).match(summary).captured(1).toDouble();
        };
        return {number(u"I:\\s+(-?[0-9.]+) LUFS"_qs), number(u"Peak:\\s+(-?[0-9.]+) dBFS"_qs)};
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestSupport::haveTool(u"ffmpeg"_qs) || !TestSupport::haveTool(u"sox"_qs))
            QSKIP("ffmpeg and sox are needed to make fixtures");
        QVERIFY(m_dir.isValid());
    }

    void knownAnswers_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("source"); // a lavfi graph, "sox ARGS", or the file's bytes
        QTest::addColumn<QString>("options");
        QTest::addColumn<double>("bpm"); // 0: unknown
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("loudnessKnown");

        const auto loop = int(Kind::Loop);
        const auto unknown = int(Kind::Unknown);
        const auto analysed = int(Status::Analysed);
        QTest::newRow("clicks at 93 BPM, 8 beats, WAV")
            << QByteArray("c93.wav") << clicks(93, 8, 44100) << u"-c:a pcm_s16le"_qs << 93.0
            << QString() << loop << analysed << true;
        QTest::newRow("clicks at 120 BPM, 16 beats, stereo FLAC at 96 kHz")
            << QByteArray("c120.flac") << clicks(120, 16, 96000) << u"-ac 2"_qs << 120.0
            << QString() << loop << analysed << true;
        QTest::newRow("clicks at 140 BPM, 8 beats, MP3")
            << QByteArray("c140.mp3") << clicks(140, 8, 44100) << u"-c:a libmp3lame"_qs << 140.0
            << QString() << loop << analysed << true;
        // The same clicks half a beat longer: a steady tempo, but no loop.
        QTest::newRow("clicks at 120 BPM, 8.5 beats")
            << QByteArray("c120x.wav")
            << u"aevalsrc=exprs='if(lt(mod(t,0.5),0.03),sin(2*PI*1000*t),0)':s=44100:d=4.25"_qs
            << QString() << 120.0 << QString() << unknown << analysed << true;
        QTest::newRow("clicks at 120 BPM, named in Latin-1")
            << QByteArray("caf\xe9 120.wav") << clicks(120, 8, 22050) << QString() << 120.0
            << QString() << loop << analysed << true;
        QTest::newRow("A-C-E sawtooth pad, made by sox")
            << QByteArray("am.wav")
            << u"sox -r 44100 -n %1 synth 4 sawtooth A3 sawtooth C4 sawtooth E4 remix - gain -9"_qs
            << QString() << 0.0 << u"Am"_qs << unknown << analysed << true;
        QTest::newRow("Eb-G-Bb pad, Vorbis")
            << QByteArray("eb.ogg") << chord({311.13, 392.0, 466.16, 155.56}, 4)
            << u"-c:a libvorbis"_qs << 0.0 << u"Eb"_qs << unknown << analysed << true;
        QTest::newRow("one A, no key") << QByteArray("a.wav") << chord({220.0}, 3) << QString()
                                       << 0.0 << QString() << unknown << analysed << true;
        QTest::newRow("0.25 s hit")
            << QByteArray("hit.wav")
            << u"aevalsrc=exprs='0.6*(random(0)-0.5)*exp(-t*15)+0.5*sin(2*PI*190*t)*exp(-t*30)':"
               "s=44100:d=0.25"_qs
            << QString() << 0.0 << QString() << int(Kind::OneShot) << analysed << false;
        QTest::newRow("held tone, cut off")
            << QByteArray("held.wav")
            << u"aevalsrc=exprs='if(lt(t,1),0.4*sin(2*PI*440*t),0)':s=44100:d=2"_qs << QString()
            << 0.0 << QString() << unknown << analysed << true;
        QTest::newRow("two hits")
            << QByteArray("hits.wav")
            << u"aevalsrc=exprs='0.8*sin(2*PI*180*t)*exp(-mod(t,0.5)*20)':s=44100:d=1"_qs
            << QString() << 0.0 << QString() << unknown << analysed << true;
        QTest::newRow("pink noise")
            << QByteArray("noise.wav") << u"anoisesrc=color=pink:amplitude=0.5:d=5:seed=3"_qs
            << QString() << 0.0 << QString() << unknown << analysed << true;
        // A NaN sample must not poison the sums of all the rest.
        QTest::newRow("A-C-E pad with a NaN")
            << QByteArray("nan.wav")
            << chord({220.0, 261.63, 329.63}, 3)
                   .replace(u"exprs='"_qs, u"exprs='if(eq(n,50000),sqrt(-1),0)+"_qs)
            << u"-c:a pcm_f32le"_qs << 0.0 << u"Am"_qs << unknown << analysed << true;
        QTest::newRow("silence") << QByteArray("silence.flac") << u"anullsrc=r=44100:cl=stereo"_qs
                                 << u"-t 3"_qs << 0.0 << QString() << unknown << analysed << false;
        QTest::newRow("10 ms") << QByteArray("short.wav")
                               << u"aevalsrc=exprs='0.5*sin(2*PI*440*t)':s=44100:d=0.01"_qs
                               << QString() << 0.0 << QString() << unknown << analysed << false;
        QTest::newRow("corrupt") << QByteArray("corrupt.wav")
                                 << u"RIFF\x01\x02WAVEfmt garbage that no decoder takes"_qs
                                 << QString() << 0.0 << QString() << unknown << int(Status::Failed)
                                 << false;
    }

    void knownAnswers()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, source);
        QFETCH(QString, options);
        QFETCH(double, bpm);
        QFETCH(QString, key);
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(bool, loudnessKnown);

        // Made under a plain name, then renamed to the name's own bytes.
        const QString made = path(u"made."_qs + QString::fromLatin1(name).section(u'.', -1));
        if (source.startsWith(u"sox "_qs)) {
            QCOMPARE(TestSupport::run(u"sox"_qs, source.mid(4).arg(made).split(u' ')).exitCode, 0);
        } else if (source.contains(u'=')) {
            QVERIFY(TestSupport::makeAudio(made, source, options.split(u' ', Qt::SkipEmptyParts)));
        } else {
            QVERIFY(TestSupport::writeFile(made, source.toLatin1()));
        }
        const QByteArray bytes = FilePaths::encoded(m_dir.path()) + '/' + name;
        QCOMPARE(std::rename(FilePaths::encoded(made).constData(), bytes.constData()), 0);
        // QTemporaryDir cannot remove a name that is not UTF-8.
        const auto remove = qScopeGuard([&bytes] { std::remove(bytes.constData()); });

        const SoundFacts facts = SoundAnalyzer::analyze(FilePaths::decoded(bytes));
        QCOMPARE(int(facts.status()), status);
        if (bpm > 0)
            QVERIFY2(std::abs(facts.bpm() - bpm) <= 1.0, qPrintable(QString::number(facts.bpm())));
        else
            QCOMPARE(facts.bpm(), 0.0);
        QCOMPARE(facts.keyName(), key);
        QCOMPARE(int(facts.kind()), kind);
        QCOMPARE(facts.loudness().has_value(), loudnessKnown);
    }

    void loudnessMatchesFfmpeg_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("options");
        QTest::newRow("pink noise, stereo WAV at 48 kHz")
            << u"pink.wav"_qs << u"anoisesrc=color=pink:amplitude=0.5:d=5:seed=1"_qs
            << u"-ac 2 -ar 48000"_qs;
        QTest::newRow("5.1 FLAC: centre and surrounds weighted, LFE left out")
            << u"six.flac"_qs << u"anoisesrc=color=pink:amplitude=0.3:d=5:seed=2"_qs << u"-ac 6"_qs;
        QTest::newRow("quiet tone, MP3")
            << u"tone.mp3"_qs << u"sine=frequency=997:sample_rate=44100:duration=4"_qs
            << u"-af volume=-30dB -c:a libmp3lame"_qs;
        QTest::newRow("clicks, Vorbis")
            << u"clicks.ogg"_qs << clicks(128, 8, 44100) << u"-c:a libvorbis"_qs;
    }

    void loudnessMatchesFfmpeg()
    {
        QFETCH(QString, name);
        QFETCH(QString, source);
        QFETCH(QString, options);
        QVERIFY(TestSupport::makeAudio(path(name), source, options.split(u' ')));
        const auto [loudness, peak] = ffmpegLoudness(path(name));
        const SoundFacts facts = SoundAnalyzer::analyze(path(name));
        QVERIFY(facts.loudness() && facts.truePeak());
        QVERIFY2(std::abs(*facts.loudness() - loudness) <= 0.5,
                 qPrintable(u"%1 against %2"_qs.arg(*facts.loudness()).arg(loudness)));
        QVERIFY2(std::abs(*facts.truePeak() - peak) <= 0.5,
                 qPrintable(u"%1 against %2"_qs.arg(*facts.truePeak()).arg(peak)));
    }

    void sameAnswersOnManyThreads()
    {
        // The worker analyses files side by side; FFTW's planner is shared by all of them.
        const QString file = path(u"threads.flac"_qs);
        QVERIFY(TestSupport::makeAudio(file, chord({220.0, 261.63, 329.63}, 2)));
        const SoundFacts alone = SoundAnalyzer::analyze(file);
        QCOMPARE(alone.keyName(), u"Am"_qs);
        std::vector<std::future<SoundFacts>> runs;
        for (int i = 0; i < 8; ++i)
            runs.push_back(
                std::async(std::launch::async, [&file] { return SoundAnalyzer::analyze(file); }));
        for (std::future<SoundFacts> &run : runs)
            QCOMPARE(run.get(), alone);
    }

    void stopsEarly_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<int>("status");
        QTest::newRow("past the time limit") << false << int(Status::Failed);
        QTest::newRow("cancelled") << true << int(Status::NotAnalysed);
    }

    void stopsEarly()
    {
        QFETCH(bool, cancelled);
        QFETCH(int, status);
        // Ten minutes take seconds to analyse in full.
        const QString file = path(u"long.wav"_qs);
        if (!QFile::exists(file)) {
            QVERIFY(TestSupport::makeAudio(
                file, u"anoisesrc=color=pink:amplitude=0.3:d=600:sample_rate=22050"_qs));
        }
        CancelFlag cancel;
        if (cancelled)
            cancel.cancel();
        QElapsedTimer clock;
        clock.start();
        const SoundFacts facts =
            SoundAnalyzer::analyze(file, &cancel, std::chrono::milliseconds(200));
        QCOMPARE(int(facts.status()), status);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(facts.loudness(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSoundAnalyzer)
#include "tst_soundanalyzer.moc"
