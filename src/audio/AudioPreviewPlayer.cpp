// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioPreviewPlayer.h"

#include "AudioDecoder.h"
#include "FilePaths.h"
#include "FirstBlockCache.h"
#include "PeaksCache.h"
#include "PlaybackEngine.h"
#include "PreviewFiles.h"
#include "SdlAudioOutput.h"
#include "ShareGate.h"
#include "WaveformExtractor.h"

#include "platform/BackgroundJob.h"
#include "platform/Preferences.h"

#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

namespace {

const QString masterVolumeKey = QStringLiteral("masterVolume");
const QString lastNonZeroVolumeKey = QStringLiteral("lastNonZeroVolume");
const QString previewLoopsKey = QStringLiteral("previewLoops");
constexpr int progressIntervalMs = 1000 / 30;
constexpr int errorClearMs = 2500;
constexpr int openWatchMs = 100;

// A stored value counts only when it is a number; anything else reads as absent.
std::optional<float> storedFloat(const Preferences &defaults, const QString &key)
{
    const QVariant value = defaults.objectForKey(key);
    switch (value.typeId()) {
    case QMetaType::Float:
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const float number = value.toFloat();
        if (std::isnan(number))
            return std::nullopt;
        return number;
    }
    default:
        return std::nullopt;
    }
}

float clampedVolume(float volume)
{
    return std::clamp(volume, 0.0f, 1.0f);
}

QString lowercasedExtension(const QUrl &url)
{
    return QFileInfo(url.path()).suffix().toLower();
}

QString couldNotPlay(const QUrl &url)
{
    return QStringLiteral("Couldn't play ") + FilePaths::displayText(url.fileName());
}

// Waveform reads may wait on a share for as long as it hangs. The global pool is waited for when
// the application ends, and would be used up by such waits; this one is never waited for.
QThreadPool &waveformPool()
{
    static QThreadPool *const pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(8);
        return threads;
    }();
    return *pool;
}

// What a waveform job found: the file unchanged since its waveform was made, or its new
// signature with its overview (absent when it could not be read).
struct WaveformResult
{
    bool unchanged = false;
    std::optional<FileSignature> signature;
    std::optional<WaveformExtractor::Overview> overview;
};

} // namespace

AudioPreviewPlayer::AudioPreviewPlayer(Preferences &defaults, std::unique_ptr<AudioOutput> output,
                                       QObject *parent)
    : QObject(parent), m_defaults(defaults), m_output(std::move(output)),
      m_firstBlocks(std::make_shared<FirstBlockCache>())
{
    if (m_output == nullptr)
        m_output = std::make_unique<SdlAudioOutput>();

    const float storedVolume = storedFloat(m_defaults, masterVolumeKey).value_or(defaultVolume);
    m_volume = clampedVolume(storedVolume);
    m_lastNonZeroVolume =
        clampedVolume(storedFloat(m_defaults, lastNonZeroVolumeKey).value_or(storedVolume));
    m_previewLoops = m_defaults.boolForKey(previewLoopsKey);

    // A coarse timer may fire 5 % early, which would cut a message's 2.5 s short.
    m_errorClearTimer.setTimerType(Qt::PreciseTimer);
    m_errorClearTimer.setSingleShot(true);
    m_errorClearTimer.setInterval(errorClearMs);
    connect(&m_errorClearTimer, &QTimer::timeout, this, [this] { setLastError(QString()); });

    // A plain timer on the main loop also fires while a slider is dragged or a view scrolls.
    m_progressTimer.setTimerType(Qt::PreciseTimer);
    m_progressTimer.setInterval(progressIntervalMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &AudioPreviewPlayer::updateProgress);

    m_openWatch.setInterval(openWatchMs);
    connect(&m_openWatch, &QTimer::timeout, this, &AudioPreviewPlayer::watchOpen);
    setFiles(std::make_shared<const PreviewFiles>());
}

AudioPreviewPlayer::~AudioPreviewPlayer()
{
    if (m_waveformCancel)
        m_waveformCancel->cancel();
    if (m_prepareCancel)
        m_prepareCancel->cancel();
    dropEngine();
}

const QStringList &AudioPreviewPlayer::previewableExtensions()
{
    static const QStringList extensions{
        QStringLiteral("wav"),  QStringLiteral("wave"), QStringLiteral("aif"),
        QStringLiteral("aiff"), QStringLiteral("aifc"), QStringLiteral("caf"),
        QStringLiteral("mp3"),  QStringLiteral("m4a"),  QStringLiteral("aac"),
        QStringLiteral("mp4"),  QStringLiteral("flac"), QStringLiteral("au"),
        QStringLiteral("snd"),  QStringLiteral("ogg"),  QStringLiteral("oga")};
    return extensions;
}

