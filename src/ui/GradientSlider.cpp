// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "GradientSlider.h"

#include "Theme.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

GradientSlider::GradientSlider(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

GradientSlider::~GradientSlider() = default;

void GradientSlider::setValue(float value)
{
    const float clamped = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
    if (clamped == m_value)
        return;
    m_value = clamped;
    update();
    Q_EMIT valueChanged(m_value);
}

QSize GradientSlider::sizeHint() const
{
    return QSize(116, 18);
}

QSize GradientSlider::minimumSizeHint() const
{
    return QSize(knobDiameter * 2, knobDiameter + 2);
}

void GradientSlider::moveTo(qreal x)
{
    if (width() <= 0)
        return;
    const float fraction = float(std::clamp(x / qreal(width()), 0.0, 1.0));
    setValue(fraction);
    Q_EMIT valueMoved(m_value);
}

void GradientSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    moveTo(event->position().x());
    event->accept();
}

void GradientSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    moveTo(event->position().x());
    event->accept();
}

void GradientSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void GradientSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const qreal w = width();
    const qreal middle = height() / 2.0;
    const qreal radius = trackHeight / 2.0;
    const QRectF track(0, middle - radius, w, trackHeight);

    QColor trackColor = palette().color(QPalette::WindowText);
    trackColor.setAlphaF(0.15f);
    painter.setBrush(trackColor);
    painter.drawRoundedRect(track, radius, radius);

    const qreal filled = std::max(0.0, qreal(m_value) * w);
    if (filled > 0) {
        painter.setBrush(Theme::accentGradient(track));
        painter.drawRoundedRect(QRectF(0, track.top(), filled, trackHeight), radius, radius);
    }

    const qreal k = knobDiameter;
    const qreal left = std::min(std::max(qreal(m_value) * w - k / 2, 0.0), w - k);
    const QRectF knob(left, middle - k / 2, k, k);
    // A soft one-point shadow half a point below the knob.
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.5).adjusted(-1, -1, 1, 1));
    painter.setBrush(QColor(0, 0, 0, 70));
    painter.drawEllipse(knob.translated(0, 0.5).adjusted(-0.5, -0.5, 0.5, 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);
}
