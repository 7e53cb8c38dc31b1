// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Theme.h"

#include <QLabel>
#include <QWidget>

namespace Theme {

QLinearGradient accentGradient(const QRectF &rect)
{
    QLinearGradient gradient(rect.topLeft(), rect.topRight());
    gradient.setColorAt(0.0, QColor::fromRgbF(0.435f, 0.784f, 1.0f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.431f, 0.545f, 1.0f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.631f, 0.447f, 1.0f));
    return gradient;
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x1e, 0x1e, 0x20);
    const QColor base(0x17, 0x17, 0x19);
    const QColor text(0xe8, 0xe8, 0xea);
    const QColor disabledText(0x78, 0x78, 0x7c);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, QColor(0x2a, 0x2a, 0x2e));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x2c, 0x2c, 0x30));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, accent());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, accent());
    palette.setColor(QPalette::Mid, QColor(0x3a, 0x3a, 0x3e));
    palette.setColor(QPalette::Dark, QColor(0x10, 0x10, 0x12));
    palette.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4c));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    return palette;
}

void tintStrip(QWidget &strip, const QColor &background)
{
    strip.setAutoFillBackground(true);
    QPalette tinted = strip.palette();
    tinted.setColor(QPalette::Window, background);
    tinted.setColor(QPalette::WindowText, Qt::white);
    strip.setPalette(tinted);
}

QLabel *stripHeadline(const QString &text, QWidget *strip)
{
    auto *headline = new QLabel(text, strip);
    QFont bold = headline->font();
    bold.setBold(true);
    headline->setFont(bold);
    headline->setWordWrap(true);
    return headline;
}

} // namespace Theme
