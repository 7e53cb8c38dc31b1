// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAction>

class UpdaterManager;

// "Check for Updates…": starts a check, enabled exactly while the updater allows one.
class CheckForUpdatesCommand final : public QAction
{
    Q_OBJECT
public:
    CheckForUpdatesCommand(UpdaterManager &updater, QObject *parent = nullptr);
    ~CheckForUpdatesCommand() override;
    Q_DISABLE_COPY_MOVE(CheckForUpdatesCommand)

private:
    UpdaterManager &m_updater;
};
