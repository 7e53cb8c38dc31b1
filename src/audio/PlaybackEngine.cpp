#include "PlaybackEngine.h"

#include "AudioDecoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

std::atomic<quint64> nextEngineId{1};

// About 170 ms at 48 kHz: room for a slow disk, small enough for a quick seek.
constexpr int ringFrames = 8192;
// Gain changes are spread over this long, which is short enough to feel instant.
constexpr double gainRampSeconds = 0.005;

qint64 steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::unique_ptr<PlaybackEngine> PlaybackEngine::create(const QString &path, AudioOutput &output)
{
    std::unique_ptr<AudioDecoder> decoder = AudioDecoder::open(path);
    if (decoder == nullptr || !output.open())
        return nullptr;
    const AudioDeviceFormat format = output.format();
    if (format.sampleRate <= 0 || format.channelCount <= 0)
        return nullptr;
    std::unique_ptr<PlaybackEngine> engine(new PlaybackEngine(std::move(decoder), output));
    if (engine->m_frame == nullptr)
        return nullptr;
    return engine;
}

PlaybackEngine::PlaybackEngine(std::unique_ptr<AudioDecoder> decoder, AudioOutput &output)
    : m_id(nextEngineId.fetch_add(1)), m_decoder(std::move(decoder)), m_output(output),
      m_format(output.format()), m_frame(av_frame_alloc()),
      m_ring(qsizetype(ringFrames) * m_format.channelCount)
{
    m_duration.store(m_decoder->duration(), std::memory_order_relaxed);
    m_formatFacts = m_decoder->formatFacts();
    m_gainStep = float(1.0 / std::max(1.0, m_format.sampleRate * gainRampSeconds));
}

PlaybackEngine::~PlaybackEngine()
{
    stop();
    swr_free(&m_resampler);
    av_channel_layout_uninit(&m_resamplerLayout);
    av_frame_free(&m_frame);
}

void PlaybackEngine::setFinishedHandler(FinishedHandler handler)
{
    m_finished = std::move(handler);
}

void PlaybackEngine::setVolume(float volume)
{
    const float gain = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 0.0f;
    if (!m_started)
        m_gain = gain; // the first buffer starts at the right level instead of ramping to it
    m_targetGain.store(gain, std::memory_order_relaxed);
}

bool PlaybackEngine::play()
{
    if (m_stopped)
        return false;
    if (m_started)
        return true;
    m_started = true;
    m_thread = std::thread([this] { decodeLoop(); });
    m_output.setRenderer(this);
    return true;
}

void PlaybackEngine::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_started)
        m_output.setRenderer(nullptr);
    m_quit.store(true, std::memory_order_release);
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void PlaybackEngine::setLooping(bool looping)
{
    m_looping.store(looping, std::memory_order_relaxed);
    wake();
}

double PlaybackEngine::currentTime() const
{
    const std::uint32_t requested = m_seekRequested.load(std::memory_order_relaxed);
    if (m_seekAcknowledged.load(std::memory_order_acquire) != requested)
        return m_seekTarget.load(std::memory_order_relaxed);
    const double played =
        double(m_playedFrames.load(std::memory_order_relaxed)) / m_format.sampleRate;
    // Frames played keep counting across loop seams; the playhead wraps with them.
    const double length = duration();
    if (isLooping() && length > 0 && played >= length)
        return std::fmod(played, length);
    return played;
}

void PlaybackEngine::setCurrentTime(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    m_seekTarget.store(std::max(0.0, seconds), std::memory_order_relaxed);
    m_seekRequested.fetch_add(1, std::memory_order_release);
    wake();
}

void PlaybackEngine::wake()
{
    m_wakeups.fetch_add(1, std::memory_order_release);
    m_wakeups.notify_one();
}

// ---- decoder thread

