// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SdlAudioOutput.h"

#include <SDL.h>

#include <cstring>

SdlAudioOutput::~SdlAudioOutput()
{
    if (m_device != 0) {
        SDL_CloseAudioDevice(m_device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

bool SdlAudioOutput::open()
{
    if (m_device != 0)
        return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Wavelark");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;

    SDL_AudioSpec wanted{};
    wanted.freq = requestedRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = requestedFrames;
    wanted.callback = &SdlAudioOutput::fill;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // The device may pick its own rate (the decoder thread resamples to it); format and channel
    // count stay ours and SDL converts if it must.
    const SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    m_device = device;
    m_format.sampleRate = obtained.freq;
    m_format.channelCount = obtained.channels;
    m_format.bufferFrames = obtained.samples;
    SDL_PauseAudioDevice(m_device, 0);
    return true;
}

void SdlAudioOutput::setRenderer(AudioRenderer *renderer)
{
    if (m_device == 0) {
        m_renderer = renderer;
        return;
    }
    // SDL holds this lock around every callback, so after unlocking the old renderer is idle.
    SDL_LockAudioDevice(m_device);
    m_renderer = renderer;
    SDL_UnlockAudioDevice(m_device);
}

void SdlAudioOutput::fill(void *self, std::uint8_t *stream, int length)
{
    auto *output = static_cast<SdlAudioOutput *>(self);
    const int frames = length / int(sizeof(float)) / output->m_format.channelCount;
    if (output->m_renderer == nullptr || frames <= 0) {
        std::memset(stream, 0, size_t(length));
        return;
    }
    output->m_renderer->render(reinterpret_cast<float *>(stream), frames);
}
