// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>
#include <QVariantAnimation>
#include <QWidget>

class AudioPreviewPlayer;
class BrowserModel;

// The transient error bubble centred over the window content: the player's message, else the
// model's. A new message replaces the old one with a short fade and scale; the messages clear
// themselves, so the overlay only follows them. It never takes clicks.
class ErrorOverlay final : public QWidget
{
    Q_OBJECT

public:
    ErrorOverlay(BrowserModel &model, AudioPreviewPlayer &player, QWidget *parent);
    ~ErrorOverlay() override;
    Q_DISABLE_COPY_MOVE(ErrorOverlay)

    static constexpr int transitionMilliseconds = 200;
    static constexpr qreal startScale = 0.92;

    // The message shown (or coming in); empty when none.
    QString message() const { return m_incoming; }
    bool isTransitioning() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    QPixmap renderBubble(const QString &text) const;
    void paintBubble(QPainter &painter, const QPixmap &bubble, qreal level) const;
    void finishTransition();

    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    QString m_incoming;
    QPixmap m_incomingBubble;
    QString m_outgoing;
    QPixmap m_outgoingBubble;
    qreal m_outgoingLevel = 0;
    QVariantAnimation m_animation;
};
