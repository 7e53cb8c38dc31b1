#include "SearchFixture.h"

#include "ReliableRowClick.h"
#include "ResultsModel.h"
#include "ResultsTableView.h"
#include "SearchResultRow.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>
#include <QVBoxLayout>

namespace {
const QStringList sampleFiles = {"Drums/kick 1.wav", "Drums/kick 2.wav", "Drums/kick 3.wav",
                                 "Bass/sub kick.wav", "Bass/sub.wav"};

QStringList actionTexts(const QMenu &menu)
{
    QStringList texts;
    for (QAction *action : menu.actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QAction *actionNamed(const QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}
} // namespace

class TestResultsTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modelTester();
    void rowsAndRoles();
    void updatesTouchOnlyAffectedRows();
    void selectionPreviewsAndFollowsModel();
    void clickSelectsAndReplays();
    void arrowKeysAndSpace();
    void focusRequests();
    void hover();
    void contextMenu_data();
    void contextMenu();
    void rightClickSelectsFirst();
    void dragOnlyExistingFiles();
    void reliableRowClick();
    void rowLook_data();
    void rowLook();

private:
    struct Shown
    {
        std::unique_ptr<SearchFixture> f;
        std::unique_ptr<ResultsTableView> table;
    };
    static Shown showKickResults();
};

TestResultsTable::Shown TestResultsTable::showKickResults()
{
    Shown shown;
    shown.f = std::make_unique<SearchFixture>();
    SearchFixture &f = *shown.f;
    if (!f.addIndexedRoot("Samples", sampleFiles) || !f.search("kick", 4))
        return shown;
    f.model->setGlobalSearch(true);
    shown.table = std::make_unique<ResultsTableView>(*f.model, *f.player, *f.tags);
    shown.table->resize(360, 300);
    shown.table->show();
    if (!QTest::qWaitForWindowActive(shown.table.get()))
        shown.table.reset();
    return shown;
}

void TestResultsTable::modelTester()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", sampleFiles));
    ResultsModel model(*f.model, *f.player, *f.tags);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QVERIFY(f.search("kick", 4));
    QCOMPARE(model.rowCount(), 4);
    f.tags->setTags({FinderTag::Red}, f.url("Samples/Drums/kick 2.wav"));
    QVERIFY(f.player->play(f.url("Samples/Drums/kick 1.wav")));
    QVERIFY(f.search("sub", 2));
    QCOMPARE(model.rowCount(), 2);
    f.player->stop();
    QVERIFY(f.search("", 0));
    QCOMPARE(model.rowCount(), 0);
}

void TestResultsTable::rowsAndRoles()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", sampleFiles));
    QVERIFY(f.search("kick", 4));
    ResultsModel model(*f.model, *f.player, *f.tags);
    f.tags->setTags({FinderTag::Gray, FinderTag::Red}, f.url("Samples/Drums/kick 2.wav"));

    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names.append(model.index(row, 0).data().toString());
    QCOMPARE(names, QStringList({"kick 1.wav", "kick 2.wav", "kick 3.wav", "sub kick.wav"}));
    QCOMPARE(model.index(1, 0).data(ResultsModel::UrlRole).toUrl(),
             f.url("Samples/Drums/kick 2.wav"));
    QCOMPARE(model.index(1, 0).data(ResultsModel::TagsRole).toList(),
             QVariantList({qint64(0), qint64(6)}));
    QVERIFY(model.index(0, 0).data(ResultsModel::TagsRole).toList().isEmpty());
    QCOMPARE(model.rowOf(f.url("Samples/Drums/kick 3.wav")), 2);
    QCOMPARE(model.rowOf(f.url("Samples/Bass/sub.wav")), -1);
    QVERIFY(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsDragEnabled));
}

