#pragma once

#include "audio/AudioOutput.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <mutex>
#include <optional>
#include <vector>

// Fixtures and stand-ins shared by the audio tests.
namespace AudioFixtures {

// The ffmpeg output options that write `extension` (one of the previewable ones, or ogg).
QStringList encoderOptions(const QString &extension);

// A sine tone in a file of the given extension.
bool makeTone(const QString &path, double seconds, int sampleRate = 44100, int channels = 2);

// A 32-bit float WAV built from an aevalsrc expression per channel (`t` is the time in seconds).
bool makeFloatWav(const QString &path, const QStringList &channelExpressions, double seconds,
                  int sampleRate);

// Decodes `path` with the ffmpeg tool into interleaved floats at the file's own rate.
std::optional<std::vector<float>> decodeWithFfmpeg(const QString &path, int *channels = nullptr);

// The peaks by the plain per-frame rule, as an oracle for the optimised builder.
QVector<float> referencePeaks(const std::vector<float> &interleaved, int channels, int count);

} // namespace AudioFixtures

// An output the test pulls by hand: the test thread plays the device thread.
class ManualAudioOutput final : public AudioOutput
{
public:
    explicit ManualAudioOutput(int sampleRate = 48000, int channelCount = 2, bool available = true)
        : m_format{sampleRate, channelCount}, m_available(available)
    {}

    bool open() override
    {
        ++m_opens;
        return m_available;
    }
    AudioDeviceFormat format() const override { return m_format; }
    void setRenderer(AudioRenderer *renderer) override
    {
        const std::lock_guard lock(m_mutex);
        m_renderer = renderer;
    }

    int opens() const { return m_opens; }
    bool hasRenderer()
    {
        const std::lock_guard lock(m_mutex);
        return m_renderer != nullptr;
    }
    // One device buffer of `frames` interleaved frames; silence when nothing is attached.
    std::vector<float> pull(int frames)
    {
        std::vector<float> buffer(size_t(frames) * size_t(m_format.channelCount), 0.0f);
        const std::lock_guard lock(m_mutex);
        if (m_renderer != nullptr)
            m_renderer->render(buffer.data(), frames);
        return buffer;
    }

private:
    AudioDeviceFormat m_format;
    bool m_available = true;
    int m_opens = 0;
    std::mutex m_mutex;
    AudioRenderer *m_renderer = nullptr;
};
