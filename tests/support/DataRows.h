// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// A list written as one "a|b|c" literal, so that long data rows stay one line each; "" is the
// empty list.
inline QStringList rowList(const char *items)
{
    const QString text = QString::fromUtf8(items);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('|'));
}
