// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioOutput.h"
#include "PlaybackStream.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

class FirstBlockCache;
class PreviewFiles;
class ShareGate;

// Plays one file on a shared output. Creating and starting it touches no file: the file is opened
// on the engine's own thread, which then decodes it (PlaybackStream), and the outcome of the open
// is reported from there. Stopping never waits for that thread, so a file whose open never
// returns costs that one thread and nothing else.
//
// All operations are for the owner's thread; the handlers run on the engine's thread.
class PlaybackEngine final
{
public:
    using Opening = PlaybackStream::Opening;
    // Carry the engine's id so that a report from a replaced engine can be told apart.
    using OpenedHandler = std::function<void(quint64 engineId, const Opening &opening)>;
    // Once, when every frame has gone to the device (or decoding failed).
    using FinishedHandler = std::function<void(quint64 engineId, bool successfully)>;

    // Null when the output cannot be opened. Without `files` the real file system is used; a
    // gate of its own stands in for a missing `gate`. A first block of the file in `firstBlocks`
    // plays while the file is opened.
    static std::unique_ptr<PlaybackEngine>
    create(const QString &path, AudioOutput &output, std::shared_ptr<const PreviewFiles> files = {},
           std::shared_ptr<ShareGate> gate = {}, std::shared_ptr<FirstBlockCache> firstBlocks = {});
    ~PlaybackEngine();
    Q_DISABLE_COPY_MOVE(PlaybackEngine)

    // Unique within the process, never reused.
    quint64 id() const { return m_id; }
    // Before play().
    void setOpenedHandler(OpenedHandler handler);
    void setFinishedHandler(FinishedHandler handler);

    // 0…1; the device thread moves to a new gain over a few milliseconds, so changes never click.
    void setVolume(float volume);
    float volume() const { return m_stream->gain(); }

    // Starts the engine's thread, which opens the file, and hands the engine to the output.
    // False when already stopped.
    bool play();
    // Silences the engine and lets its thread go; no handler runs after this. It cannot play
    // again.
    void stop();

    // While on, the decoder goes back to the first frame at the end and keeps filling the ring,
    // so the device never runs dry at the seam; the end is then never reported.
    void setLooping(bool looping);
    bool isLooping() const { return m_stream->isLooping(); }

    // Seconds; 0 until the file opened, then the container's word until the decoder reaches the
    // end, then the frames it gave.
    double duration() const { return m_stream->duration(); }
    double currentTime() const { return m_stream->currentTime(); }
    // Before the file opened too: playback then starts there.
    void setCurrentTime(double seconds) { m_stream->setCurrentTime(seconds); }
    // How long the open has been waiting for the share without an answer; 0 when it is not.
    qint64 openWaitMilliseconds() const { return m_stream->openWaitMilliseconds(); }

    // Steady-clock nanoseconds of the first device buffer that received frames of this file;
    // -1 until then.
    qint64 firstOutputNanoseconds() const { return m_stream->firstOutputNanoseconds(); }
    // The same for the first buffer that carried a non-silent frame.
    qint64 firstSoundNanoseconds() const { return m_stream->firstSoundNanoseconds(); }

private:
    PlaybackEngine(std::shared_ptr<PlaybackStream> stream, AudioOutput &output);

    const quint64 m_id;
    const std::shared_ptr<PlaybackStream> m_stream;
    AudioOutput &m_output;
    OpenedHandler m_opened;
    FinishedHandler m_finished;
    bool m_started = false;
    bool m_stopped = false;
};
