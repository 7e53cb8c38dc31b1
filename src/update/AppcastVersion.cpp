// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppcastVersion.h"

#include <QList>
#include <QStringView>

namespace {

enum class PartType
{
    Number,
    Text,
    Separator,
    Space,
};

struct Part
{
    PartType type;
    QStringView text;
};

PartType typeOf(QChar c)
{
    if (c.isDigit())
        return PartType::Number;
    if (c == QLatin1Char('.'))
        return PartType::Separator;
    if (c.isSpace())
        return PartType::Space;
    return PartType::Text;
}

QList<Part> split(const QString &version)
{
    QList<Part> parts;
    qsizetype start = 0;
    for (qsizetype i = 1; i <= version.size(); ++i) {
        const PartType type = typeOf(version.at(start));
        // Separators stand alone, so "1..2" keeps two of them.
        if (i == version.size() || typeOf(version.at(i)) != type || type == PartType::Separator) {
            // Spaces only divide, so "1.0 beta" reads as "1.0beta".
            if (type != PartType::Space)
                parts.append({type, QStringView(version).mid(start, i - start)});
            start = i;
        }
    }
    return parts;
}

// Digit runs of any length, without converting to a number that could overflow.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a = a.mid(1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

bool AppcastVersion::isValid(const QString &version)
{
    if (version.isEmpty() || version.size() > 64 || !version.front().isDigit())
        return false;
    for (const QChar c : version) {
        const bool allowed = (c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('.') ||
                             c == QLatin1Char('-') || c == QLatin1Char('_') ||
                             c == QLatin1Char('+') || c == QLatin1Char(' ');
        if (!allowed)
            return false;
    }
    return true;
}

int AppcastVersion::compare(const QString &a, const QString &b)
{
    const QList<Part> partsA = split(a);
    const QList<Part> partsB = split(b);
    const qsizetype common = std::min(partsA.size(), partsB.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Part &pa = partsA.at(i);
        const Part &pb = partsB.at(i);
        if (pa.type == pb.type) {
            const int order = pa.type == PartType::Number ? compareNumbers(pa.text, pb.text)
                                                          : sign(pa.text.compare(pb.text));
            if (order != 0)
                return order;
            continue;
        }
        // A letter against anything else: the letter is the pre-release, hence older.
        if (pa.type == PartType::Text)
            return -1;
        if (pb.type == PartType::Text)
            return 1;
        // A number against a separator: the number carries more, hence newer.
        return pa.type == PartType::Number ? 1 : -1;
    }
    if (partsA.size() == partsB.size())
        return 0;
    // The longer version is a pre-release when its next part is letters, otherwise newer.
    const bool aLonger = partsA.size() > partsB.size();
    const Part &next = aLonger ? partsA.at(common) : partsB.at(common);
    const int longerOrder = next.type == PartType::Text ? -1 : 1;
    return aLonger ? longerOrder : -longerOrder;
}
