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
    Preferences defaults{dir.filePath("prefs.plist")};
    FakeHost host;
    std::unique_ptr<WindowController> controller;

    explicit Fixture(DockMode mode, double customWidth = 0)
    {
        defaults.setObject(DockModes::toString(mode), "windowDockMode");
        if (customWidth > 0)
            defaults.setDouble(customWidth, "windowDockWidthCustom");
    }
    WindowController &connect()
    {
        controller = std::make_unique<WindowController>(defaults);
        controller->setWindow(&host);
        controller->startScreenObserver();
        controller->startResizeObserver(&host);
        controller->apply(std::nullopt);
        return *controller;
    }
    double customWidth() const { return defaults.doubleForKey("windowDockWidthCustom"); }
};

using Setup = QMap<QString, QVariant>;

} // namespace

class TestWindowController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUp_data()
    {
        QTest::addColumn<Setup>("stored");
        QTest::addColumn<DockMode>("mode");
        QTest::addColumn<bool>("onTop");
        QTest::newRow("first start") << Setup{} << DockMode::Left << true;
        QTest::newRow("legacy unpinned")
            << Setup{{"windowPinned", false}} << DockMode::Off << false;
        QTest::newRow("right") << Setup{{"windowDockMode", "right"}} << DockMode::Right << true;
        QTest::newRow("unknown mode") << Setup{{"windowDockMode", "top"}} << DockMode::Left << true;
        QTest::newRow("off but on top")
            << Setup{{"windowDockMode", "off"}, {"windowAlwaysOnTop", true}} << DockMode::Off
            << true;
        QTest::newRow("legacy beats mode default")
            << Setup{{"windowDockMode", "left"}, {"windowPinned", false}} << DockMode::Left
            << false;
        QTest::newRow("on top of the wrong type")
            << Setup{{"windowDockMode", "off"}, {"windowAlwaysOnTop", "yes"}} << DockMode::Off
            << false;
    }
    void startUp()
    {
        QFETCH(Setup, stored);
        QFETCH(DockMode, mode);
        QFETCH(bool, onTop);
        QTemporaryDir dir;
        Preferences defaults(dir.filePath("prefs.plist"));
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            if (it.value().typeId() == QMetaType::Bool)
                defaults.setBool(it.value().toBool(), it.key());
            else
                defaults.setObject(it.value().toString(), it.key());
        }
        WindowController controller(defaults);
        QCOMPARE(controller.dockMode(), mode);
        QCOMPARE(controller.isAlwaysOnTop(), onTop);
        // Nothing is written before a window is connected.
        QCOMPARE(defaults.objectForKey("windowDockMode").isValid(),
                 stored.contains("windowDockMode"));
    }

    // Frames after docking in `modes`, one after another, from a floating window at `initial`.
    void frames_data()
    {
        QTest::addColumn<QList<DockMode>>("modes");
        QTest::addColumn<QList<QRect>>("areas");
        QTest::addColumn<double>("customWidth"); // 0: none stored
        QTest::addColumn<QRect>("initial");
        QTest::addColumn<QRect>("frame");
        using L = QList<DockMode>;
        const DockMode left = DockMode::Left, right = DockMode::Right, off = DockMode::Off;
        const QList<QRect> screen{QRect(0, 0, 1600, 1000)};
        const QRect floating(100, 100, 600, 500);
        QTest::newRow("left") << L{left} << screen << 0.0 << floating << QRect(0, 0, 440, 1000);
        QTest::newRow("right") << L{right} << screen << 0.0 << floating
                               << QRect(1160, 0, 440, 1000);
        QTest::newRow("custom 500")
            << L{right} << screen << 500.0 << floating << QRect(1100, 0, 500, 1000);
        QTest::newRow("custom below minimum")
            << L{left} << screen << 300.0 << floating << QRect(0, 0, 440, 1000);
        QTest::newRow("custom wider than screen")
            << L{right} << screen << 2000.0 << floating << QRect(0, 0, 1600, 1000);
        QTest::newRow("narrow screen") << L{right} << QList<QRect>{QRect(0, 0, 400, 700)} << 0.0
                                       << floating << QRect(0, 0, 400, 700);
        QTest::newRow("panel at the top and left")
            << L{left} << QList<QRect>{QRect(48, 30, 1552, 970)} << 0.0 << floating
            << QRect(48, 30, 440, 970);
        QTest::newRow("second screen") << L{right} << QList<QRect>{QRect(1600, 0, 1920, 1080)}
                                       << 0.0 << floating << QRect(3080, 0, 440, 1080);
        QTest::newRow("no screen: left alone")
            << L{left} << QList<QRect>{} << 0.0 << floating << floating;
        QTest::newRow("dock to dock and back restores the floating frame")
            << L{off, left, right, off} << screen << 0.0 << floating << floating;
        QTest::newRow("off screen frame centred")
            << L{off, left, off} << screen << 0.0 << QRect(3000, 100, 600, 500)
            << QRect(500, 250, 600, 500);
        QTest::newRow("no remembered frame: default floating")
            << L{left, off} << screen << 0.0 << floating << QRect(580, 140, 440, 720);
        QTest::newRow("short screen") << L{left, off} << QList<QRect>{QRect(0, 0, 1280, 600)} << 0.0
                                      << floating << QRect(420, 0, 440, 600);
        QTest::newRow("no screen: fallback area")
            << L{left, off} << QList<QRect>{} << 0.0 << floating << QRect(500, 90, 440, 720);
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

    void recordsUserWidth_data()
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
    void recordsUserWidth()
    {
        QFETCH(double, stored);
        QFETCH(int, width);
        QFETCH(double, expected);
        Fixture f(DockMode::Left, stored);
        WindowController &controller = f.connect();
        f.host.userResize(width);
        QCOMPARE(f.customWidth(), expected);
        // Not re-docked after the resize; the width is used by the next docking.
        QCOMPARE(f.host.frame().width(), width);
        controller.setDockMode(DockMode::Right);
        if (expected > 0)
            QCOMPARE(f.host.frame().width(), static_cast<int>(std::lround(expected)));
        // A floating window's width is nobody's dock width.
        controller.setDockMode(DockMode::Off);
        f.host.userResize(900);
        QCOMPARE(f.customWidth(), expected);
    }

    void leavesFullScreenFirst()
    {
        Fixture f(DockMode::Off);
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

    void equalValueDoesNothingAndScreensAreFollowed()
    {
        Fixture f(DockMode::Left);
        WindowController &controller = f.connect();
        QSignalSpy modeSpy(&controller, &WindowController::dockModeChanged);
        QSignalSpy topSpy(&controller, &WindowController::isAlwaysOnTopChanged);
        const qsizetype frames = f.host.frames.size();
        controller.setDockMode(DockMode::Left);
        controller.setAlwaysOnTop(true);
        QCOMPARE(f.host.frames.size(), frames);
        QVERIFY(modeSpy.isEmpty() && topSpy.isEmpty());
        QVERIFY(!f.defaults.objectForKey("windowAlwaysOnTop").isValid());
        controller.setAlwaysOnTop(false);
        QCOMPARE(f.host.onTop, false);
        QCOMPARE(topSpy.size(), 1);
        QCOMPARE(f.defaults.objectForKey("windowAlwaysOnTop"), QVariant(false));

        f.host.areas = {QRect(0, 32, 1920, 1048)}; // another monitor, with a panel on top
        Q_EMIT f.host.screensChanged();
        QCOMPARE(f.host.frame(), QRect(0, 32, 440, 1048));
    }
};

QTEST_GUILESS_MAIN(TestWindowController)
#include "tst_windowcontroller.moc"
