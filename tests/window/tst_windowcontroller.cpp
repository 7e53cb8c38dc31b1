#include "platform/Preferences.h"
#include "window/WindowController.h"
#include "window/WindowHost.h"

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
    std::unique_ptr<Preferences> defaults =
        std::make_unique<Preferences>(dir.filePath(QStringLiteral("prefs.plist")));
    FakeHost host;
    std::unique_ptr<WindowController> controller;

    WindowController &connect()
    {
        controller = std::make_unique<WindowController>(*defaults);
        controller->setWindow(&host);
        controller->startScreenObserver();
        controller->startResizeObserver(&host);
        controller->apply(std::nullopt);
        return *controller;
    }
};

using Setup = QMap<QString, QVariant>;

} // namespace

class TestWindowController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUp_data();
    void startUp();
    void docking_data();
    void docking();
    void floatingFrames_data();
    void floatingFrames();
    void recordsUserWidth_data();
    void recordsUserWidth();
    void leavesFullScreenFirst();
    void equalValueDoesNothing();
    void followsScreenChanges();
};

void TestWindowController::startUp_data()
{
    QTest::addColumn<Setup>("stored");
    QTest::addColumn<DockMode>("mode");
    QTest::addColumn<bool>("onTop");
    QTest::newRow("first start") << Setup{} << DockMode::Left << true;
    QTest::newRow("legacy unpinned") << Setup{{"windowPinned", false}} << DockMode::Off << false;
    QTest::newRow("legacy pinned") << Setup{{"windowPinned", true}} << DockMode::Left << true;
    QTest::newRow("right") << Setup{{"windowDockMode", "right"}} << DockMode::Right << true;
    QTest::newRow("off") << Setup{{"windowDockMode", "off"}} << DockMode::Off << false;
    QTest::newRow("unknown mode") << Setup{{"windowDockMode", "top"}} << DockMode::Left << true;
    QTest::newRow("off but on top")
        << Setup{{"windowDockMode", "off"}, {"windowAlwaysOnTop", true}} << DockMode::Off << true;
    QTest::newRow("legacy beats mode default")
        << Setup{{"windowDockMode", "left"}, {"windowPinned", false}} << DockMode::Left << false;
    QTest::newRow("on top of the wrong type")
        << Setup{{"windowDockMode", "left"}, {"windowAlwaysOnTop", "yes"}} << DockMode::Left
        << true;
}

void TestWindowController::startUp()
{
    QFETCH(Setup, stored);
    QFETCH(DockMode, mode);
    QFETCH(bool, onTop);
    Fixture f;
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        if (it.value().typeId() == QMetaType::Bool)
            f.defaults->setBool(it.value().toBool(), it.key());
        else
            f.defaults->setObject(it.value().toString(), it.key());
    }
    WindowController controller(*f.defaults);
    QCOMPARE(controller.dockMode(), mode);
    QCOMPARE(controller.isAlwaysOnTop(), onTop);
    // Nothing is applied or written before a window is connected.
    QCOMPARE(f.defaults->objectForKey(QStringLiteral("windowDockMode")).isValid(),
             stored.contains(QStringLiteral("windowDockMode")));
    QVERIFY(f.host.frames.isEmpty());
}

