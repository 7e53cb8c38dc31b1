// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Unlike sounds for tests of listening: a name and the sox effects that make it from nothing
// (`sox -n -r 44100 -c 1 -b 16 FILE <effects>`).
inline const QList<std::pair<QString, QStringList>> &madeSounds()
{
    using namespace Qt::StringLiterals;
    static const QList<std::pair<QString, QStringList>> sounds{
        {u"kick"_s,
         {u"synth"_s, u"0.5"_s, u"sine"_s, u"150:45"_s, u"fade"_s, u"q"_s, u"0.002"_s, u"0.5"_s,
          u"0.45"_s}},
        {u"snare"_s,
         {u"synth"_s, u"0.3"_s, u"pinknoise"_s, u"fade"_s, u"q"_s, u"0.001"_s, u"0.3"_s, u"0.28"_s,
          u"highpass"_s, u"400"_s}},
        {u"tone"_s, {u"synth"_s, u"1.2"_s, u"sine"_s, u"440"_s}},
        {u"hat"_s,
         {u"synth"_s, u"0.15"_s, u"whitenoise"_s, u"highpass"_s, u"7000"_s, u"fade"_s, u"q"_s,
          u"0"_s, u"0.15"_s, u"0.14"_s}},
        {u"bass"_s, {u"synth"_s, u"1.0"_s, u"sawtooth"_s, u"55"_s, u"lowpass"_s, u"400"_s}},
    };
    return sounds;
}