bool AudioPreviewPlayer::isPreviewable(const QUrl &url)
{
    return previewableExtensions().contains(lowercasedExtension(url));
}

qint64 AudioPreviewPlayer::firstOutputNanoseconds() const
{
    return m_player ? m_player->firstOutputNanoseconds() : -1;
}

qint64 AudioPreviewPlayer::firstSoundNanoseconds() const
{
    return m_player ? m_player->firstSoundNanoseconds() : -1;
}

AudioDeviceFormat AudioPreviewPlayer::deviceFormat() const
{
    return m_output->format();
}

bool AudioPreviewPlayer::play(const QUrl &url)
{
    return startPlayback(url, 0.0);
}

bool AudioPreviewPlayer::startPlayback(const QUrl &url, double startSeconds)
{
    stop();
    if (!isPreviewable(url)) {
        resetLoadedState();
        setLastError(QStringLiteral("Can't preview .") + lowercasedExtension(url) +
                     QStringLiteral(" files"));
        return false;
    }

    std::unique_ptr<PlaybackEngine> engine;
    if (url.isLocalFile())
        engine =
            PlaybackEngine::create(url.toLocalFile(), *m_output, m_files, m_gate, m_firstBlocks);
    if (engine == nullptr) {
        failPlayback(couldNotPlay(url));
        return false;
    }

    // The engine reports from its own thread; the queued calls bring the reports here, and die
    // with this object if it goes first.
    engine->setOpenedHandler([this](quint64 engineId, const PlaybackStream::Opening &opening) {
        QMetaObject::invokeMethod(
            this, [this, engineId, opening] { engineOpened(engineId, opening); },
            Qt::QueuedConnection);
    });
    engine->setFinishedHandler([this](quint64 engineId, bool successfully) {
        QMetaObject::invokeMethod(
            this,
            [this, engineId, successfully] { audioPlayerDidFinishPlaying(engineId, successfully); },
            Qt::QueuedConnection);
    });
    engine->setVolume(m_volume);
    engine->setLooping(m_previewLoops);
    // Positioned before it starts, so not a buffer of the file's beginning is heard.
    if (startSeconds > 0)
        engine->setCurrentTime(startSeconds);
    engine->play();
    m_player = std::move(engine);
    m_opening = true;
    m_openWatch.start();

    setPlayingURL(url);
    setProgress(0);
    if (m_loadedURL != url) {
        // Nothing of the previous file applies to this one; its own facts follow its open.
        setDuration(0);
        setLoadedFormat(QString());
        m_loadedSignature.reset();
        setLoadedURL(url);
        startWaveformExtraction(url, std::nullopt);
    } else if (!(m_isGeneratingWaveform && m_waveformToken == url)) {
        // The same file again keeps its waveform unless it changed on disk, which the job finds
        // out; an extraction still under way for it is left to finish.
        startWaveformExtraction(url, m_loadedSignature);
    }
    return true;
}

void AudioPreviewPlayer::engineOpened(quint64 engineId, const PlaybackStream::Opening &opening)
{
    if (m_player == nullptr || m_player->id() != engineId || !m_opening)
        return;
    m_opening = false;
    m_openWatch.stop();
    switch (opening.outcome) {
    case PlaybackStream::Outcome::Opened:
        break;
    case PlaybackStream::Outcome::NotAnswering:
        failPlayback(couldNotPlay(m_playingURL) + QStringLiteral(": the disk isn't answering"));
        return;
    case PlaybackStream::Outcome::Failed:
        failPlayback(couldNotPlay(m_playingURL));
        return;
    }
    // The decoded length, once the waveform knows it, is the one the playhead spans.
    setDuration(m_loadedDuration > 0 ? m_loadedDuration : opening.duration);
    setLoadedFormat(opening.formatFacts);
    setLastError(QString());
    m_progressTimer.start();
}

void AudioPreviewPlayer::watchOpen()
{
    if (m_player == nullptr || !m_opening) {
        m_openWatch.stop();
        return;
    }
    // The engine's thread stays behind in its call; the gate counts it until the share answers.
    if (m_player->openWaitMilliseconds() >= m_gate->answerWithin().count()) {
        m_opening = false;
        m_openWatch.stop();
        failPlayback(couldNotPlay(m_playingURL) + QStringLiteral(": the disk isn't answering"));
    }
}

void AudioPreviewPlayer::failPlayback(const QString &message)
{
    m_progressTimer.stop();
    dropEngine();
    resetLoadedState();
    setLastError(message);
    setPlayingURL(QUrl());
    setProgress(0);
}

