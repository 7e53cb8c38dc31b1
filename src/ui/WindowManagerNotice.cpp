// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowManagerNotice.h"

#include "Theme.h"
#include "WindowManagerSupport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

WindowManagerNotice::WindowManagerNotice(WindowManagerSupport &support, QWidget *parent)
    : QFrame(parent), m_support(&support)
{
    setObjectName(QStringLiteral("windowManagerNotice"));
    Theme::tintStrip(*this, QColor::fromRgbF(0.16f, 0.22f, 0.36f));
    m_message = Theme::stripHeadline(text(), this);
    auto *details = new QLabel(
        QStringLiteral("Your choices are kept for desktops that let Wavelark place its window."),
        this);
    details->setWordWrap(true);
    auto *close = new QToolButton(this);
    close->setObjectName(QStringLiteral("closeNotice"));
    close->setText(QStringLiteral("✕"));
    close->setToolTip(QStringLiteral("Close"));
    close->setAccessibleName(QStringLiteral("Close"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    connect(close, &QToolButton::clicked, this, &WindowManagerNotice::dismiss);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_message);
    texts->addWidget(details);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 4, 6);
    layout->addLayout(texts, 1);
    layout->addWidget(close, 0, Qt::AlignTop);

    connect(&support, &WindowManagerSupport::placesWindowsItselfChanged, this,
            &WindowManagerNotice::refresh);
    refresh();
}

WindowManagerNotice::~WindowManagerNotice() = default;

QString WindowManagerNotice::text()
{
    return QStringLiteral(
        "This window manager places windows itself: docking and always on top are off");
}

QString WindowManagerNotice::message() const
{
    return isVisibleTo(parentWidget()) ? m_message->text() : QString();
}

void WindowManagerNotice::dismiss()
{
    m_dismissed = true;
    hide();
}

void WindowManagerNotice::refresh()
{
    const bool places = m_support && m_support->placesWindowsItself();
    // Told once: a second window manager of the same kind later in the session is no news.
    if (places && !m_shown)
        m_shown = true;
    else if (places)
        return;
    setVisible(places && !m_dismissed);
}
