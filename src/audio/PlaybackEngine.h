#pragma once

#include "AudioOutput.h"
#include "SpscRingBuffer.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

class AudioDecoder;
struct AVFrame;
struct SwrContext;

// Plays one file on a shared output. Opening the file opens its demuxer and decoder at once, so a
// file that cannot be played fails before anything is heard. A decoder thread resamples to the
// device's format and fills a lock-free ring; the device thread only copies from the ring and
// applies the gain.
//
// All operations are for the owner's thread; the finished handler runs on the decoder thread.
class PlaybackEngine final : private AudioRenderer
{
public:
    // Called once, on the decoder thread, when every frame has gone to the device (or decoding
    // failed). Carries the engine's id so that a report from a replaced engine can be told apart.
    using FinishedHandler = std::function<void(quint64 engineId, bool successfully)>;

    // Null when the file cannot be decoded or the output cannot be opened.
    static std::unique_ptr<PlaybackEngine> create(const QString &path, AudioOutput &output);
    ~PlaybackEngine();
    Q_DISABLE_COPY_MOVE(PlaybackEngine)

    // Unique within the process, never reused.
    quint64 id() const { return m_id; }
    void setFinishedHandler(FinishedHandler handler);

    // 0…1; the device thread moves to a new gain over a few milliseconds, so changes never click.
    void setVolume(float volume);
    float volume() const { return m_targetGain.load(std::memory_order_relaxed); }

    // Starts the decoder thread and hands the engine to the output. False when already stopped.
    bool play();
    // Silences the engine and ends its thread; it cannot play again.
    void stop();

    // While on, the decoder thread goes back to the first frame at the end and keeps filling the
    // ring, so the device never runs dry at the seam; the end is then never reported.
    void setLooping(bool looping);
    bool isLooping() const { return m_looping.load(std::memory_order_relaxed); }

    // The format line of the file, from the decoder opened for playback.
    QString formatFacts() const { return m_formatFacts; }
    // Seconds; the container's word until the decoder reaches the end, then the frames it gave.
    double duration() const { return m_duration.load(std::memory_order_relaxed); }
    double currentTime() const;
    void setCurrentTime(double seconds);

    // Steady-clock nanoseconds of the first device buffer that received frames of this file;
    // -1 until then.
    qint64 firstOutputNanoseconds() const { return m_firstOutput.load(std::memory_order_acquire); }

private:
    PlaybackEngine(std::unique_ptr<AudioDecoder> decoder, AudioOutput &output);
    bool configureResampler(const AVFrame *frame);
    void decodeLoop();
    int decodeIntoPending();
    bool flushResampler();
    bool restartFromTheBeginning();
    void learnLength();
    void performSeek(double seconds);
    void writePending();
    void wake();

    void render(float *interleaved, int frameCount) override;
    bool acknowledgeSeek();

    const quint64 m_id;
    std::unique_ptr<AudioDecoder> m_decoder;
    AudioOutput &m_output;
    const AudioDeviceFormat m_format;
    QString m_formatFacts;
    FinishedHandler m_finished;
    std::thread m_thread;
    bool m_started = false;
    bool m_stopped = false;

    // Decoder thread only.
    AVFrame *m_frame = nullptr;
    SwrContext *m_resampler = nullptr;
    int m_resamplerFormat = -1;
    int m_resamplerRate = 0;
    AVChannelLayout m_resamplerLayout{};
    // Resampled frames of the last decoded frame, interleaved, not yet in the ring.
    std::vector<float> m_pending;
    qsizetype m_pendingLength = 0;
    qsizetype m_pendingOffset = 0;
    std::vector<const std::uint8_t *> m_inputPlanes;
    // Input frames still to drop after a seek, so that playback starts exactly at the target.
    qint64 m_skipUntilFrame = -1;
    // Frames decoded since the last start from the beginning; an empty pass ends a loop.
    qint64 m_framesThisPass = 0;
    // Whether this pass began at the first frame, so that its end tells the length.
    bool m_passFromStart = true;

    SpscRingBuffer m_ring;

    // Shared between the threads.
    std::atomic<bool> m_quit{false};
    std::atomic<double> m_duration{0};
    // Bumped (and notified) whenever the decoder thread may have something new to do.
    std::atomic<std::uint32_t> m_wakeups{0};
    std::atomic<float> m_targetGain{1.0f};
    std::atomic<bool> m_looping{false};
    // Seek handshake: the owner asks, the decoder thread repositions and says from which ring
    // index the new frames begin, the device thread drops what lies before it.
    std::atomic<std::uint32_t> m_seekRequested{0};
    std::atomic<double> m_seekTarget{0};
    std::atomic<std::uint32_t> m_seekReady{0};
    std::atomic<std::uint64_t> m_seekReadyIndex{0};
    std::atomic<qint64> m_seekReadyFrame{0};
    std::atomic<std::uint32_t> m_seekAcknowledged{0};
    // Device frames played since the start of the file.
    std::atomic<qint64> m_playedFrames{0};
    std::atomic<qint64> m_firstOutput{-1};

    // Device thread only.
    float m_gain = 1.0f;
    float m_gainStep = 0.01f;
    std::uint32_t m_seekSeen = 0;
};
