// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QPalette>
#include <QRectF>

class QLabel;
class QWidget;

// The application's colours; the window is always dark.
namespace Theme {

inline QColor accent()
{
    return QColor::fromRgbF(0.184f, 0.42f, 1.0f);
}
inline QColor folderBlue()
{
    return QColor::fromRgbF(0.533f, 0.627f, 1.0f);
}
// Left to right through three stops, for the waveform bars and the volume slider.
QLinearGradient accentGradient(const QRectF &rect);
QPalette darkPalette();

// A strip across the window that tells of a problem: `background` behind white text, and its
// headline in bold.
void tintStrip(QWidget &strip, const QColor &background);
QLabel *stripHeadline(const QString &text, QWidget *strip);

} // namespace Theme
