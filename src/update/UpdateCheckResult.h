// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AppcastItem.h"

#include <QString>

// The outcome of one check, as the updater reports it to the interface.
struct UpdateCheckResult
{
    enum class Kind
    {
        UpToDate,
        UpdateAvailable,
        Failed,
    };

    Kind kind = Kind::Failed;
    bool userInitiated = false;
    AppcastItem item;     // the newest release, for UpdateAvailable
    QString releaseNotes; // sanitised rich text, for UpdateAvailable
    QString error;        // for Failed
};
