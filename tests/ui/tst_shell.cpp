#include "ModelFixtures.h"
#include "UiFixtures.h"

#include "model/FolderChooser.h"
#include "ui/AboutDialog.h"
#include "ui/ContentView.h"
#include "ui/ErrorOverlay.h"
#include "ui/SearchBar.h"
#include "ui/WavelarkApp.h"
#include "window/FocusFollowsMouse.h"
#include "window/WindowController.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

namespace {

struct Fixture
{
    QTemporaryDir dir;
    RecordingPresenter presenter;
    TestFolderChooser chooser;
    std::unique_ptr<WavelarkApp> app;

    QString path(const QString &relative) const { return dir.filePath(relative); }
    bool make()
    {
        WavelarkApp::Services services;
        services.preferencesPath = path(QStringLiteral("prefs.plist"));
        services.indexFilePath = path(QStringLiteral("index.plist"));
        services.peaksCacheDirectory = path(QStringLiteral("peaks"));
        services.liveUpdates = false;
        services.dialogPresenter = &presenter;
        app = std::make_unique<WavelarkApp>(std::move(services));
        app->model().setFolderChooser(&chooser);
        app->show();
        return QTest::qWaitForWindowExposed(app->window());
    }
    ~Fixture()
    {
        if (app)
            app->model().waitForIndexWrites();
    }
    QUrl folder(const QString &name) const
    {
        TestSupport::makeDirs(path(name));
        return QUrl::fromLocalFile(path(name));
    }
};

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dockedWindowAndCommands()
    {
        Fixture f;
        QVERIFY(f.make());
        QMainWindow *window = f.app->window();
        // A first start docks to the left edge at full height.
        const QRect area = window->screen()->availableGeometry();
        QTRY_COMPARE(window->frameGeometry(), QRect(area.x(), area.y(), 440, area.height()));

        // At first appearance focus following takes the stored on-top state, then follows it.
        WindowController &controller = f.app->windowController();
        FocusFollowsMouse &focus = f.app->focusFollows();
        QAction *pin = f.app->alwaysOnTopAction();
        QVERIFY(pin->isChecked() && focus.isEnabled());
        pin->trigger();
        QVERIFY(!controller.isAlwaysOnTop() && !focus.isEnabled());
        controller.setAlwaysOnTop(true);
        QVERIFY(pin->isChecked() && focus.isEnabled());

        const QList<QAction *> dock = f.app->dockActions();
        QCOMPARE(dock.size(), 4);
        dock.at(1)->trigger();
        QCOMPARE(controller.dockMode(), DockMode::Right);
        QVERIFY(dock.at(1)->isChecked() && !dock.at(0)->isChecked());
        QTRY_COMPARE(window->frameGeometry().right(), area.right());
        // "Reset Position" forgets the user's dock width.
        f.app->defaults().setDouble(600, QStringLiteral("windowDockWidthCustom"));
        dock.at(3)->trigger();
        QVERIFY(!f.app->defaults().objectForKey(QStringLiteral("windowDockWidthCustom")).isValid());
    }

    void fileCommandsAndAbout()
    {
        Fixture f;
        QVERIFY(f.make());
        BrowserModel &model = f.app->model();
        ContentView *content = f.app->content();
        QAction *find = f.app->findAction();
        QVERIFY(!content->searchBar()->isVisible() && !find->isEnabled());
        f.chooser.answer = {f.folder("A"), f.folder("B")};
        f.app->addFolderAction()->trigger();
        QVERIFY(f.chooser.requests.at(0).allowsMultiple);
        QVERIFY(content->searchBar()->isVisible() && find->isEnabled());
        f.chooser.answer = {f.folder("C")};
        f.app->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.app->window()));
        QTest::keyClick(f.app->window(), Qt::Key_O, Qt::ControlModifier);
        f.chooser.answer = {};
        f.app->addFolderMenuAction()->trigger();
        QCOMPARE(f.chooser.requests.size(), 3);
        QCOMPARE(model.roots().size(), 3);
        model.setActiveTagFilters({FinderTag::Red});
        const qint64 focus = model.searchFocusRequest();
        find->trigger();
        QVERIFY(model.globalSearch() && model.activeTagFilters().isEmpty());
        QCOMPARE(model.searchFocusRequest(), focus + 1);
        while (!model.roots().isEmpty())
            model.removeRoot(model.roots().first());
        QVERIFY(!content->searchBar()->isVisible() && !find->isEnabled());

        // Loop is remembered and in step with the player; Stop follows playback.
        QAction *loop = f.app->loopAction();
        loop->trigger();
        QVERIFY(f.app->player().previewLoops() && f.app->defaults().boolForKey("previewLoops"));
        f.app->player().setPreviewLoops(false);
        QVERIFY(!loop->isChecked() && !f.app->defaults().boolForKey("previewLoops"));
        QVERIFY(writeWav(f.path("tone.wav"), 5));
        QAction *stop = f.app->stopAction();
        QVERIFY(f.app->player().play(QUrl::fromLocalFile(f.path("tone.wav"))));
        QVERIFY(stop->isEnabled());
        stop->trigger();
        QVERIFY(!f.app->player().isPlaying() && !stop->isEnabled());

        // A second About raises the open panel rather than adding one.
        f.app->aboutAction()->trigger();
        f.app->aboutAction()->trigger();
        QCOMPARE(f.app->window()->findChildren<AboutDialog *>().size(), 1);
        QTRY_VERIFY(f.app->window()->findChild<AboutDialog *>()->isVisible());
    }

    // The real alerts, answered from inside their own event loop: Return takes the first button,
    // Escape the last, and the index of the one taken comes back.
    void systemAlerts()
    {
        const DialogPresenter::Alert alert{"Export Tags?", "Writes them.", {"Export", "Cancel"}};
        QStringList seen;
        for (const auto &[key, answer] : {std::pair{Qt::Key_Return, 0}, {Qt::Key_Escape, 1}}) {
            QTimer::singleShot(0, this, [&seen, key = key] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                seen << box->text() << box->informativeText();
                QTest::keyClick(box, key);
            });
            QCOMPARE(DialogPresenter::system().run(alert, nullptr), answer);
        }
        QCOMPARE(seen,
                 QStringList({"Export Tags?", "Writes them.", "Export Tags?", "Writes them."}));
    }

    void errorOverlayChoosesMessage_data()
    {
        QTest::addColumn<QString>("playerError");
        QTest::addColumn<QString>("modelError");
        QTest::addColumn<QString>("shown");
        const QString model = "b.wav isn't available right now";
        QTest::newRow("model only") << QString() << model << model;
        QTest::newRow("player first") << "Couldn't play a.wav" << model << "Couldn't play a.wav";
    }

    void errorOverlayChoosesMessage()
    {
        QFETCH(QString, playerError);
        QFETCH(QString, modelError);
        QFETCH(QString, shown);
        Fixture f;
        QVERIFY(f.make());
        ErrorOverlay *overlay = f.app->content()->errorOverlay();
        f.app->player().setLastError(playerError);
        f.app->model().setLastError(modelError);
        QCOMPARE(overlay->message(), shown);
        QVERIFY(overlay->isVisible() && overlay->isTransitioning());
        QTRY_VERIFY(!overlay->isTransitioning());
        QCOMPARE(overlay->geometry(), f.app->content()->rect());
        if (playerError.isEmpty())
            return;
        // When the player's message goes, the model's shows; both clear themselves and it hides.
        f.app->player().setLastError(QString());
        QCOMPARE(overlay->message(), modelError);
        QTRY_VERIFY_WITH_TIMEOUT(!overlay->isVisible(), 5000);
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
