// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagDot.h"

#include <QPolygonF>

#include <QPen>

#include <QPixmap>

#include <QPainter>

QString TagDot::helpText() const
{
    return FinderTags::displayName(m_tag);
}

void TagDot::paint(QPainter &painter, const QPointF &topLeft) const
{
    const QRectF circle(topLeft, QSizeF(diameter, diameter));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_isSelected ? QColor(Qt::white) : FinderTags::displayColor(m_tag));
    painter.drawEllipse(circle);
    if (!m_isSelected) {
        // The edge keeps light colours (yellow, gray) apart from a light row background.
        constexpr qreal edge = 0.5;
        painter.setPen(QPen(QColor(0, 0, 0, 46), edge));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(edge / 2, edge / 2, -edge / 2, -edge / 2));
    }
    painter.restore();
}

qreal TagDot::rowWidth(int count)
{
    return count <= 0 ? 0 : count * diameter + (count - 1) * spacing;
}

QIcon TagDot::menuIcon(FinderTag tag, bool checked, qreal devicePixelRatio, int side)
{
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(FinderTags::displayColor(tag));
    painter.drawEllipse(QRectF(1, 1, side - 2, side - 2));
    if (checked) {
        const QColor mark = tag == FinderTag::Yellow ? QColor(0, 0, 0, 190) : QColor(Qt::white);
        painter.setPen(QPen(mark, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(QPolygonF({QPointF(3.6, 6.1), QPointF(5.3, 7.8), QPointF(8.5, 4.3)}));
    }
    return QIcon(pixmap);
}
