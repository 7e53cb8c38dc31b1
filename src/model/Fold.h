// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

// The matching form of names and search text: case folded (full folding, so "ß" matches "ss"),
// diacritics and width removed, independent of the locale, in NFC. Index and search must use
// the same function, since matching is a plain substring test.
QString fold(QStringView text);
// True when every byte is 7-bit: such text needs no Unicode work.
bool isAscii(std::string_view text);
// The same folding of ASCII text (its lower case), written to the text.size() bytes at `out`.
void foldAscii(std::string_view text, char *out);
// The same folding on UTF-8, appended to `out`; ASCII takes a fast path. Invalid UTF-8 is
// decoded with replacement characters.
void foldUtf8(std::string_view text, std::string &out);
