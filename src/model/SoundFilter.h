// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundFacts.h"

#include <QList>
#include <QString>

#include <optional>

// The sound words of a search text: "bpm:120", "bpm:118-122", "key:Am,C", "kind:loop",
// "kind:one-shot", "lufs:-12..-6". They narrow the name search; a file not analysed yet matches
// none of them. A word that only looks like one ("bpm:fast") stays a word of the name.
class SoundFilter final
{
public:
    // The filter in `text`, and the rest of the text for the name search.
    static std::pair<SoundFilter, QString> parse(const QString &text);

    bool isEmpty() const { return !m_bpm && m_keys.isEmpty() && !m_kind && !m_loudness; }
    bool matches(const SoundFacts &facts) const;

private:
    struct Range
    {
        double low;
        double high;
    };
    bool take(QStringView word);

    std::optional<Range> m_bpm;
    QList<int> m_keys; // any of them
    std::optional<SoundFacts::Kind> m_kind;
    std::optional<Range> m_loudness;
};