void TestResultsTable::updatesTouchOnlyAffectedRows()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", sampleFiles));
    QVERIFY(f.search("kick", 4));
    ResultsModel model(*f.model, *f.player, *f.tags);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    auto changedRows = [&] {
        QList<int> rows;
        for (const QList<QVariant> &args : std::as_const(changes)) {
            const auto top = args.at(0).value<QModelIndex>().row();
            const auto bottom = args.at(1).value<QModelIndex>().row();
            for (int row = top; row <= bottom; ++row)
                rows.append(row);
        }
        changes.clear();
        return rows;
    };

    f.tags->setTags({FinderTag::Blue}, f.url("Samples/Drums/kick 3.wav"));
    QCOMPARE(changedRows(), QList<int>{2});
    f.tags->setTags({FinderTag::Blue}, f.url("Samples/Bass/sub.wav"));
    QCOMPARE(changedRows(), QList<int>());

    QVERIFY(f.player->play(f.url("Samples/Drums/kick 1.wav")));
    QCOMPARE(changedRows(), QList<int>{0});
    QVERIFY(model.index(0, 0).data(ResultsModel::IsPlayingRole).toBool());
    QVERIFY(f.player->play(f.url("Samples/Bass/sub kick.wav")));
    QCOMPARE(changedRows(), QList<int>({0, 3}));
    f.player->stop();
    QCOMPARE(changedRows(), QList<int>{3});
    QCOMPARE(resets.count(), 0);

    // A search with the same outcome changes nothing; a new list resets once.
    f.model->setSearchText("KICK");
    QTest::qWait(200);
    QCOMPARE(resets.count(), 0);
    QVERIFY(f.search("kick 2", 1));
    QCOMPARE(resets.count(), 1);
}

void TestResultsTable::selectionPreviewsAndFollowsModel()
{
    Shown shown = showKickResults();
    QVERIFY(shown.table);
    SearchFixture &f = *shown.f;
    ResultsTableView &table = *shown.table;

    table.selectRow(1);
    QCOMPARE(f.model->resultSelection(), f.url("Samples/Drums/kick 2.wav"));
    QCOMPARE(f.player->playingURL(), f.url("Samples/Drums/kick 2.wav"));

    // The model's selection is shown, and previewed like any other selection.
    f.model->setResultSelection(f.url("Samples/Drums/kick 3.wav"));
    QCOMPARE(table.selectedRow(), 2);

    // A selection that is not listed leaves the table alone.
    f.model->setResultSelection(f.url("Samples/Bass/sub.wav"));
    QCOMPARE(table.selectedRow(), 2);

    f.model->setResultSelection(QUrl());
    QCOMPARE(table.selectedRow(), -1);

    // A new list keeps the selected result selected when it is still listed.
    f.model->setResultSelection(f.url("Samples/Drums/kick 3.wav"));
    QVERIFY(f.search("kick 3", 1));
    QCOMPARE(table.selectedRow(), 0);
}

void TestResultsTable::clickSelectsAndReplays()
{
    Shown shown = showKickResults();
    QVERIFY(shown.table);
    SearchFixture &f = *shown.f;
    ResultsTableView &table = *shown.table;
    auto rowCenter = [&](int row) {
        return table.visualRect(table.model()->index(row, 0)).center();
    };

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rowCenter(1));
    QCOMPARE(table.selectedRow(), 1);
    QCOMPARE(f.player->playingURL(), f.url("Samples/Drums/kick 2.wav"));

    // A click on the selected row plays it again from the start.
    f.player->stop();
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rowCenter(1));
    QCOMPARE(f.player->playingURL(), f.url("Samples/Drums/kick 2.wav"));

    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rowCenter(3));
    QCOMPARE(f.model->resultSelection(), f.url("Samples/Bass/sub kick.wav"));
    QCOMPARE(f.player->playingURL(), f.url("Samples/Bass/sub kick.wav"));
}

