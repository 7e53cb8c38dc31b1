#pragma once

#include "audio/AudioOutput.h"

// A device that opens at once and never asks for sound: playback starts and stays at the
// position it was given, so the tests decide where the playhead is.
class SilentAudioOutput final : public AudioOutput
{
public:
    bool open() override { return true; }
    AudioDeviceFormat format() const override { return {48000, 2}; }
    void setRenderer(AudioRenderer *) override {}
};