void PlaybackEngine::decodeLoop()
{
    std::uint32_t handledSeek = 0;
    bool ended = false;
    bool succeeded = true;
    bool reported = false;
    while (!m_quit.load(std::memory_order_acquire)) {
        const std::uint32_t wakeups = m_wakeups.load(std::memory_order_acquire);
        const std::uint32_t requested = m_seekRequested.load(std::memory_order_acquire);
        if (requested != handledSeek) {
            handledSeek = requested;
            const double target = m_seekTarget.load(std::memory_order_relaxed);
            performSeek(target);
            m_seekReadyFrame.store(std::llround(target * m_format.sampleRate),
                                   std::memory_order_relaxed);
            m_seekReadyIndex.store(m_ring.writeIndex(), std::memory_order_relaxed);
            m_seekReady.store(requested, std::memory_order_release);
            ended = false;
            succeeded = true;
            reported = false;
            continue;
        }
        if (m_pendingOffset < m_pendingLength) {
            writePending();
            if (m_pendingOffset < m_pendingLength)
                m_wakeups.wait(wakeups, std::memory_order_acquire);
            continue;
        }
        if (!ended) {
            const int status = decodeIntoPending();
            if (status == int(AudioDecoder::Status::End))
                learnLength();
            if (status == int(AudioDecoder::Status::End) &&
                m_looping.load(std::memory_order_relaxed) && restartFromTheBeginning())
                continue;
            if (status != int(AudioDecoder::Status::Frame)) {
                ended = true;
                succeeded = status == int(AudioDecoder::Status::End);
                flushResampler();
            }
            continue;
        }
        // The end is reported once the device has taken the last frame of the current position.
        if (!reported && m_ring.isEmpty() &&
            m_seekAcknowledged.load(std::memory_order_acquire) == handledSeek) {
            reported = true;
            if (m_finished)
                m_finished(m_id, succeeded);
        }
        m_wakeups.wait(wakeups, std::memory_order_acquire);
    }
}

void PlaybackEngine::performSeek(double seconds)
{
    m_decoder->seek(seconds);
    m_pendingLength = 0;
    m_pendingOffset = 0;
    // A fresh resampler forgets the filter history of the old position.
    swr_free(&m_resampler);
    m_resamplerFormat = -1;
    m_skipUntilFrame = std::llround(seconds * m_decoder->sampleRate());
    m_framesThisPass = 0;
    m_passFromStart = !(seconds > 0);
}

void PlaybackEngine::learnLength()
{
    // A container's length may be an estimate (MP3 counts whole frames); where the decoder ends
    // after a pass from the first frame is exact, and the loop's playhead wraps there.
    const qint64 end = m_decoder->nextFramePosition();
    if (m_passFromStart && end > 0)
        m_duration.store(double(end) / m_decoder->sampleRate(), std::memory_order_relaxed);
}

bool PlaybackEngine::restartFromTheBeginning()
{
    if (m_framesThisPass == 0)
        return false;
    // The resampler keeps its state: the first frame follows the last one as if the file went
    // on, which is what makes the seam inaudible.
    if (!m_decoder->seek(0))
        return false;
    m_framesThisPass = 0;
    m_skipUntilFrame = 0;
    m_passFromStart = true;
    return true;
}

