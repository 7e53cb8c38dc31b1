// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleDragPreview.h"

#include "SymbolIcon.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int paddingX = 10;
constexpr int paddingY = 6;
constexpr int iconSize = 14;
constexpr int spacing = 6;
constexpr int maxNameWidth = 320;

} // namespace

QPixmap SampleDragPreview::render(const QFont &font, qreal devicePixelRatio) const
{
    QFont callout = font;
    callout.setPointSizeF(font.pointSizeF() * 0.95);
    const QFontMetrics metrics(callout);
    const QString text = metrics.elidedText(m_name, Qt::ElideMiddle, maxNameWidth);
    const int textWidth = metrics.horizontalAdvance(text);
    const int contentHeight = std::max(iconSize, metrics.height());
    const QSize size(paddingX * 2 + iconSize + spacing + textWidth, paddingY * 2 + contentHeight);

    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath plate;
    plate.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.fillPath(plate, QColor(44, 44, 48, 224));
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
    painter.drawPath(plate);

    const QColor textColor(235, 235, 240);
    SymbolIcon::paint(painter,
                      QRectF(paddingX, (size.height() - iconSize) / 2.0, iconSize, iconSize),
                      QStringLiteral("waveform"), textColor);
    painter.setFont(callout);
    painter.setPen(textColor);
    painter.drawText(QRect(paddingX + iconSize + spacing, 0, textWidth + 1, size.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
    return pixmap;
}
