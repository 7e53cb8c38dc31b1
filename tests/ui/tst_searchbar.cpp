#include "SearchFixture.h"

#include "ResultsTableView.h"
#include "SearchBar.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString findKey = QKeySequence(Qt::CTRL | Qt::Key_F).toString(QKeySequence::NativeText);
} // namespace

class TestSearchBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scopeTexts_data();
    void scopeTexts();
    void scopeButtonAction();
    void typingPause();
    void modelTextReachesField();
    void escapeVersusClearButton();
    void downArrow_data();
    void downArrow();
    void focusRequestAndMirror();
    void focusWithoutIndexStartsBuild();
    void focusMovesBetweenFieldAndResults();
};

void TestSearchBar::scopeTexts_data()
{
    QTest::addColumn<QString>("selection");
    QTest::addColumn<bool>("global");
    QTest::addColumn<QList<FinderTag>>("filters");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<QString>("tooltip");

    const QString all = "Search all samples (" + findKey + ")";
    const QString inDrums = "Search in \u201CDrums\u201D";
    const QString drumsTip =
        "Searching in \u201CDrums\u201D. Click to search all folders (" + findKey + ")";
    QTest::newRow("nothing selected") << QString() << false << QList<FinderTag>()
                                      << "magnifyingglass" << all << "Searching all folders";
    QTest::newRow("folder selected")
        << "Samples/Drums" << false << QList<FinderTag>() << "folder" << inDrums << drumsTip;
    QTest::newRow("file selected: its folder")
        << "Samples/Drums/kick.wav" << false << QList<FinderTag>() << "folder" << inDrums
        << drumsTip;
    QTest::newRow("global search") << "Samples/Drums" << true << QList<FinderTag>()
                                   << "magnifyingglass" << all << "Searching all folders";
    QTest::newRow("one tag filter")
        << "Samples/Drums" << false << QList<FinderTag>{FinderTag::Red} << "tag.fill"
        << "Search Red"
        << "Searching your Red items. Click to search all folders (" + findKey + ")";
    QTest::newRow("two tag filters")
        << QString() << true << QList<FinderTag>{FinderTag::Red, FinderTag::Blue} << "tag.fill"
        << "Search 2 colors"
        << "Searching your 2 colors items. Click to search all folders (" + findKey + ")";
}

void TestSearchBar::scopeTexts()
{
    QFETCH(QString, selection);
    QFETCH(bool, global);
    QFETCH(QList<FinderTag>, filters);
    QFETCH(QString, symbol);
    QFETCH(QString, placeholder);
    QFETCH(QString, tooltip);

    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"Drums/kick.wav", "Bass/sub.wav"}));
    SearchBar bar(*f.model);
    if (!selection.isEmpty())
        f.model->setSelection(f.url(selection));
    f.model->setGlobalSearch(global);
    f.model->setActiveTagFilters(FinderTagSet(filters.cbegin(), filters.cend()));

    QCOMPARE(bar.scopeSymbol(), symbol);
    QCOMPARE(bar.field()->placeholderText(), placeholder);
    QCOMPARE(bar.scopeButton()->toolTip(), tooltip);
}

void TestSearchBar::scopeButtonAction()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"Drums/kick.wav"}));
    SearchBar bar(*f.model);
    f.model->setSelection(f.url("Samples/Drums"));
    QCOMPARE(bar.scopeSymbol(), "folder");

    // Without filters the button flips the global flag.
    QTest::mouseClick(bar.scopeButton(), Qt::LeftButton);
    QVERIFY(f.model->globalSearch());
    QCOMPARE(bar.scopeSymbol(), "magnifyingglass");
    QCOMPARE(bar.field()->placeholderText(), "Search all samples (" + findKey + ")");
    QTest::mouseClick(bar.scopeButton(), Qt::LeftButton);
    QVERIFY(!f.model->globalSearch());
    QCOMPARE(bar.scopeSymbol(), "folder");

    // With filters it searches all folders: filters cleared, global on, focus asked for.
    f.model->setActiveTagFilters({FinderTag::Red});
    const qint64 focusRequests = f.model->searchFocusRequest();
    QTest::mouseClick(bar.scopeButton(), Qt::LeftButton);
    QVERIFY(f.model->activeTagFilters().isEmpty());
    QVERIFY(f.model->globalSearch());
    QCOMPARE(f.model->searchFocusRequest(), focusRequests + 1);
    QCOMPARE(bar.scopeSymbol(), "magnifyingglass");
}

