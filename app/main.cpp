#include "Theme.h"
#include "WavelarkApp.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    // Wayland lets no client place its window, keep it on top or see the pointer; XWayland does.
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wavelark"));
    QApplication::setOrganizationDomain(QStringLiteral("wavelark.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.wavelark.Wavelark"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::darkPalette());

    WavelarkApp wavelark;
    wavelark.show();
    return QApplication::exec();
}
