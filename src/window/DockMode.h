// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// Where the window docks; stored in the preferences as "left", "right" or "off".
enum class DockMode
{
    Left,
    Right,
    Off
};

namespace DockModes {
QString toString(DockMode mode);
std::optional<DockMode> fromString(const QString &text);
} // namespace DockModes
