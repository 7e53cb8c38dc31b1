#include "platform/Preferences.h"
#include "window/FocusFollowsMouse.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const AppId self{AppId::Kind::Process, 100};
const AppId daw{AppId::Kind::Process, 200};
const AppId other{AppId::Kind::Client, 0x600000};

// A desktop with our window at the left, the DAW beside it and a third application's window in
// the top right corner; the window manager is scripted: activation takes effect at once and is
// reported like any other.
class FakeDesktop final : public FocusEnvironment
{
public:
    struct Window
    {
        QRect frame;
        AppId owner;
    };

    bool isAvailable() const override { return true; }
    AppId selfId() const override { return self; }
    std::optional<Application> frontmostApplication() override { return active; }
    std::optional<Pointer> pointer() override
    {
        ++pointerQueries;
        return Pointer{position, buttonHeld};
    }
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
    bool applicationExists(AppId id) override
    {
        return !(gone == id) && std::any_of(windows.cbegin(), windows.cend(),
                                            [id](const Window &w) { return w.owner == id; });
    }
    bool isActive(AppId id) override { return active && active->id == id; }
    void activate(AppId id) override
    {
        activations.append(id);
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
    std::optional<Application> active = Application{self, QStringLiteral("wavelark")};
    QPoint position{700, 100};
    bool buttonHeld = false;
    std::optional<AppId> gone;
    bool blocked = false;
    bool watching = false;
    qint64 clock = 1000;
    int pointerQueries = 0;
    int stackReads = 0;
    QList<AppId> activations;
};

struct Fixture
{
    QTemporaryDir dir;
    Preferences defaults{dir.filePath(QStringLiteral("prefs.plist"))};
    FakeDesktop desktop;
    bool onTop = true;
    FocusFollowsMouse focus{defaults, &desktop};

    Fixture()
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

class TestFocusFollowsMouse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The user switched to the partner `partnerName` (empty: never) with the pointer at
    // `switchedAt`; `afterMs` later the pointer is at `pointer`.
    void pollRules_data()
    {
        QTest::addColumn<QString>("partnerName");
        QTest::addColumn<QPoint>("switchedAt");
        QTest::addColumn<qint64>("afterMs");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QString>("state"); // "button", "modal", "floating" or nothing
        QTest::addColumn<bool>("activated");
        const QPoint overDaw(700, 100), overSelf(200, 300), nearEdge(430, 100);
        const auto row = [](const char *name, const char *partner, QPoint at, qint64 after,
                            QPoint pointer, const char *state, bool activated) {
            QTest::newRow(name) << partner << at << after << pointer << state << activated;
        };
        row("over our window", "bitwig", overDaw, 600, overSelf, "", true);
        row("no partner yet", "", overDaw, 600, overSelf, "", false);
        row("deny-listed app is no partner", "plasmashell", overDaw, 600, overSelf, "", false);
        row("left button held", "bitwig", overDaw, 600, overSelf, "button", false);
        row("modal dialog open", "bitwig", overDaw, 600, overSelf, "modal", false);
        row("not on top", "bitwig", overDaw, 600, overSelf, "floating", false);
        row("grace kept near the anchor", "bitwig", nearEdge, 100, QPoint(436, 104), "", false);
        row("grace left by distance", "bitwig", nearEdge, 100, QPoint(418, 100), "", true);
        row("grace left by time", "bitwig", nearEdge, 500, QPoint(436, 104), "", true);
        row("third application", "bitwig", overDaw, 600, QPoint(1500, 100), "", false);
        row("bare desktop", "bitwig", overDaw, 600, QPoint(1000, 950), "", false);
    }
    void pollRules()
    {
        QFETCH(QString, partnerName);
        QFETCH(QPoint, switchedAt);
        QFETCH(qint64, afterMs);
        QFETCH(QPoint, pointer);
        QFETCH(QString, state);
        QFETCH(bool, activated);
        Fixture f;
        if (!partnerName.isEmpty())
            f.userSwitch(daw, switchedAt, partnerName);
        f.desktop.buttonHeld = state == "button";
        f.desktop.blocked = state == "modal";
        f.onTop = state != "floating";
        f.moveAndPoll(pointer, afterMs);
        QCOMPARE(f.desktop.activations, activated ? QList<AppId>{self} : QList<AppId>{});
    }

    void ownActivationStartsNoGraceAndStillPointerCostsOneQuery()
    {
        Fixture f;
        f.userSwitch(daw, QPoint(700, 100));
        f.moveAndPoll(QPoint(430, 100), 600);
        QCOMPARE(f.desktop.activations, QList<AppId>{self});
        // Our own switch was reported within a second: no grace, so 11 points back over the DAW
        // hands focus back at once.
        f.moveAndPoll(QPoint(441, 100));
        QCOMPARE(f.desktop.activations, (QList<AppId>{self, daw}));
        QCOMPARE(f.focus.partner(), daw);

        const int queries = f.desktop.pointerQueries;
        const int reads = f.desktop.stackReads;
        for (int i = 0; i < 25; ++i)
            f.moveAndPoll(QPoint(441, 100));
        QCOMPARE(f.desktop.pointerQueries, queries + 25);
        QCOMPARE(f.desktop.stackReads, reads);
    }

    void partnerThatQuitIsForgotten()
    {
        Fixture f;
        f.userSwitch(daw, QPoint(700, 100));
        f.moveAndPoll(QPoint(200, 300), 600);
        // The window list still shows the DAW's window, but its process is gone.
        f.desktop.gone = daw;
        f.moveAndPoll(QPoint(700, 100));
        QCOMPARE(f.desktop.activations, QList<AppId>{self});
        QCOMPARE(f.focus.partner(), std::nullopt);
    }

    void stopKeepsThePartner()
    {
        Fixture f;
        f.userSwitch(daw, QPoint(700, 100));
        f.moveAndPoll(QPoint(200, 300), 600);
        f.focus.setEnabled(false);
        QVERIFY(!f.focus.isRunning());
        QCOMPARE(f.defaults.objectForKey("focusFollowsMouseEnabled"), QVariant(false));
        // While stopped, switches are not watched.
        f.userSwitch(other, QPoint(1500, 100), "xterm");
        f.userSwitch(self, QPoint(200, 300));
        // Restarted, it still knows the DAW; a new controller on the same preferences starts
        // running by itself.
        f.focus.setEnabled(true);
        QVERIFY(f.focus.isRunning());
        QCOMPARE(f.focus.partner(), daw);
        f.moveAndPoll(QPoint(800, 200));
        QCOMPARE(f.desktop.activations, (QList<AppId>{self, daw}));
        FocusFollowsMouse restarted(f.defaults, &f.desktop);
        QVERIFY(restarted.isEnabled() && restarted.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestFocusFollowsMouse)
#include "tst_focusfollowsmouse.moc"
