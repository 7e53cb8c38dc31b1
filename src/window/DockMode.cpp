// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DockMode.h"

namespace DockModes {

QString toString(DockMode mode)
{
    switch (mode) {
    case DockMode::Left:
        return QStringLiteral("left");
    case DockMode::Right:
        return QStringLiteral("right");
    case DockMode::Off:
        break;
    }
    return QStringLiteral("off");
}

std::optional<DockMode> fromString(const QString &text)
{
    if (text == QLatin1String("left"))
        return DockMode::Left;
    if (text == QLatin1String("right"))
        return DockMode::Right;
    if (text == QLatin1String("off"))
        return DockMode::Off;
    return std::nullopt;
}

} // namespace DockModes
