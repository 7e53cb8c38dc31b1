// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPixmap>
#include <QWidget>

#include <optional>

class AudioPreviewPlayer;
class BrowserModel;

// The strip under the browser: the loaded sample's name and length, its waveform with the
// playhead and a hover line, and click-or-drag to play from any point.
class WaveformView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int defaultHeight = 88;

    explicit WaveformView(AudioPreviewPlayer &player, QWidget *parent = nullptr);
    ~WaveformView() override;
    Q_DISABLE_COPY_MOVE(WaveformView)

    // The title adds the tempo and key the model knows of the loaded file.
    void showSoundFactsFrom(BrowserModel &model);

    // "name  ·  m:ss  ·  format  ·  120 BPM  ·  Am", or empty while nothing is loaded.
    QString titleText() const;
    // What stands in for the bars while there are none; empty while bars are shown.
    QString placeholderText() const;
    // The part that shows the bars and takes clicks, in widget coordinates.
    QRectF waveformArea() const;
    std::optional<qreal> hoverX() const { return m_hoverX; }

    // The length as the title shows it; empty below half a second.
    static QString formatDuration(double seconds);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void onProgressChanged();
    void onWaveformChanged();
    void setHoverX(std::optional<qreal> x);
    void seekTo(qreal x);
    void updateLine(std::optional<qreal> x);
    QRect lineRect(qreal x) const;
    std::optional<qreal> playheadX() const;
    const QPixmap &barsPixmap();
    void paintPlaceholder(QPainter &painter, const QRectF &area) const;
    QFont titleFont() const;
    QFont captionFont() const;
    int titleHeight() const;

    AudioPreviewPlayer &m_player;
    BrowserModel *m_model = nullptr;
    std::optional<qreal> m_hoverX;
    bool m_dragging = false;
    // Where the playhead was last asked to be drawn, so a tick repaints only where it was and
    // where it goes.
    std::optional<qreal> m_lastPlayheadX;
    QPixmap m_barsCache;
    bool m_barsCacheValid = false;
};