void TestWindowController::docking_data()
{
    QTest::addColumn<DockMode>("mode");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<double>("customWidth"); // 0: none stored
    QTest::addColumn<QRect>("frame");
    const QRect screen(0, 0, 1600, 1000);
    QTest::newRow("left") << DockMode::Left << screen << 0.0 << QRect(0, 0, 440, 1000);
    QTest::newRow("right") << DockMode::Right << screen << 0.0 << QRect(1160, 0, 440, 1000);
    QTest::newRow("custom 500") << DockMode::Right << screen << 500.0 << QRect(1100, 0, 500, 1000);
    QTest::newRow("custom below minimum")
        << DockMode::Left << screen << 300.0 << QRect(0, 0, 440, 1000);
    QTest::newRow("custom wider than screen")
        << DockMode::Right << screen << 2000.0 << QRect(0, 0, 1600, 1000);
    QTest::newRow("narrow screen")
        << DockMode::Right << QRect(0, 0, 400, 700) << 0.0 << QRect(0, 0, 400, 700);
    QTest::newRow("panel at the top and left")
        << DockMode::Left << QRect(48, 30, 1552, 970) << 0.0 << QRect(48, 30, 440, 970);
    QTest::newRow("second screen")
        << DockMode::Right << QRect(1600, 0, 1920, 1080) << 0.0 << QRect(3080, 0, 440, 1080);
    QTest::newRow("no screen") << DockMode::Left << QRect() << 0.0 << QRect(100, 100, 600, 500);
}

void TestWindowController::docking()
{
    QFETCH(DockMode, mode);
    QFETCH(QRect, area);
    QFETCH(double, customWidth);
    QFETCH(QRect, frame);
    Fixture f;
    f.host.areas = area.isNull() ? QList<QRect>{} : QList<QRect>{area};
    if (customWidth > 0)
        f.defaults->setDouble(customWidth, QStringLiteral("windowDockWidthCustom"));
    f.defaults->setObject(DockModes::toString(mode), QStringLiteral("windowDockMode"));
    WindowController &controller = f.connect();
    QCOMPARE(f.host.frame(), frame);
    QCOMPARE(f.host.onTop, true);
    // The controller's own frame changes are never taken for the user's width.
    QCOMPARE(f.defaults->doubleForKey(QStringLiteral("windowDockWidthCustom")), customWidth);
    QCOMPARE(controller.dockMode(), mode);
}

void TestWindowController::floatingFrames_data()
{
    QTest::addColumn<DockMode>("start");
    QTest::addColumn<QList<DockMode>>("modes"); // set one after another after connecting
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QRect>("initial");
    QTest::addColumn<QRect>("frame");
    const QList<QRect> screen{QRect(0, 0, 1600, 1000)};
    const QRect floating(100, 100, 600, 500);
    QTest::newRow("dock and undock restores")
        << DockMode::Off << QList<DockMode>{DockMode::Left, DockMode::Off} << screen << floating
        << floating;
    QTest::newRow("dock to dock keeps the floating frame")
        << DockMode::Off << QList<DockMode>{DockMode::Left, DockMode::Right, DockMode::Off}
        << screen << floating << floating;
    QTest::newRow("off screen frame centred")
        << DockMode::Off << QList<DockMode>{DockMode::Left, DockMode::Off} << screen
        << QRect(3000, 100, 600, 500) << QRect(500, 250, 600, 500);
    QTest::newRow("no remembered frame: default floating")
        << DockMode::Left << QList<DockMode>{DockMode::Off} << screen << floating
        << QRect(580, 140, 440, 720);
    QTest::newRow("short screen") << DockMode::Left << QList<DockMode>{DockMode::Off}
                                  << QList<QRect>{QRect(0, 0, 1280, 600)} << floating
                                  << QRect(420, 0, 440, 600);
    QTest::newRow("no screen: fallback area")
        << DockMode::Left << QList<DockMode>{DockMode::Off} << QList<QRect>{} << floating
        << QRect(500, 90, 440, 720);
}

void TestWindowController::floatingFrames()
{
    QFETCH(DockMode, start);
    QFETCH(QList<DockMode>, modes);
    QFETCH(QList<QRect>, areas);
    QFETCH(QRect, initial);
    QFETCH(QRect, frame);
    Fixture f;
    f.host.areas = areas;
    f.host.m_frame = initial;
    f.defaults->setObject(DockModes::toString(start), QStringLiteral("windowDockMode"));
    WindowController &controller = f.connect();
    for (DockMode mode : modes)
        controller.setDockMode(mode);
    QCOMPARE(f.host.frame(), frame);
    QCOMPARE(f.defaults->stringForKey(QStringLiteral("windowDockMode")),
             DockModes::toString(modes.last()));
}

