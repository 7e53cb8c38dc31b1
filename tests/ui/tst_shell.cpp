#include "UiFixtures.h"

#include "model/FolderChooser.h"
#include "ui/AboutDialog.h"
#include "ui/ContentView.h"
#include "ui/ErrorOverlay.h"
#include "ui/FileDialogFolderChooser.h"
#include "ui/SearchBar.h"
#include "ui/TextEditActions.h"
#include "ui/WavelarkApp.h"
#include "window/FocusFollowsMouse.h"
#include "window/WindowController.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>

namespace {

class TestChooser final : public FolderChooser
{
public:
    QList<QUrl> chooseFolders(const Request &request) override
    {
        requests.append(request);
        return answer;
    }
    QList<Request> requests;
    QList<QUrl> answer;
};

struct Fixture
{
    QTemporaryDir dir;
    RecordingPresenter presenter;
    TestChooser chooser;
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
        // A first start docks to the left edge at full height; the minimum holds for the frame.
        const QRect area = window->screen()->availableGeometry();
        QTRY_COMPARE(window->frameGeometry(), QRect(area.x(), area.y(), 440, area.height()));
        window->resize(300, 720);
        QCOMPARE(window->frameGeometry().width(), 440);

        // At first appearance focus following takes the stored on-top state, then follows it.
        WindowController &controller = f.app->windowController();
        FocusFollowsMouse &focus = f.app->focusFollows();
        QAction *pin = f.app->alwaysOnTopAction();
        QVERIFY(pin->isChecked() && focus.isEnabled());
        pin->trigger();
        QVERIFY(!controller.isAlwaysOnTop() && !focus.isEnabled());
        QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
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
        controller.setDockMode(DockMode::Left);
        QTRY_COMPARE(window->frameGeometry().width(), 600);
        dock.at(3)->trigger();
        QTRY_COMPARE(window->frameGeometry().width(), 440);
        QVERIFY(!f.app->defaults().objectForKey(QStringLiteral("windowDockWidthCustom")).isValid());
    }

    void commandsNeedRoots()
    {
        Fixture f;
        QVERIFY(f.make());
        BrowserModel &model = f.app->model();
        ContentView *content = f.app->content();
        QAction *find = f.app->findAction();
        const auto dividersShown = [&] {
            int shown = 0;
            for (QWidget *child : content->findChildren<QWidget *>(QStringLiteral("divider")))
                shown += child->isVisible() ? 1 : 0;
            return shown;
        };
        QVERIFY(!content->searchBar()->isVisible() && !find->isEnabled());
        QCOMPARE(dividersShown(), 2);
        QVERIFY(model.addDroppedFolders({f.folder(QStringLiteral("Samples"))}));
        QVERIFY(content->searchBar()->isVisible() && find->isEnabled());
        QCOMPARE(dividersShown(), 3);
        // Find searches all folders and asks for the field.
        model.setActiveTagFilters({FinderTag::Red});
        const qint64 focus = model.searchFocusRequest();
        find->trigger();
        QVERIFY(model.globalSearch() && model.activeTagFilters().isEmpty());
        QCOMPARE(model.searchFocusRequest(), focus + 1);
        model.removeRoot(model.roots().first());
        QVERIFY(!content->searchBar()->isVisible() && !find->isEnabled());
        QCOMPARE(dividersShown(), 2);
    }

