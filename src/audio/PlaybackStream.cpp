// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlaybackStream.h"

#include "AudioDecoder.h"
#include "PreviewFiles.h"
#include "ShareGate.h"

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

PlaybackStream::PlaybackStream(QString path, AudioDeviceFormat format,
                               std::shared_ptr<const PreviewFiles> files,
                               std::shared_ptr<ShareGate> gate,
                               std::shared_ptr<FirstBlockCache> firstBlocks)
    : m_path(std::move(path)), m_format(format), m_files(std::move(files)), m_gate(std::move(gate)),
      m_firstBlocks(std::move(firstBlocks)), m_frame(av_frame_alloc()),
      m_ring(qsizetype(ringFrames) * m_format.channelCount)
{
    m_gainStep = float(1.0 / std::max(1.0, m_format.sampleRate * gainRampSeconds));
}

PlaybackStream::~PlaybackStream()
{
    swr_free(&m_resampler);
    av_channel_layout_uninit(&m_resamplerLayout);
    av_frame_free(&m_frame);
}

void PlaybackStream::setHandlers(OpenedHandler opened, FinishedHandler finished)
{
    const std::lock_guard lock(m_handlersMutex);
    m_opened = std::move(opened);
    m_finished = std::move(finished);
}

void PlaybackStream::quit()
{
    {
        // Once this returns no handler runs again, so the owner may go.
        const std::lock_guard lock(m_handlersMutex);
        m_opened = nullptr;
        m_finished = nullptr;
    }
    m_quit.store(true, std::memory_order_release);
    wake();
}

void PlaybackStream::setGain(float gain, bool immediately)
{
    if (immediately)
        m_gain = gain;
    m_targetGain.store(gain, std::memory_order_relaxed);
}

void PlaybackStream::setLooping(bool looping)
{
    m_looping.store(looping, std::memory_order_relaxed);
    wake();
}

double PlaybackStream::currentTime() const
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

void PlaybackStream::setCurrentTime(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    m_seekTarget.store(std::max(0.0, seconds), std::memory_order_relaxed);
    m_seekRequested.fetch_add(1, std::memory_order_release);
    wake();
}

qint64 PlaybackStream::openWaitMilliseconds() const
{
    const qint64 since = m_waitingSince.load(std::memory_order_relaxed);
    return since == 0 ? 0 : (steadyNanoseconds() - since) / 1'000'000;
}

void PlaybackStream::wake()
{
    m_wakeups.fetch_add(1, std::memory_order_release);
    m_wakeups.notify_one();
}

void PlaybackStream::run()
{
    const Opening opening = open();
    m_waitingSince.store(0, std::memory_order_relaxed);
    if (isQuitting())
        return;
    report(opening);
    if (opening.outcome == Outcome::Opened)
        decodeLoop();
}

PlaybackStream::Opening PlaybackStream::open()
{
    if (m_frame == nullptr)
        return {};
    const auto superseded = [this] { return isQuitting(); };
    QString share = m_firstBlocks != nullptr ? m_firstBlocks->shareOf(m_path) : QString();
    if (share.isEmpty())
        share = m_files->shareOf(m_path);
    ShareGate::Entry entry = m_gate->enter(share, superseded);
    if (entry.answer == ShareGate::Answer::NotAnswering)
        return {Outcome::NotAnswering, 0, {}, {}};
    if (entry.answer != ShareGate::Answer::Admitted)
        return {};
    m_openPass = std::move(entry.pass);
    m_waitingSince.store(steadyNanoseconds(), std::memory_order_relaxed);
    const PreviewFiles::Status status = m_files->status(m_path);
    shareAnswered();
    if (status.kind != PreviewFiles::Kind::Regular || isQuitting()) {
        m_openPass.reset();
        return {};
    }
    if (m_firstBlocks != nullptr && status.signature.has_value()) {
        m_head = m_firstBlocks->find(m_path, *status.signature);
        if (m_head != nullptr) {
            m_openPass.reset();
            m_duration.store(m_head->duration, std::memory_order_relaxed);
            return {Outcome::Opened, m_head->duration, m_head->formatFacts, status.signature};
        }
    }
    // Every read asks first, so a superseded stream ends at its next call.
    m_decoder = m_files->open(m_path, [this] {
        shareAnswered();
        return isQuitting();
    });
    m_openPass.reset();
    if (m_decoder == nullptr)
        return {};
    m_duration.store(m_decoder->duration(), std::memory_order_relaxed);
    return {Outcome::Opened, m_decoder->duration(), m_decoder->formatFacts(), status.signature};
}