void TestSearchBar::typingPause()
{
    SearchFixture f;
    SearchBar bar(*f.model);
    QSignalSpy textChanges(f.model.get(), &BrowserModel::searchTextChanged);

    QTest::keyClicks(bar.field(), "kick");
    // The text runs ahead of the model until the pause is over.
    QCOMPARE(f.model->searchText(), QString());
    QVERIFY(bar.clearButton()->isVisibleTo(&bar));
    QTRY_COMPARE(f.model->searchText(), "kick");
    QCOMPARE(textChanges.count(), 1);

    // A burst of keys reaches the model once, with its last text.
    QTest::keyClicks(bar.field(), " 808");
    QTest::keyClick(bar.field(), Qt::Key_Backspace);
    QCOMPARE(f.model->searchText(), "kick");
    QTRY_COMPARE(f.model->searchText(), "kick 80");
    QTest::qWait(2 * SearchBar::typingPauseMilliseconds);
    QCOMPARE(textChanges.count(), 2);
}

void TestSearchBar::modelTextReachesField()
{
    SearchFixture f;
    f.model->setSearchText("hat");
    SearchBar bar(*f.model);
    QCOMPARE(bar.field()->text(), "hat");

    f.model->setSearchText("snare");
    QCOMPARE(bar.field()->text(), "snare");

    // A model change cancels the pending copy of what was typed before it.
    QTest::keyClicks(bar.field(), "x");
    f.model->clearSearch();
    QCOMPARE(bar.field()->text(), QString());
    QVERIFY(!bar.clearButton()->isVisibleTo(&bar));
    QTest::qWait(2 * SearchBar::typingPauseMilliseconds);
    QCOMPARE(f.model->searchText(), QString());
}

void TestSearchBar::escapeVersusClearButton()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"kick.wav"}));
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *bar = new SearchBar(*f.model);
    auto *other = new QLineEdit;
    layout->addWidget(bar);
    layout->addWidget(other);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    auto prepare = [&] {
        bar->field()->setFocus();
        QTest::keyClicks(bar->field(), "kick");
        QTRY_COMPARE(f.model->searchText(), "kick");
        f.model->setActiveTagFilters({FinderTag::Green});
        f.model->setGlobalSearch(true);
        f.model->setResultSelection(f.url("Samples/kick.wav"));
        QVERIFY(bar->field()->hasFocus());
        QVERIFY(f.model->isSearchFieldFocused());
    };

    prepare();
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    QCOMPARE(bar->field()->text(), QString());
    QCOMPARE(f.model->searchText(), QString());
    QVERIFY(f.model->activeTagFilters().isEmpty());
    QVERIFY(f.model->resultSelection().isEmpty());
    QVERIFY(!f.model->globalSearch());
    QVERIFY(!bar->field()->hasFocus());
    QVERIFY(!f.model->isSearchFieldFocused());

    prepare();
    QVERIFY(bar->clearButton()->isVisibleTo(bar));
    QTest::mouseClick(bar->clearButton(), Qt::LeftButton);
    QCOMPARE(bar->field()->text(), QString());
    QCOMPARE(f.model->searchText(), QString());
    QVERIFY(!f.model->globalSearch());
    QCOMPARE(f.model->activeTagFilters(), FinderTagSet{FinderTag::Green});
    QVERIFY(bar->field()->hasFocus());
    QVERIFY(f.model->isSearchFieldFocused());
    QVERIFY(!bar->clearButton()->isVisibleTo(bar));
    QTest::qWait(2 * SearchBar::typingPauseMilliseconds);
    QCOMPARE(f.model->searchText(), QString());
}

void TestSearchBar::downArrow_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("resultsRequests");
    QTest::addColumn<int>("treeRequests");
    QTest::addColumn<bool>("consumed");

    QTest::newRow("results: to the results") << "kick" << 1 << 0 << true;
    QTest::newRow("empty field: to the tree") << "" << 0 << 1 << true;
    QTest::newRow("blank field: to the tree") << "   " << 0 << 1 << true;
    QTest::newRow("nothing found: passes on") << "zzz" << 0 << 0 << false;
}

// Records the keys that the field lets pass to its parent.
class KeyRecorder final : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};

