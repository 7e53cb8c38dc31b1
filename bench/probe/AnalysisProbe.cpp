// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"

#include "analysis/SoundAnalyzer.h"
#include "platform/FilePaths.h"

#include <QTextStream>

#include <cstdio>

namespace {

QString level(std::optional<double> value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
}

// The line a script greps: every field present, "-" where nothing is known.
QString factsLine(const SoundFacts &facts)
{
    static const char *const kinds[] = {"-", "loop", "one-shot"};
    const QString key = facts.keyName();
    return QStringLiteral("bpm=%1 key=%2 lufs=%3 peak=%4 kind=%5")
        .arg(facts.bpm() > 0 ? QString::number(facts.bpm(), 'f', 1) : QStringLiteral("-"),
             key.isEmpty() ? QStringLiteral("-") : key, level(facts.loudness()),
             level(facts.truePeak()), QLatin1String(kinds[int(facts.kind())]));
}

} // namespace

namespace ProbeCommands {

int analyze(const QStringList &args)
{
    if (args.size() != 1 || args[0].startsWith(QLatin1String("--"))) {
        QTextStream(stderr) << "usage: wavelark-probe analyze FILE\n";
        return 2;
    }
    const SoundFacts facts = SoundAnalyzer::analyze(args[0]);
    if (facts.status() != SoundFacts::Status::Analysed) {
        QTextStream(stderr) << "could not analyse " << FilePaths::displayText(args[0]) << '\n';
        return 1;
    }
    std::printf("%s\n", factsLine(facts).toUtf8().constData());
    return 0;
}

} // namespace ProbeCommands
