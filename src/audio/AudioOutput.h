// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the device is fed with: interleaved 32-bit float frames at the device's rate.
struct AudioDeviceFormat
{
    int sampleRate = 0;
    int channelCount = 0;
    // Frames the device takes per callback; 0 when the device does not say.
    int bufferFrames = 0;
};

// Called on the device's own thread for every buffer the device wants. Implementations must not
// allocate, lock, block or touch files: a late buffer is an audible click.
class AudioRenderer
{
public:
    virtual void render(float *interleaved, int frameCount) = 0;

protected:
    ~AudioRenderer() = default;
};

// The audio device, behind an interface so that tests can drive the renderer themselves.
class AudioOutput
{
public:
    virtual ~AudioOutput() = default;

    // Opens the device the first time and keeps it open; later calls answer at once. False when
    // no device can be opened (no sound server, no driver).
    virtual bool open() = 0;
    // Valid after a successful open().
    virtual AudioDeviceFormat format() const = 0;
    // Once this returns, the device pulls from `renderer` (silence when null) and never calls the
    // previous renderer again, so the caller may destroy it.
    virtual void setRenderer(AudioRenderer *renderer) = 0;
};
