// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFileReader.h"

#include "AudioDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

AudioFileReader::Buffer::Buffer(int channelCount, int frameCapacity)
    : m_frameCapacity(std::max(frameCapacity, 0))
{
    for (int c = 0; c < channelCount; ++c) {
        m_planes.push_back(std::make_unique<float[]>(size_t(m_frameCapacity)));
        m_pointers.push_back(m_planes.back().get());
    }
}

std::unique_ptr<AudioFileReader> AudioFileReader::open(const QString &path,
                                                       AudioDecoder::Interrupt interrupt)
{
    std::unique_ptr<AudioFileReader> reader(new AudioFileReader);
    reader->m_decoder = AudioDecoder::open(path, interrupt);
    reader->m_frame = av_frame_alloc();
    if (reader->m_decoder == nullptr || reader->m_frame == nullptr)
        return nullptr;
    if (reader->m_decoder->statedLengthIsBinding())
        reader->m_length = reader->m_decoder->statedLength();
    if (reader->m_length < 0 && !reader->reopenAfterCounting(path, interrupt))
        return nullptr;
    return reader;
}

AudioFileReader::~AudioFileReader()
{
    swr_free(&m_converter);
    av_channel_layout_uninit(&m_converterLayout);
    av_frame_free(&m_frame);
}

int AudioFileReader::channelCount() const
{
    return m_decoder->channelCount();
}

int AudioFileReader::sampleRate() const
{
    return m_decoder->sampleRate();
}

bool AudioFileReader::reopenAfterCounting(const QString &path,
                                          const AudioDecoder::Interrupt &interrupt)
{
    // A wrong length would stretch or squeeze the slices. Packets usually tell their durations,
    // which costs a read of the file without decoding; otherwise decoding once more tells.
    qint64 frames = m_decoder->countFramesFromPackets();
    if (frames < 0) {
        m_decoder = AudioDecoder::open(path, interrupt);
        if (m_decoder == nullptr)
            return false;
        frames = 0;
        while (m_decoder->decode(m_frame) == AudioDecoder::Status::Frame)
            frames += m_frame->nb_samples;
        av_frame_unref(m_frame);
    }
    m_decoder = AudioDecoder::open(path, interrupt);
    m_length = frames;
    return m_decoder != nullptr;
}

bool AudioFileReader::read(Buffer &buffer, int frameCount)
{
    if (buffer.channelCount() != channelCount())
        return false;
    const int channels = buffer.channelCount();
    int room = std::min(frameCount, buffer.frameCapacity() - buffer.frameLength());
    room = int(std::min<qint64>(room, m_length - m_position));
    m_destination.assign(size_t(channels), nullptr);
    while (room > 0) {
        if (m_spillOffset < m_spillLength) {
            const int n = std::min(room, m_spillLength - m_spillOffset);
            for (int c = 0; c < channels; ++c) {
                std::memcpy(buffer.channel(c) + buffer.frameLength(),
                            m_spill[size_t(c)].get() + m_spillOffset, size_t(n) * sizeof(float));
            }
            m_spillOffset += n;
            buffer.setFrameLength(buffer.frameLength() + n);
            m_position += n;
            room -= n;
            continue;
        }
        if (m_ended)
            break;
        const AudioDecoder::Status status = m_decoder->decode(m_frame);
        if (status != AudioDecoder::Status::Frame) {
            m_ended = true;
            if (status == AudioDecoder::Status::Error)
                return false;
            break;
        }
        const int frames = m_frame->nb_samples;
        if (frames <= 0)
            continue;
        if (m_frame->ch_layout.nb_channels != channels) {
            m_ended = true;
            return false;
        }
        if (frames <= room) {
            for (int c = 0; c < channels; ++c)
                m_destination[size_t(c)] = buffer.channel(c) + buffer.frameLength();
            if (!convertFrame(m_destination.data())) {
                m_ended = true;
                return false;
            }
            buffer.setFrameLength(buffer.frameLength() + frames);
            m_position += frames;
            room -= frames;
            continue;
        }
        if (frames > m_spillCapacity) {
            m_spill.clear();
            m_spillPointers.clear();
            for (int c = 0; c < channels; ++c) {
                m_spill.push_back(std::make_unique<float[]>(size_t(frames)));
                m_spillPointers.push_back(m_spill.back().get());
            }
            m_spillCapacity = frames;
        }
        if (!convertFrame(m_spillPointers.data())) {
            m_ended = true;
            return false;
        }
        m_spillLength = frames;
        m_spillOffset = 0;
    }
    return true;
}

bool AudioFileReader::convertFrame(float *const *destination)
{
    const int frames = m_frame->nb_samples;
    const int channels = m_frame->ch_layout.nb_channels;
    const auto format = AVSampleFormat(m_frame->format);
    if (format == AV_SAMPLE_FMT_FLTP) {
        for (int c = 0; c < channels; ++c)
            std::memcpy(destination[c], m_frame->extended_data[c], size_t(frames) * sizeof(float));
        return true;
    }
    if (format == AV_SAMPLE_FMT_FLT) {
        const auto *interleaved = reinterpret_cast<const float *>(m_frame->extended_data[0]);
        for (int i = 0; i < frames; ++i) {
            for (int c = 0; c < channels; ++c)
                destination[c][i] = interleaved[i * channels + c];
        }
        return true;
    }
    if (!ensureConverter())
        return false;
    m_planes.resize(size_t(channels));
    for (int c = 0; c < channels; ++c)
        m_planes[size_t(c)] = reinterpret_cast<uint8_t *>(destination[c]);
    const int converted = swr_convert(m_converter, m_planes.data(), frames,
                                      const_cast<const uint8_t **>(m_frame->extended_data), frames);
    return converted == frames;
}

bool AudioFileReader::ensureConverter()
{
    // Other sample formats go through libswresample at an unchanged rate and layout: a pure
    // format conversion, set up again only when the decoder changes its output.
    if (m_converter != nullptr && m_converterFormat == m_frame->format &&
        m_converterRate == m_frame->sample_rate &&
        av_channel_layout_compare(&m_converterLayout, &m_frame->ch_layout) == 0)
        return true;
    swr_free(&m_converter);
    av_channel_layout_uninit(&m_converterLayout);
    if (av_channel_layout_copy(&m_converterLayout, &m_frame->ch_layout) < 0)
        return false;
    m_converterFormat = m_frame->format;
    m_converterRate = m_frame->sample_rate;
    const auto format = AVSampleFormat(m_frame->format);
    if (swr_alloc_set_opts2(&m_converter, &m_converterLayout, AV_SAMPLE_FMT_FLTP, m_converterRate,
                            &m_converterLayout, format, m_converterRate, 0, nullptr) < 0 ||
        swr_init(m_converter) < 0) {
        swr_free(&m_converter);
        return false;
    }
    return true;
}
