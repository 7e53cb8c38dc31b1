#include "AudioFixtures.h"

#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstring>

namespace AudioFixtures {

QStringList encoderOptions(const QString &extension)
{
    const auto options = [](const char *format, const char *codec) {
        return QStringList{QStringLiteral("-f"), QLatin1String(format), QStringLiteral("-c:a"),
                           QLatin1String(codec)};
    };
    if (extension == QLatin1String("wav") || extension == QLatin1String("wave"))
        return options("wav", "pcm_s16le");
    if (extension == QLatin1String("aif") || extension == QLatin1String("aiff"))
        return options("aiff", "pcm_s16be");
    if (extension == QLatin1String("aifc"))
        return options("aiff", "pcm_s24be");
    if (extension == QLatin1String("caf"))
        return options("caf", "pcm_s16le");
    if (extension == QLatin1String("mp3"))
        return options("mp3", "libmp3lame");
    if (extension == QLatin1String("m4a"))
        return options("ipod", "aac");
    if (extension == QLatin1String("mp4"))
        return options("mp4", "aac");
    if (extension == QLatin1String("aac"))
        return options("adts", "aac");
    if (extension == QLatin1String("flac"))
        return options("flac", "flac");
    if (extension == QLatin1String("au") || extension == QLatin1String("snd"))
        return options("au", "pcm_s16be");
    if (extension == QLatin1String("ogg") || extension == QLatin1String("oga"))
        return options("ogg", "flac");
    return {};
}

bool makeTone(const QString &path, double seconds, int sampleRate, int channels)
{
    const QString source = QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                               .arg(sampleRate)
                               .arg(seconds);
    QStringList options{QStringLiteral("-ac"), QString::number(channels)};
    options += encoderOptions(QFileInfo(path).suffix().toLower());
    return TestSupport::makeAudio(path, source, options);
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

std::optional<std::vector<float>> decodeWithFfmpeg(const QString &path, int *channels)
{
    const TestSupport::ProcessResult probe = TestSupport::run(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("a:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=channels"),
         QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
    if (probe.exitCode != 0)
        return std::nullopt;
    const int count = probe.out.trimmed().toInt();
    if (channels != nullptr)
        *channels = count;
    const TestSupport::ProcessResult decoded =
        TestSupport::run(QStringLiteral("ffmpeg"),
                         {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                          QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-c:a"),
                          QStringLiteral("pcm_f32le"), QStringLiteral("-")});
    if (decoded.exitCode != 0 || count <= 0)
        return std::nullopt;
    std::vector<float> samples(size_t(decoded.out.size()) / sizeof(float));
    std::memcpy(samples.data(), decoded.out.constData(), samples.size() * sizeof(float));
    return samples;
}

QVector<float> referencePeaks(const std::vector<float> &interleaved, int channels, int count)
{
    QVector<float> peaks(count, 0.0f);
    const qint64 length = qint64(interleaved.size()) / channels;
    for (qint64 f = 0; f < length; ++f) {
        const qint64 k = f * count / length;
        float m = 0;
        for (int c = 0; c < channels; ++c)
            m = std::max(m, std::fabs(interleaved[size_t(f * channels + c)]));
        peaks[k] = std::max(peaks[k], m);
    }
    float loudest = 0;
    for (float peak : peaks)
        loudest = std::max(loudest, peak);
    if (loudest > 0) {
        for (float &peak : peaks)
            peak /= loudest;
    }
    return peaks;
}

} // namespace AudioFixtures
