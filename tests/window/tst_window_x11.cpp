// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The window and focus behaviour as a real window manager sees it: Xvfb with openbox, checked
// with xprop and xwininfo, and a Tk window as the DAW.
#include "TestSupport.h"

#include "audio/AudioOutput.h"
#include "model/BrowserModel.h"
#include "platform/Preferences.h"
#include "ui/DialogPresenter.h"
#include "ui/WavelarkApp.h"
#include "ui/WindowManagerNotice.h"
#include "window/FocusFollowsMouse.h"
#include "window/WindowController.h"
#include "window/WindowManagerSupport.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace {

constexpr int skipCode = 77;
// Every wait ends as soon as what it waits for is seen; this only bounds a failure, and holds on a
// machine busy with builds and disk writes.
constexpr int deadline = 20000;
// How long a state must hold to count as kept, after the controller has looked at the pointer.
constexpr int keptForMs = 400;

class SilentPresenter final : public DialogPresenter
{
public:
    int run(const Alert &, QWidget *) override { return -1; }
};

QString x(const QString &program, const QStringList &arguments)
{
    return QString::fromUtf8(TestSupport::run(program, arguments).out);
}

// The outer frame as the window manager placed it: client position plus _NET_FRAME_EXTENTS.
QRect outerFrame(WId window)
{
    const QString id = QString::number(window);
    const QString info = x("xwininfo", {"-id", id});
    const auto field = [&info](const char *name) {
        const QRegularExpression re(QLatin1String(name) + ":\\s+(-?\\d+)");
        return re.match(info).captured(1).toInt();
    };
    const QString extents = x("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
    const QStringList e = extents.section(QChar('='), 1).split(QChar(','));
    const int left = e.value(0).trimmed().toInt(), right = e.value(1).trimmed().toInt();
    const int top = e.value(2).trimmed().toInt(), bottom = e.value(3).trimmed().toInt();
    return QRect(field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
                 field("Width") + left + right, field("Height") + top + bottom);
}

QString windowProperty(WId window, const char *name)
{
    return x("xprop", {"-id", QString::number(window), QLatin1String(name)}).trimmed();
}

qulonglong activeWindow()
{
    const QString out = x("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
    return out.section(QChar('#'), 1).trimmed().toULongLong(nullptr, 16);
}

void pointerTo(int px, int py)
{
    TestSupport::run("xdotool", {"mousemove", QString::number(px), QString::number(py)});
}

// The controller has looked at the pointer where the test put it (one poll, as its timer would
// run it), and the active window stays `window` for a while: a wrong request would show by then.
bool activeStays(FocusFollowsMouse &focus, qulonglong window)
{
    focus.poll();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < keptForMs) {
        if (activeWindow() != window)
            return false;
        QTest::qWait(20);
    }
    return activeWindow() == window;
}

// The display's window manager; the tiling case swaps it and puts openbox back.
QProcess *windowManager = nullptr;

// Stops the running window manager and starts `program`, which counts as running once the root
// window names a supporting window with that window manager's name.
bool switchWindowManager(const QString &program, const QStringList &arguments, const QString &name)
{
    windowManager->terminate();
    windowManager->waitForFinished(deadline);
    windowManager->start(program, arguments);
    return QTest::qWaitFor(
        [&name] {
            const QString check = x("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
            const QString id = check.section(QChar('#'), 1).trimmed();
            return !id.isEmpty() && x("xprop", {"-id", id, "_NET_WM_NAME"}).contains(name);
        },
        deadline);
}

struct App
{
    QString dir;
    SilentPresenter presenter;
    std::unique_ptr<WavelarkApp> app;

    explicit App(const QString &folder) : dir(folder)
    {
        WavelarkApp::Services services;
        services.preferencesPath = dir + "/prefs.plist";
        services.indexFilePath = dir + "/index.plist";
        services.peaksCacheDirectory = dir + "/peaks";
        services.liveUpdates = false;
        services.dialogPresenter = &presenter;
        app = std::make_unique<WavelarkApp>(std::move(services));
        app->show();
    }
    ~App() { app->model().waitForIndexWrites(); }
    WId id() const { return app->window()->winId(); }
    void setDock(int index) const { app->dockActions().at(index)->trigger(); }
};

} // namespace

class TestWindowX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void docksAndStaysOnTop()
    {
        QTemporaryDir dir;
        const QString work = dir.path();
        {
            App a(work);
            QVERIFY(QTest::qWaitForWindowExposed(a.app->window(), deadline));
            QTRY_COMPARE_WITH_TIMEOUT(outerFrame(a.id()), QRect(0, 0, 440, 1000), deadline);
            QVERIFY(windowProperty(a.id(), "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"));
            QVERIFY(windowProperty(a.id(), "_NET_WM_DESKTOP").endsWith("4294967295"));

            // Toggling keeps the very same window where it is.
            const WId before = a.id();
            a.app->alwaysOnTopAction()->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!windowProperty(a.id(), "_NET_WM_STATE").contains("ABOVE"),
                                     deadline);
            QTRY_VERIFY_WITH_TIMEOUT(
                !windowProperty(a.id(), "_NET_WM_DESKTOP").endsWith("4294967295"), deadline);
            QCOMPARE(a.id(), before);
            QCOMPARE(outerFrame(a.id()), QRect(0, 0, 440, 1000));
            a.app->alwaysOnTopAction()->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(windowProperty(a.id(), "_NET_WM_STATE").contains("ABOVE"),
                                     deadline);

            const auto dock = [&a](int index, const QRect &frame) {
                a.setDock(index);
                QTRY_COMPARE_WITH_TIMEOUT(outerFrame(a.id()), frame, deadline);
            };
            dock(1, QRect(1160, 0, 440, 1000));
            dock(2, QRect(580, 140, 440, 720));
            dock(0, QRect(0, 0, 440, 1000));
            dock(2, QRect(580, 140, 440, 720)); // back to the floating frame it had
            // The user widens the docked window to 520 (frame), as a window manager resize does.
            dock(0, QRect(0, 0, 440, 1000));
            const int borders = outerFrame(a.id()).width() - a.app->window()->width();
            const auto userWidth = [&a, borders](int frameWidth) {
                TestSupport::run("xdotool", {"windowsize", QString::number(a.id()),
                                             QString::number(frameWidth - borders),
                                             QString::number(a.app->window()->height())});
                return QTest::qWaitFor(
                    [&a, frameWidth] {
                        return a.app->windowController().defaults().doubleForKey(
                                   "windowDockWidthCustom") == frameWidth;
                    },
                    500);
            };
            // For a moment after docking the window takes size changes for the window manager's
            // decorations, not for the user's; the user tries again, with a pixel more or less.
            QElapsedTimer clock;
            clock.start();
            for (int width = 521; !userWidth(width); width = width == 520 ? 521 : 520)
                QVERIFY(clock.elapsed() < deadline);
            userWidth(520);
            QTRY_COMPARE_WITH_TIMEOUT(
                a.app->windowController().defaults().doubleForKey("windowDockWidthCustom"), 520.0,
                deadline);
            dock(1, QRect(1080, 0, 520, 1000));
        }
        // A restart brings back mode, level and width.
        App again(work);
        QCOMPARE(again.app->windowController().dockMode(), DockMode::Right);
        QVERIFY(again.app->windowController().isAlwaysOnTop());
        QTRY_COMPARE_WITH_TIMEOUT(outerFrame(again.id()), QRect(1080, 0, 520, 1000), deadline);
    }
    void focusFollowsPointer()
    {
        QTemporaryDir dir;
        App a(dir.path());
        QVERIFY(QTest::qWaitForWindowExposed(a.app->window(), deadline));
        QTRY_COMPARE_WITH_TIMEOUT(outerFrame(a.id()), QRect(0, 0, 440, 1000), deadline);
        QVERIFY(a.app->focusFollows().isRunning());
        const qulonglong self = a.id();

        QProcess partner;
        partner.start("python3",
                      {"-c", QStringLiteral("import tkinter; r = tkinter.Tk(); r.title('Partner'); "
                                            "r.geometry('500x400+800+100'); r.mainloop()")});
        QVERIFY(partner.waitForStarted());
        QString partnerIds;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(partnerIds = x("xdotool", {"search", "--name", "^Partner$"})).trimmed().isEmpty(),
            10000);
        // The user switches to the DAW once, with the pointer over it.
        pointerTo(1000, 300);
        TestSupport::run("xdotool", {"windowactivate", partnerIds.split(QChar('\n')).first()});
        QTRY_VERIFY_WITH_TIMEOUT(activeWindow() != self && activeWindow() != 0, deadline);
        const qulonglong daw = activeWindow();
        // Seen by the controller, with the pointer still over the DAW: the grace period of the
        // user's switch ends with the next move, which goes far. Tk names no process: the DAW is
        // the X client that made its window.
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        const AppId dawApp{AppId::Kind::Client,
                           static_cast<quint32>(daw) &
                               ~xcb_get_setup(x11->connection())->resource_id_mask};
        QTRY_VERIFY_WITH_TIMEOUT(a.app->focusFollows().partner() == dawApp, deadline);

        FocusFollowsMouse &focus = a.app->focusFollows();
        for (int round = 0; round < 5; ++round) {
            pointerTo(200, 500);
            QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), self, deadline);
            pointerTo(1000, 300);
            QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), daw, deadline);
        }

        // The bare desktop takes nothing.
        pointerTo(1400, 900);
        QVERIFY(activeStays(focus, daw));

        // Nothing moves while the left button is held (pressed in the DAW: a click on the bare
        // desktop would take focus from everyone).
        pointerTo(1000, 300);
        TestSupport::run("xdotool", {"mousedown", "1"});
        pointerTo(200, 500);
        QVERIFY(activeStays(focus, daw));
        TestSupport::run("xdotool", {"mouseup", "1"});
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), self, deadline);

        // Off the top, focus stays where the user leaves it.
        a.app->alwaysOnTopAction()->trigger();
        QVERIFY(!focus.isRunning());
        pointerTo(1000, 300);
        QVERIFY(activeStays(focus, self));

        partner.kill();
        partner.waitForFinished();
    }

    // A tiling window manager (i3) lists no _NET_WM_STATE_ABOVE and tiles every window: the
    // notice says so, the pin and the dock menu show what really happens, focus following stays
    // off, and the tiling gives no dock width. Back on openbox, all is as it was.
    void tilingWindowManager()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("i3")).isEmpty())
            QSKIP("i3 is not installed");
        QTemporaryDir dir;
        const QString config = dir.filePath("i3.config");
        QVERIFY(TestSupport::writeFile(config, "# i3 config file (v4)\nfocus_follows_mouse no\n"));
        // A failure half-way must not leave the next test with i3.
        const auto openboxAgain = qScopeGuard([] {
            if (!x("xprop", {"-root", "_NET_SUPPORTED"}).contains("_NET_WM_STATE_ABOVE"))
                switchWindowManager("openbox", {}, "Openbox");
        });
        QVERIFY(switchWindowManager("i3", {"-c", config}, "i3"));
        QVERIFY(!x("xprop", {"-root", "_NET_SUPPORTED"}).contains("_NET_WM_STATE_ABOVE"));
        {
            App a(dir.path());
            QVERIFY(QTest::qWaitForWindowExposed(a.app->window(), deadline));
            QCOMPARE(a.app->windowManagerNotice()->message(), WindowManagerNotice::text());
            QVERIFY(!a.app->alwaysOnTopAction()->isChecked());
            QVERIFY(!a.app->alwaysOnTopAction()->isEnabled());
            const QList<QAction *> dock = a.app->dockActions();
            QVERIFY(dock.at(2)->isChecked() && !dock.at(0)->isChecked());
            QVERIFY(!dock.at(0)->isEnabled() && !dock.at(1)->isEnabled());
            QVERIFY(!a.app->focusFollows().isRunning());
            QTRY_VERIFY_WITH_TIMEOUT(outerFrame(a.id()).width() > 1000, deadline);
            QVERIFY(!windowProperty(a.id(), "_NET_WM_STATE").contains("ABOVE"));

            // A second window halves ours: i3's width is nobody's dock width.
            QProcess other;
            other.start("python3", {"-c", "import tkinter; r = tkinter.Tk(); r.title('Other'); "
                                          "r.mainloop()"});
            QVERIFY(other.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(outerFrame(a.id()).width() < 1000, deadline);
            QTRY_VERIFY_WITH_TIMEOUT(a.app->window()->frameGeometry().width() < 1000, deadline);
            other.kill();
            other.waitForFinished();
            const Preferences &stored = a.app->defaults();
            QVERIFY(!stored.objectForKey("windowDockWidthCustom").isValid());
            QVERIFY(!stored.objectForKey("windowDockMode").isValid());
            QVERIFY(!stored.objectForKey("windowAlwaysOnTop").isValid());

            // The user's choices were kept for a window manager that honours them.
            QVERIFY(switchWindowManager("openbox", {}, "Openbox"));
            QTRY_VERIFY_WITH_TIMEOUT(!a.app->windowManagerSupport().placesWindowsItself(),
                                     deadline);
            QTRY_COMPARE_WITH_TIMEOUT(outerFrame(a.id()), QRect(0, 0, 440, 1000), deadline);
            QTRY_VERIFY_WITH_TIMEOUT(windowProperty(a.id(), "_NET_WM_STATE").contains("ABOVE"),
                                     deadline);
            QVERIFY(a.app->alwaysOnTopAction()->isChecked() && dock.at(0)->isChecked());
            QVERIFY(a.app->focusFollows().isRunning());
            QVERIFY(a.app->windowManagerNotice()->message().isEmpty());
        }
        // Started on openbox, nothing is said.
        App again(dir.path());
        QVERIFY(QTest::qWaitForWindowExposed(again.app->window(), deadline));
        QTRY_COMPARE_WITH_TIMEOUT(outerFrame(again.id()), QRect(0, 0, 440, 1000), deadline);
        QVERIFY(!again.app->windowManagerSupport().placesWindowsItself());
        QVERIFY(again.app->windowManagerNotice()->message().isEmpty());
    }

    // A window manager that answers our activation request only by marking the window urgent
    // (played here by xprop, with no window manager to carry the request out) does not let
    // focus follow the pointer: the notice says so; another window manager starts afresh.
    void activationAnsweredWithUrgency()
    {
        windowManager->terminate();
        QVERIFY(windowManager->waitForFinished(deadline));
        const auto openboxAgain = qScopeGuard([] {
            if (windowManager->state() == QProcess::NotRunning)
                switchWindowManager("openbox", {}, "Openbox");
        });
        QTemporaryDir dir;
        App a(dir.path());
        QVERIFY(QTest::qWaitForWindowExposed(a.app->window(), deadline));
        WindowManagerSupport &support = a.app->windowManagerSupport();
        QVERIFY(!support.placesWindowsItself());
        a.app->raise();
        // The request leaves after a round trip for the server's time; the mark is set until it
        // is seen as the answer.
        QVERIFY(QTest::qWaitFor(
            [&] {
                x("xprop", {"-id", QString::number(a.id()), "-f", "_NET_WM_STATE", "32a", "-set",
                            "_NET_WM_STATE", "_NET_WM_STATE_DEMANDS_ATTENTION"});
                return support.placesWindowsItself();
            },
            deadline));
        QCOMPARE(a.app->windowManagerNotice()->message(), WindowManagerNotice::text());
        QVERIFY(!a.app->focusFollows().isRunning());
        QVERIFY(switchWindowManager("openbox", {}, "Openbox"));
        QTRY_VERIFY_WITH_TIMEOUT(!support.placesWindowsItself(), deadline);
        QTRY_VERIFY_WITH_TIMEOUT(a.app->focusFollows().isRunning(), deadline);
    }
};