void TestWindowController::recordsUserWidth_data()
{
    QTest::addColumn<double>("stored");
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("expected");
    QTest::newRow("wider") << 0.0 << 500 << 500.0;
    QTest::newRow("below minimum") << 500.0 << 300 << 440.0;
    QTest::newRow("below minimum, none stored") << 0.0 << 300 << 0.0;
    QTest::newRow("under a point") << 500.4 << 500 << 500.4;
    QTest::newRow("wider than the screen") << 0.0 << 2000 << 1600.0;
}

void TestWindowController::recordsUserWidth()
{
    QFETCH(double, stored);
    QFETCH(int, width);
    QFETCH(double, expected);
    Fixture f;
    if (stored > 0)
        f.defaults->setDouble(stored, QStringLiteral("windowDockWidthCustom"));
    WindowController &controller = f.connect();
    f.host.userResize(width);
    QCOMPARE(f.defaults->doubleForKey(QStringLiteral("windowDockWidthCustom")), expected);
    // Not re-docked after the resize; the width is used by the next docking.
    QCOMPARE(f.host.frame().width(), width);
    controller.setDockMode(DockMode::Right);
    if (expected > 0)
        QCOMPARE(f.host.frame().width(), static_cast<int>(std::lround(expected)));

    // A floating window's width is nobody's dock width.
    controller.setDockMode(DockMode::Off);
    f.host.userResize(900);
    QCOMPARE(f.defaults->doubleForKey(QStringLiteral("windowDockWidthCustom")), expected);
}

void TestWindowController::leavesFullScreenFirst()
{
    Fixture f;
    f.defaults->setObject(QStringLiteral("off"), QStringLiteral("windowDockMode"));
    WindowController &controller = f.connect();
    f.host.fullScreen = true;
    controller.setDockMode(DockMode::Left);
    controller.setDockMode(DockMode::Right);
    QCOMPARE(f.host.exitRequests, 1);
    QVERIFY(f.host.frames.isEmpty());
    f.host.fullScreen = false;
    Q_EMIT f.host.fullScreenExited();
    QCOMPARE(f.host.frame(), QRect(1160, 0, 440, 1000));
    // One-shot: a later exit notification finds nothing registered.
    Q_EMIT f.host.fullScreenExited();
    QCOMPARE(f.host.frames.size(), 1);
}

void TestWindowController::equalValueDoesNothing()
{
    Fixture f;
    WindowController &controller = f.connect();
    QSignalSpy modeSpy(&controller, &WindowController::dockModeChanged);
    QSignalSpy topSpy(&controller, &WindowController::isAlwaysOnTopChanged);
    const qsizetype frames = f.host.frames.size();
    controller.setDockMode(DockMode::Left);
    controller.setAlwaysOnTop(true);
    QCOMPARE(f.host.frames.size(), frames);
    QVERIFY(modeSpy.isEmpty());
    QVERIFY(topSpy.isEmpty());
    QVERIFY(!f.defaults->objectForKey(QStringLiteral("windowDockMode")).isValid());
    QVERIFY(!f.defaults->objectForKey(QStringLiteral("windowAlwaysOnTop")).isValid());

    controller.setAlwaysOnTop(false);
    QCOMPARE(f.host.onTop, false);
    QCOMPARE(topSpy.size(), 1);
    QCOMPARE(f.defaults->objectForKey(QStringLiteral("windowAlwaysOnTop")), QVariant(false));
}

void TestWindowController::followsScreenChanges()
{
    Fixture f;
    f.connect();
    f.host.areas = {QRect(0, 32, 1920, 1048)}; // another monitor, with a panel on top
    Q_EMIT f.host.screensChanged();
    QCOMPARE(f.host.frame(), QRect(0, 32, 440, 1048));
}

QTEST_GUILESS_MAIN(TestWindowController)
#include "tst_windowcontroller.moc"
