// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Versions compared the way appcast feeds expect: runs of digits compare as numbers ("1.10" is
// newer than "1.9"), letters after a common prefix mark a pre-release ("1.0b2" is older than
// "1.0"), and extra numeric parts make a version newer ("1.0.1" after "1.0").
namespace AppcastVersion {

// A version starts with a digit and holds only letters, digits, '.', '-', '_', '+' and spaces.
bool isValid(const QString &version);

// Negative when `a` is older than `b`, 0 when they are the same version, positive when newer.
int compare(const QString &a, const QString &b);

} // namespace AppcastVersion
