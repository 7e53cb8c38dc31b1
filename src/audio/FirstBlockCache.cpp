// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FirstBlockCache.h"

#include "AudioDecoder.h"
#include "PlaybackStream.h"

#include "platform/CancelFlag.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>

FirstBlockCache::Block::~Block()
{
    for (AVFrame *&frame : frames)
        av_frame_free(&frame);
    SwrContext *unused = resampler.exchange(nullptr);
    swr_free(&unused);
}

SwrContext *FirstBlockCache::Block::takeResampler(AudioDeviceFormat format) const
{
    if (format.sampleRate != resamplerFormat.sampleRate ||
        format.channelCount != resamplerFormat.channelCount)
        return nullptr;
    return resampler.exchange(nullptr);
}

std::shared_ptr<const FirstBlockCache::Block>
FirstBlockCache::decode(AudioDecoder &decoder, const FileSignature &signature, QString share,
                        AudioDeviceFormat device, const CancelFlag *flag)
{
    auto block = std::make_shared<Block>();
    block->signature = signature;
    block->share = std::move(share);
    block->duration = decoder.duration();
    block->formatFacts = decoder.formatFacts();
    const qint64 wanted =
        std::max<qint64>(1, std::llround(decoder.sampleRate() * FirstBlockCache::blockSeconds));
    AVFrame *frame = av_frame_alloc();
    if (frame == nullptr)
        return nullptr;
    bool failed = false;
    while (block->frameCount < wanted) {
        if (flag != nullptr && flag->isCancelled()) {
            failed = true;
            break;
        }
        const AudioDecoder::Status status = decoder.decode(frame);
        if (status == AudioDecoder::Status::End)
            break;
        if (status == AudioDecoder::Status::Error) {
            failed = true;
            break;
        }
        if (frame->nb_samples <= 0)
            continue;
        AVFrame *copy = av_frame_clone(frame);
        if (copy == nullptr) {
            failed = true;
            break;
        }
        block->frames.push_back(copy);
        block->frameCount += frame->nb_samples;
    }
    av_frame_free(&frame);
    if (failed || block->frames.empty())
        return nullptr;
    if (device.sampleRate > 0 && device.channelCount > 0) {
        block->resamplerFormat = device;
        block->resampler = PlaybackStream::makeResampler(block->frames.front(), device);
    }
    return block;
}

std::shared_ptr<const FirstBlockCache::Block> FirstBlockCache::find(const QString &path,
                                                                    const FileSignature &signature)
{
    const std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry &entry) { return entry.path == path; });
    if (it == m_entries.end())
        return nullptr;
    if (!(it->block->signature == signature)) {
        // Another version of the file: what was decoded of the old one is of no use.
        m_entries.erase(it);
        return nullptr;
    }
    m_entries.splice(m_entries.begin(), m_entries, it);
    return it->block;
}

QString FirstBlockCache::shareOf(const QString &path) const
{
    const std::lock_guard lock(m_mutex);
    for (const Entry &entry : m_entries) {
        if (entry.path == path)
            return entry.block->share;
    }
    return {};
}

bool FirstBlockCache::contains(const QString &path, const FileSignature &signature) const
{
    const std::lock_guard lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry &entry) {
        return entry.path == path && entry.block->signature == signature;
    });
}

void FirstBlockCache::store(const QString &path, std::shared_ptr<const Block> block)
{
    if (block == nullptr)
        return;
    const std::lock_guard lock(m_mutex);
    m_entries.remove_if([&](const Entry &entry) { return entry.path == path; });
    m_entries.push_front({path, std::move(block)});
    while (m_entries.size() > size_t(capacity))
        m_entries.pop_back();
}
