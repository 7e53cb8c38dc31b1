// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundAnalyzer.h"

#include "AudioHasher.h"
#include "KeyDetector.h"
#include "KindClassifier.h"
#include "LoudnessMeter.h"
#include "OnsetTracker.h"
#include "TempoEstimator.h"
#include "TimbreTracker.h"

#include "audio/AudioFileReader.h"
#include "platform/CancelFlag.h"

#include <QDeadlineTimer>

#include <cmath>
#include <vector>

namespace {

constexpr int blockFrames = 0x10000;

SoundAnalyzer::Listening failed()
{
    SoundAnalyzer::Listening listening;
    listening.facts = SoundFacts::failed();
    return listening;
}

bool isCancelled(const CancelFlag *cancel)
{
    return cancel != nullptr && cancel->isCancelled();
}

} // namespace

namespace SoundAnalyzer {

Listening listen(const QString &path, const CancelFlag *cancel, std::chrono::milliseconds timeLimit)
{
    const QDeadlineTimer deadline(timeLimit);
    const std::unique_ptr<AudioFileReader> file = AudioFileReader::open(path);
    if (file == nullptr || file->channelCount() <= 0 || file->sampleRate() <= 0)
        return failed();
    const int channels = file->channelCount();
    const int rate = file->sampleRate();
    LoudnessMeter loudness(channels, rate);
    OnsetTracker onsets(rate);
    KeyDetector key(rate);
    TimbreTracker timbre(rate);
    AudioHasher hasher;
    if (!loudness.isValid() || !onsets.isValid())
        return failed();

    AudioFileReader::Buffer buffer(channels, blockFrames);
    std::vector<float> mono(static_cast<size_t>(blockFrames));
    qint64 frames = 0;
    while (file->framePosition() < file->length()) {
        if (isCancelled(cancel))
            return {};
        if (deadline.hasExpired())
            return failed();
        buffer.setFrameLength(0);
        if (!file->read(buffer, blockFrames))
            return failed();
        const int n = buffer.frameLength();
        if (n == 0)
            break;
        hasher.add(buffer.floatChannelData(), channels, n);
        std::fill_n(mono.begin(), n, 0.0f);
        for (int c = 0; c < channels; ++c) {
            float *samples = buffer.channel(c);
            for (int i = 0; i < n; ++i) {
                // A NaN or an infinity would poison every sum after it.
                if (!std::isfinite(samples[i]))
                    samples[i] = 0.0f;
                mono[size_t(i)] += samples[i] / float(channels);
            }
        }
        if (!loudness.add(buffer.floatChannelData(), n))
            return failed();
        onsets.add(mono.data(), n);
        key.add(mono.data(), n);
        timbre.add(mono.data(), n);
        frames += n;
    }
    key.finish();
    onsets.finish();
    timbre.finish();

    const double seconds = double(frames) / rate;
    const TempoEstimator::Tempo tempo =
        TempoEstimator::estimate(onsets.detection(), onsets.hopSeconds(), onsets.onsets(), seconds);
    const SoundFacts::Kind kind =
        KindClassifier::classify({seconds, tempo.wholeBeats, qsizetype(onsets.onsets().size()),
                                  onsets.meanSquares(), onsets.hopSeconds()});
    return {
        SoundFacts::analysed(tempo.bpm, key.key(), loudness.loudness(), loudness.truePeak(), kind),
        timbre.descriptor(), hasher.finish(rate, channels)};
}

} // namespace SoundAnalyzer
