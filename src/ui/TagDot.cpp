#include "TagDot.h"

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
