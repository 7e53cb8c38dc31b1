// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioDecoder.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

struct AVFrame;
struct SwrContext;

// Reads an audio file front to back as planar 32-bit float at the file's own sample rate and
// frame count, never resampled, into a caller's buffer of fixed capacity.
class AudioFileReader final
{
public:
    // One plane of floats per channel; only the first frameLength frames are valid.
    class Buffer final
    {
    public:
        Buffer(int channelCount, int frameCapacity);
        Q_DISABLE_COPY_MOVE(Buffer)

        int channelCount() const { return int(m_planes.size()); }
        int frameCapacity() const { return m_frameCapacity; }
        int frameLength() const { return m_frameLength; }
        void setFrameLength(int frames) { m_frameLength = frames; }
        const float *const *floatChannelData() const { return m_pointers.data(); }
        float *channel(int index) { return m_planes[size_t(index)].get(); }

    private:
        std::vector<std::unique_ptr<float[]>> m_planes;
        std::vector<const float *> m_pointers;
        int m_frameCapacity = 0;
        int m_frameLength = 0;
    };

    // Null when the file cannot be opened for decoding. `interrupt` is asked between reads.
    static std::unique_ptr<AudioFileReader> open(const QString &path,
                                                 AudioDecoder::Interrupt interrupt = {});
    ~AudioFileReader();
    Q_DISABLE_COPY_MOVE(AudioFileReader)

    int channelCount() const;
    int sampleRate() const;
    // Frames of the sound, the encoder's priming and padding left out; when the container only
    // guesses, or may promise more than the packets hold, the file is counted once up front.
    qint64 length() const { return m_length; }
    qint64 framePosition() const { return m_position; }

    // Appends up to `frameCount` frames (at most the free capacity, never past length()) to
    // `buffer` and advances the position. False on a read or decoding error; frames appended
    // before the error stay in the buffer.
    bool read(Buffer &buffer, int frameCount);

private:
    AudioFileReader() = default;
    bool convertFrame(float *const *destination);
    bool ensureConverter();
    bool reopenAfterCounting(const QString &path, const AudioDecoder::Interrupt &interrupt);

    std::unique_ptr<AudioDecoder> m_decoder;
    AVFrame *m_frame = nullptr;
    SwrContext *m_converter = nullptr;
    AVChannelLayout m_converterLayout{};
    int m_converterFormat = -1;
    int m_converterRate = 0;
    std::vector<uint8_t *> m_planes;
    std::vector<float *> m_destination;
    // Frames of the last decoded frame that did not fit the caller's buffer.
    std::vector<std::unique_ptr<float[]>> m_spill;
    std::vector<float *> m_spillPointers;
    int m_spillCapacity = 0;
    int m_spillLength = 0;
    int m_spillOffset = 0;
    qint64 m_length = -1;
    qint64 m_position = 0;
    bool m_ended = false;
};
