// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"

#include "platform/FilePaths.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

namespace {

struct Command
{
    const char *name;
    int (*run)(const QStringList &);
    const char *usage;
    const char *about = nullptr;
};

const Command commands[] = {
    {"index", ProbeCommands::index, "index [--analyze] --out FILE ROOT..."},
    {"search", ProbeCommands::search, "search --index FILE [--scope FOLDER] [--repeat N] TEXT"},
    {"fold", ProbeCommands::fold, "fold TEXT"},
    {"peaks", ProbeCommands::peaks, "peaks FILE"},
    {"info", ProbeCommands::info, "info FILE"},
    {"peaks-bench", ProbeCommands::peaksBench, "peaks-bench FILE --repeat N"},
    {"latency", ProbeCommands::latency, "latency FILE --repeat N"},
    {"key-latency", ProbeCommands::keyLatency, "key-latency FILE --repeat N",
     "the main window (offscreen with QT_QPA_PLATFORM=offscreen) on FILE's folder; a file beside\n"
     "FILE is selected (and plays), then the arrow key that moves to FILE is pressed, N times.\n"
     "Each figure is from the key's arrival at the window to the audio callback that hands the\n"
     "first non-silent frame of FILE to the device, plus one device buffer (what the device\n"
     "takes to play that buffer out). Prints min= median= p95= max= in ms. On a real device\n"
     "the callbacks come at the device's pace; SDL_AUDIODRIVER=dummy calls them every\n"
     "buffer's length rounded down to whole milliseconds, so the figure is then what the\n"
     "application itself costs, not a sound server's own latency."},
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
    for (const Command &command : commands) {
        out << "  wavelark-probe " << command.usage << '\n';
        if (command.about != nullptr) {
            for (const QString &line : QString::fromUtf8(command.about).split(u'\n'))
                out << "      " << line << '\n';
        }
    }
}

int usage()
{
    listCommands(stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // Only the commands that open a window pay for a GUI application.
    const bool gui = argc > 1 && std::string_view(argv[1]) == "key-latency";
    std::unique_ptr<QCoreApplication> app;
    if (gui)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
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
