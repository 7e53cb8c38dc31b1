// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WaveformView.h"

#include "BrowserModel.h"
#include "FilePaths.h"
#include "SoundFactsText.h"
#include "SymbolIcon.h"
#include "WaveformBars.h"

#include "audio/AudioPreviewPlayer.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int titleTopMargin = 8;
constexpr int sideMargin = 12;
constexpr int rowSpacing = 4;
constexpr qreal lineInset = 2;
constexpr qreal playheadWidth = 1.5;
constexpr qreal hoverWidth = 1;
constexpr int placeholderSymbolSize = 14;
constexpr int placeholderGap = 6;

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

WaveformView::WaveformView(AudioPreviewPlayer &player, QWidget *parent)
    : QWidget(parent), m_player(player)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    setFixedHeight(defaultHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    const auto repaint = [this] { update(); };
    connect(&m_player, &AudioPreviewPlayer::loadedURLChanged, this, repaint);
    connect(&m_player, &AudioPreviewPlayer::durationChanged, this, repaint);
    connect(&m_player, &AudioPreviewPlayer::loadedFormatChanged, this, repaint);
    connect(&m_player, &AudioPreviewPlayer::isGeneratingWaveformChanged, this, repaint);
    connect(&m_player, &AudioPreviewPlayer::playingURLChanged, this, [this] {
        m_lastPlayheadX = playheadX();
        update();
    });
    connect(&m_player, &AudioPreviewPlayer::waveformChanged, this,
            &WaveformView::onWaveformChanged);
    connect(&m_player, &AudioPreviewPlayer::progressChanged, this,
            &WaveformView::onProgressChanged);
}

WaveformView::~WaveformView() = default;

void WaveformView::showSoundFactsFrom(BrowserModel &model)
{
    m_model = &model;
    connect(&model.soundAnalysis(), &SoundAnalysisQueue::factsChanged, this, [this] { update(); });
}

QString WaveformView::formatDuration(double seconds)
{
    if (!std::isfinite(seconds))
        return {};
    const long long whole = std::llround(seconds);
    if (whole < 1)
        return {};
    return QString::asprintf("%lld:%02lld", whole / 60, whole % 60);
}

QString WaveformView::titleText() const
{
    const QUrl loaded = m_player.loadedURL();
    if (loaded.isEmpty())
        return {};
    QString title = FilePaths::displayText(FilePaths::lastComponent(loaded.toLocalFile()));
    const QString length = formatDuration(m_player.duration());
    if (!length.isEmpty())
        title += QStringLiteral("  \u00B7  ") + length;
    const QString format = m_player.loadedFormat();
    if (!format.isEmpty())
        title += QStringLiteral("  \u00B7  ") + format;
    const QString sound =
        m_model ? SoundFactsText::summary(m_model->soundFacts(loaded)) : QString();
    if (!sound.isEmpty())
        title += QStringLiteral("  \u00B7  ") + sound;
    return title;
}

QString WaveformView::placeholderText() const
{
    if (!m_player.waveform().isEmpty())
        return {};
    if (m_player.isGeneratingWaveform())
        return tr("Loading waveform\u2026");
    if (m_player.playingURL().isEmpty())
        return tr("No sample playing");
    return tr("Waveform unavailable");
}

QFont WaveformView::titleFont() const
{
    QFont result = font();
    result.setPixelSize(11);
    return result;
}

QFont WaveformView::captionFont() const
{
    QFont result = font();
    result.setPixelSize(11);
    return result;
}

int WaveformView::titleHeight() const
{
    return QFontMetrics(titleFont()).height();
}

QRectF WaveformView::waveformArea() const
{
    const qreal top =
        m_player.loadedURL().isEmpty() ? 0 : titleTopMargin + titleHeight() + rowSpacing;
    return QRectF(0, top, width(), std::max<qreal>(0, height() - top));
}

QSize WaveformView::sizeHint() const
{
    return QSize(400, defaultHeight);
}

QSize WaveformView::minimumSizeHint() const
{
    return QSize(sideMargin * 2, defaultHeight);
}

std::optional<qreal> WaveformView::playheadX() const
{
    if (m_player.playingURL().isEmpty())
        return std::nullopt;
    const QRectF area = waveformArea();
    return area.left() + std::clamp(m_player.progress(), 0.0, 1.0) * area.width();
}

QRect WaveformView::lineRect(qreal x) const
{
    const QRectF area = waveformArea();
    // Wide enough for the antialiased edges of a 1.5-point line.
    return QRectF(x - 2, area.top(), 4, area.height()).toAlignedRect();
}

void WaveformView::updateLine(std::optional<qreal> x)
{
    if (x)
        update(lineRect(*x));
}

void WaveformView::onProgressChanged()
{
    const std::optional<qreal> next = playheadX();
    if (next == m_lastPlayheadX)
        return;
    if (!m_player.waveform().isEmpty()) {
        updateLine(m_lastPlayheadX);
        updateLine(next);
    }
    m_lastPlayheadX = next;
}

void WaveformView::onWaveformChanged()
{
    m_barsCacheValid = false;
    update();
}

void WaveformView::setHoverX(std::optional<qreal> x)
{
    if (x == m_hoverX)
        return;
    const qreal left = waveformArea().left();
    if (!m_player.waveform().isEmpty()) {
        if (m_hoverX)
            updateLine(left + *m_hoverX);
        if (x)
            updateLine(left + *x);
    }
    m_hoverX = x;
}