// The open behind a first block, while the device plays the block.
bool PlaybackStream::openDecoder()
{
    if (m_decoder != nullptr)
        return true;
    ShareGate::Entry entry =
        m_gate->enter(m_files->shareOf(m_path), [this] { return isQuitting(); });
    if (entry.answer != ShareGate::Answer::Admitted)
        return false;
    m_openPass = std::move(entry.pass);
    m_decoder = m_files->open(m_path, [this] {
        shareAnswered();
        return isQuitting();
    });
    m_openPass.reset();
    return m_decoder != nullptr;
}

void PlaybackStream::shareAnswered()
{
    if (m_openPass == nullptr)
        return;
    m_openPass->answered();
    m_waitingSince.store(steadyNanoseconds(), std::memory_order_relaxed);
}

void PlaybackStream::report(const Opening &opening)
{
    const std::lock_guard lock(m_handlersMutex);
    if (m_opened)
        m_opened(opening);
}

void PlaybackStream::reportEnd(bool successfully)
{
    const std::lock_guard lock(m_handlersMutex);
    if (m_finished)
        m_finished(successfully);
}

// ---- stream thread

void PlaybackStream::decodeLoop()
{
    std::uint32_t handledSeek = 0;
    bool ended = false;
    bool succeeded = true;
    bool reported = false;
    while (!isQuitting()) {
        const std::uint32_t wakeups = m_wakeups.load(std::memory_order_acquire);
        const std::uint32_t requested = m_seekRequested.load(std::memory_order_acquire);
        if (requested != handledSeek) {
            handledSeek = requested;
            const double target = m_seekTarget.load(std::memory_order_relaxed);
            const bool positioned = performSeek(target);
            m_seekReadyFrame.store(std::llround(target * m_format.sampleRate),
                                   std::memory_order_relaxed);
            m_seekReadyIndex.store(m_ring.writeIndex(), std::memory_order_relaxed);
            m_seekReady.store(requested, std::memory_order_release);
            ended = !positioned;
            succeeded = positioned;
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
            reportEnd(succeeded);
        }
        m_wakeups.wait(wakeups, std::memory_order_acquire);
    }
}

bool PlaybackStream::performSeek(double seconds)
{
    m_head.reset();
    if (!openDecoder())
        return false;
    m_decoder->seek(seconds);
    m_pendingLength = 0;
    m_pendingOffset = 0;
    // A fresh resampler forgets the filter history of the old position.
    swr_free(&m_resampler);
    m_resamplerFormat = -1;
    m_skipUntilFrame = std::llround(seconds * m_decoder->sampleRate());
    m_framesThisPass = 0;
    m_passFromStart = !(seconds > 0);
    return true;
}

void PlaybackStream::learnLength()
{
    // A container's length may be an estimate (MP3 counts whole frames); where the decoder ends
    // after a pass from the first frame is exact, and the loop's playhead wraps there.
    const qint64 end = m_decoder->nextFramePosition();
    if (m_passFromStart && end > 0)
        m_duration.store(double(end) / m_decoder->sampleRate(), std::memory_order_relaxed);
}

bool PlaybackStream::restartFromTheBeginning()
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

int PlaybackStream::decodeIntoPending()
{
    if (m_head != nullptr) {
        if (m_headNext < m_head->frames.size()) {
            return convertIntoPending(m_head->frames[m_headNext++], -1);
        }
        // The same decode as the block's, its frames dropped: the seam is sample-exact.
        m_skipUntilFrame = m_head->frameCount;
        m_head.reset();
        if (!openDecoder())
            return int(AudioDecoder::Status::Error);
    }
    const AudioDecoder::Status status = m_decoder->decode(m_frame);
    if (status != AudioDecoder::Status::Frame)
        return int(status);
    return convertIntoPending(m_frame, m_decoder->framePosition());
}

