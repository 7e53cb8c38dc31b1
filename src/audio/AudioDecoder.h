// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

// The audio stream of one file, opened with FFmpeg: demuxer and decoder, decoded frames in the
// decoder's own sample format, rate and channel layout. Used by one thread at a time.
class AudioDecoder final
{
public:
    enum class Status
    {
        Frame, // a frame was decoded
        End,   // the stream ended normally
        Error, // reading or decoding failed; what was decoded before stays valid
    };

    // Asked between reads, on whichever thread reads; true abandons the read under way, so that
    // work nobody wants any more ends at its next call instead of reading a slow share to the end.
    using Interrupt = std::function<bool()>;

    // Opens the demuxer and the decoder; null when the file is missing, unreadable, or holds no
    // audio stream this FFmpeg can decode, or when `interrupt` asked to stop.
    static std::unique_ptr<AudioDecoder> open(const QString &path, Interrupt interrupt = {});
    ~AudioDecoder();
    Q_DISABLE_COPY_MOVE(AudioDecoder)

    const AVCodecContext *codec() const { return m_codec; }
    const AVStream *stream() const;
    int sampleRate() const;
    int channelCount() const;
    // The length of the sound in frames at the file's own rate as the container states it (an
    // Ogg stream's last granule position less the Opus pre-skip, an MP4 edit list), where
    // decoding stops: what the last packet decodes beyond it is the encoder's padding. -1 when
    // unknown, only guessed from the bit rate, or counting an MP3 encoder's priming and padding.
    qint64 statedLength() const;
    // False where the stated length may promise more frames than the packets hold (an Ogg
    // granule position): only decoding tells the length then.
    bool statedLengthIsBinding() const;
    // The frames the decoder will yield, from packet durations less the priming and padding the
    // demuxer marks, without decoding; -1 when a packet does not say, or in Ogg, where the last
    // packet's duration is derived from the same granule position. Reads to the end: the
    // decoder must be opened again afterwards.
    qint64 countFramesFromPackets();
    // The length in seconds: the stated length, else the container's estimate; 0 when unknown.
    double duration() const;
    // What a musician asks about a sample, from the opened header alone:
    // "WAV · 44.1 kHz · 24-bit · stereo". Lossy codecs have no bit depth.
    QString formatFacts() const;

    // Decodes the next frame of the sound into `frame`, which is unreferenced first. A frame that
    // reaches past the stated length is cut there, and the stream ends at it.
    Status decode(AVFrame *frame);
    // Moves to the last point at or before `seconds` the container can seek to and flushes the
    // decoder (an Ogg file near its start is opened afresh); frames then start at or before
    // `seconds` (see framePosition).
    bool seek(double seconds);
    // The first sample of the frame decode() gave last, in frames from the start of the sound;
    // -1 when unknown.
    qint64 framePosition() const { return m_framePosition; }
    // The frame after the last one decoded; -1 when unknown. At the end of the stream, its length.
    qint64 nextFramePosition() const { return m_nextFrame; }

private:
    AudioDecoder() = default;
    // The interrupt is shared by every context opened for this decoder (FFmpeg copies the
    // callback into each), so a fresh open that replaces the state keeps it alive.
    static std::unique_ptr<AudioDecoder> open(const QString &path,
                                              std::shared_ptr<const Interrupt> interrupt);
    static int interruptRequested(void *interrupt);
    bool isOgg() const;
    bool isMp3() const;
    Status receive(AVFrame *frame);
    int sendPacket();
    void primeFirstPacket();
    qint64 timestampPosition(const AVFrame *frame) const;
    bool seekOgg(double seconds);
    bool rewind();
    void swapState(AudioDecoder &other);

    QString m_path;
    std::shared_ptr<const Interrupt> m_interrupt;
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVPacket *m_packet = nullptr;
    int m_streamIndex = -1;
    bool m_draining = false;
    // Frames are counted from the start of the sound; only after a seek into the middle do
    // time stamps say where decoding is.
    qint64 m_nextFrame = 0;
    qint64 m_framePosition = -1;
    qint64 m_endFrame = -1;
    bool m_ended = false;
    // FFmpeg 5.1 derives the end padding of Vorbis in Ogg from packet durations that count the
    // first packet, which decodes to nothing: in a stream held in one page it cuts 128 frames of
    // sound, or nothing when that no longer fits the last frame. The granule position decides.
    bool m_dropsDemuxerEndPadding = false;
    // Ogg: byte position of the first audio page, which a seek must not start from (see seekOgg).
    qint64 m_firstPagePosition = -1;
};
