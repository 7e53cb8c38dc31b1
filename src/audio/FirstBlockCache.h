// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioOutput.h"
#include "FileSignature.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

class AudioDecoder;
class CancelFlag;
struct AVFrame;
struct SwrContext;

// The first moments of the files a preview is likely to start next (the selected row and its
// neighbours), decoded ahead on a worker: a stream that finds its file here with the same
// signature has sound for the device at once and opens the file while that plays. Holds a few
// files, the least recently used going first. Thread-safe; never touched by the device thread.
class FirstBlockCache final
{
public:
    // Decoded frames of one version of a file from its first frame on, as the decoder gave them.
    class Block final
    {
    public:
        Block() = default;
        ~Block();
        Q_DISABLE_COPY_MOVE(Block)

        FileSignature signature;
        QString share; // where the file lives, as PreviewFiles::shareOf() said when it was read
        double duration = 0;
        QString formatFacts;
        std::vector<AVFrame *> frames; // owned
        qint64 frameCount = 0;         // at the file's own rate

        // A resampler from the block's format to `format`, built ahead, for the first stream
        // that plays the block: building one takes longer than the rest of a stream's start.
        // Null when taken, or when the device's format was not known.
        SwrContext *takeResampler(AudioDeviceFormat format) const;
        AudioDeviceFormat resamplerFormat;
        mutable std::atomic<SwrContext *> resampler{nullptr};
    };

    static constexpr int capacity = 8;
    // Long enough to cover the open of the file behind it, on a busy machine too.
    static constexpr double blockSeconds = 0.1;

    FirstBlockCache() = default;
    Q_DISABLE_COPY_MOVE(FirstBlockCache)

    // Decodes the first block from a freshly opened decoder, with a resampler to `device` when
    // its format is known; null when decoding fails or `flag` was cancelled.
    static std::shared_ptr<const Block> decode(AudioDecoder &decoder,
                                               const FileSignature &signature, QString share,
                                               AudioDeviceFormat device,
                                               const CancelFlag *flag = nullptr);

    std::shared_ptr<const Block> find(const QString &path, const FileSignature &signature);
    // The share of the file's block, whatever its version; empty when none is held. Asking the
    // mount table costs more than everything else a stream does before its first sound.
    QString shareOf(const QString &path) const;
    bool contains(const QString &path, const FileSignature &signature) const;
    void store(const QString &path, std::shared_ptr<const Block> block);

private:
    struct Entry
    {
        QString path;
        std::shared_ptr<const Block> block;
    };
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
};
