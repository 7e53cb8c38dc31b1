// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundFactsText.h"

#include <QStringList>

#include <cmath>

namespace SoundFactsText {

QString tempo(const SoundFacts &facts)
{
    if (facts.status() != SoundFacts::Status::Analysed || facts.bpm() <= 0)
        return {};
    const double bpm = std::round(facts.bpm() * 10) / 10;
    return QStringLiteral("%1 BPM").arg(QString::number(bpm, 'f', bpm == std::round(bpm) ? 0 : 1));
}

QString key(const SoundFacts &facts)
{
    return facts.status() == SoundFacts::Status::Analysed ? facts.keyName() : QString();
}

QString summary(const SoundFacts &facts)
{
    if (facts.status() == SoundFacts::Status::Failed)
        return QStringLiteral("could not analyse");
    QStringList parts;
    for (const QString &part : {tempo(facts), key(facts)}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QStringLiteral("  \u00B7  "));
}

} // namespace SoundFactsText