void TestResultsTable::arrowKeysAndSpace()
{
    Shown shown = showKickResults();
    QVERIFY(shown.table);
    SearchFixture &f = *shown.f;
    ResultsTableView &table = *shown.table;
    table.setFocus();
    table.selectRow(1);
    const QUrl second = f.url("Samples/Drums/kick 2.wav");

    // Up moves the selection until the first row, then hands focus to the search field.
    const qint64 searchFocus = f.model->searchFocusRequest();
    QTest::keyClick(&table, Qt::Key_Up);
    QCOMPARE(table.selectedRow(), 0);
    QCOMPARE(f.model->searchFocusRequest(), searchFocus);
    QTest::keyClick(&table, Qt::Key_Up);
    QCOMPARE(table.selectedRow(), 0);
    QCOMPARE(f.model->searchFocusRequest(), searchFocus + 1);

    QTest::keyClick(&table, Qt::Key_Down);
    QCOMPARE(f.model->resultSelection(), second);
    QCOMPARE(f.player->playingURL(), second);

    // Space stops whatever plays, even another file; pressed again it plays the selection.
    QVERIFY(f.player->play(f.url("Samples/Bass/sub.wav")));
    QTest::keyClick(&table, Qt::Key_Space);
    QVERIFY(!f.player->isPlaying());
    QTest::keyClick(&table, Qt::Key_Space);
    QCOMPARE(f.player->playingURL(), second);

    f.player->stop();
    QTest::keyClick(&table, Qt::Key_Right);
    QCOMPARE(f.player->playingURL(), second);
    QCOMPARE(table.selectedRow(), 1);

    // Home and End go to the ends of the list.
    QTest::keyClick(&table, Qt::Key_End);
    QCOMPARE(table.selectedRow(), 3);
    QTest::keyClick(&table, Qt::Key_Home);
    QCOMPARE(table.selectedRow(), 0);
}

void TestResultsTable::focusRequests()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", sampleFiles));
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *other = new QLineEdit;
    auto *table = new ResultsTableView(*f.model, *f.player, *f.tags);
    layout->addWidget(other);
    layout->addWidget(table);
    window.resize(300, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();

    // Without results a request does nothing.
    f.model->requestResultsFocus();
    QVERIFY(!table->hasFocus());

    QVERIFY(f.search("kick", 4));
    // Tab selects nothing; the first Down lands on the first row, not the second.
    QTest::keyClick(other, Qt::Key_Tab);
    QVERIFY(table->hasFocus());
    QCOMPARE(table->selectedRow(), -1);
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(f.model->resultSelection(), f.url("Samples/Drums/kick 1.wav"));

    other->setFocus();
    f.model->setResultSelection(QUrl());
    f.model->requestResultsFocus();
    QVERIFY(table->hasFocus());
    QCOMPARE(table->selectedRow(), 0);
    QCOMPARE(f.model->resultSelection(), f.url("Samples/Drums/kick 1.wav"));

    other->setFocus();
    f.model->setResultSelection(f.url("Samples/Drums/kick 3.wav"));
    f.model->requestResultsFocus();
    QVERIFY(table->hasFocus());
    QCOMPARE(table->selectedRow(), 2);
}

void TestResultsTable::hover()
{
    Shown shown = showKickResults();
    QVERIFY(shown.table);
    ResultsTableView &table = *shown.table;
    QCOMPARE(table.hoveredRow(), -1);
    QTest::mouseMove(table.viewport(), table.visualRect(table.model()->index(2, 0)).center());
    QTRY_COMPARE(table.hoveredRow(), 2);
    QCOMPARE(table.selectedRow(), -1);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&table, &leave);
    QCOMPARE(table.hoveredRow(), -1);
}

