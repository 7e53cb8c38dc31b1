// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Sound analysis against decoding alone, both measured in this run on this machine: a minute of
// music-like sound (drums and a chord, stereo, 44.1 kHz) and the short files a library is made
// of (a 0.4 s one-shot, a 2 s and an 8 s loop), as WAV, FLAC, MP3 and Vorbis. Prints the median
// wall time per file over the rounds, the analysis time per minute of audio, and the ratio of
// analysis to decoding. Needs ffmpeg on the PATH.
//
// usage: analysis_bench [ROUNDS]
//
// On the 2-core development machine (shared, load about 3), medians of 5 rounds: a minute of audio
// takes 450-600 ms to analyse (100-130 times real time), 9-36 times its decoding (WAV decodes
// fastest, so its ratio is highest); per file, 4-5 ms for a 0.4 s one-shot, 17-27 ms for a 2 s
// loop, 64-102 ms for an 8 s loop. About a third of the time is libebur128's true peak (4x
// oversampling), a sixth aubio's phase vocoder.

#include "analysis/SoundAnalyzer.h"
#include "audio/AudioFileReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// 120 BPM: a kick on every beat, noise hats between, over an A minor chord.
QString source(double seconds)
{
    return QStringLiteral("aevalsrc=exprs='0.5*sin(2*PI*55*mod(t,0.5))*exp(-mod(t,0.5)*12)+"
                          "0.15*(random(0)-0.5)*exp(-mod(t+0.25,0.5)*60)+"
                          "0.05*(sin(2*PI*220*t)+sin(2*PI*261.63*t)+sin(2*PI*329.63*t))':"
                          "s=44100:d=%1")
        .arg(seconds);
}

bool make(const QString &path, double seconds, const QString &codec)
{
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             {QStringLiteral("-loglevel"), QStringLiteral("error"),
                              QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                              QStringLiteral("-i"), source(seconds), QStringLiteral("-ac"),
                              QStringLiteral("2"), QStringLiteral("-c:a"), codec, path}) == 0;
}

// What the analysis pays for decoding: open, then read front to back in the same blocks.
bool decode(const QString &path)
{
    const std::unique_ptr<AudioFileReader> file = AudioFileReader::open(path);
    if (file == nullptr)
        return false;
    AudioFileReader::Buffer buffer(file->channelCount(), 0x10000);
    while (file->framePosition() < file->length()) {
        buffer.setFrameLength(0);
        if (!file->read(buffer, 0x10000) || buffer.frameLength() == 0)
            break;
    }
    return true;
}

template <typename Work> double medianMs(int rounds, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const std::pair<const char *, const char *> formats[] = {
        {"wav", "pcm_s16le"}, {"flac", "flac"}, {"mp3", "libmp3lame"}, {"ogg", "libvorbis"}};
    const double lengths[] = {60.0, 8.0, 2.0, 0.4};
    std::printf("%-5s %7s %11s %11s %7s %17s\n", "codec", "audio_s", "decode_ms", "analyse_ms",
                "ratio", "analyse_ms_per_min");
    for (const auto &[extension, codec] : formats) {
        for (const double seconds : lengths) {
            const QString path =
                dir.filePath(QStringLiteral("%1s.%2").arg(seconds).arg(QLatin1String(extension)));
            if (!make(path, seconds, QLatin1String(codec))) {
                std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(path));
                return 1;
            }
            SoundFacts facts;
            const double decoding = medianMs(rounds, [&] { decode(path); });
            const double analysing =
                medianMs(rounds, [&] { facts = SoundAnalyzer::analyze(path); });
            if (facts.status() != SoundFacts::Status::Analysed) {
                std::fprintf(stderr, "could not analyse %s\n", qPrintable(path));
                return 1;
            }
            std::printf("%-5s %7.1f %11.2f %11.2f %7.1f %17.1f\n", extension, seconds, decoding,
                        analysing, analysing / decoding, analysing * 60.0 / seconds);
        }
    }
    return 0;
}
