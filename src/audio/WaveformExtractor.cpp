// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WaveformExtractor.h"

#include "AudioFileReader.h"
#include "PeakBuilder.h"

#include "platform/CancelFlag.h"

namespace WaveformExtractor {

std::optional<QList<float>> computePeaks(const QUrl &url, int count, const CancelFlag *cancel)
{
    std::optional<Overview> overview = computeOverview(url, count, cancel);
    if (!overview)
        return std::nullopt;
    return std::move(overview->peaks);
}

std::optional<Overview> computeOverview(const QUrl &url, int count, const CancelFlag *cancel)
{
    if (!url.isLocalFile())
        return std::nullopt;
    AudioDecoder::Interrupt interrupt;
    if (cancel != nullptr)
        interrupt = [cancel] { return cancel->isCancelled(); };
    const std::unique_ptr<AudioFileReader> file =
        AudioFileReader::open(url.toLocalFile(), std::move(interrupt));
    if (file == nullptr)
        return std::nullopt;
    const qint64 length = file->length();
    if (length <= 0 || count < 1)
        return std::nullopt;

    PeakBuilder peaks(count, length);
    AudioFileReader::Buffer buffer(file->channelCount(), blockFrames);
    while (file->framePosition() < length) {
        if (cancel != nullptr && cancel->isCancelled())
            return std::nullopt;
        buffer.setFrameLength(0);
        const bool ok = file->read(buffer, blockFrames);
        // Frames read before an error still count; the error itself only ends the loop.
        peaks.add(buffer.floatChannelData(), buffer.channelCount(), buffer.frameLength());
        if (!ok || buffer.frameLength() == 0)
            break;
    }
    return Overview{peaks.normalised(), length, file->sampleRate()};
}

} // namespace WaveformExtractor
