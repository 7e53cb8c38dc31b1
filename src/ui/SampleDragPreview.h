// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>

// The small label that follows the pointer while a sample is dragged out: a waveform symbol and
// the file's name on a rounded translucent plate.
class SampleDragPreview final
{
public:
    explicit SampleDragPreview(QString name) : m_name(std::move(name)) {}

    const QString &name() const { return m_name; }
    QPixmap render(const QFont &font, qreal devicePixelRatio) const;

private:
    QString m_name;
};
