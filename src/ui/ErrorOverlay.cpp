// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ErrorOverlay.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "SymbolIcon.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int clearSpace = 24;
constexpr int paddingX = 18;
constexpr int paddingY = 14;
constexpr int iconSize = 16;
constexpr int iconSpacing = 8;
constexpr qreal cornerRadius = 12;
constexpr int shadowBlur = 12;
constexpr int shadowOffsetY = 4;

} // namespace

ErrorOverlay::ErrorOverlay(BrowserModel &model, AudioPreviewPlayer &player, QWidget *parent)
    : QWidget(parent), m_model(model), m_player(player)
{
    setObjectName(QStringLiteral("errorOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    m_animation.setDuration(transitionMilliseconds);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(&m_animation, &QVariantAnimation::finished, this, &ErrorOverlay::finishTransition);
    connect(&model, &BrowserModel::lastErrorChanged, this, &ErrorOverlay::refresh);
    connect(&player, &AudioPreviewPlayer::lastErrorChanged, this, &ErrorOverlay::refresh);
    if (parent) {
        parent->installEventFilter(this);
        setGeometry(parent->rect());
    }
    hide();
    refresh();
}

ErrorOverlay::~ErrorOverlay() = default;

bool ErrorOverlay::isTransitioning() const
{
    return m_animation.state() == QAbstractAnimation::Running;
}

void ErrorOverlay::refresh()
{
    const QString playerError = m_player.lastError();
    const QString next = playerError.isEmpty() ? m_model.lastError() : playerError;
    if (next == m_incoming)
        return;
    const qreal level = isTransitioning() ? m_animation.currentValue().toReal()
                                          : (m_incoming.isEmpty() ? 0.0 : 1.0);
    m_outgoing = m_incoming;
    m_outgoingBubble = m_incomingBubble;
    m_outgoingLevel = level;
    m_incoming = next;
    m_incomingBubble = next.isEmpty() ? QPixmap() : renderBubble(next);
    m_animation.stop();
    m_animation.start();
    show();
    raise();
    update();
}

void ErrorOverlay::finishTransition()
{
    m_outgoing.clear();
    m_outgoingBubble = QPixmap();
    m_outgoingLevel = 0;
    if (m_incoming.isEmpty())
        hide();
    update();
}

bool ErrorOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
        // The text wraps to the new width.
        if (!m_incoming.isEmpty())
            m_incomingBubble = renderBubble(m_incoming);
        if (!m_outgoing.isEmpty())
            m_outgoingBubble = renderBubble(m_outgoing);
    }
    return QWidget::eventFilter(watched, event);
}

void ErrorOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal progress = isTransitioning() ? m_animation.currentValue().toReal() : 1.0;
    if (!m_outgoingBubble.isNull())
        paintBubble(painter, m_outgoingBubble, m_outgoingLevel * (1.0 - progress));
    if (!m_incomingBubble.isNull())
        paintBubble(painter, m_incomingBubble, progress);
}

void ErrorOverlay::paintBubble(QPainter &painter, const QPixmap &bubble, qreal level) const
{
    if (level <= 0)
        return;
    const QSizeF size = bubble.deviceIndependentSize();
    const qreal scale = startScale + (1.0 - startScale) * level;
    const QPointF center = QRectF(rect()).center();
    painter.save();
    painter.setOpacity(level);
    painter.translate(center);
    painter.scale(scale, scale);
    painter.drawPixmap(QPointF(-size.width() / 2, -size.height() / 2), bubble);
    painter.restore();
}

// Drawn once per message (and width), so the transition only blends a cached picture.
QPixmap ErrorOverlay::renderBubble(const QString &text) const
{
    QFont callout = font();
    callout.setPointSizeF(font().pointSizeF() * 0.95);
    callout.setWeight(QFont::Medium);
    const QFontMetrics metrics(callout);
    const int available = width() - 2 * clearSpace - 2 * shadowBlur;
    const int maxTextWidth = std::max(80, available - 2 * paddingX - iconSize - iconSpacing);
    const QRect textBounds = metrics.boundingRect(QRect(0, 0, maxTextWidth, 10000),
                                                  Qt::TextWordWrap | Qt::AlignCenter, text);
    const int contentHeight = std::max(iconSize, textBounds.height());
    const QSize plate(paddingX * 2 + iconSize + iconSpacing + textBounds.width(),
                      paddingY * 2 + contentHeight);
    const QSize full(plate.width() + 2 * shadowBlur, plate.height() + 2 * shadowBlur);

    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(full * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plateRect(QPointF(shadowBlur, shadowBlur), QSizeF(plate));

    // A soft shadow from stacked, widening outlines: 18 % black at its core.
    for (int i = shadowBlur; i >= 1; --i) {
        QPainterPath ring;
        ring.addRoundedRect(plateRect.translated(0, shadowOffsetY).adjusted(-i, -i, i, i),
                            cornerRadius + i, cornerRadius + i);
        const qreal alpha = 0.18 * 2.0 / shadowBlur * (1.0 - qreal(i) / (shadowBlur + 1));
        painter.fillPath(ring, QColor::fromRgbF(0, 0, 0, static_cast<float>(alpha)));
    }

    QPainterPath shape;
    shape.addRoundedRect(plateRect, cornerRadius, cornerRadius);
    painter.fillPath(shape, QColor(46, 46, 50, 238));
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.55f * 0.2f);
    painter.setPen(QPen(edge, 1));
    painter.drawPath([&] {
        QPainterPath inner;
        inner.addRoundedRect(plateRect.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5,
                             cornerRadius - 0.5);
        return inner;
    }());

    const qreal contentTop = plateRect.top() + paddingY;
    const QRectF iconRect(plateRect.left() + paddingX,
                          contentTop + (contentHeight - iconSize) / 2.0, iconSize, iconSize);
    SymbolIcon::paint(painter, iconRect, QStringLiteral("exclamationmark.triangle.fill"),
                      QColor(255, 214, 10));
    painter.setFont(callout);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF textRect(iconRect.right() + iconSpacing,
                          contentTop + (contentHeight - textBounds.height()) / 2.0,
                          textBounds.width() + 1, textBounds.height());
    painter.drawText(textRect, Qt::TextWordWrap | Qt::AlignCenter, text);
    return pixmap;
}
