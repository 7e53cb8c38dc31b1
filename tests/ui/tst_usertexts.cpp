#include "SearchFixture.h"

#include "ResultsTableView.h"
#include "SearchBar.h"
#include "SidebarView.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {
QString menuText(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        texts.append(action->text());
    return texts.join(QLatin1Char('|'));
}
} // namespace

// Where the macOS original named the Finder or its shortcut symbol, the views' own texts use the
// Linux wording (the Tags menu's texts are checked with its flows).
class TestUserTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linuxWording_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wording");

        SearchFixture f;
        SidebarView sidebar(*f.model, *f.player, *f.tags);
        SearchBar search(*f.model);
        QTest::newRow("welcome view")
            << sidebar.findChild<QLabel *>(QStringLiteral("welcomeHint"))->text()
            << "Click + in the toolbar, or drag a\nfolder here from your file manager.";
        QVERIFY(f.addIndexedRoot("Samples", {"Pad.wav"}));
        const std::unique_ptr<QMenu> treeMenu(sidebar.contextMenuForRow(0));
        QTest::newRow("tree row menu") << menuText(*treeMenu) << "|Show in File Manager|";
        QTest::newRow("search placeholder") << search.field()->placeholderText() << "(Ctrl+F)";
        f.model->setSelection(f.url("Samples"));
        QTest::newRow("search scope help")
            << search.scopeButton()->toolTip() << "Click to search all folders (Ctrl+F)";
        QVERIFY(f.search("Pad", 1));
        ResultsTableView *results = sidebar.resultsTable();
        const std::unique_ptr<QMenu> resultsMenu(results->contextMenuForRow(0, results));
        QVERIFY(resultsMenu);
        QTest::newRow("results row menu") << menuText(*resultsMenu) << "|Show in File Manager";
    }
    void linuxWording()
    {
        QFETCH(QString, text);
        QFETCH(QString, wording);
        QVERIFY2(text.contains(wording), qPrintable(text));
        QVERIFY2(!text.contains(QLatin1String("Finder")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("\u2318")), qPrintable(text));
    }
};

QTEST_MAIN(TestUserTexts)
#include "tst_usertexts.moc"
