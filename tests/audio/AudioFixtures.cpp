// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFixtures.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <cstring>

namespace AudioFixtures {

QStringList encoderOptions(const QString &extension)
{
    static const QHash<QString, QString> formats{
        {u"wav"_qs, u"wav pcm_s16le"_qs},   {u"wave"_qs, u"wav pcm_s16le"_qs},
        {u"aif"_qs, u"aiff pcm_s16be"_qs},  {u"aiff"_qs, u"aiff pcm_s16be"_qs},
        {u"aifc"_qs, u"aiff pcm_s24be"_qs}, {u"caf"_qs, u"caf pcm_s16le"_qs},
        {u"mp3"_qs, u"mp3 libmp3lame"_qs},  {u"m4a"_qs, u"ipod aac"_qs},
        {u"mp4"_qs, u"mp4 aac"_qs},         {u"aac"_qs, u"adts aac"_qs},
        {u"flac"_qs, u"flac flac"_qs},      {u"au"_qs, u"au pcm_s16be"_qs},
        {u"snd"_qs, u"au pcm_s16be"_qs},    {u"ogg"_qs, u"ogg libvorbis"_qs},
        {u"oga"_qs, u"ogg libopus"_qs},
    };
    const QStringList parts = formats.value(extension.toLower()).split(u' ');
    if (parts.size() != 2)
        return {};
    return {QStringLiteral("-f"), parts[0], QStringLiteral("-c:a"), parts[1]};
}

bool makeFloatWav(const QString &path, const QStringList &channelExpressions, double seconds,
                  int sampleRate)
{
    // Quoted, so that commas inside an expression do not split the filter graph.
    const QString source = QStringLiteral("aevalsrc=exprs='%1':sample_rate=%2:duration=%3")
                               .arg(channelExpressions.join(QStringLiteral("'|'")))
                               .arg(sampleRate)
                               .arg(seconds);
    return TestSupport::makeAudio(path, source,
                                  {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
}

std::optional<std::vector<float>> decodeWithFfmpeg(const QString &path,
                                                   const QStringList &inputOptions)
{
    const TestSupport::ProcessResult decoded =
        TestSupport::run(QStringLiteral("ffmpeg"),
                         QStringList{QStringLiteral("-v"), QStringLiteral("error")} + inputOptions +
                             QStringList{QStringLiteral("-i"), path, QStringLiteral("-f"),
                                         QStringLiteral("f32le"), QStringLiteral("-")});
    if (decoded.exitCode != 0)
        return std::nullopt;
    std::vector<float> samples(size_t(decoded.out.size()) / sizeof(float));
    std::memcpy(samples.data(), decoded.out.constData(), samples.size() * sizeof(float));
    return samples;
}

QList<float> referencePeaks(const std::vector<float> &interleaved, int channels, int count)
{
    QList<float> peaks(count, 0.0f);
    const qint64 length = qint64(interleaved.size()) / channels;
    for (qint64 f = 0; f < length; ++f) {
        float &peak = peaks[f * count / length];
        for (int c = 0; c < channels; ++c)
            peak = std::max(peak, std::fabs(interleaved[size_t(f * channels + c)]));
    }
    const float loudest = *std::max_element(peaks.begin(), peaks.end());
    for (float &peak : peaks)
        peak = loudest > 0 ? peak / loudest : 0.0f;
    return peaks;
}

std::vector<float> withoutSilentFrames(const std::vector<float> &interleaved, int channels)
{
    std::vector<float> kept;
    for (auto frame = interleaved.begin(); interleaved.end() - frame >= channels;
         frame += channels) {
        if (std::any_of(frame, frame + channels, [](float sample) { return sample != 0.0f; }))
            kept.insert(kept.end(), frame, frame + channels);
    }
    return kept;
}

} // namespace AudioFixtures

void ManualAudioOutput::setRenderer(AudioRenderer *renderer)
{
    const std::lock_guard lock(m_mutex);
    m_renderer = renderer;
}

bool ManualAudioOutput::hasRenderer()
{
    const std::lock_guard lock(m_mutex);
    return m_renderer != nullptr;
}

std::vector<float> ManualAudioOutput::pull(int frames)
{
    std::vector<float> buffer(size_t(frames) * size_t(m_format.channelCount), 0.0f);
    const std::lock_guard lock(m_mutex);
    if (m_renderer != nullptr)
        m_renderer->render(buffer.data(), frames);
    return buffer;
}

std::vector<float> ManualAudioOutput::pullUntil(const std::function<bool()> &done, int limit)
{
    std::vector<float> all;
    for (int i = 0; i < limit; ++i) {
        QCoreApplication::processEvents();
        if (done())
            break;
        const std::vector<float> buffer = pull();
        all.insert(all.end(), buffer.begin(), buffer.end());
        QThread::usleep(300);
    }
    return all;
}
