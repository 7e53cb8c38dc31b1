#include "VolumeBar.h"

#include "audio/AudioPreviewPlayer.h"
#include "model/BrowserModel.h"

VolumeBar::VolumeBar(BrowserModel &model, AudioPreviewPlayer &player, QWidget *parent)
    : QWidget(parent), m_model(model), m_player(player)
{}

VolumeBar::~VolumeBar() = default;
