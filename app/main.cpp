#include "BrowserModel.h"
#include "MemoryPolicy.h"
#include "SingleInstance.h"
#include "Theme.h"
#include "WavelarkApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStyleFactory>
#include <QUrl>

namespace {

// Folders named on the command line, as absolute paths: the running instance has another
// working directory.
QStringList folderArguments(const QStringList &arguments)
{
    QStringList folders;
    for (const QString &argument : arguments) {
        const QFileInfo info(argument);
        if (info.isDir())
            folders.append(QDir::cleanPath(info.absoluteFilePath()));
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

} // namespace

int main(int argc, char *argv[])
{
    MemoryPolicy::apply();

    // Wayland lets no client place its window, keep it on top or see the pointer; XWayland does.
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wavelark"));
    QApplication::setApplicationVersion(QStringLiteral(WAVELARK_VERSION));
    QApplication::setOrganizationDomain(QStringLiteral("wavelark.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.wavelark.Wavelark"));

    SingleInstance instance;
    if (!instance.claim(folders))
        return 0;

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::darkPalette());
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.wavelark.Wavelark"),
                         QIcon(QStringLiteral(":/app/org.wavelark.Wavelark.svg"))));

    WavelarkApp wavelark;
    wavelark.show();
    wavelark.model().addDroppedFolders(urls(folders));
    QObject::connect(&instance, &SingleInstance::activationRequested, &wavelark,
                     [&wavelark](const QStringList &more) {
                         wavelark.model().addDroppedFolders(urls(more));
                         wavelark.raise();
                     });
    return QApplication::exec();
}
