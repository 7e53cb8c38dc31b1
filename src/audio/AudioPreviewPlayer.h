// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioOutput.h"
#include "FileSignature.h"
#include "PlaybackStream.h"

#include "platform/CancelFlag.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class FirstBlockCache;
class Preferences;
class PeaksCache;
class PlaybackEngine;
class PreviewFiles;
class ShareGate;

// Plays one sample at a time, publishes the playhead 30 times a second, keeps the waveform of the
// file loaded last and remembers the volume across runs. Lives on the main thread; views observe
// its properties and call its operations. It never touches a file itself: opening, probing,
// decoding and the file's attributes are the business of its engine's thread and of background
// jobs, whose answers arrive here later (a share may answer late, or never).
//
// Absent values: an empty QUrl for the URLs, a null QString for lastError.
class AudioPreviewPlayer final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUrl playingURL READ playingURL NOTIFY playingURLChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY playingURLChanged)
    Q_PROPERTY(QString lastError READ lastError WRITE setLastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QList<float> waveform READ waveform NOTIFY waveformChanged)
    Q_PROPERTY(
        bool isGeneratingWaveform READ isGeneratingWaveform NOTIFY isGeneratingWaveformChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QUrl loadedURL READ loadedURL NOTIFY loadedURLChanged)
    Q_PROPERTY(float volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(QString loadedFormat READ loadedFormat NOTIFY loadedFormatChanged)
    Q_PROPERTY(bool previewLoops READ previewLoops WRITE setPreviewLoops NOTIFY previewLoopsChanged)

public:
    static constexpr int waveformBarCount = 260;
    static constexpr float defaultVolume = 0.8f;

    // Without an output, the SDL device is used; it is opened at the first play.
    explicit AudioPreviewPlayer(Preferences &defaults, std::unique_ptr<AudioOutput> output = {},
                                QObject *parent = nullptr);
    ~AudioPreviewPlayer() override;
    Q_DISABLE_COPY_MOVE(AudioPreviewPlayer)

    // The lower-case extensions that can be previewed, in display order: every one the browser
    // lists, Ogg included, since FFmpeg decodes Vorbis, Opus and FLAC in Ogg.
    static const QStringList &previewableExtensions();
    static bool isPreviewable(const QUrl &url);

    QUrl playingURL() const { return m_playingURL; }
    bool isPlaying() const { return !m_playingURL.isEmpty(); }
    QString lastError() const { return m_lastError; }
    QList<float> waveform() const { return m_waveform; }
    bool isGeneratingWaveform() const { return m_isGeneratingWaveform; }
    double duration() const { return m_duration; }
    double progress() const { return m_progress; }
    QUrl loadedURL() const { return m_loadedURL; }
    float volume() const { return m_volume; }
    float lastNonZeroVolume() const { return m_lastNonZeroVolume; }
    // The format line of the loaded file ("WAV · 44.1 kHz · 24-bit · stereo"); empty when none.
    QString loadedFormat() const { return m_loadedFormat; }
    // Persisted; while on, a preview starts again at its end until it is stopped or replaced.
    bool previewLoops() const { return m_previewLoops; }
    // Where waveforms are kept between runs; without one every new load decodes its file.
    void setPeaksCache(std::shared_ptr<const PeaksCache> cache);
    // The file system the preview reads, and how long a call on a share may stay unanswered
    // before the share counts as not answering (2 s unless set).
    void setFiles(std::shared_ptr<const PreviewFiles> files,
                  std::chrono::milliseconds answerWithin = std::chrono::seconds(2));
    // Decodes the first moments of `urls` (the selected row and its neighbours) ahead on a
    // worker, so that a play of one of them sounds at once. Replaces the previous request.
    void prepare(const QList<QUrl> &urls);
    // The file whose waveform is still wanted; empty when none.
    QUrl waveformToken() const { return m_waveformToken; }

    // Diagnostics for the latency probe: steady-clock nanoseconds of the first device buffer that
    // carried frames of the playing file, or -1 (nothing playing, or not reached the device yet).
    qint64 firstOutputNanoseconds() const;
    // The same for the first buffer that carried a non-silent frame of the playing file.
    qint64 firstSoundNanoseconds() const;
    // The device's format once a play opened it; all zero before.
    AudioDeviceFormat deviceFormat() const;

public Q_SLOTS:
    // Plays `url` from its start (restarting it when it is already playing); returns at once.
    // False, with a message in lastError, when the file cannot be previewed; a file that turns
    // out not to open sets the message and empties the loaded state when its open answers.
    bool play(const QUrl &url);
    // Stops playback; the loaded file, its waveform and duration stay.
    void stop();
    // Moves the playhead to `fraction` (0…1) of the loaded file, replaying it when it has ended.
    void seek(double fraction);
    // Switches the volume between 0 and the remembered level.
    void toggleMute();
    // Clamped to 0…1; a change is applied to the playing file and stored in the preferences.
    void setVolume(float volume);
    void setPreviewLoops(bool loops);
    // A null string clears the message. Every call restarts the 2.5 s auto-clear.
    void setLastError(const QString &message);
    // The end of playback, delivered on the main thread. Ignored unless `engineId` names the
    // engine that is playing now, so a late report from a replaced engine changes nothing.
    void audioPlayerDidFinishPlaying(quint64 engineId, bool successfully);

Q_SIGNALS:
    void playingURLChanged();
    void lastErrorChanged();
    void waveformChanged();
    void isGeneratingWaveformChanged();
    void durationChanged();
    void progressChanged();
    void loadedURLChanged();
    void volumeChanged();
    void loadedFormatChanged();
    void previewLoopsChanged();
    // A prepare() that was not replaced has finished.
    void firstBlocksPrepared();

private:
    bool startPlayback(const QUrl &url, double startSeconds);
    // The answer of an engine's open, delivered on the main thread; ignored unless `engineId`
    // names the engine that is playing now.
    void engineOpened(quint64 engineId, const PlaybackStream::Opening &opening);
    void setPlayingURL(const QUrl &url);
    void setWaveform(const QList<float> &waveform);
    void setIsGeneratingWaveform(bool generating);
    void setDuration(double duration);
    void setProgress(double progress);
    void setLoadedURL(const QUrl &url);
    void setLoadedFormat(const QString &format);
    void resetLoadedState();
    void startWaveformExtraction(const QUrl &url, const std::optional<FileSignature> &known);
    void failPlayback(const QString &message);
    void watchOpen();
    void updateProgress();
    void dropEngine();

    // In declaration order of the observed state, then the services.
    QUrl m_playingURL;
    QString m_lastError;
    QTimer m_errorClearTimer;
    QList<float> m_waveform;
    bool m_isGeneratingWaveform = false;
    double m_duration = 0;
    double m_progress = 0;
    QUrl m_loadedURL;
    float m_volume = defaultVolume;
    float m_lastNonZeroVolume = defaultVolume;
    QString m_loadedFormat;
    bool m_previewLoops = false;
    Preferences &m_defaults;
    std::shared_ptr<const PeaksCache> m_peaksCache;
    // Declared before the engine: the engine feeds this device and must go first.
    std::unique_ptr<AudioOutput> m_output;
    std::shared_ptr<const PreviewFiles> m_files;
    std::shared_ptr<ShareGate> m_gate;
    std::unique_ptr<PlaybackEngine> m_player;
    bool m_opening = false; // the engine's open has not answered yet
    QTimer m_openWatch;
    QTimer m_progressTimer;
    QUrl m_waveformToken;
    std::optional<FileSignature> m_loadedSignature;
    double m_loadedDuration = 0; // of the decoded frames, once the waveform is known
    CancelFlagPtr m_waveformCancel;
    std::shared_ptr<FirstBlockCache> m_firstBlocks;
    CancelFlagPtr m_prepareCancel;
};
