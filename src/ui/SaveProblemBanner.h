// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>

class Preferences;
class QLabel;

// A strip over the content that says the settings could not be saved, for as long as that holds:
// the user must know before quitting that a change lives only in memory.
class SaveProblemBanner final : public QFrame
{
    Q_OBJECT

public:
    SaveProblemBanner(Preferences &defaults, QWidget *parent);
    ~SaveProblemBanner() override;
    Q_DISABLE_COPY_MOVE(SaveProblemBanner)

    QString message() const;

private:
    void refresh();

    Preferences &m_defaults;
    QLabel *m_message = nullptr;
    QLabel *m_details = nullptr;
};
