#pragma once

#include <QString>
#include <QtGlobal>

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

    // Opens the demuxer and the decoder; null when the file is missing, unreadable, or holds no
    // audio stream this FFmpeg can decode.
    static std::unique_ptr<AudioDecoder> open(const QString &path);
    ~AudioDecoder();
    Q_DISABLE_COPY_MOVE(AudioDecoder)

    const AVCodecContext *codec() const { return m_codec; }
    const AVStream *stream() const;
    int sampleRate() const;
    int channelCount() const;
    // The length in frames at the file's own rate as the container states it; -1 when unknown,
    // only guessed from the bit rate, including the encoder's priming and padding (MP3), or taken
    // from an Ogg stream's last granule position, which may promise more than the packets hold.
    qint64 statedLength() const;
    // The frames the decoder will yield, from packet durations less the priming and padding the
    // demuxer marks, without decoding; -1 when a packet does not say, or in Ogg, where the last
    // packet's duration is derived from the same granule position. Reads to the end: the
    // decoder must be opened again afterwards.
    qint64 countFramesFromPackets();
    // The length in seconds, estimated when the container does not state it; 0 when unknown.
    double duration() const;
    // What a musician asks about a sample, from the opened header alone:
    // "WAV · 44.1 kHz · 24-bit · stereo". Lossy codecs have no bit depth.
    QString formatFacts() const;

    // Decodes the next frame into `frame`, which is unreferenced first.
    Status decode(AVFrame *frame);
    // Moves to the last point at or before `seconds` the container can seek to and flushes the
    // decoder; frames then start at or before `seconds` (see framePosition).
    bool seek(double seconds);
    // The first sample of `frame` in frames at the file's rate, from its time stamp; -1 when the
    // frame carries none.
    qint64 framePosition(const AVFrame *frame) const;

private:
    AudioDecoder() = default;
    bool isOgg() const;

    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVPacket *m_packet = nullptr;
    int m_streamIndex = -1;
    bool m_draining = false;
};
