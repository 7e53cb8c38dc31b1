// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioOutput.h"

#include <QtGlobal>

#include <cstdint>

// The SDL2 audio device: opened once, at the first play, and kept. A small buffer keeps the
// preview responsive: about 2.7 ms at 48 kHz.
class SdlAudioOutput final : public AudioOutput
{
public:
    static constexpr int requestedRate = 48000;
    static constexpr int requestedFrames = 128;

    SdlAudioOutput() = default;
    ~SdlAudioOutput() override;
    Q_DISABLE_COPY_MOVE(SdlAudioOutput)

    bool open() override;
    AudioDeviceFormat format() const override { return m_format; }
    void setRenderer(AudioRenderer *renderer) override;

private:
    static void fill(void *self, std::uint8_t *stream, int length);

    std::uint32_t m_device = 0;
    AudioDeviceFormat m_format;
    // Read by the device thread under SDL's device lock, written under it too.
    AudioRenderer *m_renderer = nullptr;
};
