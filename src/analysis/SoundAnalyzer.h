// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundDescriptor.h"
#include "SoundFacts.h"

#include <QString>

#include <chrono>

class CancelFlag;

// Listens to one audio file: decodes it once, front to back, and measures its tempo, key,
// loudness, true peak and kind on the way. Any thread; it touches nothing but the file.
namespace SoundAnalyzer {

constexpr std::chrono::milliseconds defaultTimeLimit{30000};

// Everything one listening tells.
struct Listening
{
    SoundFacts facts;
    SoundDescriptor descriptor; // invalid for silence and whatever failed
    quint64 audioHash = 0;      // of the decoded samples; 0 when the file was not decoded whole
};

// Facts failed when the file cannot be opened or decoded, or the analysis outlasts `timeLimit`
// (checked between blocks of about a second of sound); NotAnalysed when `cancel` was set
// meanwhile.
Listening listen(const QString &path, const CancelFlag *cancel = nullptr,
                 std::chrono::milliseconds timeLimit = defaultTimeLimit);
inline SoundFacts analyze(const QString &path, const CancelFlag *cancel = nullptr,
                          std::chrono::milliseconds timeLimit = defaultTimeLimit)
{
    return listen(path, cancel, timeLimit).facts;
}

} // namespace SoundAnalyzer