void AudioPreviewPlayer::stop()
{
    m_progressTimer.stop();
    m_openWatch.stop();
    m_opening = false;
    dropEngine();
    setPlayingURL(QUrl());
    setProgress(0);
}

void AudioPreviewPlayer::seek(double fraction)
{
    if (!(m_duration > 0) || !std::isfinite(fraction))
        return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (m_player == nullptr) {
        if (m_loadedURL.isEmpty())
            return;
        // Playing replaces the loaded state, so it gets a copy of the URL. The loaded length is
        // the decoded one, which the container's estimate may miss by the encoder's padding.
        const QUrl loaded = m_loadedURL;
        if (!startPlayback(loaded, fraction * m_duration))
            return;
    } else {
        m_player->setCurrentTime(fraction * m_duration);
    }
    setProgress(fraction);
}

void AudioPreviewPlayer::toggleMute()
{
    if (m_volume > 0)
        setVolume(0);
    else
        setVolume(m_lastNonZeroVolume > 0 ? m_lastNonZeroVolume : defaultVolume);
}

void AudioPreviewPlayer::setVolume(float volume)
{
    if (std::isnan(volume))
        return;
    volume = clampedVolume(volume);
    if (volume == m_volume)
        return;
    m_volume = volume;
    if (m_player != nullptr)
        m_player->setVolume(m_volume);
    m_defaults.setFloat(m_volume, masterVolumeKey);
    if (m_volume > 0) {
        m_lastNonZeroVolume = m_volume;
        m_defaults.setFloat(m_volume, lastNonZeroVolumeKey);
    }
    Q_EMIT volumeChanged();
}

void AudioPreviewPlayer::setPreviewLoops(bool loops)
{
    if (loops == m_previewLoops)
        return;
    m_previewLoops = loops;
    if (m_player != nullptr)
        m_player->setLooping(loops);
    m_defaults.setBool(loops, previewLoopsKey);
    Q_EMIT previewLoopsChanged();
}

void AudioPreviewPlayer::prepare(const QList<QUrl> &urls)
{
    if (m_prepareCancel)
        m_prepareCancel->cancel();
    QStringList paths;
    for (const QUrl &url : urls) {
        if (url.isLocalFile() && isPreviewable(url))
            paths.append(url.toLocalFile());
    }
    if (paths.isEmpty())
        return;
    m_prepareCancel = std::make_shared<CancelFlag>();
    const CancelFlagPtr flag = m_prepareCancel;
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [paths, files = m_files, gate = m_gate, cache = m_firstBlocks, flag,
         device = m_output->format()] {
            const auto cancelled = [&flag] { return flag->isCancelled(); };
            for (const QString &path : paths) {
                if (cancelled())
                    break;
                const QString share = files->shareOf(path);
                const ShareGate::Entry entry = gate->enter(share, cancelled);
                if (entry.answer != ShareGate::Answer::Admitted)
                    continue;
                const PreviewFiles::Status status = files->status(path);
                entry.pass->answered();
                if (status.kind != PreviewFiles::Kind::Regular || !status.signature.has_value() ||
                    cache->contains(path, *status.signature))
                    continue;
                const std::unique_ptr<AudioDecoder> decoder = files->open(path, [&] {
                    entry.pass->answered();
                    return cancelled();
                });
                if (decoder != nullptr)
                    cache->store(path, FirstBlockCache::decode(*decoder, *status.signature, share,
                                                               device, flag.get()));
            }
            return true;
        },
        [this](bool) { Q_EMIT firstBlocksPrepared(); }, &waveformPool());
}

void AudioPreviewPlayer::setPeaksCache(std::shared_ptr<const PeaksCache> cache)
{
    m_peaksCache = std::move(cache);
}

void AudioPreviewPlayer::setFiles(std::shared_ptr<const PreviewFiles> files,
                                  std::chrono::milliseconds answerWithin)
{
    m_files = std::move(files);
    m_gate = ShareGate::create(answerWithin);
}

void AudioPreviewPlayer::setLastError(const QString &message)
{
    m_errorClearTimer.stop();
    const bool changed = message.isNull() != m_lastError.isNull() || message != m_lastError;
    m_lastError = message;
    if (!m_lastError.isNull())
        m_errorClearTimer.start();
    if (changed)
        Q_EMIT lastErrorChanged();
}

void AudioPreviewPlayer::audioPlayerDidFinishPlaying(quint64 engineId, bool successfully)
{
    Q_UNUSED(successfully)
    if (m_player == nullptr || m_player->id() != engineId)
        return;
    m_progressTimer.stop();
    dropEngine();
    setPlayingURL(QUrl());
    setProgress(0);
}

