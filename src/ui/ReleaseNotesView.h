// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTextBrowser>

// Release notes as rich text that loads nothing: no images or style sheets from anywhere, no
// navigation. A clicked link is only reported.
class ReleaseNotesView final : public QTextBrowser
{
    Q_OBJECT
public:
    explicit ReleaseNotesView(QWidget *parent = nullptr);
    ~ReleaseNotesView() override;
    Q_DISABLE_COPY_MOVE(ReleaseNotesView)

    void setNotes(const QString &html);
    QVariant loadResource(int type, const QUrl &name) override;
};
