// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AppcastItem.h"

#include <QWidget>

class QLabel;
class QPushButton;
class ReleaseNotesView;

// The window that offers a newer version: a window of its own beside the browser, not a modal.
class UpdateWindow final : public QWidget
{
    Q_OBJECT
public:
    explicit UpdateWindow(QWidget *parent = nullptr);
    ~UpdateWindow() override;
    Q_DISABLE_COPY_MOVE(UpdateWindow)

    void showUpdate(const AppcastItem &item, const QString &currentVersion,
                    const QString &releaseNotes);
    AppcastItem item() const { return m_item; }

    QLabel *informativeLabel() const { return m_informative; }
    ReleaseNotesView *releaseNotes() const { return m_notes; }
    QPushButton *skipButton() const { return m_skip; }
    QPushButton *remindButton() const { return m_remind; }
    QPushButton *downloadButton() const { return m_download; }

Q_SIGNALS:
    void skipRequested(const AppcastItem &item);
    void downloadRequested(const AppcastItem &item);
    void linkActivated(const QUrl &url);

private:
    AppcastItem m_item;
    QLabel *m_informative;
    ReleaseNotesView *m_notes;
    QPushButton *m_skip;
    QPushButton *m_remind;
    QPushButton *m_download;
};
