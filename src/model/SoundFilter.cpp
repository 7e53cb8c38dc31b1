// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundFilter.h"

#include <QRegularExpression>

#include <cmath>

namespace {

// One value stands for what rounds to it: bpm:120 takes 119.5 to 120.5, as a loop made at 120 is
// measured a little off; lufs:-14 takes -14.5 to -13.5.
constexpr double halfStep = 0.5;

std::optional<double> number(QStringView text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

// "120", "118-122" or "-12..-6" (a minus sign may start either end, so ".." and a "-" between
// two numbers both separate).
std::optional<std::pair<double, double>> range(QStringView text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(-?[0-9]+(?:\\.[0-9]+)?)(?:(?:\\.\\.|-)(-?[0-9]+(?:\\.[0-9]+)?))?$"));
    const QRegularExpressionMatch match = pattern.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const std::optional<double> low = number(match.capturedView(1));
    if (!low)
        return std::nullopt;
    if (!match.hasCaptured(2))
        return std::pair(*low - halfStep, *low + halfStep);
    const std::optional<double> high = number(match.capturedView(2));
    if (!high)
        return std::nullopt;
    return std::pair(std::min(*low, *high), std::max(*low, *high));
}

// "Am", "am", "F#m", "eb": the first letter is the note whatever its case, a "b" after it is a
// flat.
int keyOf(QStringView text)
{
    if (text.isEmpty())
        return SoundFacts::unknownKey;
    QString name = text.toString().toLower();
    name[0] = name[0].toUpper();
    return SoundFacts::keyFromName(name);
}

} // namespace

std::pair<SoundFilter, QString> SoundFilter::parse(const QString &text)
{
    SoundFilter filter;
    QStringList rest;
    for (const QString &word :
         text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (!filter.take(word))
            rest.append(word);
    }
    return {filter, rest.join(QLatin1Char(' '))};
}

bool SoundFilter::take(QStringView word)
{
    const qsizetype colon = word.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    const QString name = word.left(colon).toString().toLower();
    const QStringView value = word.mid(colon + 1);
    if (name == QLatin1String("bpm")) {
        const auto bounds = range(value);
        if (!bounds || bounds->second <= 0)
            return false;
        m_bpm = Range{bounds->first, bounds->second};
        return true;
    }
    if (name == QLatin1String("lufs")) {
        const auto bounds = range(value);
        if (!bounds)
            return false;
        m_loudness = Range{bounds->first, bounds->second};
        return true;
    }
    if (name == QLatin1String("key")) {
        QList<int> keys;
        for (const QStringView part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const int key = keyOf(part);
            if (key == SoundFacts::unknownKey)
                return false;
            keys.append(key);
        }
        if (keys.isEmpty())
            return false;
        m_keys = keys;
        return true;
    }
    if (name == QLatin1String("kind")) {
        const QString kind = value.toString().toLower().remove(QLatin1Char('-'));
        if (kind == QLatin1String("loop"))
            m_kind = SoundFacts::Kind::Loop;
        else if (kind == QLatin1String("oneshot"))
            m_kind = SoundFacts::Kind::OneShot;
        else
            return false;
        return true;
    }
    return false;
}

bool SoundFilter::matches(const SoundFacts &facts) const
{
    if (facts.status() != SoundFacts::Status::Analysed)
        return false;
    if (m_bpm && (facts.bpm() <= 0 || facts.bpm() < m_bpm->low || facts.bpm() > m_bpm->high))
        return false;
    if (!m_keys.isEmpty() && !m_keys.contains(facts.key()))
        return false;
    if (m_kind && facts.kind() != *m_kind)
        return false;
    if (m_loudness) {
        const std::optional<double> loudness = facts.loudness();
        if (!loudness || *loudness < m_loudness->low || *loudness > m_loudness->high)
            return false;
    }
    return true;
}