int PlaybackStream::convertIntoPending(const AVFrame *frame, qint64 position)
{
    const int status = int(AudioDecoder::Status::Frame);
    int frames = frame->nb_samples;
    if (frames <= 0)
        return status;

    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = frame->ch_layout.nb_channels;
    m_inputPlanes.assign(frame->extended_data, frame->extended_data + (planar ? channels : 1));
    if (m_skipUntilFrame >= 0) {
        // Containers seek to a packet at or before the target; drop what precedes it.
        if (position >= 0 && position + frames <= m_skipUntilFrame)
            return status;
        if (position >= 0 && position < m_skipUntilFrame) {
            const int skip = int(m_skipUntilFrame - position);
            const int stride = av_get_bytes_per_sample(format) * (planar ? 1 : channels);
            for (const std::uint8_t *&plane : m_inputPlanes)
                plane += qsizetype(skip) * stride;
            frames -= skip;
        }
        m_skipUntilFrame = -1;
    }
    if (!configureResampler(frame))
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

bool PlaybackStream::flushResampler()
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

bool PlaybackStream::configureResampler(const AVFrame *frame)
{
    if (m_resampler != nullptr && m_resamplerFormat == frame->format &&
        m_resamplerRate == frame->sample_rate &&
        av_channel_layout_compare(&m_resamplerLayout, &frame->ch_layout) == 0)
        return true;
    // The block was resampled from its first frame's format, which is where a stream starts.
    SwrContext *ready = m_resampler == nullptr && m_head != nullptr && m_headNext == 1
                            ? m_head->takeResampler(m_format)
                            : nullptr;
    swr_free(&m_resampler);
    av_channel_layout_uninit(&m_resamplerLayout);
    if (av_channel_layout_copy(&m_resamplerLayout, &frame->ch_layout) < 0) {
        swr_free(&ready);
        return false;
    }
    m_resamplerFormat = frame->format;
    m_resamplerRate = frame->sample_rate;
    m_resampler = ready != nullptr ? ready : makeResampler(frame, m_format);
    return m_resampler != nullptr;
}

SwrContext *PlaybackStream::makeResampler(const AVFrame *frame, AudioDeviceFormat device)
{
    AVChannelLayout input{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&input, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&input, &frame->ch_layout);
    AVChannelLayout output{};
    av_channel_layout_default(&output, device.channelCount);
    SwrContext *resampler = nullptr;
    int result =
        swr_alloc_set_opts2(&resampler, &output, AV_SAMPLE_FMT_FLT, device.sampleRate, &input,
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    // A mono sample plays at full level on every speaker, not 3 dB down as a downmix would.
    if (result >= 0 && input.nb_channels == 1 && device.channelCount > 1) {
        const std::vector<double> matrix(size_t(device.channelCount), 1.0);
        result = swr_set_matrix(resampler, matrix.data(), 1);
    }
    // Folding 5.1 or 8 channels into fewer adds them up: each speaker's coefficients are scaled
    // to sum to at most 1, so a full-scale surround file never clips.
    if (result >= 0 && input.nb_channels > device.channelCount)
        result = av_opt_set_double(resampler, "rematrix_maxval", 1.0, 0);
    av_channel_layout_uninit(&input);
    av_channel_layout_uninit(&output);
    if (result < 0 || swr_init(resampler) < 0) {
        swr_free(&resampler);
        return nullptr;
    }
    return resampler;
}

void PlaybackStream::writePending()
{
    const int channels = m_format.channelCount;
    const qsizetype room = m_ring.freeSpace() / channels * channels;
    const qsizetype count = std::min(room, m_pendingLength - m_pendingOffset);
    m_pendingOffset += m_ring.write(m_pending.data() + m_pendingOffset, count);
}

// ---- device thread

bool PlaybackStream::acknowledgeSeek()
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

void PlaybackStream::render(float *interleaved, int frameCount)
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
    if (got > 0 && m_firstSound.load(std::memory_order_relaxed) < 0) {
        for (qsizetype i = 0; i < got; ++i) {
            if (interleaved[i] != 0.0f) {
                m_firstSound.store(steadyNanoseconds(), std::memory_order_release);
                break;
            }
        }
    }
    wake();
}
