// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <optional>

// Binary property lists (bplist00), read and written by our own code: the library route was
// quadratic on large indexes.
//
// QVariant mapping: bool, qint64 (integers; unsigned ones above INT64_MAX as quint64), double
// (reals; 4-byte reals read as double, a QVariant float is written as a 4-byte real), QDateTime
// (dates, UTC), QByteArray (data), QString (ASCII or UTF-16 strings), PlistUid, QVariantList
// (arrays and sets), QVariantMap (dictionaries with string keys), and an invalid QVariant for
// null. QStringList is written as an array of strings.
class BinaryPlist final
{
public:
    BinaryPlist() = delete;

    // Dates count seconds from 2001-01-01 00:00:00 UTC; this is that moment in Unix milliseconds.
    static constexpr qint64 epochMSecs = 978307200000;

    // The decoded root object, or nothing with a short reason in `error`. Never crashes or
    // allocates without bound on malformed input.
    static std::optional<QVariant> read(QByteArrayView bytes, QString *error = nullptr);
    // Encodes `root`; nothing when it holds a type that cannot be stored.
    static std::optional<QByteArray> write(const QVariant &root);
};

// A keyed-archiver UID object, kept so that every valid plist can be read.
struct PlistUid
{
    quint64 value = 0;
    friend bool operator==(const PlistUid &, const PlistUid &) = default;
};
Q_DECLARE_METATYPE(PlistUid)
