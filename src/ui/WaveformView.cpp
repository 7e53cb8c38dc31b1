#include "WaveformView.h"

#include "audio/AudioPreviewPlayer.h"

WaveformView::WaveformView(AudioPreviewPlayer &player, QWidget *parent)
    : QWidget(parent), m_player(player)
{}

WaveformView::~WaveformView() = default;
