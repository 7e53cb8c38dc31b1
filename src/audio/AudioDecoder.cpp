// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioDecoder.h"

#include "FilePaths.h"

#include <QFile>
#include <QStringList>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

void silenceLibraryLog()
{
    // Broken files are an expected input here; FFmpeg's complaints would only clutter stderr.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

bool headerIsComplete(const AVFormatContext *format)
{
    if ((format->ctx_flags & AVFMTCTX_NOHEADER) != 0)
        return false;
    bool audio = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        const AVCodecParameters *parameters = stream->codecpar;
        if (parameters->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (parameters->codec_id == AV_CODEC_ID_NONE || parameters->sample_rate <= 0 ||
            parameters->ch_layout.nb_channels <= 0 || stream->duration == AV_NOPTS_VALUE ||
            stream->duration <= 0)
            return false;
        audio = true;
    }
    return audio;
}

QString containerOrCodecName(const AVFormatContext *format, const AVCodecContext *codec)
{
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(codec->codec_id);
    const bool pcm = descriptor != nullptr && std::strncmp(descriptor->name, "pcm_", 4) == 0;
    // Plain PCM is known by its container; anything encoded by its codec.
    if (!pcm)
        return QString::fromLatin1(avcodec_get_name(codec->codec_id)).toUpper();
    QString container = QString::fromLatin1(format->iformat->name).section(QLatin1Char(','), 0, 0);
    if (container == QLatin1String("aiff") && codec->codec_tag != 0)
        container = QStringLiteral("aifc");
    return container.toUpper();
}

QString bitDepth(const AVCodecContext *codec)
{
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(codec->codec_id);
    if (descriptor == nullptr || (descriptor->props & AV_CODEC_PROP_LOSSY) != 0)
        return {};
    int bits = codec->bits_per_raw_sample;
    if (bits <= 0)
        bits = av_get_exact_bits_per_sample(codec->codec_id);
    if (bits <= 0)
        return {};
    const auto sampleFormat = av_get_packed_sample_fmt(codec->sample_fmt);
    const bool floating = sampleFormat == AV_SAMPLE_FMT_FLT || sampleFormat == AV_SAMPLE_FMT_DBL;
    return QString::number(bits) +
           (floating ? QStringLiteral("-bit float") : QStringLiteral("-bit"));
}

QString kilohertz(int rate)
{
    QString number = QString::number(rate / 1000.0, 'f', 3);
    while (number.endsWith(QLatin1Char('0')))
        number.chop(1);
    if (number.endsWith(QLatin1Char('.')))
        number.chop(1);
    return number + QStringLiteral(" kHz");
}

QString channelWords(int channels)
{
    if (channels == 1)
        return QStringLiteral("mono");
    if (channels == 2)
        return QStringLiteral("stereo");
    return QString::number(channels) + QStringLiteral(" ch");
}

} // namespace

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString &path, Interrupt interrupt)
{
    return open(path,
                interrupt ? std::make_shared<const Interrupt>(std::move(interrupt)) : nullptr);
}

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString &path,
                                                 std::shared_ptr<const Interrupt> interrupt)
{
    silenceLibraryLog();
    std::unique_ptr<AudioDecoder> decoder(new AudioDecoder);
    decoder->m_path = path;
    decoder->m_interrupt = std::move(interrupt);
    decoder->m_format = avformat_alloc_context();
    if (decoder->m_format == nullptr)
        return nullptr;
    if (decoder->m_interrupt) {
        decoder->m_format->interrupt_callback.callback = &AudioDecoder::interruptRequested;
        // Not the decoder: a fresh open may hand its contexts over to another one (rewind).
        decoder->m_format->interrupt_callback.opaque =
            const_cast<Interrupt *>(decoder->m_interrupt.get());
    }
    // The explicit protocol keeps a colon in a file name from being read as a URL scheme; the
    // white list keeps a playlist disguised as a sample from reaching the network.
    const QByteArray location = "file:" + FilePaths::encoded(path);
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened =
        avformat_open_input(&decoder->m_format, location.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return nullptr;
    // Stream probing reads about a second of a PCM file (and 16-bit WAV is probed once more at
    // the first packet, for MP3 hidden inside): 15 ms or more before the first sound. When the
    // header already said everything both are cut short.
    if (headerIsComplete(decoder->m_format))
        decoder->m_format->probesize = 32;
    else if (avformat_find_stream_info(decoder->m_format, nullptr) < 0)
        return nullptr;

    const AVCodec *codec = nullptr;
    const int index = av_find_best_stream(decoder->m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index < 0 || codec == nullptr)
        return nullptr;
    decoder->m_streamIndex = index;
    for (unsigned i = 0; i < decoder->m_format->nb_streams; ++i) {
        if (int(i) != index)
            decoder->m_format->streams[i]->discard = AVDISCARD_ALL;
    }

    AVStream *stream = decoder->m_format->streams[index];
    decoder->m_codec = avcodec_alloc_context3(codec);
    if (decoder->m_codec == nullptr ||
        avcodec_parameters_to_context(decoder->m_codec, stream->codecpar) < 0)
        return nullptr;
    decoder->m_codec->pkt_timebase = stream->time_base;
    if (avcodec_open2(decoder->m_codec, codec, nullptr) < 0)
        return nullptr;
    if (decoder->m_codec->sample_rate <= 0 || decoder->m_codec->ch_layout.nb_channels <= 0)
        return nullptr;
    decoder->m_packet = av_packet_alloc();
    if (decoder->m_packet == nullptr)
        return nullptr;
    decoder->m_endFrame = decoder->statedLength();
    if (decoder->isOgg()) {
        decoder->m_dropsDemuxerEndPadding = codec->id == AV_CODEC_ID_VORBIS;
        decoder->primeFirstPacket();
    }
    return decoder;
}

int AudioDecoder::interruptRequested(void *interrupt)
{
    return (*static_cast<const Interrupt *>(interrupt))() ? 1 : 0;
}

AudioDecoder::~AudioDecoder()
{
    av_packet_free(&m_packet);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
}

const AVStream *AudioDecoder::stream() const
{
    return m_format->streams[m_streamIndex];
}

int AudioDecoder::sampleRate() const
{
    return m_codec->sample_rate;
}

int AudioDecoder::channelCount() const
{
    return m_codec->ch_layout.nb_channels;
}

bool AudioDecoder::isOgg() const
{
    return std::strcmp(m_format->iformat->name, "ogg") == 0;
}

bool AudioDecoder::isMp3() const
{
    return std::strcmp(m_format->iformat->name, "mp3") == 0;
}

qint64 AudioDecoder::statedLength() const
{
    // A length guessed from the bit rate can be off by seconds (raw AAC, for one); an MP3 stream's
    // length counts whole frames, priming and padding included, which a short sample notices.
    if (m_format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE || isMp3())
        return -1;
    const AVStream *audio = stream();
    const AVRational frameBase{1, sampleRate()};
    qint64 frames = -1;
    if (audio->duration != AV_NOPTS_VALUE && audio->duration > 0)
        frames = av_rescale_q(audio->duration, audio->time_base, frameBase);
    else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        frames = av_rescale_q(m_format->duration, AV_TIME_BASE_Q, frameBase);
    if (frames < 0)
        return -1;
    // The granule position of Opus counts the pre-skip, which the decoder drops.
    if (isOgg())
        frames -= audio->codecpar->initial_padding;
    return std::max<qint64>(frames, 0);
}

bool AudioDecoder::statedLengthIsBinding() const
{
    return !isOgg();
}

double AudioDecoder::duration() const
{
    const qint64 stated = statedLength();
    if (stated > 0)
        return double(stated) / sampleRate();
    const AVStream *audio = stream();
    if (audio->duration != AV_NOPTS_VALUE && audio->duration > 0) {
        qint64 ticks = audio->duration;
        // An MP3 stream's time line starts after the encoder delay, which decoding skips.
        if (isMp3() && audio->start_time != AV_NOPTS_VALUE && audio->start_time > 0 &&
            audio->start_time < ticks)
            ticks -= audio->start_time;
        return double(ticks) * av_q2d(audio->time_base);
    }
    if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        return double(m_format->duration) / AV_TIME_BASE;
    return 0;
}

QString AudioDecoder::formatFacts() const
{
    QStringList facts{containerOrCodecName(m_format, m_codec), kilohertz(sampleRate())};
    const QString depth = bitDepth(m_codec);
    if (!depth.isEmpty())
        facts.append(depth);
    facts.append(channelWords(channelCount()));
    return facts.join(QStringLiteral(" \u00B7 "));
}

qint64 AudioDecoder::countFramesFromPackets()
{
    if (isOgg())
        return -1;
    const AVStream *audio = stream();
    const AVRational frameBase{1, sampleRate()};
    qint64 frames = 0;
    while (av_read_frame(m_format, m_packet) >= 0) {
        if (m_packet->stream_index != m_streamIndex) {
            av_packet_unref(m_packet);
            continue;
        }
        if (m_packet->duration <= 0) {
            av_packet_unref(m_packet);
            return -1;
        }
        frames += av_rescale_q(m_packet->duration, audio->time_base, frameBase);
        size_t size = 0;
        const uint8_t *skip = av_packet_get_side_data(m_packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
        if (skip != nullptr && size >= 8)
            frames -= qint64(AV_RL32(skip)) + qint64(AV_RL32(skip + 4));
        av_packet_unref(m_packet);
    }
    return std::max<qint64>(frames, 0);
}

AudioDecoder::Status AudioDecoder::decode(AVFrame *frame)
{
    if (m_ended) {
        av_frame_unref(frame);
        return Status::End;
    }
    const Status status = receive(frame);
    if (status != Status::Frame)
        return status;
    const qint64 position = m_nextFrame >= 0 ? m_nextFrame : timestampPosition(frame);
    m_framePosition = position;
    if (position < 0) {
        m_nextFrame = -1;
        return status;
    }
    qint64 frames = frame->nb_samples;
    if (m_endFrame >= 0 && position + frames > m_endFrame) {
        if (position >= m_endFrame) {
            m_ended = true;
            m_nextFrame = m_endFrame;
            av_frame_unref(frame);
            return Status::End;
        }
        frames = m_endFrame - position;
        frame->nb_samples = int(frames);
    }
    m_nextFrame = position + frames;
    return status;
}

AudioDecoder::Status AudioDecoder::receive(AVFrame *frame)
{
    av_frame_unref(frame);
    for (;;) {
        const int received = avcodec_receive_frame(m_codec, frame);
        if (received == 0)
            return Status::Frame;
        if (received == AVERROR_EOF)
            return Status::End;
        if (received != AVERROR(EAGAIN) || m_draining)
            return Status::Error;

        const int read = av_read_frame(m_format, m_packet);
        if (read == AVERROR_EOF) {
            m_draining = true;
            avcodec_send_packet(m_codec, nullptr);
            continue;
        }
        if (read < 0)
            return Status::Error;
        if (m_packet->stream_index != m_streamIndex) {
            av_packet_unref(m_packet);
            continue;
        }
        const int sent = sendPacket();
        // One damaged packet costs a few milliseconds of sound, not the rest of the file.
        if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA)
            return Status::Error;
    }
}

int AudioDecoder::sendPacket()
{
    if (m_dropsDemuxerEndPadding) {
        size_t size = 0;
        uint8_t *skip = av_packet_get_side_data(m_packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
        if (skip != nullptr && size >= 8)
            AV_WL32(skip + 4, 0);
    }
    const int sent = avcodec_send_packet(m_codec, m_packet);
    av_packet_unref(m_packet);
    return sent;
}

void AudioDecoder::primeFirstPacket()
{
    while (av_read_frame(m_format, m_packet) >= 0) {
        if (m_packet->stream_index != m_streamIndex) {
            av_packet_unref(m_packet);
            continue;
        }
        m_firstPagePosition = m_packet->pos;
        sendPacket();
        return;
    }
}

bool AudioDecoder::seek(double seconds)
{
    m_ended = false;
    m_framePosition = -1;
    if (isOgg())
        return seekOgg(seconds);
    const AVStream *audio = stream();
    qint64 target = qint64(seconds / av_q2d(audio->time_base));
    if (audio->start_time != AV_NOPTS_VALUE)
        target += audio->start_time;
    const bool moved =
        av_seek_frame(m_format, m_streamIndex, target, AVSEEK_FLAG_BACKWARD) >= 0 ||
        av_seek_frame(m_format, m_streamIndex, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0;
    avcodec_flush_buffers(m_codec);
    m_draining = false;
    m_nextFrame = -1;
    return moved;
}

bool AudioDecoder::seekOgg(double seconds)
{
    // Opus needs a stretch of audio before the target to settle; the caller drops it.
    const int preroll = stream()->codecpar->seek_preroll;
    const double from = seconds - (preroll > 0 ? double(preroll) / sampleRate() : 0.0);
    // A seek into the first audio page leaves the decoder as if the stream were under way: the
    // Opus pre-skip is not dropped and a Vorbis stream held in one page loses its start. Opening
    // the file afresh is cheap there and gives the state decoding began with.
    if (!(from > 0))
        return rewind();
    const AVStream *audio = stream();
    qint64 target = qint64(from / av_q2d(audio->time_base));
    if (audio->start_time != AV_NOPTS_VALUE)
        target += audio->start_time;
    if (av_seek_frame(m_format, m_streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        return rewind();
    avcodec_flush_buffers(m_codec);
    m_draining = false;
    m_nextFrame = -1;
    while (av_read_frame(m_format, m_packet) >= 0) {
        if (m_packet->stream_index != m_streamIndex) {
            av_packet_unref(m_packet);
            continue;
        }
        if (m_firstPagePosition >= 0 && m_packet->pos >= 0 &&
            m_packet->pos <= m_firstPagePosition) {
            av_packet_unref(m_packet);
            return rewind();
        }
        sendPacket();
        break;
    }
    return true;
}

bool AudioDecoder::rewind()
{
    std::unique_ptr<AudioDecoder> fresh = open(m_path, m_interrupt);
    if (fresh == nullptr)
        return false;
    swapState(*fresh);
    return true;
}

void AudioDecoder::swapState(AudioDecoder &other)
{
    std::swap(m_path, other.m_path);
    std::swap(m_format, other.m_format);
    std::swap(m_codec, other.m_codec);
    std::swap(m_packet, other.m_packet);
    std::swap(m_streamIndex, other.m_streamIndex);
    std::swap(m_draining, other.m_draining);
    std::swap(m_nextFrame, other.m_nextFrame);
    std::swap(m_framePosition, other.m_framePosition);
    std::swap(m_endFrame, other.m_endFrame);
    std::swap(m_ended, other.m_ended);
    std::swap(m_dropsDemuxerEndPadding, other.m_dropsDemuxerEndPadding);
    std::swap(m_firstPagePosition, other.m_firstPagePosition);
}

qint64 AudioDecoder::timestampPosition(const AVFrame *frame) const
{
    const AVStream *audio = stream();
    qint64 timestamp = frame->best_effort_timestamp;
    if (timestamp == AV_NOPTS_VALUE)
        timestamp = frame->pts;
    if (timestamp == AV_NOPTS_VALUE)
        return -1;
    if (audio->start_time != AV_NOPTS_VALUE)
        timestamp -= audio->start_time;
    return av_rescale_q(timestamp, audio->time_base, AVRational{1, sampleRate()});
}
