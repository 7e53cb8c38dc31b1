#pragma once

#include <QWidget>

class AudioPreviewPlayer;
class BrowserModel;

// The tool bar above the browser: volume, collapse-all and the tag filter swatches.
class VolumeBar final : public QWidget
{
    Q_OBJECT

public:
    explicit VolumeBar(BrowserModel &model, AudioPreviewPlayer &player, QWidget *parent = nullptr);
    ~VolumeBar() override;
    Q_DISABLE_COPY_MOVE(VolumeBar)

private:
    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
};