void AudioPreviewPlayer::updateProgress()
{
    if (m_player == nullptr || m_playingURL.isEmpty() || !(m_duration > 0))
        return;
    setProgress(std::clamp(m_player->currentTime() / m_duration, 0.0, 1.0));
}

void AudioPreviewPlayer::dropEngine()
{
    if (m_player == nullptr)
        return;
    m_player->stop();
    m_player.reset();
}

void AudioPreviewPlayer::resetLoadedState()
{
    setDuration(0);
    setLoadedURL(QUrl());
    setLoadedFormat(QString());
    m_loadedSignature.reset();
    setWaveform({});
    setIsGeneratingWaveform(false);
    m_waveformToken = QUrl();
    // The running extraction's result would be dropped anyway; stop it early.
    if (m_waveformCancel)
        m_waveformCancel->cancel();
}

void AudioPreviewPlayer::startWaveformExtraction(const QUrl &url,
                                                 const std::optional<FileSignature> &known)
{
    if (!known.has_value()) {
        setWaveform({});
        setIsGeneratingWaveform(true);
        m_loadedDuration = 0;
    }
    m_waveformToken = url;

    // A superseded extraction could never be applied; cancelling it frees its thread for the
    // file the user is on now.
    if (m_waveformCancel)
        m_waveformCancel->cancel();
    m_waveformCancel = std::make_shared<CancelFlag>();
    const CancelFlagPtr flag = m_waveformCancel;
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [url, known, files = m_files, gate = m_gate, cache = m_peaksCache,
         flag]() -> WaveformResult {
            if (!url.isLocalFile())
                return {};
            const QString path = url.toLocalFile();
            PreviewFiles::Status status;
            {
                const ShareGate::Entry entry =
                    gate->enter(files->shareOf(path), [&flag] { return flag->isCancelled(); });
                if (entry.answer != ShareGate::Answer::Admitted)
                    return {};
                status = files->status(path);
            }
            if (status.kind != PreviewFiles::Kind::Regular)
                return {};
            if (known.has_value() && status.signature == known)
                return {true, status.signature, std::nullopt};
            // A cache entry is a few kilobytes and arrives long before a decode could start.
            const bool cacheable = cache != nullptr && status.signature.has_value();
            if (cacheable) {
                if (auto hit = cache->find(path, *status.signature, waveformBarCount))
                    return {false, status.signature, std::move(hit)};
            }
            std::optional<WaveformExtractor::Overview> overview =
                WaveformExtractor::computeOverview(url, waveformBarCount, flag.get());
            if (cacheable && overview.has_value() && !flag->isCancelled())
                cache->store(path, *status.signature, *overview);
            return {false, status.signature, std::move(overview)};
        },
        [this, url](WaveformResult result) {
            if (m_waveformToken != url)
                return;
            if (!result.unchanged) {
                m_loadedSignature = result.signature;
                // The container's stated length may differ from the frames really decoded and
                // played; the waveform spans the latter, and so do the duration and the playhead.
                const auto &overview = result.overview;
                m_loadedDuration = overview && overview->sampleRate > 0
                                       ? double(overview->frames) / overview->sampleRate
                                       : 0.0;
                setWaveform(overview ? overview->peaks : QList<float>());
            }
            if (m_playingURL == url && !m_opening && m_loadedDuration > 0)
                setDuration(m_loadedDuration);
            setIsGeneratingWaveform(false);
        },
        &waveformPool());
}

void AudioPreviewPlayer::setPlayingURL(const QUrl &url)
{
    if (url == m_playingURL)
        return;
    m_playingURL = url;
    Q_EMIT playingURLChanged();
}

void AudioPreviewPlayer::setWaveform(const QList<float> &waveform)
{
    if (waveform == m_waveform)
        return;
    m_waveform = waveform;
    Q_EMIT waveformChanged();
}

void AudioPreviewPlayer::setIsGeneratingWaveform(bool generating)
{
    if (generating == m_isGeneratingWaveform)
        return;
    m_isGeneratingWaveform = generating;
    Q_EMIT isGeneratingWaveformChanged();
}

void AudioPreviewPlayer::setDuration(double duration)
{
    if (duration == m_duration)
        return;
    m_duration = duration;
    Q_EMIT durationChanged();
}

void AudioPreviewPlayer::setProgress(double progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    Q_EMIT progressChanged();
}

void AudioPreviewPlayer::setLoadedURL(const QUrl &url)
{
    if (url == m_loadedURL)
        return;
    m_loadedURL = url;
    Q_EMIT loadedURLChanged();
}

void AudioPreviewPlayer::setLoadedFormat(const QString &format)
{
    if (format == m_loadedFormat)
        return;
    m_loadedFormat = format;
    Q_EMIT loadedFormatChanged();
}