    void addFolderCommands()
    {
        Fixture f;
        QVERIFY(f.make());
        BrowserModel &model = f.app->model();
        f.chooser.answer = {f.folder(QStringLiteral("A")), f.folder(QStringLiteral("B"))};
        f.app->addFolderAction()->trigger();
        QCOMPARE(f.chooser.requests.size(), 1);
        QCOMPARE(f.chooser.requests.at(0).buttonText, QStringLiteral("Add"));
        QCOMPARE(f.chooser.requests.at(0).message,
                 QStringLiteral("Choose a samples folder or drive"));
        QVERIFY(f.chooser.requests.at(0).allowsMultiple);
        QCOMPARE(model.roots().size(), 2);
        f.chooser.answer = {f.folder(QStringLiteral("C"))};
        f.app->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.app->window()));
        QTest::keyClick(f.app->window(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(model.roots().size(), 3);
        // Cancelling the panel changes nothing.
        f.chooser.answer = {};
        f.app->addFolderMenuAction()->trigger();
        QCOMPARE(f.chooser.requests.size(), 3);
        QCOMPARE(model.roots().size(), 3);
    }

    void loopAndStop()
    {
        Fixture f;
        QVERIFY(f.make());
        // Loop: off at first, remembered, and in step with the player.
        QAction *loop = f.app->loopAction();
        QVERIFY(loop->isCheckable() && !loop->isChecked() && !f.app->player().previewLoops());
        loop->trigger();
        QVERIFY(f.app->player().previewLoops());
        QVERIFY(f.app->defaults().boolForKey(QStringLiteral("previewLoops")));
        f.app->player().setPreviewLoops(false);
        QVERIFY(!loop->isChecked());
        QVERIFY(!f.app->defaults().boolForKey(QStringLiteral("previewLoops")));

        const QString sample = f.path(QStringLiteral("tone.wav"));
        QVERIFY(writeWav(sample, 5));
        QAction *stop = f.app->stopAction();
        QVERIFY(!stop->isEnabled());
        QVERIFY(f.app->player().play(QUrl::fromLocalFile(sample)));
        QVERIFY(stop->isEnabled());
        stop->trigger();
        QVERIFY(!f.app->player().isPlaying() && !stop->isEnabled());
    }

    void editMenuActsOnFocusedField()
    {
        Fixture f;
        QVERIFY(f.make());
        const TextEditActions &commands = *f.app->textEditActions();
        const QList<QAction *> all{commands.undoAction(),  commands.redoAction(),
                                   commands.cutAction(),   commands.copyAction(),
                                   commands.pasteAction(), commands.selectAllAction()};
        const auto enabled = [&] {
            QStringList names;
            for (QAction *action : all) {
                if (action->isEnabled())
                    names.append(action->objectName());
            }
            return names;
        };
        QApplication::clipboard()->clear();
        f.app->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.app->window()));
        auto *field = new QLineEdit(f.app->window());
        field->show();
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QCOMPARE(enabled(), QStringList());
        QTest::keyClicks(field, QStringLiteral("kick"));
        QCOMPARE(enabled(), (QStringList{"undo", "selectAll"}));
        commands.selectAllAction()->trigger();
        QCOMPARE(field->selectedText(), QStringLiteral("kick"));
        commands.cutAction()->trigger();
        QVERIFY(field->text().isEmpty());
        commands.pasteAction()->trigger();
        QCOMPARE(field->text(), QStringLiteral("kick"));
        commands.undoAction()->trigger();
        QVERIFY(field->text().isEmpty());
        // Away from a text field every text command is off.
        f.app->content()->setFocus();
        QTRY_VERIFY(!field->hasFocus());
        QCOMPARE(enabled(), QStringList());
    }

    void errorOverlayChoosesMessage_data()
    {
        QTest::addColumn<QString>("playerError");
        QTest::addColumn<QString>("modelError");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << QString() << QString() << QString();
        QTest::newRow("model only") << QString() << "b.wav isn't available right now"
                                    << "b.wav isn't available right now";
        QTest::newRow("player only")
            << "Can't preview .ogg files" << QString() << "Can't preview .ogg files";
        QTest::newRow("player first") << "Couldn't play a.wav"
                                      << "b.wav isn't available right now"
                                      << "Couldn't play a.wav";
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
        QCOMPARE(overlay->isVisible(), !shown.isEmpty());
        if (shown.isEmpty())
            return;
        QVERIFY(overlay->isTransitioning());
        QTRY_VERIFY(!overlay->isTransitioning());
        QCOMPARE(overlay->geometry(), f.app->content()->rect());
        QVERIFY(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
        if (playerError.isEmpty() || modelError.isEmpty())
            return;
        // When the player's message goes, the model's shows; both clear themselves and it hides.
        f.app->player().setLastError(QString());
        QCOMPARE(overlay->message(), modelError);
        QTRY_VERIFY_WITH_TIMEOUT(!overlay->isVisible(), 5000);
    }

    void about()
    {
        Fixture f;
        QVERIFY(f.make());
        f.app->aboutAction()->trigger();
        auto *dialog = f.app->window()->findChild<AboutDialog *>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        const auto label = [&](const char *name) {
            return dialog->findChild<QLabel *>(QString::fromLatin1(name))->text();
        };
        QCOMPARE(label("aboutName"), QStringLiteral("Wavelark"));
        QVERIFY(label("aboutVersion").startsWith(QStringLiteral("Version ")));
        QVERIFY(!label("aboutCredits").isEmpty() && !label("aboutCredits").contains('\n'));
        QVERIFY(dialog->minimumSize() == dialog->maximumSize());
        // A second request shows the same dialog.
        f.app->aboutAction()->trigger();
        QCOMPARE(f.app->window()->findChildren<AboutDialog *>().size(), 1);
    }

    void fileDialogChooser_data()
    {
        QTest::addColumn<bool>("multiple");
        QTest::addColumn<QStringList>("picked");
        QTest::newRow("one folder") << false << QStringList{"Kits"};
        QTest::newRow("several folders") << true << QStringList{"Kits", "Loops"};
        QTest::newRow("cancelled") << true << QStringList{};
    }

    void fileDialogChooser()
    {
        QFETCH(bool, multiple);
        QFETCH(QStringList, picked);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("Kits") && QDir(dir.path()).mkdir("Loops"));
        QString title;
        QString accept;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QAbstractItemView::SelectionMode selection = QAbstractItemView::NoSelection;
        QObject context;
        QTimer::singleShot(0, &context, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            accept = dialog->labelText(QFileDialog::Accept);
            mode = dialog->fileMode();
            selection = dialog->findChild<QListView *>(QStringLiteral("listView"))->selectionMode();
            if (picked.isEmpty())
                return dialog->reject();
            dialog->setDirectory(dir.path());
            dialog->selectFile(picked.size() == 1
                                   ? picked.first()
                                   : '"' + picked.join(QStringLiteral("\" \"")) + '"');
            static_cast<QDialog *>(dialog)->accept();
        });
        FileDialogFolderChooser chooser;
        const QList<QUrl> urls = chooser.chooseFolders(FolderChooser::Request{
            QStringLiteral("Relink"), QStringLiteral("Choose the new location"), multiple});
        QCOMPARE(title, QStringLiteral("Choose the new location"));
        QCOMPARE(accept, QStringLiteral("Relink"));
        QCOMPARE(mode, QFileDialog::Directory);
        QCOMPARE(selection, multiple ? QAbstractItemView::ExtendedSelection
                                     : QAbstractItemView::SingleSelection);
        QList<QUrl> expected;
        for (const QString &name : picked)
            expected.append(QUrl::fromLocalFile(QDir(dir.path()).filePath(name)));
        QCOMPARE(urls, expected);
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
