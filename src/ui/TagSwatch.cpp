// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagSwatch.h"

#include <QPainter>

namespace {

constexpr qreal dotDiameter = 12;
constexpr qreal outlineWidth = 0.5;
constexpr qreal ringGap = 2.5;
constexpr qreal ringWidth = 1.5;
constexpr qreal hoverScale = 1.18;
// Room for the ring at hover scale, which reaches past the 20-point box.
constexpr int widgetSize = 22;

} // namespace

TagSwatch::TagSwatch(FinderTag tag, QWidget *parent) : QAbstractButton(parent), m_tag(tag)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(FinderTags::displayName(tag));
    setToolTip(helpText(m_tag, m_active));
}

TagSwatch::~TagSwatch() = default;

QString TagSwatch::helpText(FinderTag tag, bool active)
{
    const QString name = FinderTags::displayName(tag);
    if (active)
        return tr("Showing %1 tagged items. Click to stop").arg(name);
    return tr("Show only %1 tagged items").arg(name);
}

void TagSwatch::setActive(bool active)
{
    setToolTip(helpText(m_tag, active));
    if (active == m_active)
        return;
    m_active = active;
    update();
    Q_EMIT activeChanged();
}

QSize TagSwatch::sizeHint() const
{
    return QSize(widgetSize, widgetSize);
}

void TagSwatch::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_hovering = hovering;
    update();
}

void TagSwatch::enterEvent(QEnterEvent *event)
{
    setHovering(true);
    QAbstractButton::enterEvent(event);
}

void TagSwatch::leaveEvent(QEvent *event)
{
    setHovering(false);
    QAbstractButton::leaveEvent(event);
}

void TagSwatch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    painter.translate(centre);
    if (m_hovering)
        painter.scale(hoverScale, hoverScale);

    const qreal radius = dotDiameter / 2;
    painter.setBrush(FinderTags::displayColor(m_tag));
    painter.setPen(QPen(QColor(0, 0, 0, 51), outlineWidth));
    painter.drawEllipse(QPointF(0, 0), radius, radius);

    if (m_active) {
        const qreal ring = radius + ringGap;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, ringWidth));
        painter.drawEllipse(QPointF(0, 0), ring, ring);
    }
}
