// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SaveProblemBanner.h"

#include "Preferences.h"
#include "Theme.h"

#include <QLabel>
#include <QVBoxLayout>

SaveProblemBanner::SaveProblemBanner(Preferences &defaults, QWidget *parent)
    : QFrame(parent), m_defaults(defaults)
{
    setObjectName(QStringLiteral("saveProblemBanner"));
    Theme::tintStrip(*this, QColor::fromRgbF(0.55f, 0.16f, 0.14f));
    m_message = Theme::stripHeadline(QString(), this);
    m_details = new QLabel(this);
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 6, 10, 6);
    layout->setSpacing(2);
    layout->addWidget(m_message);
    layout->addWidget(m_details);

    connect(&m_defaults, &Preferences::saveProblemChanged, this, &SaveProblemBanner::refresh);
    refresh();
}

SaveProblemBanner::~SaveProblemBanner() = default;

QString SaveProblemBanner::message() const
{
    return isVisibleTo(parentWidget()) ? m_message->text() : QString();
}

void SaveProblemBanner::refresh()
{
    m_message->setText(m_defaults.saveProblem());
    m_details->setText(m_defaults.saveProblemDetails());
    setVisible(!m_defaults.saveProblem().isEmpty());
}
