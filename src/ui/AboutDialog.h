// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

// The About panel: name, version and one line of credits.
class AboutDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;
    Q_DISABLE_COPY_MOVE(AboutDialog)

    static QString versionText();
    static QString creditsText();
};
