#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "model/BrowserModel.h"
#include "model/FolderChooser.h"
#include "platform/Preferences.h"
#include "ui/AboutDialog.h"
#include "ui/ContentView.h"
#include "ui/DialogPresenter.h"
#include "ui/ErrorOverlay.h"
#include "ui/FileDialogFolderChooser.h"
#include "ui/SearchBar.h"
#include "ui/SidebarView.h"
#include "ui/TextEditActions.h"
#include "ui/VolumeBar.h"
#include "ui/WaveformView.h"
#include "ui/WavelarkApp.h"
#include "window/FocusFollowsMouse.h"
#include "window/WindowController.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>

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

class SilentPresenter final : public DialogPresenter
{
public:
    int run(const Alert &, QWidget *) override { return -1; }
};

struct Fixture
{
    QTemporaryDir dir;
    SilentPresenter presenter;
    TestChooser chooser;
    std::unique_ptr<WavelarkApp> app;

    QString path(const QString &relative) const { return dir.filePath(relative); }

    bool make()
    {
        if (!dir.isValid())
            return false;
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

QStringList menuTitles(const QMenuBar &bar)
{
    QStringList titles;
    for (QAction *action : bar.actions())
        titles.append(action->text().remove(QLatin1Char('&')));
    return titles;
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowAndLayout();
    void searchBarOnlyWithRoots();
    void toolbar();
    void windowCommands();
    void addFolderCommands();
    void stopFollowsPlayback();
    void findNeedsRoots();
    void menus();
    void editMenuActsOnFocusedField();
    void errorOverlayChoosesMessage_data();
    void errorOverlayChoosesMessage();
    void errorOverlayFallsBackToModel();
    void about();
    void fileDialogChooser_data();
    void fileDialogChooser();
};

void TestShell::windowAndLayout()
{
    Fixture f;
    QVERIFY(f.make());
    QMainWindow *window = f.app->window();
    QCOMPARE(window->windowTitle(), QStringLiteral("Wavelark"));
    // A first start docks to the left edge at full height.
    const QRect area = window->screen()->availableGeometry();
    QTRY_COMPARE(window->frameGeometry(), QRect(area.x(), area.y(), 440, area.height()));
    // The minimum holds for the outer frame, decorations included.
    window->resize(300, 720);
    QCOMPARE(window->frameGeometry().width(), 440);

    ContentView *content = f.app->content();
    QCOMPARE(window->centralWidget(), content);
    QCOMPARE(content->waveformView()->height(), ContentView::waveformHeight);
    QVERIFY(content->minimumWidth() >= 260);
    QVERIFY(content->minimumHeight() >= 400);

    // Top to bottom: volume bar, divider, search bar, divider, sidebar, divider, waveform.
    QStringList order;
    QLayout *layout = content->layout();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget *widget = layout->itemAt(i)->widget();
        QVERIFY(widget);
        if (qobject_cast<VolumeBar *>(widget))
            order.append(QStringLiteral("volume"));
        else if (qobject_cast<SearchBar *>(widget))
            order.append(QStringLiteral("search"));
        else if (qobject_cast<SidebarView *>(widget))
            order.append(QStringLiteral("sidebar"));
        else if (qobject_cast<WaveformView *>(widget))
            order.append(QStringLiteral("waveform"));
        else if (widget->objectName() == QStringLiteral("divider"))
            order.append(QStringLiteral("-"));
        else
            order.append(QString::fromLatin1(widget->metaObject()->className()));
    }
    QCOMPARE(order, (QStringList{"volume", "-", "search", "-", "sidebar", "-", "waveform"}));
}

void TestShell::searchBarOnlyWithRoots()
{
    Fixture f;
    QVERIFY(f.make());
    ContentView *content = f.app->content();
    const auto dividersShown = [&] {
        int shown = 0;
        for (QWidget *child : content->findChildren<QWidget *>(QStringLiteral("divider")))
            shown += child->isVisible() ? 1 : 0;
        return shown;
    };
    QVERIFY(!content->searchBar()->isVisible());
    QCOMPARE(dividersShown(), 2);
    QVERIFY(f.app->model().addDroppedFolders({f.folder(QStringLiteral("Samples"))}));
    QVERIFY(content->searchBar()->isVisible());
    QCOMPARE(dividersShown(), 3);
    f.app->model().removeRoot(f.app->model().roots().first());
    QVERIFY(!content->searchBar()->isVisible());
    QCOMPARE(dividersShown(), 2);
}

void TestShell::toolbar()
{
    Fixture f;
    QVERIFY(f.make());
    const QList<QAction *> actions = f.app->toolBar()->actions();
    QCOMPARE(actions.size(), 5);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Add Folder"));
    QCOMPARE(actions.at(1)->text(), QStringLiteral("Stop"));
    QCOMPARE(actions.at(2), f.app->alwaysOnTopAction());
    QCOMPARE(f.app->toolBar()->widgetForAction(actions.at(3)), f.app->dockButton());
    QVERIFY(actions.at(0)->isEnabled());
    QVERIFY(!actions.at(1)->isEnabled());

    // Loop: off at first, remembered, and in step with the player.
    QAction *loop = actions.at(4);
    QCOMPARE(loop, f.app->loopAction());
    QVERIFY(loop->isCheckable() && !loop->isChecked());
    QVERIFY(!f.app->player().previewLoops());
    loop->trigger();
    QVERIFY(f.app->player().previewLoops());
    QVERIFY(f.app->defaults().boolForKey(QStringLiteral("previewLoops")));
    f.app->player().setPreviewLoops(false);
    QVERIFY(!loop->isChecked());
    QVERIFY(!f.app->defaults().boolForKey(QStringLiteral("previewLoops")));
}

void TestShell::windowCommands()
{
    Fixture f;
    QVERIFY(f.make());
    WindowController &controller = f.app->windowController();
    FocusFollowsMouse &focus = f.app->focusFollows();
    QAction *pin = f.app->alwaysOnTopAction();
    // At first appearance focus following takes the stored on-top state, then follows it.
    QVERIFY(pin->isChecked());
    QVERIFY(focus.isEnabled());
    pin->trigger();
    QVERIFY(!controller.isAlwaysOnTop());
    QVERIFY(!focus.isEnabled());
    QVERIFY(!(f.app->window()->windowFlags() & Qt::WindowStaysOnTopHint));
    controller.setAlwaysOnTop(true);
    QVERIFY(pin->isChecked());
    QVERIFY(focus.isEnabled());

    const QList<QAction *> dock = f.app->dockActions();
    QCOMPARE(dock.size(), 4);
    QVERIFY(dock.at(0)->isChecked());
    dock.at(1)->trigger();
    QCOMPARE(controller.dockMode(), DockMode::Right);
    QVERIFY(dock.at(1)->isChecked() && !dock.at(0)->isChecked());
    const QRect area = f.app->window()->screen()->availableGeometry();
    QTRY_COMPARE(f.app->window()->frameGeometry().right(), area.right());

    // "Reset Position" forgets the user's dock width.
    f.app->defaults().setDouble(600, QStringLiteral("windowDockWidthCustom"));
    controller.setDockMode(DockMode::Left);
    QTRY_COMPARE(f.app->window()->frameGeometry().width(), 600);
    dock.at(3)->trigger();
    QTRY_COMPARE(f.app->window()->frameGeometry().width(), 440);
    QVERIFY(!f.app->defaults().objectForKey(QStringLiteral("windowDockWidthCustom")).isValid());
}

void TestShell::addFolderCommands()
{
    Fixture f;
    QVERIFY(f.make());
    BrowserModel &model = f.app->model();
    f.chooser.answer = {f.folder(QStringLiteral("A")), f.folder(QStringLiteral("B"))};

    f.app->addFolderAction()->trigger();
    QCOMPARE(f.chooser.requests.size(), 1);
    QCOMPARE(f.chooser.requests.at(0).buttonText, QStringLiteral("Add"));
    QCOMPARE(f.chooser.requests.at(0).message, QStringLiteral("Choose a samples folder or drive"));
    QVERIFY(f.chooser.requests.at(0).allowsMultiple);
    QCOMPARE(model.roots().size(), 2);

    // Ctrl+O works with no roots as with some.
    f.chooser.answer = {f.folder(QStringLiteral("C"))};
    f.app->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.app->window()));
    QTest::keyClick(f.app->window(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(f.chooser.requests.size(), 2);
    QCOMPARE(model.roots().size(), 3);
    QCOMPARE(f.app->addFolderMenuAction()->text(), QStringLiteral("Add Folder…"));

    // Cancelling the panel changes nothing.
    f.chooser.answer = {};
    f.app->addFolderMenuAction()->trigger();
    QCOMPARE(model.roots().size(), 3);
}

void TestShell::stopFollowsPlayback()
{
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make a sample");
    Fixture f;
    QVERIFY(f.make());
    const QString sample = f.path(QStringLiteral("tone.wav"));
    QVERIFY(TestSupport::makeAudio(sample, QStringLiteral("sine=frequency=440:duration=5")));
    QAction *stop = f.app->stopAction();
    QVERIFY(!stop->isEnabled());
    QVERIFY(f.app->player().play(QUrl::fromLocalFile(sample)));
    QVERIFY(stop->isEnabled());
    stop->trigger();
    QVERIFY(!f.app->player().isPlaying());
    QVERIFY(!stop->isEnabled());
}

void TestShell::findNeedsRoots()
{
    Fixture f;
    QVERIFY(f.make());
    BrowserModel &model = f.app->model();
    QAction *find = f.app->findAction();
    QCOMPARE(find->text(), QStringLiteral("Find"));
    QCOMPARE(find->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    QVERIFY(!find->isEnabled());

    QVERIFY(model.addDroppedFolders({f.folder(QStringLiteral("Samples"))}));
    QVERIFY(find->isEnabled());
    model.setActiveTagFilters({FinderTag::Red});
    const qint64 focus = model.searchFocusRequest();
    find->trigger();
    QVERIFY(model.globalSearch());
    QVERIFY(model.activeTagFilters().isEmpty());
    QCOMPARE(model.searchFocusRequest(), focus + 1);

    model.removeRoot(model.roots().first());
    QVERIFY(!find->isEnabled());
}

void TestShell::menus()
{
    Fixture f;
    QVERIFY(f.make());
    QMenuBar *bar = f.app->window()->menuBar();
    QCOMPARE(menuTitles(*bar), (QStringList{"File", "Edit", "Tags", "Help"}));
    QCOMPARE(f.app->quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QCOMPARE(f.app->addFolderMenuAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(f.app->aboutAction()->text(), QStringLiteral("About Wavelark"));
}

void TestShell::editMenuActsOnFocusedField()
{
    Fixture f;
    QVERIFY(f.make());
    QMenu *edit = f.app->window()->menuBar()->actions().at(1)->menu();
    QStringList texts;
    for (QAction *action : edit->actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(texts,
             (QStringList{"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Select All", "-", "Find"}));

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

void TestShell::errorOverlayChoosesMessage_data()
{
    QTest::addColumn<QString>("playerError");
    QTest::addColumn<QString>("modelError");
    QTest::addColumn<QString>("shown");

    QTest::newRow("none") << QString() << QString() << QString();
    QTest::newRow("model only") << QString() << "Kick.wav isn't available right now"
                                << "Kick.wav isn't available right now";
    QTest::newRow("player only") << "Can't preview .ogg files" << QString()
                                 << "Can't preview .ogg files";
    QTest::newRow("player before model") << "Couldn't play a.wav"
                                         << "b.wav isn't available right now"
                                         << "Couldn't play a.wav";
}

void TestShell::errorOverlayChoosesMessage()
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
    if (!shown.isEmpty()) {
        QVERIFY(overlay->isTransitioning());
        QTRY_VERIFY(!overlay->isTransitioning());
        QCOMPARE(overlay->geometry(), f.app->content()->rect());
        QVERIFY(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    }
}

void TestShell::errorOverlayFallsBackToModel()
{
    Fixture f;
    QVERIFY(f.make());
    ErrorOverlay *overlay = f.app->content()->errorOverlay();
    f.app->model().setLastError(QStringLiteral("model"));
    f.app->player().setLastError(QStringLiteral("player"));
    QCOMPARE(overlay->message(), QStringLiteral("player"));
    f.app->player().setLastError(QString());
    QCOMPARE(overlay->message(), QStringLiteral("model"));
    // Both clear themselves; the overlay fades out and hides.
    QTRY_VERIFY_WITH_TIMEOUT(!overlay->isVisible(), 5000);
    QVERIFY(overlay->message().isEmpty());
}

void TestShell::about()
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
    QVERIFY(label("aboutVersion").contains(QLatin1Char('.')));
    QVERIFY(!label("aboutCredits").isEmpty());
    QVERIFY(!label("aboutCredits").contains(QLatin1Char('\n')));
    QVERIFY(dialog->minimumSize() == dialog->maximumSize());
    QVERIFY(!(dialog->windowFlags() & Qt::WindowMaximizeButtonHint));
    // A second request shows the same dialog.
    f.app->aboutAction()->trigger();
    QCOMPARE(f.app->window()->findChildren<AboutDialog *>().size(), 1);
}

void TestShell::fileDialogChooser_data()
{
    QTest::addColumn<bool>("multiple");
    QTest::addColumn<QStringList>("picked");
    QTest::newRow("one folder") << false << QStringList{"Kits"};
    QTest::newRow("several folders") << true << QStringList{"Kits", "Loops"};
    QTest::newRow("cancelled") << true << QStringList{};
}

void TestShell::fileDialogChooser()
{
    QFETCH(bool, multiple);
    QFETCH(QStringList, picked);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &name : {QStringLiteral("Kits"), QStringLiteral("Loops")})
        QVERIFY(QDir(dir.path()).mkdir(name));

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
        QStringList quoted;
        for (const QString &name : picked)
            quoted.append(QLatin1Char('"') + name + QLatin1Char('"'));
        dialog->selectFile(picked.size() == 1 ? picked.first() : quoted.join(QLatin1Char(' ')));
        static_cast<QDialog *>(dialog)->accept();
    });

    FileDialogFolderChooser chooser;
    const QList<QUrl> urls = chooser.chooseFolders(FolderChooser::Request{
        QStringLiteral("Relink"), QStringLiteral("Choose the new location"), multiple});
    QCOMPARE(title, QStringLiteral("Choose the new location"));
    QCOMPARE(accept, QStringLiteral("Relink"));
    QCOMPARE(mode, QFileDialog::Directory);
    QCOMPARE(selection,
             multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    QList<QUrl> expected;
    for (const QString &name : picked)
        expected.append(QUrl::fromLocalFile(QDir(dir.path()).filePath(name)));
    QCOMPARE(urls, expected);
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
