// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelFixtures.h"
#include "UiFixtures.h"

#include "audio/AudioPreviewPlayer.h"
#include "model/FolderChooser.h"
#include "platform/BinaryPlist.h"
#include "platform/FilePaths.h"
#include "platform/Preferences.h"
#include "tags/TagStore.h"
#include "ui/AboutDialog.h"
#include "ui/ContentView.h"
#include "ui/ErrorOverlay.h"
#include "ui/SaveProblemBanner.h"
#include "ui/SearchBar.h"
#include "ui/WavelarkApp.h"
#include "ui/WindowManagerNotice.h"
#include "window/FocusFollowsMouse.h"
#include "window/WindowController.h"
#include "window/WindowManagerSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

namespace {

struct Fixture
{
    QTemporaryDir dir;
    RecordingPresenter presenter;
    TestFolderChooser chooser;
    std::unique_ptr<WavelarkApp> app;

    QString path(const QString &relative) const { return dir.filePath(relative); }
    QString preferencesPath = path(QStringLiteral("prefs.plist"));
    bool make()
    {
        WavelarkApp::Services services;
        services.preferencesPath = preferencesPath;
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

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

    // Where the window manager places windows itself, the pin and the dock menu show what really
    // happens and a notice says why, once; the stored choices return where they are honoured.
    void windowControlsShowWhatTheWindowManagerDoes()
    {
        Fixture f;
        QVERIFY(f.make());
        WindowManagerSupport &support = f.app->windowManagerSupport();
        WindowManagerNotice *notice = f.app->windowManagerNotice();
        QAction *pin = f.app->alwaysOnTopAction();
        const QList<QAction *> dock = f.app->dockActions();
        f.app->windowController().setDockMode(DockMode::Right);
        const QStringList keys{"windowDockMode", "windowAlwaysOnTop", "windowDockWidthCustom",
                               "focusFollowsMouseEnabled"};
        QVariantList before;
        for (const QString &key : keys)
            before.append(f.app->defaults().objectForKey(key));
        QVERIFY(notice->message().isEmpty());
        QVERIFY(pin->isChecked() && pin->isEnabled() && dock.at(1)->isChecked());

        support.setKeepsWindowsAbove(false);
        QCOMPARE(notice->message(), QStringLiteral("This window manager places windows itself: "
                                                   "docking and always on top are off"));
        QVERIFY(!pin->isChecked() && !pin->isEnabled());
        QCOMPARE(pin->toolTip(), WindowManagerNotice::text());
        QVERIFY(dock.at(2)->isChecked() && !dock.at(1)->isChecked());
        for (QAction *action : dock)
            QVERIFY(!action->isEnabled());
        QVERIFY(f.app->window()->findChild<QAction *>("dockReason")->isVisible());
        QCOMPARE(f.app->dockButton()->toolTip(), WindowManagerNotice::text());
        QVERIFY(f.app->focusFollows().isEnabled());
        QVariantList after;
        for (const QString &key : keys)
            after.append(f.app->defaults().objectForKey(key));
        QCOMPARE(after, before);

        notice->dismiss();
        QVERIFY(notice->message().isEmpty());
        support.setKeepsWindowsAbove(true);
        QVERIFY(pin->isChecked() && pin->isEnabled() && dock.at(1)->isChecked());
        QVERIFY(dock.at(0)->isEnabled() && dock.at(3)->isEnabled());
        QVERIFY(!f.app->window()->findChild<QAction *>("dockReason")->isVisible());
        const QRect area = f.app->window()->screen()->availableGeometry();
        QTRY_COMPARE(f.app->window()->frameGeometry().right(), area.right());
        // Said once: the next such window manager in the same session brings no second notice.
        support.setKeepsWindowsAbove(false);
        QVERIFY(notice->message().isEmpty());

        // Not dismissed, the notice goes once the window manager honours the window after all.
        Fixture g;
        QVERIFY(g.make());
        g.app->windowManagerSupport().reportFrameNotKept();
        QCOMPARE(g.app->windowManagerNotice()->message(), WindowManagerNotice::text());
        g.app->windowManagerSupport().forgetObservations();
        QVERIFY(g.app->windowManagerNotice()->message().isEmpty());
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
        // It names the licence the program is shipped under.
        const auto *credits = f.app->window()->findChild<QLabel *>("aboutCredits");
        QVERIFY(credits && credits->text().contains("GNU GPL, version 3 or later"));
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

    // What the user made survives a damaged file: the good parts of it, or the last good copy.
    void userStateSurvivesDamagedPreferences_data()
    {
        QTest::addColumn<bool>("cutInHalf");
        QTest::newRow("roots and tags with bad elements") << false;
        QTest::newRow("file cut in half, last good copy") << true;
    }
    void userStateSurvivesDamagedPreferences()
    {
        QFETCH(bool, cutInHalf);
        Fixture f;
        const QString prefs = f.path("prefs.plist");
        const QString lib = f.folder("lib").toLocalFile(), lib2 = f.folder("lib2").toLocalFile();
        const QString a = lib + "/a.wav", b = lib2 + "/b.wav", c = lib + "/c.wav";
        for (const QString &file : {a, b, c})
            QVERIFY(writeWav(file));
        QVariantMap stored{{"masterVolume", 0.3f}, {"lastNonZeroVolume", 0.3f}};
        const TagMap tags{{a, {0}}, {b, {4}}, {c, {1}}};
        if (cutInHalf) {
            stored.insert("rootFolderPaths", QVariantList{lib, lib2});
            stored.insert(
                TagStore::tagsKey,
                QVariantMap{{a, QVariantList{0}}, {b, QVariantList{4}}, {c, QVariantList{1}}});
            const QByteArray good = *BinaryPlist::write(stored);
            QVERIFY(TestSupport::writeFile(prefs, good));
            Preferences{prefs}; // the start that read it well
            QVERIFY(TestSupport::writeFile(prefs, good.left(good.size() / 2)));
        } else {
            stored.insert("rootFolderPaths", QVariantList{lib, 42, lib2});
            stored.insert(TagStore::tagsKey, QVariantMap{{a, QVariantList{0}},
                                                         {b, QVariantList{4}},
                                                         {c, QVariantList{1, "3"}},
                                                         {lib + "/gone.wav", QVariant()}});
            QVERIFY(TestSupport::writeFile(prefs, *BinaryPlist::write(stored)));
        }

        QVERIFY(f.make());
        QTest::qWait(300);
        const auto rootPaths = [&f] {
            QStringList paths;
            for (const FileNodePtr &root : f.app->model().roots())
                paths.append(root->path());
            return paths;
        };
        QCOMPARE(rootPaths(), (QStringList{lib, lib2}));
        QCOMPARE(f.app->tagStore().tags(), tags);
        QCOMPARE(f.app->player().volume(), 0.3f);
        QCOMPARE(f.presenter.titles(),
                 cutInHalf ? QStringList{"Your settings file couldn't be read"} : QStringList());

        // A root added now keeps the others, and the tags below them live through the next start.
        const QString lib3 = f.folder("lib3").toLocalFile();
        QVERIFY(addFolders(f.app->model(), {QUrl::fromLocalFile(lib3)}));
        f.app->model().waitForIndexWrites();
        f.app.reset();
        QVERIFY(f.make());
        QCOMPARE(rootPaths(), (QStringList{lib, lib2, lib3}));
        QCOMPARE(f.app->tagStore().tags(), tags);

        // A start that changes nothing writes nothing.
        f.app->model().waitForIndexWrites();
        f.app.reset();
        const QByteArray bytes = contents(prefs);
        const QDateTime written = QFileInfo(prefs).lastModified();
        QVERIFY(f.make());
        QTest::qWait(1000);
        QCOMPARE(QFileInfo(prefs).lastModified(), written);
        QCOMPARE(contents(prefs), bytes);
    }

    // Names unpacked from old archives are not UTF-8; such files work like any other.
    void namesThatAreNotUtf8()
    {
        Fixture f;
        const QString lib = f.folder("lib").toLocalFile();
        const QList<QByteArray> names{"caf\xe9-latin1.wav", "caf\xe8-latin1.wav", "\xff\xfe.wav"};
        QList<QUrl> urls;
        for (const QByteArray &name : names) {
            QVERIFY(writeWav(f.path("plain.wav"), 0.5));
            const QByteArray raw = QFile::encodeName(lib) + '/' + name;
            QCOMPARE(::rename(QFile::encodeName(f.path("plain.wav")).constData(), raw.constData()),
                     0);
            urls.append(QUrl::fromLocalFile(FilePaths::decoded(raw)));
        }
        QVERIFY(f.make());
        QVERIFY(addFolders(f.app->model(), {QUrl::fromLocalFile(lib)}));

        // Listed under names that show their odd bytes, each path the very bytes on disk.
        f.app->model().expand(f.app->model().roots().constFirst());
        QStringList shown;
        for (const VisibleRow &row : f.app->model().visibleRows()) {
            if (!row.node->isDirectory())
                shown.append(FilePaths::displayText(row.node->name()));
        }
        shown.sort();
        QCOMPARE(shown,
                 QStringList({"\\xFF\\xFE.wav", "caf\\xE8-latin1.wav", "caf\\xE9-latin1.wav"}));

        // A file is no root, and the browser says so.
        QVERIFY(!addFolders(f.app->model(), {urls.at(0)}));
        QCOMPARE(f.app->model().lastError(),
                 "Only folders can be added: \u201Ccaf\\xE9-latin1.wav\u201D is a file");

        // Found by search as they are shown.
        f.app->model().setGlobalSearch(true);
        f.app->model().setSearchText("caf\\xe9");
        QTRY_COMPARE(f.app->model().searchResults().size(), 1);
        QCOMPARE(f.app->model().searchResults().constFirst()->url(), urls.at(0));

        // Played and drawn.
        for (const QUrl &url : urls) {
            f.app->player().play(url);
            QTRY_VERIFY(!f.app->player().waveform().isEmpty() &&
                        f.app->player().loadedURL() == url);
            QCOMPARE(f.app->player().lastError(), QString());
        }

        // Distinct tags for distinct bytes, across a restart.
        f.app->tagStore().setTags({FinderTag::Red}, urls.at(0));
        f.app->tagStore().setTags({FinderTag::Blue}, urls.at(1));
        f.app->model().waitForIndexWrites();
        f.app.reset();
        QVERIFY(f.make());
        QCOMPARE(f.app->tagStore().tagsFor(urls.at(0)), FinderTagSet{FinderTag::Red});
        QCOMPARE(f.app->tagStore().tagsFor(urls.at(1)), FinderTagSet{FinderTag::Blue});
        QCOMPARE(f.app->tagStore().tagsFor(urls.at(2)), FinderTagSet());
    }

    void saveProblemShowsUntilASaveSucceeds()
    {
        Fixture f;
        // A file where the settings folder should be: nothing can be saved until it goes.
        const QString blocker = f.path("blocker");
        QVERIFY(TestSupport::writeFile(blocker, "x"));
        f.preferencesPath = blocker + "/Wavelark/Wavelark.plist";
        QVERIFY(f.make());
        SaveProblemBanner *banner = f.app->content()->saveProblemBanner();
        QCOMPARE(banner->message(), QString());
        f.app->player().setVolume(0.5f);
        QTRY_COMPARE(banner->message(), "Couldn't save your settings: " +
                                            QString::fromLocal8Bit(strerror(ENOTDIR)).toLower());
        QVERIFY(QFile::remove(blocker));
        QTRY_COMPARE_WITH_TIMEOUT(banner->message(), QString(),
                                  Preferences::retryIntervalMs + 3000);
        QCOMPARE(Preferences(f.preferencesPath).floatForKey("masterVolume"), 0.5f);
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
