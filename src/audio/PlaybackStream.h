// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioOutput.h"
#include "FileSignature.h"
#include "FirstBlockCache.h"
#include "ShareGate.h"
#include "SpscRingBuffer.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

class AudioDecoder;
class PreviewFiles;
struct AVFrame;
struct SwrContext;

// The decoder side of one preview: opens the file, then fills a lock-free ring with frames
// resampled to the device's format; the device thread only copies from the ring and applies the
// gain. Shared by its owner (PlaybackEngine), its own thread and the device, so that a thread
// that waits on a share that never answers can be left behind without anything dangling.
class PlaybackStream final : public AudioRenderer
{
public:
    enum class Outcome
    {
        Opened,
        Failed,       // missing, not a regular file, undecodable
        NotAnswering, // the share kept the open for too long, or its passes are all stuck
    };
    struct Opening
    {
        Outcome outcome = Outcome::Failed;
        double duration = 0;
        QString formatFacts;
        std::optional<FileSignature> signature;
    };
    using OpenedHandler = std::function<void(const Opening &)>;
    using FinishedHandler = std::function<void(bool successfully)>;

    // With `firstBlocks`, a file found there plays its decoded first block while it is opened.
    PlaybackStream(QString path, AudioDeviceFormat format,
                   std::shared_ptr<const PreviewFiles> files, std::shared_ptr<ShareGate> gate,
                   std::shared_ptr<FirstBlockCache> firstBlocks = {});
    ~PlaybackStream();
    Q_DISABLE_COPY_MOVE(PlaybackStream)

    // Before run(). Each is called at most once, on the stream's thread, and never after quit().
    void setHandlers(OpenedHandler opened, FinishedHandler finished);
    // The thread's body: the open, its report, then decoding until quit().
    void run();
    // Ends the thread at its next chance and drops the handlers; returns at once.
    void quit();

    void setGain(float gain, bool immediately);
    float gain() const { return m_targetGain.load(std::memory_order_relaxed); }
    void setLooping(bool looping);
    bool isLooping() const { return m_looping.load(std::memory_order_relaxed); }
    double duration() const { return m_duration.load(std::memory_order_relaxed); }
    double currentTime() const;
    void setCurrentTime(double seconds);
    qint64 firstOutputNanoseconds() const { return m_firstOutput.load(std::memory_order_acquire); }
    // Steady-clock nanoseconds of the device buffer that carried the first non-silent frame; -1
    // until then.
    qint64 firstSoundNanoseconds() const { return m_firstSound.load(std::memory_order_acquire); }
    // How long the open has waited for the share without an answer; 0 once it answered.
    qint64 openWaitMilliseconds() const;

    void render(float *interleaved, int frameCount) override;

    // A resampler from `frame`'s format to the device's, as every stream sets it up; null when
    // FFmpeg refuses.
    static SwrContext *makeResampler(const AVFrame *frame, AudioDeviceFormat device);

private:
    Opening open();
    bool openDecoder();
    void shareAnswered();
    void report(const Opening &opening);
    void reportEnd(bool successfully);
    bool isQuitting() const { return m_quit.load(std::memory_order_acquire); }
    bool configureResampler(const AVFrame *frame);
    void decodeLoop();
    int decodeIntoPending();
    int convertIntoPending(const AVFrame *frame, qint64 position);
    bool flushResampler();
    bool restartFromTheBeginning();
    void learnLength();
    bool performSeek(double seconds);
    void writePending();
    void wake();
    bool acknowledgeSeek();

    const QString m_path;
    const AudioDeviceFormat m_format;
    const std::shared_ptr<const PreviewFiles> m_files;
    const std::shared_ptr<ShareGate> m_gate;
    const std::shared_ptr<FirstBlockCache> m_firstBlocks;

    std::mutex m_handlersMutex;
    OpenedHandler m_opened;
    FinishedHandler m_finished;

    // Stream thread only.
    // Held while the file is opened: a call that never returns keeps it for good.
    std::unique_ptr<ShareGate::Pass> m_openPass;
    std::unique_ptr<AudioDecoder> m_decoder;
    // The first block found in the cache, played before the decoder is opened; the decoder then
    // starts after it.
    std::shared_ptr<const FirstBlockCache::Block> m_head;
    size_t m_headNext = 0;
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
    // Steady-clock nanoseconds since which the open waits for an answer; 0 when it does not.
    std::atomic<qint64> m_waitingSince{0};
    std::atomic<double> m_duration{0};
    // Bumped (and notified) whenever the stream thread may have something new to do.
    std::atomic<std::uint32_t> m_wakeups{0};
    std::atomic<float> m_targetGain{1.0f};
    std::atomic<bool> m_looping{false};
    // Seek handshake: the owner asks, the stream thread repositions and says from which ring
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
    std::atomic<qint64> m_firstSound{-1};

    // Device thread only.
    float m_gain = 1.0f;
    float m_gainStep = 0.01f;
    std::uint32_t m_seekSeen = 0;
};
