// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "CheckForUpdatesCommand.h"

#include "UpdaterManager.h"

CheckForUpdatesCommand::CheckForUpdatesCommand(UpdaterManager &updater, QObject *parent)
    : QAction(QStringLiteral("Check for Updates…"), parent), m_updater(updater)
{
    setObjectName(QStringLiteral("checkForUpdates"));
    setMenuRole(QAction::ApplicationSpecificRole);
    setEnabled(m_updater.canCheckForUpdates());
    connect(&m_updater, &UpdaterManager::canCheckForUpdatesChanged, this, &QAction::setEnabled);
    connect(this, &QAction::triggered, &m_updater, &UpdaterManager::checkForUpdates);
}

CheckForUpdatesCommand::~CheckForUpdatesCommand() = default;
