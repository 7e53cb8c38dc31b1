// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "XdgTags.h"

#include <QStringDecoder>

#include <algorithm>

namespace XdgTags {

std::optional<QStringList> decode(QByteArrayView value)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(value);
    if (decoder.hasError())
        return std::nullopt;
    QStringList names;
    for (QStringView part : QStringView(text).split(QLatin1Char(','))) {
        const QStringView name = part.trimmed();
        if (!name.isEmpty())
            names.append(name.toString());
    }
    return names;
}

QByteArray encode(const QStringList &names)
{
    return names.join(QLatin1Char(',')).toUtf8();
}

std::optional<QStringList> merged(const QStringList &existing, const QStringList &added)
{
    QStringList result = existing;
    bool changed = false;
    for (const QString &raw : added) {
        const QString name = raw.trimmed();
        if (name.isEmpty() || name.contains(QLatin1Char(',')))
            continue;
        const bool present = std::any_of(result.cbegin(), result.cend(), [&name](const QString &n) {
            return n.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!present) {
            result.append(name);
            changed = true;
        }
    }
    if (!changed)
        return std::nullopt;
    return result;
}

} // namespace XdgTags