int PlaybackEngine::decodeIntoPending()
{
    const AudioDecoder::Status status = m_decoder->decode(m_frame);
    if (status != AudioDecoder::Status::Frame)
        return int(status);
    int frames = m_frame->nb_samples;
    if (frames <= 0)
        return int(status);

    const auto format = AVSampleFormat(m_frame->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = m_frame->ch_layout.nb_channels;
    m_inputPlanes.assign(m_frame->extended_data, m_frame->extended_data + (planar ? channels : 1));
    if (m_skipUntilFrame >= 0) {
        // Containers seek to a packet at or before the target; drop what precedes it.
        const qint64 position = m_decoder->framePosition();
        if (position >= 0 && position + frames <= m_skipUntilFrame)
            return int(status);
        if (position >= 0 && position < m_skipUntilFrame) {
            const int skip = int(m_skipUntilFrame - position);
            const int stride = av_get_bytes_per_sample(format) * (planar ? 1 : channels);
            for (const std::uint8_t *&plane : m_inputPlanes)
                plane += qsizetype(skip) * stride;
            frames -= skip;
        }
        m_skipUntilFrame = -1;
    }
    if (!configureResampler(m_frame))
        return int(AudioDecoder::Status::Error);
    m_framesThisPass += frames;

    const int capacity = swr_get_out_samples(m_resampler, frames);
    if (capacity < 0)
        return int(AudioDecoder::Status::Error);
    const qsizetype samples = qsizetype(capacity) * m_format.channelCount;
    if (qsizetype(m_pending.size()) < samples)
        m_pending.resize(size_t(samples));
    auto *out = reinterpret_cast<std::uint8_t *>(m_pending.data());
    const int converted = swr_convert(m_resampler, &out, capacity, m_inputPlanes.data(), frames);
    if (converted < 0)
        return int(AudioDecoder::Status::Error);
    m_pendingLength = qsizetype(converted) * m_format.channelCount;
    m_pendingOffset = 0;
    return int(status);
}

bool PlaybackEngine::flushResampler()
{
    if (m_resampler == nullptr)
        return true;
    const int capacity = swr_get_out_samples(m_resampler, 0);
    if (capacity <= 0)
        return capacity == 0;
    const qsizetype samples = qsizetype(capacity) * m_format.channelCount;
    if (qsizetype(m_pending.size()) < samples)
        m_pending.resize(size_t(samples));
    auto *out = reinterpret_cast<std::uint8_t *>(m_pending.data());
    const int converted = swr_convert(m_resampler, &out, capacity, nullptr, 0);
    if (converted < 0)
        return false;
    m_pendingLength = qsizetype(converted) * m_format.channelCount;
    m_pendingOffset = 0;
    return true;
}

bool PlaybackEngine::configureResampler(const AVFrame *frame)
{
    if (m_resampler != nullptr && m_resamplerFormat == frame->format &&
        m_resamplerRate == frame->sample_rate &&
        av_channel_layout_compare(&m_resamplerLayout, &frame->ch_layout) == 0)
        return true;
    swr_free(&m_resampler);
    av_channel_layout_uninit(&m_resamplerLayout);
    if (av_channel_layout_copy(&m_resamplerLayout, &frame->ch_layout) < 0)
        return false;
    m_resamplerFormat = frame->format;
    m_resamplerRate = frame->sample_rate;

    AVChannelLayout input{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&input, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&input, &frame->ch_layout);
    AVChannelLayout output{};
    av_channel_layout_default(&output, m_format.channelCount);
    int result =
        swr_alloc_set_opts2(&m_resampler, &output, AV_SAMPLE_FMT_FLT, m_format.sampleRate, &input,
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    // A mono sample plays at full level on every speaker, not 3 dB down as a downmix would.
    if (result >= 0 && input.nb_channels == 1 && m_format.channelCount > 1) {
        const std::vector<double> matrix(size_t(m_format.channelCount), 1.0);
        result = swr_set_matrix(m_resampler, matrix.data(), 1);
    }
    // Folding 5.1 or 8 channels into fewer adds them up: each speaker's coefficients are scaled
    // to sum to at most 1, so a full-scale surround file never clips.
    if (result >= 0 && input.nb_channels > m_format.channelCount)
        result = av_opt_set_double(m_resampler, "rematrix_maxval", 1.0, 0);
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    if (result < 0 || swr_init(m_resampler) < 0) {
        swr_free(&m_resampler);
        return false;
    }
    return true;
}

void PlaybackEngine::writePending()
{
    const int channels = m_format.channelCount;
    const qsizetype room = m_ring.freeSpace() / channels * channels;
    const qsizetype count = std::min(room, m_pendingLength - m_pendingOffset);
    m_pendingOffset += m_ring.write(m_pending.data() + m_pendingOffset, count);
}

// ---- device thread

bool PlaybackEngine::acknowledgeSeek()
{
    const std::uint32_t requested = m_seekRequested.load(std::memory_order_acquire);
    if (requested == m_seekSeen)
        return true;
    if (m_seekReady.load(std::memory_order_acquire) != requested)
        return false;
    m_ring.discardUntil(m_seekReadyIndex.load(std::memory_order_relaxed));
    m_playedFrames.store(m_seekReadyFrame.load(std::memory_order_relaxed),
                         std::memory_order_relaxed);
    m_seekSeen = requested;
    m_seekAcknowledged.store(requested, std::memory_order_release);
    return true;
}

void PlaybackEngine::render(float *interleaved, int frameCount)
{
    const int channels = m_format.channelCount;
    const qsizetype wanted = qsizetype(frameCount) * channels;
    qsizetype got = 0;
    // While a seek is under way the old position is not played any further.
    if (acknowledgeSeek()) {
        got = m_ring.read(interleaved, wanted);
        if (got > 0) {
            if (m_firstOutput.load(std::memory_order_relaxed) < 0)
                m_firstOutput.store(steadyNanoseconds(), std::memory_order_release);
            m_playedFrames.store(m_playedFrames.load(std::memory_order_relaxed) + got / channels,
                                 std::memory_order_relaxed);
        }
    }
    std::fill(interleaved + got, interleaved + wanted, 0.0f);

    const float target = m_targetGain.load(std::memory_order_relaxed);
    if (m_gain == target) {
        if (target != 1.0f) {
            for (qsizetype i = 0; i < got; ++i)
                interleaved[i] *= target;
        }
    } else {
        for (int frame = 0; frame < frameCount; ++frame) {
            if (m_gain < target)
                m_gain = std::min(target, m_gain + m_gainStep);
            else if (m_gain > target)
                m_gain = std::max(target, m_gain - m_gainStep);
            for (int c = 0; c < channels; ++c)
                interleaved[frame * channels + c] *= m_gain;
        }
    }
    wake();
}
