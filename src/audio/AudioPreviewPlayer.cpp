#include "AudioPreviewPlayer.h"

#include "FilePaths.h"
#include "PeaksCache.h"
#include "PlaybackEngine.h"
#include "SdlAudioOutput.h"
#include "WaveformExtractor.h"

#include "platform/BackgroundJob.h"
#include "platform/Preferences.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

const QString masterVolumeKey = QStringLiteral("masterVolume");
const QString lastNonZeroVolumeKey = QStringLiteral("lastNonZeroVolume");
const QString previewLoopsKey = QStringLiteral("previewLoops");
constexpr int progressIntervalMs = 1000 / 30;
constexpr int errorClearMs = 2500;

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

} // namespace

AudioPreviewPlayer::AudioPreviewPlayer(Preferences &defaults, std::unique_ptr<AudioOutput> output,
                                       QObject *parent)
    : QObject(parent), m_defaults(defaults), m_output(std::move(output))
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
}

AudioPreviewPlayer::~AudioPreviewPlayer()
{
    if (m_waveformCancel)
        m_waveformCancel->cancel();
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
        engine = PlaybackEngine::create(url.toLocalFile(), *m_output);
    if (engine == nullptr) {
        resetLoadedState();
        setLastError(QStringLiteral("Couldn't play ") + FilePaths::displayText(url.fileName()));
        setPlayingURL(QUrl());
        return false;
    }

    // The engine reports from its decoder thread; the queued call brings the report here, and
    // it dies with this object if the object goes first.
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

    setPlayingURL(url);
    setDuration(m_player->duration());
    setProgress(0);
    setLastError(QString());
    m_progressTimer.start();

    const std::optional<FileSignature> signature = FileSignature::of(url);
    if (m_loadedURL != url || m_loadedSignature != signature)
        startWaveformExtraction(url, signature);
    else if (m_loadedDuration > 0)
        setDuration(m_loadedDuration);
    setLoadedURL(url);
    setLoadedFormat(m_player->formatFacts());
    m_loadedSignature = signature;
    return true;
}

void AudioPreviewPlayer::stop()
{
    m_progressTimer.stop();
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

void AudioPreviewPlayer::setPeaksCache(std::shared_ptr<const PeaksCache> cache)
{
    m_peaksCache = std::move(cache);
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
                                                 const std::optional<FileSignature> &signature)
{
    setWaveform({});
    setIsGeneratingWaveform(true);
    m_waveformToken = url;
    m_loadedDuration = 0;

    // A superseded extraction could never be applied; cancelling it frees the thread pool for
    // the file the user is on now.
    if (m_waveformCancel)
        m_waveformCancel->cancel();
    m_waveformCancel = std::make_shared<CancelFlag>();
    const CancelFlagPtr flag = m_waveformCancel;
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [url, signature, cache = m_peaksCache,
         flag]() -> std::optional<WaveformExtractor::Overview> {
            // A cache entry is a few kilobytes; reading it here keeps the GUI thread off the
            // disk, and it arrives long before a decode of the same file could start.
            const bool cacheable = cache != nullptr && signature.has_value() && url.isLocalFile();
            if (cacheable) {
                if (auto hit = cache->find(url.toLocalFile(), *signature, waveformBarCount))
                    return hit;
            }
            std::optional<WaveformExtractor::Overview> overview =
                WaveformExtractor::computeOverview(url, waveformBarCount, flag.get());
            if (cacheable && overview.has_value() && !flag->isCancelled())
                cache->store(url.toLocalFile(), *signature, *overview);
            return overview;
        },
        [this, url](std::optional<WaveformExtractor::Overview> overview) {
            if (m_waveformToken != url)
                return;
            // The container's stated length may differ from the frames really decoded and
            // played; the waveform spans the latter, and so do the duration and the playhead.
            m_loadedDuration = overview && overview->sampleRate > 0
                                   ? double(overview->frames) / overview->sampleRate
                                   : 0.0;
            if (m_playingURL == url && m_loadedDuration > 0)
                setDuration(m_loadedDuration);
            setWaveform(overview ? overview->peaks : QList<float>());
            setIsGeneratingWaveform(false);
        });
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