void WaveformView::seekTo(qreal x)
{
    const QRectF area = waveformArea();
    if (area.width() <= 0)
        return;
    m_player.seek(std::clamp((x - area.left()) / area.width(), 0.0, 1.0));
}

void WaveformView::mousePressEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    if (event->button() != Qt::LeftButton || !waveformArea().contains(pos)) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    seekTo(pos.x());
    event->accept();
}

void WaveformView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    const QRectF area = waveformArea();
    if (m_dragging || area.contains(pos))
        setHoverX(std::clamp(pos.x() - area.left(), 0.0, area.width()));
    else
        setHoverX(std::nullopt);
    if (m_dragging)
        seekTo(pos.x());
    event->accept();
}

void WaveformView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        if (!rect().contains(event->position().toPoint()))
            setHoverX(std::nullopt);
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void WaveformView::leaveEvent(QEvent *event)
{
    if (!m_dragging)
        setHoverX(std::nullopt);
    QWidget::leaveEvent(event);
}

void WaveformView::resizeEvent(QResizeEvent *event)
{
    m_barsCacheValid = false;
    m_lastPlayheadX = playheadX();
    QWidget::resizeEvent(event);
}

void WaveformView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        m_barsCacheValid = false;
        update();
    }
    QWidget::changeEvent(event);
}

const QPixmap &WaveformView::barsPixmap()
{
    const QSizeF size = waveformArea().size();
    const qreal ratio = devicePixelRatioF();
    const QSize device = (size * ratio).toSize();
    if (m_barsCacheValid && m_barsCache.size() == device &&
        qFuzzyCompare(m_barsCache.devicePixelRatio(), ratio))
        return m_barsCache;
    m_barsCache = QPixmap(device.expandedTo(QSize(1, 1)));
    m_barsCache.setDevicePixelRatio(ratio);
    m_barsCache.fill(Qt::transparent);
    QPainter painter(&m_barsCache);
    WaveformBars::paint(painter, m_player.waveform(), size);
    m_barsCacheValid = true;
    return m_barsCache;
}

void WaveformView::paintPlaceholder(QPainter &painter, const QRectF &area) const
{
    const QString text = placeholderText();
    const QColor tertiary = withAlpha(palette().color(QPalette::WindowText), 0.32);
    const QFont font = captionFont();
    const QFontMetricsF metrics(font);
    const qreal textWidth = metrics.horizontalAdvance(text);
    const qreal total = placeholderSymbolSize + placeholderGap + textWidth;
    const qreal left = std::round(area.center().x() - total / 2);
    const qreal middle = area.center().y();
    SymbolIcon::paint(painter,
                      QRectF(left, std::round(middle - placeholderSymbolSize / 2.0),
                             placeholderSymbolSize, placeholderSymbolSize),
                      QStringLiteral("waveform"), tertiary);
    painter.setFont(font);
    painter.setPen(tertiary);
    const QRectF textRect(left + placeholderSymbolSize + placeholderGap,
                          middle - metrics.height() / 2, textWidth + 1, metrics.height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void WaveformView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    const QColor primary = palette().color(QPalette::WindowText);
    const QColor secondary = withAlpha(primary, 0.55);

    const QString title = titleText();
    if (!title.isEmpty()) {
        const QRect titleRect(sideMargin, titleTopMargin, width() - 2 * sideMargin, titleHeight());
        if (titleRect.intersects(dirty)) {
            const QFont font = titleFont();
            painter.setFont(font);
            painter.setPen(secondary);
            painter.drawText(
                titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(font).elidedText(title, Qt::ElideMiddle, titleRect.width()));
        }
    }

    const QRectF area = waveformArea();
    if (area.isEmpty() || !area.intersects(dirty))
        return;
    if (m_player.waveform().isEmpty()) {
        paintPlaceholder(painter, area);
        return;
    }

    // Only the dirty strips of the cached bars are copied, so a playhead tick costs two thin
    // columns rather than the whole waveform.
    const QPixmap &bars = barsPixmap();
    const qreal ratio = bars.devicePixelRatio();
    for (const QRect &rect : event->region()) {
        const QRectF target = area.intersected(QRectF(rect));
        if (target.isEmpty())
            continue;
        const QRectF source((target.left() - area.left()) * ratio,
                            (target.top() - area.top()) * ratio, target.width() * ratio,
                            target.height() * ratio);
        painter.drawPixmap(target, bars, source);
    }

    painter.setRenderHint(QPainter::Antialiasing);
    const qreal top = area.top() + lineInset;
    const qreal bottom = area.bottom() - lineInset;
    if (const std::optional<qreal> x = playheadX()) {
        painter.setPen(QPen(withAlpha(Qt::white, 0.9), playheadWidth, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QPointF(*x, top), QPointF(*x, bottom));
    }
    if (m_hoverX) {
        const qreal x = area.left() + *m_hoverX;
        painter.setPen(QPen(withAlpha(primary, secondary.alphaF() * 0.6), hoverWidth, Qt::SolidLine,
                            Qt::FlatCap));
        painter.drawLine(QPointF(x, top), QPointF(x, bottom));
    }
}
