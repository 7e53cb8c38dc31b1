// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UpdateWindow.h"

#include "ReleaseNotesView.h"
#include "SymbolIcon.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

UpdateWindow::UpdateWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), m_informative(new QLabel(this)),
      m_notes(new ReleaseNotesView(this)),
      m_skip(new QPushButton(QStringLiteral("Skip This Version"), this)),
      m_remind(new QPushButton(QStringLiteral("Remind Me Later"), this)),
      m_download(new QPushButton(QStringLiteral("Download…"), this))
{
    setObjectName(QStringLiteral("updateWindow"));
    setWindowTitle(QStringLiteral("Software Update"));

    auto *icon = new QLabel(this);
    icon->setPixmap(SymbolIcon::pixmap(QStringLiteral("waveform"), Theme::accent(), QSize(48, 48),
                                       devicePixelRatioF()));
    icon->setAlignment(Qt::AlignTop);
    auto *message = new QLabel(QStringLiteral("A new version of Wavelark is available!"), this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    m_informative->setObjectName(QStringLiteral("updateInformative"));
    m_informative->setWordWrap(true);
    m_informative->setTextFormat(Qt::PlainText);
    auto *notesTitle = new QLabel(QStringLiteral("Release Notes:"), this);
    notesTitle->setFont(bold);
    m_notes->setMinimumSize(420, 220);

    m_skip->setObjectName(QStringLiteral("skipVersion"));
    m_remind->setObjectName(QStringLiteral("remindLater"));
    m_download->setObjectName(QStringLiteral("download"));
    m_download->setDefault(true);
    connect(m_skip, &QPushButton::clicked, this, [this] {
        Q_EMIT skipRequested(m_item);
        close();
    });
    connect(m_remind, &QPushButton::clicked, this, &QWidget::close);
    connect(m_download, &QPushButton::clicked, this, [this] {
        Q_EMIT downloadRequested(m_item);
        close();
    });
    connect(m_notes, &QTextBrowser::anchorClicked, this, &UpdateWindow::linkActivated);

    auto *texts = new QVBoxLayout;
    texts->addWidget(message);
    texts->addWidget(m_informative);
    texts->addSpacing(8);
    texts->addWidget(notesTitle);
    texts->addWidget(m_notes, 1);
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_skip);
    buttons->addStretch(1);
    buttons->addWidget(m_remind);
    buttons->addWidget(m_download);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->addLayout(top, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);
}

UpdateWindow::~UpdateWindow() = default;

void UpdateWindow::showUpdate(const AppcastItem &item, const QString &currentVersion,
                              const QString &releaseNotes)
{
    m_item = item;
    m_informative->setText(QStringLiteral("Wavelark %1 is now available—you have %2. Would you "
                                          "like to download it now?")
                               .arg(item.displayVersion(), currentVersion));
    m_notes->setNotes(releaseNotes);
    m_download->setEnabled(!item.downloadPage().isEmpty());
    show();
    raise();
    activateWindow();
}
