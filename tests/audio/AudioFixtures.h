// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/AudioOutput.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace AudioFixtures {

// The ffmpeg output options that write `extension`, one of the previewable ones (.ogg as Vorbis,
// .oga as Opus).
QStringList encoderOptions(const QString &extension);
// A 32-bit float WAV built from an aevalsrc expression per channel (`t` is the time in seconds).
bool makeFloatWav(const QString &path, const QStringList &channelExpressions, double seconds,
                  int sampleRate);
// Decodes `path` with the ffmpeg tool into interleaved floats at the file's own rate.
// `inputOptions` go before the input (`-flags2 +skip_manual` keeps every decoded frame).
std::optional<std::vector<float>> decodeWithFfmpeg(const QString &path,
                                                   const QStringList &inputOptions = {});
// The peaks by the plain per-frame rule, as an oracle for the optimised builder.
QList<float> referencePeaks(const std::vector<float> &interleaved, int channels, int count);
// The frames that carry sound: underruns while the decoder catches up are exact silence.
std::vector<float> withoutSilentFrames(const std::vector<float> &interleaved, int channels);

inline QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

} // namespace AudioFixtures

// An output the test pulls by hand: the test thread plays the device thread.
class ManualAudioOutput final : public AudioOutput
{
public:
    explicit ManualAudioOutput(int sampleRate = 48000, int channelCount = 2, bool available = true)
        : m_format{sampleRate, channelCount}, m_available(available)
    {}
    bool open() override { return m_available; }
    AudioDeviceFormat format() const override { return m_format; }
    void setRenderer(AudioRenderer *renderer) override;
    bool hasRenderer();
    // One device buffer of interleaved frames; silence when nothing is attached.
    std::vector<float> pull(int frames = 256);
    // Pulls buffers at a device's pace, processing events, until `done` or `limit` buffers went by.
    std::vector<float> pullUntil(const std::function<bool()> &done, int limit = 4000);

private:
    AudioDeviceFormat m_format;
    bool m_available = true;
    std::mutex m_mutex;
    AudioRenderer *m_renderer = nullptr;
};
