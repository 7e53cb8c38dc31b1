// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tags/FinderTag.h"

#include <QList>
#include <QWidget>

class AudioPreviewPlayer;
class BrowserModel;
class GradientSlider;
class QAbstractButton;
class QLabel;
class TagSwatch;

// The tool bar: mute button, volume slider and percentage, then the collapse-all button and the
// seven tag filter swatches centred in the remaining width.
class VolumeBar final : public QWidget
{
    Q_OBJECT

public:
    explicit VolumeBar(BrowserModel &model, AudioPreviewPlayer &player, QWidget *parent = nullptr);
    ~VolumeBar() override;
    Q_DISABLE_COPY_MOVE(VolumeBar)

    // The speaker symbol for a volume level.
    static QString speakerSymbol(float volume);
    // "80%" for 0.8.
    static QString percentText(float volume);

    QAbstractButton *muteButton() const { return m_muteButton; }
    GradientSlider *slider() const { return m_slider; }
    QLabel *percentLabel() const { return m_percentLabel; }
    QAbstractButton *collapseButton() const { return m_collapseButton; }
    const QList<TagSwatch *> &swatches() const { return m_swatches; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColors();
    void showVolume();
    void showExpansion();
    void showTagFilters();

    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    QAbstractButton *m_muteButton = nullptr;
    GradientSlider *m_slider = nullptr;
    QLabel *m_percentLabel = nullptr;
    QWidget *m_divider = nullptr;
    QAbstractButton *m_collapseButton = nullptr;
    QList<TagSwatch *> m_swatches;
};
