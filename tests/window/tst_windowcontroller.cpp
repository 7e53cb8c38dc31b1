// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Preferences.h"
#include "window/FocusFollowsMouse.h"
#include "window/WindowController.h"
#include "window/WindowHost.h"
#include "window/WindowManagerSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A window on scripted screens. Like the real platform, it reports its own resize while a frame
// is being set, so the controller must tell its own changes from the user's.
class FakeHost final : public WindowHost
{
public:
    QRect frame() const override { return m_frame; }
    void setFrame(const QRect &frame) override
    {
        frames.append(frame);
        m_frame = frame;
        Q_EMIT resized();
    }
    bool isFullScreen() const override { return fullScreen; }
    void exitFullScreen() override { ++exitRequests; }
    void setAlwaysOnTop(bool on) override { onTop = on; }
    int minimumFrameWidth() const override { return minimum; }
    void setMinimumFrameWidth(int width) override { minimum = width; }
    std::optional<QRect> windowScreenArea() const override
    {
        return areas.isEmpty() ? std::nullopt : std::optional<QRect>(areas.first());
    }
    std::optional<QRect> primaryScreenArea() const override { return windowScreenArea(); }
    QList<QRect> screenAreas() const override { return areas; }
    void userResize(int width)
    {
        m_frame.setWidth(width);
        Q_EMIT resized();
    }

    QRect m_frame{100, 100, 600, 500};
    QList<QRect> frames;
    QList<QRect> areas{QRect(0, 0, 1600, 1000)};
    bool fullScreen = false;
    int exitRequests = 0;
    bool onTop = false;
    int minimum = 0;
};

struct Fixture
{
    QTemporaryDir dir;
    Preferences defaults{dir.filePath("prefs.plist")};
    FakeHost host;
    std::unique_ptr<WindowController> controller;

    explicit Fixture(DockMode mode, double customWidth = 0)
    {
        defaults.setObject(DockModes::toString(mode), "windowDockMode");
        if (customWidth > 0)
            defaults.setDouble(customWidth, "windowDockWidthCustom");
    }
    WindowController &connect(WindowManagerSupport *support = nullptr)
    {
        controller = std::make_unique<WindowController>(defaults, support);
        controller->setWindow(&host);
        controller->startScreenObserver();
        controller->startResizeObserver(&host);
        controller->apply(std::nullopt);
        return *controller;
    }
    double customWidth() const { return defaults.doubleForKey("windowDockWidthCustom"); }
};

const AppId self{AppId::Kind::Process, 100};
const AppId daw{AppId::Kind::Process, 200};
const AppId other{AppId::Kind::Client, 0x600000};

// A desktop with our window at the left, the DAW beside it and a third application's window in
// the top right corner; the window manager is scripted: unless told to refuse requests or to hold
// them back, activation takes effect at once and is reported like any other.
class FakeDesktop final : public FocusEnvironment
{
public:
    struct Window
    {
        QRect frame;
        AppId owner;
    };

    bool isAvailable() const override { return available; }
    AppId selfId() const override { return self; }
    std::optional<Application> frontmostApplication() override { return active; }
    std::optional<Pointer> pointer() override { return Pointer{position, buttonHeld}; }
    bool isSelfBlocked() const override { return blocked; }
    bool isInsideOwnWindow(QPoint p) const override { return windows.first().frame.contains(p); }
    std::optional<AppId> ownerOfWindowAt(QPoint p) override
    {
        ++stackReads;
        for (const Window &w : std::as_const(windows)) {
            if (w.frame.contains(p))
                return w.owner;
        }
        return std::nullopt;
    }
    bool applicationExists(AppId id) override { return !(gone == id); }
    std::optional<AppId> activeApplication() override
    {
        return active ? std::optional<AppId>(active->id) : std::nullopt;
    }
    void activate(AppId id) override
    {
        activations.append(id);
        activationTimes.append(clock);
        if (refusals > 0)
            --refusals;
        else if (holdBack)
            held.append(id);
        else
            userSwitch(id, {});
    }
    void carryOutHeld()
    {
        for (const AppId id : std::exchange(held, {}))
            userSwitch(id, {});
    }
    qint64 now() const override { return clock; }
    void startWatching() override { watching = true; }
    void stopWatching() override { watching = false; }

