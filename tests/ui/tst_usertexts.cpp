#include "TestSupport.h"

#include "audio/AudioOutput.h"
#include "model/BrowserModel.h"
#include "tags/TagStore.h"
#include "ui/ContentView.h"
#include "ui/DialogPresenter.h"
#include "ui/ResultsTableView.h"
#include "ui/SearchBar.h"
#include "ui/SidebarView.h"
#include "ui/TagsMenu.h"
#include "ui/WavelarkApp.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

// Answers every alert with its default button and keeps what it said.
class RecordingPresenter final : public DialogPresenter
{
public:
    int run(const Alert &alert, QWidget *) override
    {
        alerts.append(alert);
        return 0;
    }
    QList<Alert> alerts;
};

QString menuText(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        texts.append(action->text());
    return texts.join(QLatin1Char('|'));
}

QString allMenuTexts(const QMenuBar &bar)
{
    QStringList texts;
    for (const QAction *action : bar.actions()) {
        texts.append(action->text());
        if (action->menu())
            texts.append(menuText(*action->menu()));
    }
    return texts.join(QLatin1Char('|'));
}

} // namespace

// The texts the running window shows where the macOS original named the Finder or its shortcut
// symbol; each row is taken from the widgets (or their alerts) themselves.
class TestUserTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linuxWording_data();
    void linuxWording();
};

void TestUserTexts::linuxWording_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("wording");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RecordingPresenter presenter;
    WavelarkApp::Services services;
    services.preferencesPath = dir.filePath(QStringLiteral("prefs.plist"));
    services.indexFilePath = dir.filePath(QStringLiteral("index.plist"));
    services.liveUpdates = false;
    services.dialogPresenter = &presenter;
    WavelarkApp app(std::move(services));
    app.show();
    QVERIFY(QTest::qWaitForWindowExposed(app.window()));
    SidebarView *sidebar = app.content()->sidebar();
    QTest::newRow("welcome view")
        << sidebar->findChild<QLabel *>(QStringLiteral("welcomeHint"))->text()
        << "Click + in the toolbar, or drag a\nfolder here from your file manager.";

    BrowserModel &model = app.model();
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("Samples/Pad.wav")), "RIFF"));
    QVERIFY(
        model.addDroppedFolders({QUrl::fromLocalFile(dir.filePath(QStringLiteral("Samples")))}));
    const auto *tags = app.window()->findChild<TagsMenu *>();
    QVERIFY(tags);
    QTest::newRow("import menu item") << tags->importAction()->text() << "from File Manager…";
    QTest::newRow("export menu item") << tags->exportAction()->text() << "to File Manager…";
    QTest::newRow("all menus") << allMenuTexts(*app.window()->menuBar()) << "File Manager";
    const std::unique_ptr<QMenu> treeMenu(sidebar->contextMenuForRow(0));
    QTest::newRow("tree row menu") << menuText(*treeMenu) << "|Show in File Manager|";

    SearchBar *search = app.content()->searchBar();
    QTest::newRow("search placeholder") << search->field()->placeholderText() << "(Ctrl+F)";
    model.setSelection(model.roots().constFirst()->url());
    QTest::newRow("search scope help")
        << search->scopeButton()->toolTip() << "Click to search all folders (Ctrl+F)";
    model.setSearchText(QStringLiteral("Pad"));
    QVERIFY(QTest::qWaitFor([&] { return model.searchResults().size() == 1; }, 10000));
    ResultsTableView *results = sidebar->resultsTable();
    const std::unique_ptr<QMenu> resultsMenu(results->contextMenuForRow(0, results));
    QVERIFY(resultsMenu);
    QTest::newRow("results row menu") << menuText(*resultsMenu) << "|Show in File Manager";

    tags->importAction()->trigger();
    QVERIFY(QTest::qWaitFor([&] { return presenter.alerts.size() == 2; }, 10000));
    app.tagStore().setTags({FinderTag::Red}, QUrl::fromLocalFile(dir.filePath("Samples/Pad.wav")));
    tags->exportAction()->trigger();
    QVERIFY(QTest::qWaitFor([&] { return presenter.alerts.size() == 4; }, 10000));
    const QList<DialogPresenter::Alert> &alerts = presenter.alerts;
    QTest::newRow("import question") << alerts[0].messageText << "Import Tags from File Manager?";
    QTest::newRow("import question text")
        << alerts[0].informativeText << "will read the file manager colors already on your files";
    QTest::newRow("import result")
        << alerts[1].informativeText << "No new file manager colors were found to import.";
    QTest::newRow("import result with colours")
        << TagsMenu::importResultText(2) << "Added file manager colors to 2 items.";
    QTest::newRow("export question") << alerts[2].messageText << "Export Tags to File Manager?";
    QTest::newRow("export question text")
        << alerts[2].informativeText
        << " as real file manager tags. Your existing file manager tags are kept.";
    QTest::newRow("export result") << alerts[3].informativeText << "Wrote file manager tags to ";
    QTest::newRow("export result, skipped colours")
        << TagsMenu::exportResultText({0, 0, {FinderTag::Red}})
        << ": Wavelark couldn't read your file manager tag names, so it didn't write this color";
    model.waitForIndexWrites();
}

void TestUserTexts::linuxWording()
{
    QFETCH(QString, text);
    QFETCH(QString, wording);
    QVERIFY2(text.contains(wording), qPrintable(text));
    QVERIFY2(!text.contains(QLatin1String("Finder")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("\u2318")), qPrintable(text));
}

QTEST_MAIN(TestUserTexts)
#include "tst_usertexts.moc"