void TestResultsTable::contextMenu_data()
{
    QTest::addColumn<QList<FinderTag>>("tags");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QList<FinderTag>>("after");

    QTest::newRow("untagged, add red")
        << QList<FinderTag>() << "Red" << QList<FinderTag>{FinderTag::Red};
    QTest::newRow("red and blue, remove red") << QList<FinderTag>{FinderTag::Red, FinderTag::Blue}
                                              << "Red" << QList<FinderTag>{FinderTag::Blue};
    QTest::newRow("red and blue, add gray")
        << QList<FinderTag>{FinderTag::Red, FinderTag::Blue} << "Gray"
        << QList<FinderTag>{FinderTag::Red, FinderTag::Blue, FinderTag::Gray};
    QTest::newRow("green, no color")
        << QList<FinderTag>{FinderTag::Green} << "No Color" << QList<FinderTag>();
}

void TestResultsTable::contextMenu()
{
    QFETCH(QList<FinderTag>, tags);
    QFETCH(QString, trigger);
    QFETCH(QList<FinderTag>, after);

    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", sampleFiles));
    QVERIFY(f.search("kick", 4));
    ResultsTableView table(*f.model, *f.player, *f.tags);
    const QUrl url = f.url("Samples/Drums/kick 2.wav");
    f.tags->setTags(FinderTagSet(tags.cbegin(), tags.cend()), url);

    QVERIFY(!table.contextMenuForRow(4, &table));
    std::unique_ptr<QMenu> menu(table.contextMenuForRow(1, &table));
    QVERIFY(menu);
    QCOMPARE(actionTexts(*menu),
             QStringList({"Red", "Orange", "Yellow", "Green", "Blue", "Purple", "Gray", "No Color",
                          "-", "Reveal in Browser", "Show in File Manager"}));
    for (FinderTag tag : FinderTags::all) {
        QAction *action = actionNamed(*menu, FinderTags::displayName(tag));
        QVERIFY(action->isCheckable());
        QCOMPARE(action->isChecked(), tags.contains(tag));
        QVERIFY(!action->icon().isNull());
    }
    QCOMPARE(actionNamed(*menu, "No Color")->isEnabled(), !tags.isEmpty());
    for (QAction *action : menu->actions())
        QVERIFY(action->shortcut().isEmpty());

    actionNamed(*menu, trigger)->trigger();
    QCOMPARE(f.tags->tagsFor(url), FinderTagSet(after.cbegin(), after.cend()));
}

void TestResultsTable::rightClickSelectsFirst()
{
    Shown shown = showKickResults();
    QVERIFY(shown.table);
    SearchFixture &f = *shown.f;
    ResultsTableView &table = *shown.table;

    const QPoint onRow = table.visualRect(table.model()->index(2, 0)).center();
    QContextMenuEvent onRowEvent(QContextMenuEvent::Mouse, onRow,
                                 table.viewport()->mapToGlobal(onRow));
    QApplication::sendEvent(table.viewport(), &onRowEvent);
    QCOMPARE(table.selectedRow(), 2);
    QCOMPARE(f.player->playingURL(), f.url("Samples/Drums/kick 3.wav"));
    QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
    QApplication::activePopupWidget()->close();
    QTRY_VERIFY(!QApplication::activePopupWidget());

    // Below the last row: no menu.
    const QPoint below(20, table.viewport()->height() - 4);
    QCOMPARE(table.rowAt(below.y()), -1);
    QContextMenuEvent belowEvent(QContextMenuEvent::Mouse, below,
                                 table.viewport()->mapToGlobal(below));
    QApplication::sendEvent(table.viewport(), &belowEvent);
    QTest::qWait(50);
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(table.selectedRow(), 2);
}

void TestResultsTable::dragOnlyExistingFiles()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", sampleFiles));
    QVERIFY(f.search("kick", 4));
    ResultsModel model(*f.model, *f.player, *f.tags);
    QCOMPARE(model.mimeTypes(), QStringList{"text/uri-list"});

    std::unique_ptr<QMimeData> mime(model.mimeData({model.index(0, 0)}));
    QVERIFY(mime);
    QCOMPARE(mime->urls(), QList<QUrl>{f.url("Samples/Drums/kick 1.wav")});
    QVERIFY(mime->hasFormat("text/uri-list"));

    // Results keep naming a deleted file until the next search, but it cannot be dragged.
    QVERIFY(QFile::remove(f.path("Samples/Drums/kick 1.wav")));
    QVERIFY(!model.mimeData({model.index(0, 0)}));
}