    // Anyone's switch: ours through activate(), the user's by keyboard or click.
    void userSwitch(AppId id, const QString &name)
    {
        active = Application{id, name};
        if (watching)
            Q_EMIT applicationActivated(*active);
    }

    QList<Window> windows{{QRect(0, 0, 440, 1000), self},
                          {QRect(440, 0, 800, 800), daw},
                          {QRect(1400, 0, 200, 200), other}};
    bool available = true;
    std::optional<Application> active = Application{self, QStringLiteral("wavelark")};
    QPoint position{700, 100};
    bool buttonHeld = false;
    std::optional<AppId> gone;
    bool blocked = false;
    bool watching = false;
    qint64 clock = 1000;
    int stackReads = 0;
    QList<AppId> activations;
    QList<qint64> activationTimes;
    int refusals = 0;
    bool holdBack = false;
    QList<AppId> held;
};

struct FocusFixture
{
    QTemporaryDir dir;
    Preferences defaults{dir.filePath(QStringLiteral("prefs.plist"))};
    FakeDesktop desktop;
    bool onTop = true;
    FocusFollowsMouse focus{defaults, &desktop};

    FocusFixture()
    {
        focus.setAlwaysOnTopProvider([this] { return onTop; });
        focus.setEnabled(true);
    }
    // The user brings `id` forward with the pointer at `at`.
    void userSwitch(AppId id, QPoint at, const QString &name = QStringLiteral("bitwig"))
    {
        desktop.position = at;
        desktop.userSwitch(id, name);
    }
    void moveAndPoll(QPoint to, qint64 afterMs = 40)
    {
        desktop.clock += afterMs;
        desktop.position = to;
        focus.poll();
    }
};

} // namespace

Q_DECLARE_METATYPE(AppId)

