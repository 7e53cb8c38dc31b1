// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"

#include "platform/FilePaths.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

struct Command
{
    const char *name;
    int (*run)(const QStringList &);
    const char *usage;
};

const Command commands[] = {
    {"index", ProbeCommands::index, "index [--analyze] --out FILE ROOT..."},
    {"search", ProbeCommands::search, "search --index FILE [--scope FOLDER] [--repeat N] TEXT"},
    {"fold", ProbeCommands::fold, "fold TEXT"},
    {"peaks", ProbeCommands::peaks, "peaks FILE"},
    {"info", ProbeCommands::info, "info FILE"},
    {"peaks-bench", ProbeCommands::peaksBench, "peaks-bench FILE --repeat N"},
    {"latency", ProbeCommands::latency, "latency FILE --repeat N"},
    {"tags-read", ProbeCommands::tagsRead, "tags-read FILE"},
    {"tags-write", ProbeCommands::tagsWrite, "tags-write FILE [NAME:INDEX ...]"},
    {"tags-import", ProbeCommands::tagsImport, "tags-import --prefs FILE"},
    {"tags-export", ProbeCommands::tagsExport, "tags-export --prefs FILE [--language CODE]"},
    {"analyze", ProbeCommands::analyze, "analyze FILE"},
    {"similar", ProbeCommands::similar, "similar --index FILE [--top N] SAMPLE"},
    {"duplicates", ProbeCommands::duplicates, "duplicates --index FILE"},
    {"help", nullptr, "help"},
};

void listCommands(FILE *stream)
{
    QTextStream out(stream);
    out << "usage: wavelark-probe COMMAND ...\n";
    for (const Command &command : commands)
        out << "  wavelark-probe " << command.usage << '\n';
}

int usage()
{
    listCommands(stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Arguments keep their bytes: a file name that is not UTF-8 still names its file.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(FilePaths::decoded(QByteArrayView(argv[i])));
    if (args.isEmpty())
        return usage();
    const QString name = args.takeFirst();
    if (name == QLatin1String("help")) {
        listCommands(stdout);
        return 0;
    }
    for (const Command &command : commands) {
        if (name == QLatin1String(command.name))
            return command.run(args);
    }
    return usage();
}
