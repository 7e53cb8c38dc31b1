// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlaybackEngine.h"

#include "PreviewFiles.h"
#include "ShareGate.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

std::atomic<quint64> nextEngineId{1};

} // namespace

std::unique_ptr<PlaybackEngine> PlaybackEngine::create(const QString &path, AudioOutput &output,
                                                       std::shared_ptr<const PreviewFiles> files,
                                                       std::shared_ptr<ShareGate> gate,
                                                       std::shared_ptr<FirstBlockCache> firstBlocks)
{
    if (!output.open())
        return nullptr;
    const AudioDeviceFormat format = output.format();
    if (format.sampleRate <= 0 || format.channelCount <= 0)
        return nullptr;
    if (files == nullptr)
        files = std::make_shared<const PreviewFiles>();
    if (gate == nullptr)
        gate = ShareGate::create(std::chrono::seconds(2));
    auto stream = std::make_shared<PlaybackStream>(path, format, std::move(files), std::move(gate),
                                                   std::move(firstBlocks));
    return std::unique_ptr<PlaybackEngine>(new PlaybackEngine(std::move(stream), output));
}

PlaybackEngine::PlaybackEngine(std::shared_ptr<PlaybackStream> stream, AudioOutput &output)
    : m_id(nextEngineId.fetch_add(1)), m_stream(std::move(stream)), m_output(output)
{}

PlaybackEngine::~PlaybackEngine()
{
    stop();
}

void PlaybackEngine::setOpenedHandler(OpenedHandler handler)
{
    m_opened = std::move(handler);
}

void PlaybackEngine::setFinishedHandler(FinishedHandler handler)
{
    m_finished = std::move(handler);
}

void PlaybackEngine::setVolume(float volume)
{
    const float gain = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 0.0f;
    // Before the start, the first buffer starts at the right level instead of ramping to it.
    m_stream->setGain(gain, !m_started);
}

bool PlaybackEngine::play()
{
    if (m_stopped)
        return false;
    if (m_started)
        return true;
    m_started = true;
    PlaybackStream::OpenedHandler opened;
    if (m_opened)
        opened = [handler = m_opened, id = m_id](const Opening &opening) { handler(id, opening); };
    PlaybackStream::FinishedHandler finished;
    if (m_finished)
        finished = [handler = m_finished, id = m_id](bool successfully) {
            handler(id, successfully);
        };
    m_stream->setHandlers(std::move(opened), std::move(finished));
    // Detached: a thread stuck in an open that never returns must hold up neither stop() nor
    // the application's exit. It owns its share of the stream, so nothing it uses goes away.
    std::thread([stream = m_stream] { stream->run(); }).detach();
    m_output.setRenderer(m_stream.get());
    return true;
}

void PlaybackEngine::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_started)
        m_output.setRenderer(nullptr);
    m_stream->quit();
}

void PlaybackEngine::setLooping(bool looping)
{
    m_stream->setLooping(looping);
}