namespace {

struct Server
{
    QProcess xvfb;
    QProcess wm;
    Server()
    {
        // A test that crashes or is killed must not leave the server running: it would keep the
        // display, and every file descriptor it inherited (a build lock among them), for good.
        for (QProcess *process : {&xvfb, &wm})
            process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    ~Server()
    {
        // Terminated, not killed, so that the X server removes its lock file.
        wm.terminate();
        wm.waitForFinished();
        xvfb.terminate();
        xvfb.waitForFinished();
    }
};

bool startDisplay(Server &server)
{
    for (const char *tool : {"Xvfb", "openbox", "xprop", "xwininfo", "xdotool", "python3"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            std::printf("SKIP: %s is not installed\n", tool);
            return false;
        }
    }
    int number = 140;
    while (QFileInfo::exists(QString("/tmp/.X%1-lock").arg(number)))
        ++number;
    const QString display = QString(":%1").arg(number);
    server.xvfb.setStandardOutputFile(QProcess::nullDevice());
    server.xvfb.setStandardErrorFile(QProcess::nullDevice());
    server.xvfb.start("Xvfb",
                      {display, "-screen", "0", "1600x1000x24", "-nolisten", "tcp", "-noreset"});
    QElapsedTimer timer;
    timer.start();
    const QString socket = QString("/tmp/.X11-unix/X%1").arg(number);
    while (!QFileInfo::exists(socket) && timer.elapsed() < deadline)
        QThread::msleep(20);
    if (!QFileInfo::exists(socket)) {
        std::printf("SKIP: no X server could start on %s\n", qPrintable(display));
        return false;
    }
    qputenv("DISPLAY", display.toLatin1());
    // openbox dies when its output pipes are not read.
    server.wm.setStandardOutputFile(QProcess::nullDevice());
    server.wm.setStandardErrorFile(QProcess::nullDevice());
    server.wm.start("openbox", {});
    while (timer.elapsed() < deadline) {
        if (x("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains(QChar('#')))
            return true;
        QThread::msleep(50);
    }
    std::printf("SKIP: openbox did not start\n");
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    Server server;
    {
        QCoreApplication probe(argc, argv); // QProcess wants an application object
        if (!startDisplay(server))
            return skipCode;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    windowManager = &server.wm;
    TestWindowX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_x11.moc"
