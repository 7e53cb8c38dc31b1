// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/AudioOutput.h"

// An audio device that accepts everything and plays nothing, so benchmarks time our own work
// rather than a sound server's.
class SilentOutput final : public AudioOutput
{
public:
    bool open() override { return true; }
    AudioDeviceFormat format() const override { return {48000, 2}; }
    void setRenderer(AudioRenderer *) override {}
};