// Docking and focus following the pointer, against a scripted window host and desktop.
class TestWindowController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Frames after docking in `modes`, one after another, from a floating window at `initial`.
    // The plain left, right and default floating frames are the X11 test's.
    void frames_data()
    {
        QTest::addColumn<QList<DockMode>>("modes");
        QTest::addColumn<QList<QRect>>("areas");
        QTest::addColumn<double>("customWidth"); // 0: none stored
        QTest::addColumn<QRect>("initial");
        QTest::addColumn<QRect>("frame");
        using L = QList<DockMode>;
        using Areas = QList<QRect>;
        const DockMode left = DockMode::Left, right = DockMode::Right, off = DockMode::Off;
        const auto row = [](const char *name, const L &modes, const QRect &frame, double custom = 0,
                            const Areas &areas = {QRect(0, 0, 1600, 1000)},
                            const QRect &initial = QRect(100, 100, 600, 500)) {
            QTest::newRow(name) << modes << areas << custom << initial << frame;
        };
        row("custom below minimum", L{left}, QRect(0, 0, 440, 1000), 300);
        row("custom wider than screen", L{right}, QRect(0, 0, 1600, 1000), 2000);
        row("panel at the top and left", L{left}, QRect(48, 30, 440, 970), 0,
            {QRect(48, 30, 1552, 970)});
        row("second screen", L{right}, QRect(3080, 0, 440, 1080), 0, {QRect(1600, 0, 1920, 1080)});
        row("no screen: left alone", L{left}, QRect(100, 100, 600, 500), 0, {});
        row("dock to dock and back restores the floating frame", L{off, left, right, off},
            QRect(100, 100, 600, 500));
        row("off screen frame centred", L{off, left, off}, QRect(500, 250, 600, 500), 0,
            {QRect(0, 0, 1600, 1000)}, QRect(3000, 100, 600, 500));
        row("no screen: fallback area", L{left, off}, QRect(500, 90, 440, 720), 0, {});
    }
    void frames()
    {
        QFETCH(QList<DockMode>, modes);
        QFETCH(QList<QRect>, areas);
        QFETCH(double, customWidth);
        QFETCH(QRect, initial);
        QFETCH(QRect, frame);
        Fixture f(modes.first(), customWidth);
        f.host.areas = areas;
        f.host.m_frame = initial;
        WindowController &controller = f.connect();
        for (DockMode mode : modes.mid(1))
            controller.setDockMode(mode);
        QCOMPARE(f.host.frame(), frame);
        QCOMPARE(f.host.onTop, modes.first() != DockMode::Off);
        QCOMPARE(f.defaults.stringForKey("windowDockMode"), DockModes::toString(modes.last()));
        // The controller's own frame changes are never taken for the user's width.
        QCOMPARE(f.customWidth(), customWidth);
    }

    // The width the user gives the docked window is kept for the next docking (which the X11
    // test checks), within the screen and above the default; the controller's own frame
    // changes and a floating window's width are nobody's dock width.
    void recordsUserWidth()
    {
        Fixture f(DockMode::Left);
        WindowController &controller = f.connect();
        QCOMPARE(f.customWidth(), 0.0);
        f.host.userResize(2000);
        QCOMPARE(f.customWidth(), 1600.0);
        QCOMPARE(f.host.frame().width(), 2000); // not re-docked
        f.host.userResize(300);
        QCOMPARE(f.customWidth(), 440.0);
        controller.setDockMode(DockMode::Off);
        f.host.userResize(900);
        QCOMPARE(f.customWidth(), 440.0);
    }

    // Stored on top while floating; docking waits for full screen to end; screens are followed.
    // The other start-up values are the shell and X11 tests'.
    void leavesFullScreenFirstAndFollowsScreens()
    {
        Fixture f(DockMode::Off);
        f.defaults.setBool(true, "windowAlwaysOnTop");
        WindowController &controller = f.connect();
        QVERIFY(f.host.onTop);
        f.host.fullScreen = true;
        controller.setDockMode(DockMode::Left);
        controller.setDockMode(DockMode::Right);
        QCOMPARE(f.host.exitRequests, 1);
        QVERIFY(f.host.frames.isEmpty());
        f.host.fullScreen = false;
        Q_EMIT f.host.fullScreenExited();
        QCOMPARE(f.host.frame(), QRect(1160, 0, 440, 1000));
        // One-shot: a later exit notification finds nothing registered; the same mode again
        // changes nothing either.
        Q_EMIT f.host.fullScreenExited();
        controller.setDockMode(DockMode::Right);
        QCOMPARE(f.host.frames.size(), 1);
        f.host.areas = {QRect(0, 32, 1920, 1048)}; // another monitor, with a panel on top
        Q_EMIT f.host.screensChanged();
        QCOMPARE(f.host.frame(), QRect(1480, 32, 440, 1048));
    }

    // A docked frame as the window manager has it a moment later (`actual`, after docking in
    // `mode`): only a docked edge or a height it did not keep tells that it places windows itself.
    void judgesDockedFrames_data()
    {
        QTest::addColumn<DockMode>("mode");
        QTest::addColumn<QRect>("actual");
        QTest::addColumn<bool>("placesItself");
        const DockMode left = DockMode::Left, right = DockMode::Right;
        QTest::newRow("kept") << left << QRect(0, 0, 440, 1000) << false;
        QTest::newRow("within a few pixels") << left << QRect(3, 2, 437, 996) << false;
        QTest::newRow("free edge dragged by the user") << left << QRect(0, 0, 521, 1000) << false;
        QTest::newRow("tiled over the whole screen, left")
            << left << QRect(0, 0, 1600, 1000) << true;
        QTest::newRow("tiled over the whole screen, right")
            << right << QRect(0, 0, 1600, 1000) << true;
        QTest::newRow("tiled in the right half, left") << left << QRect(800, 0, 800, 1000) << true;
        QTest::newRow("shorter than the screen") << left << QRect(0, 0, 440, 980) << true;
        QTest::newRow("below a bar") << right << QRect(1160, 20, 440, 980) << true;
    }
    void judgesDockedFrames()
    {
        QFETCH(DockMode, mode);
        QFETCH(QRect, actual);
        QFETCH(bool, placesItself);
        Fixture f(mode);
        WindowManagerSupport support;
        f.connect(&support);
        const QRect asked = f.host.frame();
        Q_EMIT f.host.frameSettled(asked, actual);
        QCOMPARE(support.placesWindowsItself(), placesItself);
        // A floating window may be anywhere.
        Fixture floating(DockMode::Off);
        WindowManagerSupport floatingSupport;
        floating.connect(&floatingSupport);
        Q_EMIT floating.host.frameSettled(QRect(100, 100, 600, 500), actual);
        QVERIFY(!floatingSupport.placesWindowsItself());
    }

    // Whatever shows that the window manager places windows itself (`evidence`): nothing is
    // docked or kept on top and no width is taken from its tiling, the stored choices stay, and
    // once another window manager takes over everything is as before.
    void standsBackWhereTheWindowManagerPlacesWindows_data()
    {
        QTest::addColumn<QString>("evidence");
        QTest::newRow("no _NET_WM_STATE_ABOVE") << "above";
        QTest::newRow("frame not kept") << "frame";
        QTest::newRow("activation answered with urgency") << "urgency";
    }
    void standsBackWhereTheWindowManagerPlacesWindows()
    {
        QFETCH(QString, evidence);
        Fixture f(DockMode::Left);
        f.defaults.setBool(true, "windowAlwaysOnTop");
        WindowManagerSupport support;
        QSignalSpy changes(&support, &WindowManagerSupport::placesWindowsItselfChanged);
        WindowController &controller = f.connect(&support);
        QVERIFY(f.host.onTop);
        QCOMPARE(f.host.frames.size(), 1);
        if (evidence == "above")
            support.setKeepsWindowsAbove(false);
        else if (evidence == "frame")
            Q_EMIT f.host.frameSettled(f.host.frame(), QRect(800, 0, 800, 1000));
        else
            support.reportActivationAnsweredWithUrgency();
        QVERIFY(support.placesWindowsItself());
        QCOMPARE(changes.size(), 1);
        QVERIFY(!f.host.onTop);

        f.host.m_frame = QRect(0, 0, 800, 1000); // tiled beside another window
        f.host.userResize(800);
        controller.setDockMode(DockMode::Right);
        Q_EMIT f.host.screensChanged();
        QCOMPARE(f.host.frames.size(), 1);
        QCOMPARE(f.customWidth(), 0.0);
        QVERIFY(!f.host.onTop);
        // The choices are the user's and stay for a desktop that honours them.
        QCOMPARE(controller.dockMode(), DockMode::Right);
        QVERIFY(controller.isAlwaysOnTop());
        QCOMPARE(f.defaults.stringForKey("windowDockMode"), QStringLiteral("right"));
        QCOMPARE(f.defaults.objectForKey("windowAlwaysOnTop"), QVariant(true));

        support.setKeepsWindowsAbove(true);
        support.forgetObservations();
        QVERIFY(!support.placesWindowsItself());
        QCOMPARE(changes.size(), 2);
        QVERIFY(f.host.onTop);
        QCOMPARE(f.host.frame(), QRect(1160, 0, 440, 1000));
    }

    // Where focus cannot follow (the window manager places windows itself), the controller
    // stops without giving up the user's setting, and runs again once it can.
    void waitsWhileTheDesktopCannotFollow()
    {
        FocusFixture f;
        f.userSwitch(daw, QPoint(700, 100));
        QVERIFY(f.focus.isRunning());
        f.desktop.available = false;
        Q_EMIT f.desktop.availabilityChanged();
        QVERIFY(!f.focus.isRunning());
        QVERIFY(f.focus.isEnabled());
        QCOMPARE(f.defaults.objectForKey("focusFollowsMouseEnabled"), QVariant(true));
        f.desktop.available = true;
        Q_EMIT f.desktop.availabilityChanged();
        QVERIFY(f.focus.isRunning());
        f.moveAndPoll(QPoint(200, 300), 600);
        QCOMPARE(f.desktop.activations, QList<AppId>{self});
        // Switched off meanwhile, it stays off.
        f.focus.setEnabled(false);
        Q_EMIT f.desktop.availabilityChanged();
        QVERIFY(!f.focus.isRunning());
    }

    // The user switched to the partner `partnerName` (empty: never) with the pointer at
    // `switchedAt`; `afterMs` later the pointer is at the first point of `path`, then at the next
    // ones 40 ms apart, and each time the controller polls.
    void pollRules_data()
    {
        QTest::addColumn<QString>("partnerName");
        QTest::addColumn<QPoint>("switchedAt");
        QTest::addColumn<qint64>("afterMs");
        QTest::addColumn<QList<QPoint>>("path");
        QTest::addColumn<QString>("state"); // "button", "modal", "floating", "quit" or nothing
        QTest::addColumn<QList<AppId>>("activated");
        const QPoint overDaw(700, 100), overSelf(200, 300), nearEdge(430, 100);
        const QList<AppId> none, us{self};
        const auto row = [](const char *name, const char *partner, QPoint at, qint64 after,
                            const QList<QPoint> &path, const char *state,
                            const QList<AppId> &activated) {
            QTest::newRow(name) << partner << at << after << path << state << activated;
        };
        row("over our window", "bitwig", overDaw, 600, {overSelf}, "", us);
        row("no partner yet", "", overDaw, 600, {overSelf}, "", none);
        row("deny-listed app is no partner", "plasmashell", overDaw, 600, {overSelf}, "", none);
        row("left button held", "bitwig", overDaw, 600, {overSelf}, "button", none);
        row("modal dialog open", "bitwig", overDaw, 600, {overSelf}, "modal", none);
        row("not on top", "bitwig", overDaw, 600, {overSelf}, "floating", none);
        row("grace kept near the anchor", "bitwig", nearEdge, 100, {QPoint(436, 104)}, "", none);
        row("grace left by distance", "bitwig", nearEdge, 100, {QPoint(418, 100)}, "", us);
        row("grace left by time", "bitwig", nearEdge, 500, {QPoint(436, 104)}, "", us);
        row("third application", "bitwig", overDaw, 600, {QPoint(1500, 100)}, "", none);
        row("bare desktop", "bitwig", overDaw, 600, {QPoint(1000, 950)}, "", none);
        // Our own switch is reported within a second: no grace, so 11 points back over the DAW
        // hand focus back at once.
        row("own switch starts no grace", "bitwig", overDaw, 600, {nearEdge, QPoint(441, 100)}, "",
            {self, daw});
        // The window list still shows the DAW's window, but its process is gone.
        row("partner quit", "bitwig", overDaw, 600, {overSelf, overDaw}, "quit", us);
    }
    void pollRules()
    {
        QFETCH(QString, partnerName);
        QFETCH(QPoint, switchedAt);
        QFETCH(qint64, afterMs);
        QFETCH(QList<QPoint>, path);
        QFETCH(QString, state);
        QFETCH(QList<AppId>, activated);
        FocusFixture f;
        if (!partnerName.isEmpty())
            f.userSwitch(daw, switchedAt, partnerName);
        f.desktop.buttonHeld = state == "button";
        f.desktop.blocked = state == "modal";
        f.onTop = state != "floating";
        if (state == "quit")
            f.desktop.gone = daw;
        for (const QPoint &at : path)
            f.moveAndPoll(at, std::exchange(afterMs, 40));
        QCOMPARE(f.desktop.activations, activated);
        if (state == "quit")
            QCOMPARE(f.focus.partner(), std::nullopt);
        // A pointer that stays put costs no look at the window stack.
        const int reads = f.desktop.stackReads;
        f.moveAndPoll(path.last());
        QCOMPARE(f.desktop.stackReads, reads);
    }

    // The window manager refuses the first `refusals` requests; `intruder` is a third application
    // that takes the focus right after the first request, reported or not yet. The pointer rests
    // over our window for two seconds.
    void retriesUnconfirmedActivation_data()
    {
        QTest::addColumn<int>("refusals");
        QTest::addColumn<QString>("intruder");
        QTest::addColumn<QList<AppId>>("activated");
        QTest::addColumn<AppId>("activeAtEnd");
        const auto row = [](const char *name, int refusals, const char *intruder, int requests,
                            AppId end) {
            QTest::newRow(name) << refusals << intruder << QList<AppId>(requests, self) << end;
        };
        row("taken at once", 0, "", 1, self);
        row("refused once", 1, "", 2, self);
        row("refused for good: a bounded number of tries", 100, "",
            FocusFollowsMouse::activationAttempts, daw);
        row("third application, reported", 100, "reported", 1, other);
        row("third application, not reported yet", 100, "silent", 1, other);
    }
    void retriesUnconfirmedActivation()
    {
        QFETCH(int, refusals);
        QFETCH(QString, intruder);
        QFETCH(QList<AppId>, activated);
        QFETCH(AppId, activeAtEnd);
        FocusFixture f;
        f.userSwitch(daw, QPoint(700, 100));
        f.desktop.refusals = refusals;
        f.moveAndPoll(QPoint(200, 300), 600);
        if (intruder == "reported")
            f.desktop.userSwitch(other, QStringLiteral("xterm"));
        else if (intruder == "silent")
            f.desktop.active = FocusEnvironment::Application{other, QStringLiteral("xterm")};
        for (int i = 0; i < 50; ++i)
            f.moveAndPoll(QPoint(200, 300));
        QCOMPARE(f.desktop.activations, activated);
        QCOMPARE(f.desktop.active->id, activeAtEnd);
        const QList<qint64> &times = f.desktop.activationTimes;
        for (qsizetype i = 1; i < times.size(); ++i)
            QVERIFY(times[i] - times[i - 1] >= FocusFollowsMouse::activationConfirmMs);
    }

    // A busy window manager carries out the requests late: the pointer has gone back over the
    // DAW before our own activation took effect.
    void followsPointerAheadOfTheWindowManager()
    {
        FocusFixture f;
        f.userSwitch(daw, QPoint(700, 100));
        f.desktop.holdBack = true;
        f.moveAndPoll(QPoint(200, 300), 600);
        f.moveAndPoll(QPoint(220, 310)); // no second request while the first is on its way
        QCOMPARE(f.desktop.activations, QList<AppId>{self});
        f.moveAndPoll(QPoint(700, 100)); // the DAW still has the focus, but not for long
        QCOMPARE(f.desktop.activations, (QList<AppId>{self, daw}));
        f.desktop.carryOutHeld();
        f.desktop.holdBack = false;
        QCOMPARE(f.desktop.active->id, daw);
        for (int i = 0; i < 25; ++i)
            f.moveAndPoll(QPoint(700, 100));
        QCOMPARE(f.desktop.activations.size(), 2);
        // Both switches were ours: no grace period holds the next one back.
        f.moveAndPoll(QPoint(200, 300));
        QCOMPARE(f.desktop.activations, (QList<AppId>{self, daw, self}));
    }

    void stopKeepsThePartner()
    {
        FocusFixture f;
        f.userSwitch(daw, QPoint(700, 100));
        f.focus.setEnabled(false);
        // While stopped, switches are not watched; restarted, it still knows the DAW.
        f.userSwitch(other, QPoint(1500, 100), "xterm");
        f.userSwitch(self, QPoint(200, 300));
        f.focus.setEnabled(true);
        QCOMPARE(f.focus.partner(), daw);
        // A new controller on the same preferences starts running by itself.
        FocusFollowsMouse restarted(f.defaults, &f.desktop);
        QVERIFY(restarted.isEnabled() && restarted.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestWindowController)
#include "tst_windowcontroller.moc"
