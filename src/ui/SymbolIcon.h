// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>

class QPainter;

// Our SVG symbols (resources/icons/<name>.svg, drawn in black on transparent), tinted at paint
// time and rendered at the device's pixel ratio so they stay crisp at 1x and 2x.
class SymbolIcon final
{
public:
    SymbolIcon() = delete;

    // `name` is the symbol name, e.g. "speaker.wave.1.fill".
    static QPixmap pixmap(const QString &name, const QColor &color, const QSize &size,
                          qreal devicePixelRatio);
    static void paint(QPainter &painter, const QRectF &rect, const QString &name,
                      const QColor &color);
    // An icon for buttons and actions, tinted for its normal and disabled states.
    static QIcon icon(const QString &name, const QColor &color);
    static bool exists(const QString &name);
};
