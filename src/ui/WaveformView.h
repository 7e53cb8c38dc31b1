#pragma once

#include <QWidget>

class AudioPreviewPlayer;

// The waveform of the loaded sample with its title, playhead and click-to-seek.
class WaveformView final : public QWidget
{
    Q_OBJECT

public:
    explicit WaveformView(AudioPreviewPlayer &player, QWidget *parent = nullptr);
    ~WaveformView() override;
    Q_DISABLE_COPY_MOVE(WaveformView)

private:
    AudioPreviewPlayer &m_player;
};
