// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnalysisWorkerProcess.h"
#include "BrowserModel.h"
#include "DialogPresenter.h"
#include "InstanceLock.h"
#include "MemoryPolicy.h"
#include "Preferences.h"
#include "SingleInstance.h"
#include "SoundCache.h"
#include "Theme.h"
#include "TimbreStore.h"
#include "WavelarkApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QUrl>

#include <cstdio>
#include <cstring>

#include <xcb/xcb.h>

namespace {

// Paths named on the command line, as absolute paths: the running instance has another working
// directory. Whether each exists is asked later, off the GUI thread (one may be on a share that
// does not answer); files go along too, so that the browser can say why it does not add them.
QStringList folderArguments(const QStringList &arguments)
{
    QStringList folders;
    for (const QString &argument : arguments) {
        if (!argument.isEmpty())
            folders.append(QDir::cleanPath(QDir::current().absoluteFilePath(argument)));
    }
    return folders;
}

QList<QUrl> urls(const QStringList &folders)
{
    QList<QUrl> result;
    for (const QString &folder : folders)
        result.append(QUrl::fromLocalFile(folder));
    return result;
}

// A second window beside a frozen instance would make two writers of one state, so this start
// only says what is going on.
void tellNotAnswering(qint64 pid)
{
    const QString process = pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString();
    const QString message = QStringLiteral("Wavelark is already running but is not answering.");
    const QString advice =
        QStringLiteral("Wait a moment and try again, or quit the running Wavelark%1 first.")
            .arg(process);
    std::fprintf(stderr, "wavelark: %s %s\n", qPrintable(message), qPrintable(advice));
    // Nobody could see a dialog on the screenless platforms.
    const QString platform = QGuiApplication::platformName();
    if (platform == QStringLiteral("offscreen") || platform == QStringLiteral("minimal"))
        return;
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::darkPalette());
    DialogPresenter::system().run({message, advice, {QStringLiteral("OK")}}, nullptr);
}

// Chooses the platform before Qt starts; when none can start, why, in one line a user can act
// on (Qt itself would abort with advice to reinstall, which helps nobody).
QString choosePlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return {};
    if (qEnvironmentVariableIsSet("DISPLAY")) {
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        const bool reached = xcb_connection_has_error(connection) == 0;
        xcb_disconnect(connection);
        if (reached) {
            // Wayland lets no client place its window, keep it on top or see the pointer;
            // XWayland does.
            if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
                qputenv("QT_QPA_PLATFORM", "xcb");
            return {};
        }
    }
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms"));
        if (!platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty())
            return {};
        return QStringLiteral("cannot open a window: this Wayland session has no XWayland and "
                              "Qt's Wayland support is not installed (install the package "
                              "qt6-wayland, or turn on XWayland).");
    }
    if (qEnvironmentVariableIsSet("DISPLAY"))
        return QStringLiteral("cannot open a window: the X display %1 does not answer.")
            .arg(qEnvironmentVariable("DISPLAY"));
    return QStringLiteral("cannot open a window: no display was found (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set).");
}

} // namespace

int main(int argc, char *argv[])
{
    // The analysis worker is this same program, started by the app: it must make no window, read
    // no preferences and create no thread before it lowers its priority.
    if (argc > 1 && std::strcmp(argv[1], AnalysisWorkerProcess::argument) == 0)
        return AnalysisWorkerProcess::run(argc - 2, argv + 2);
    MemoryPolicy::apply();

    QStringList folders;
    {
        // Options are read before the GUI starts, so --help and --version work without a display.
        QCoreApplication arguments(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Wavelark"));
        QCoreApplication::setApplicationVersion(QStringLiteral(WAVELARK_VERSION));
        QCommandLineParser parser;
        parser.setApplicationDescription(
            QStringLiteral("A sample browser for musicians: browse, search, preview and tag audio "
                           "samples beside your DAW."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addPositionalArgument(QStringLiteral("folders"),
                                     QStringLiteral("Sample folders to add to the browser."),
                                     QStringLiteral("[FOLDER...]"));
        parser.process(arguments);
        folders = folderArguments(parser.positionalArguments());
    }

    if (const QString missing = choosePlatform(); !missing.isEmpty()) {
        std::fprintf(stderr, "wavelark: %s\n", qPrintable(missing));
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wavelark"));
    QApplication::setApplicationVersion(QStringLiteral(WAVELARK_VERSION));
    QApplication::setOrganizationDomain(QStringLiteral("wavelark.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.wavelark.Wavelark"));

    // Taken before anything reads the preferences, and held for the life of the process.
    InstanceLock stateLock(Preferences::lockPath(Preferences::defaultFilePath()));
    const bool holdsState = stateLock.tryLock();
    SingleInstance instance;
    switch (instance.claim(folders, holdsState)) {
    case SingleInstance::Claim::Owner:
        break;
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::NotAnswering:
        tellNotAnswering(stateLock.ownerProcessId());
        return 1;
    }

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::darkPalette());
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.wavelark.Wavelark"),
                         QIcon(QStringLiteral(":/app/org.wavelark.Wavelark.svg"))));

    WavelarkApp wavelark;
    wavelark.model().soundAnalysis().startWorker(
        QCoreApplication::applicationFilePath(),
        {QString::fromLatin1(AnalysisWorkerProcess::argument), QStringLiteral("--cache"),
         SoundCache::defaultFilePath()});
    wavelark.model().setTimbreStoreFile(TimbreStore::filePathBeside(SoundCache::defaultFilePath()));
    wavelark.show();
    wavelark.model().addDroppedFolders(urls(folders));
    QObject::connect(&instance, &SingleInstance::activationRequested, &wavelark,
                     [&wavelark](const QStringList &more) {
                         wavelark.model().addDroppedFolders(urls(more));
                         wavelark.raise();
                     });
    const int status = QApplication::exec();
    if (!wavelark.defaults().flush())
        std::fprintf(stderr, "wavelark: %s (%s); the changes since the last save are lost.\n",
                     qPrintable(wavelark.defaults().saveProblem()),
                     qPrintable(QDir::toNativeSeparators(wavelark.defaults().filePath())));
    return status;
}