void TestResultsTable::reliableRowClick()
{
    QStringListModel rows(QStringList{"a", "b", "c"});
    QListView view;
    view.setModel(&rows);
    view.setDragEnabled(true);
    view.resize(200, 200);
    QList<int> clicked;
    QList<bool> wasSelected;
    new ReliableRowClick(view, [&](const QModelIndex &index, bool selected) {
        clicked.append(index.row());
        wasSelected.append(selected);
    });
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPoint a = view.visualRect(rows.index(0)).center();
    const QPoint b = view.visualRect(rows.index(1)).center();

    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, b);
    QCOMPARE(clicked, QList<int>{1});
    // A double click is two clicks; the second press arrives as the double-click event.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, a);
    QMouseEvent second(QEvent::MouseButtonDblClick, a, view.viewport()->mapToGlobal(a),
                       Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &second);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, a);
    QCOMPARE(clicked, QList<int>({1, 0, 0}));
    // The view selects on the press; the action still learns what the row was before it.
    QCOMPARE(wasSelected, QList<bool>({false, false, true}));

    // Pressed on one row and released on another: no click.
    clicked.clear();
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, a);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, b);
    QVERIFY(clicked.isEmpty());

    // A press that moves past the drag distance is a drag, not a click.
    const QPoint nudge(QApplication::startDragDistance() + 2, 0);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, a);
    QMouseEvent move(QEvent::MouseMove, a + nudge, view.viewport()->mapToGlobal(a + nudge),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, a);
    QVERIFY(clicked.isEmpty());

    // Right clicks are not clicks of the row.
    QTest::mouseClick(view.viewport(), Qt::RightButton, {}, b);
    QVERIFY(clicked.isEmpty());
}

void TestResultsTable::rowLook_data()
{
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<bool>("isPlaying");
    QTest::addColumn<bool>("isSelected");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QColor>("color");

    QTest::newRow("file") << false << false << false << "music.note" << QColor();
    QTest::newRow("playing") << false << true << false << "speaker.wave.1.fill"
                             << QColor::fromRgbF(0.184f, 0.42f, 1.0f);
    QTest::newRow("playing and selected")
        << false << true << true << "speaker.wave.1.fill" << QColor(Qt::white);
    QTest::newRow("folder") << true << false << false << "folder"
                            << QColor::fromRgbF(0.533f, 0.627f, 1.0f);
    QTest::newRow("selected folder") << true << false << true << "folder" << QColor(Qt::white);
}

void TestResultsTable::rowLook()
{
    QFETCH(bool, isDirectory);
    QFETCH(bool, isPlaying);
    QFETCH(bool, isSelected);
    QFETCH(QString, icon);
    QFETCH(QColor, color);

    SearchResultRow::Look look;
    look.isDirectory = isDirectory;
    look.isPlaying = isPlaying;
    look.isSelected = isSelected;
    QCOMPARE(SearchResultRow::iconName(look), icon);
    if (color.isValid())
        QCOMPARE(SearchResultRow::iconColor(look), color);

    // At most three dots, laid out right to left from the trailing padding.
    const QRect row(0, 0, 300, SearchResultRow::rowHeight);
    QCOMPARE(SearchResultRow::tagDotRects(row, 4).size(), 3);
    QCOMPARE(SearchResultRow::tagDotRects(row, 0).size(), 0);
    const QList<QRectF> dots = SearchResultRow::tagDotRects(row, 2);
    QCOMPARE(dots.constLast().right(), 292.0);
    QCOMPARE(dots.constLast().left() - dots.constFirst().right(), 2.0);
}

QTEST_MAIN(TestResultsTable)
#include "tst_resultstable.moc"