void TestSearchBar::downArrow()
{
    QFETCH(QString, text);
    QFETCH(int, resultsRequests);
    QFETCH(int, treeRequests);
    QFETCH(bool, consumed);

    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"kick.wav", "snare.wav"}));
    KeyRecorder parent;
    auto *bar = new SearchBar(*f.model, &parent);
    QVERIFY(f.search(text, text == "kick" ? 1 : 0));
    bar->field()->setText(text);

    const qint64 results = f.model->focusResultsRequest();
    const qint64 tree = f.model->focusTreeRequest();
    QTest::keyClick(bar->field(), Qt::Key_Down);
    QCOMPARE(f.model->focusResultsRequest(), results + resultsRequests);
    QCOMPARE(f.model->focusTreeRequest(), tree + treeRequests);
    QCOMPARE(parent.keys.contains(Qt::Key_Down), !consumed);
}

void TestSearchBar::focusRequestAndMirror()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"kick.wav"}));
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *bar = new SearchBar(*f.model);
    auto *other = new QLineEdit;
    layout->addWidget(bar);
    layout->addWidget(other);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QVERIFY(!f.model->isSearchFieldFocused());

    f.model->requestSearchFocus();
    QVERIFY(bar->field()->hasFocus());
    QVERIFY(f.model->isSearchFieldFocused());

    other->setFocus();
    QVERIFY(!f.model->isSearchFieldFocused());
    bar->field()->setFocus();
    QVERIFY(f.model->isSearchFieldFocused());

    f.model->searchAllFolders();
    other->setFocus();
    f.model->searchAllFolders();
    QVERIFY(bar->field()->hasFocus());
}

void TestSearchBar::focusWithoutIndexStartsBuild()
{
    SearchFixture f;
    SearchBar bar(*f.model);
    // The model builds at start: the spinner shows while it does.
    QVERIFY(f.model->isIndexing());
    QVERIFY(bar.spinner()->isVisibleTo(&bar));
    QTRY_VERIFY(!f.model->isIndexing());
    QVERIFY(!bar.spinner()->isVisibleTo(&bar));
    QVERIFY(f.model->index()->isEmpty());

    QSignalSpy indexing(f.model.get(), &BrowserModel::isIndexingChanged);
    bar.show();
    QVERIFY(QTest::qWaitForWindowActive(&bar));
    bar.field()->setFocus();
    QVERIFY(f.model->isSearchFieldFocused());
    QCOMPARE(indexing.count(), 1);
    QVERIFY(f.model->isIndexing());
    QVERIFY(bar.spinner()->isVisible());
    QTRY_VERIFY(!f.model->isIndexing());
    QVERIFY(!bar.spinner()->isVisible());
}

void TestSearchBar::focusMovesBetweenFieldAndResults()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"kick 1.wav", "kick 2.wav", "snare.wav"}));
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *bar = new SearchBar(*f.model);
    auto *table = new ResultsTableView(*f.model, *f.player, *f.tags);
    layout->addWidget(bar);
    layout->addWidget(table);
    window.resize(400, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    bar->field()->setFocus();
    QTest::keyClicks(bar->field(), "kick");
    QTRY_COMPARE(f.model->searchResults().size(), 2);

    // Down: the results take focus and the first row previews.
    QTest::keyClick(bar->field(), Qt::Key_Down);
    QVERIFY(table->hasFocus());
    QVERIFY(!f.model->isSearchFieldFocused());
    QCOMPARE(table->selectedRow(), 0);
    QCOMPARE(f.model->resultSelection(), f.url("Samples/kick 1.wav"));
    QCOMPARE(f.player->playingURL(), f.url("Samples/kick 1.wav"));

    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(f.model->resultSelection(), f.url("Samples/kick 2.wav"));
    QTest::keyClick(table, Qt::Key_Up);
    QCOMPARE(table->selectedRow(), 0);
    QVERIFY(table->hasFocus());

    // Up on the first row: back to the field, the selection stays.
    QTest::keyClick(table, Qt::Key_Up);
    QVERIFY(bar->field()->hasFocus());
    QVERIFY(f.model->isSearchFieldFocused());
    QCOMPARE(table->selectedRow(), 0);
    QCOMPARE(f.model->resultSelection(), f.url("Samples/kick 1.wav"));

    // Down again returns to the selected row, not to the top.
    QTest::keyClick(table, Qt::Key_Down);
    bar->field()->setFocus();
    QTest::keyClick(bar->field(), Qt::Key_Down);
    QVERIFY(table->hasFocus());
    QCOMPARE(table->selectedRow(), 1);
}

QTEST_MAIN(TestSearchBar)
#include "tst_searchbar.moc"
