// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AboutDialog.h"

#include "SymbolIcon.h"
#include "Theme.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    // A panel of fixed size: nothing to resize, maximise or minimise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("About Wavelark"));

    auto *icon = new QLabel(this);
    icon->setPixmap(SymbolIcon::pixmap(QStringLiteral("waveform"), Theme::accent(), QSize(48, 48),
                                       devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);

    auto *name = new QLabel(QStringLiteral("Wavelark"), this);
    name->setObjectName(QStringLiteral("aboutName"));
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    nameFont.setWeight(QFont::DemiBold);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);

    auto *version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setAlignment(Qt::AlignCenter);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *credits = new QLabel(creditsText(), this);
    credits->setObjectName(QStringLiteral("aboutCredits"));
    QFont small = credits->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    credits->setFont(small);
    QPalette secondary = credits->palette();
    QColor text = secondary.color(QPalette::WindowText);
    text.setAlphaF(0.55f);
    secondary.setColor(QPalette::WindowText, text);
    credits->setPalette(secondary);
    credits->setAlignment(Qt::AlignCenter);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 16);
    layout->setSpacing(6);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addSpacing(6);
    layout->addWidget(credits);
    layout->addSpacing(10);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->activate();
    setFixedSize(sizeHint());
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::versionText()
{
    return QStringLiteral("Version ") + QStringLiteral(WAVELARK_VERSION);
}

QString AboutDialog::creditsText()
{
    return QStringLiteral("Audio by FFmpeg and SDL, interface by Qt.\n"
                          "Free software under the GNU GPL, version 3 or later.");
}
