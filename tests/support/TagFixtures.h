// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Tag attributes written and read by Python's plistlib (an independent plist codec) or by the
// raw system calls.
namespace TagFixtures {

// Spelled out here rather than taken from the code under test, so that a wrong name fails.
inline const QString tagAttribute = QStringLiteral("user.com.apple.metadata:_kMDItemUserTags");
inline const QString xdgAttribute = QStringLiteral("user.xdg.tags");
inline const QString sambaAttribute =
    QStringLiteral("user.DosStream.com.apple.metadata:_kMDItemUserTags:$DATA");

// plistlib writes `strings` ("binary" or "xml" format) into attribute `name`, followed by
// `suffix`.
bool setPythonPlist(const QString &path, const QStringList &strings,
                    const QString &format = QStringLiteral("binary"),
                    const QString &name = tagAttribute, const QByteArray &suffix = {});
// What plistlib reads from the attribute; nothing when absent or not a binary list of strings.
std::optional<QStringList> pythonStrings(const QString &path, const QString &name = tagAttribute);

bool setRawAttribute(const QString &path, const QString &name, const QByteArray &value);
std::optional<QByteArray> rawAttribute(const QString &path, const QString &name = tagAttribute);

} // namespace TagFixtures
