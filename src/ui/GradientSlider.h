// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

// A thin volume slider: a faint track, a fill in the accent gradient and a white knob. A press
// anywhere jumps to that point and dragging follows the pointer.
class GradientSlider final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(float value READ value WRITE setValue NOTIFY valueChanged)

public:
    static constexpr int knobDiameter = 12;
    static constexpr int trackHeight = 4;

    explicit GradientSlider(QWidget *parent = nullptr);
    ~GradientSlider() override;
    Q_DISABLE_COPY_MOVE(GradientSlider)

    float value() const { return m_value; }
    // Clamped to 0…1.
    void setValue(float value);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void valueChanged(float value);
    // Only the user's presses and drags, not setValue().
    void valueMoved(float value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void moveTo(qreal x);

    float m_value = 0;
    bool m_dragging = false;
};
