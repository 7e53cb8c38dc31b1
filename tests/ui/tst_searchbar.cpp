// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiFixtures.h"

#include "ResultsTableView.h"
#include "SearchBar.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString findKey = QKeySequence(Qt::CTRL | Qt::Key_F).toString(QKeySequence::NativeText);

struct Shown : SearchFixture
{
    QWidget window;
    SearchBar *bar = new SearchBar(*model, &window);
    ResultsTableView *table = new ResultsTableView(*model, *player, *tags, &window);
    QLineEdit *field = bar->field();

    bool show(const QStringList &files)
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(bar);
        layout->addWidget(table);
        window.resize(400, 400);
        window.show();
        return addIndexedRoot("Samples", files) && QTest::qWaitForWindowActive(&window);
    }
};

class KeyRecorder final : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};
} // namespace

class TestSearchBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scopeTexts_data()
    {
        QTest::addColumn<QString>("selection");
        QTest::addColumn<bool>("global");
        QTest::addColumn<QList<FinderTag>>("filters");
        QTest::addColumn<QStringList>("shown"); // symbol, placeholder
        const QStringList drums{"folder", "Search in \u201CDrums\u201D"};
        const QStringList global{"magnifyingglass", "Search all samples (" + findKey + ")"};
        const QList<FinderTag> none;
        // clang-format off
        QTest::newRow("nothing selected") << QString() << false << none << global;
        QTest::newRow("folder selected") << "Drums" << false << none << drums;
        QTest::newRow("file: its folder") << "Drums/kick.wav" << false << none << drums;
        QTest::newRow("global search") << "Drums" << true << none << global;
        QTest::newRow("one tag filter") << "Drums" << false << QList<FinderTag>{FinderTag::Red} << QStringList{"tag.fill", "Search Red"};
        QTest::newRow("two tag filters") << QString() << true << QList<FinderTag>{FinderTag::Red, FinderTag::Blue} << QStringList{"tag.fill", "Search 2 colors"};
        // clang-format on
    }
    void scopeTexts()
    {
        QFETCH(QString, selection);
        QFETCH(bool, global);
        QFETCH(QList<FinderTag>, filters);
        QFETCH(QStringList, shown);
        SearchFixture f;
        QVERIFY(f.addIndexedRoot("Samples", {"Drums/kick.wav", "Bass/sub.wav"}));
        SearchBar bar(*f.model);
        if (!selection.isEmpty())
            f.model->setSelection(f.url("Samples/" + selection));
        f.model->setGlobalSearch(global);
        f.model->setActiveTagFilters(FinderTagSet(filters.cbegin(), filters.cend()));
        QCOMPARE(QStringList({bar.scopeSymbol(), bar.field()->placeholderText()}), shown);

        // The button flips the global flag; with filters on it searches all folders instead,
        // which puts the keyboard in the field.
        const qint64 focusRequests = f.model->searchFocusRequest();
        QTest::mouseClick(bar.scopeButton(), Qt::LeftButton);
        QCOMPARE(f.model->globalSearch(), !global || !filters.isEmpty());
        QVERIFY(f.model->activeTagFilters().isEmpty());
        QCOMPARE(f.model->searchFocusRequest() - focusRequests, filters.isEmpty() ? 0 : 1);
    }

    void typingReachesModelAfterPause()
    {
        SearchFixture f;
        SearchBar bar(*f.model);
        QSignalSpy textChanges(f.model.get(), &BrowserModel::searchTextChanged);
        // The text runs ahead of the model until the pause is over; a burst arrives once.
        QTest::keyClicks(bar.field(), "kick");
        QCOMPARE(f.model->searchText(), QString());
        QVERIFY(bar.clearButton()->isVisibleTo(&bar));
        QTRY_COMPARE(f.model->searchText(), "kick");
        QTest::keyClicks(bar.field(), " 808");
        QTest::keyClick(bar.field(), Qt::Key_Backspace);
        QCOMPARE(f.model->searchText(), "kick");
        QTRY_COMPARE(f.model->searchText(), "kick 80");
        QCOMPARE(textChanges.count(), 2);

        // A model change cancels the pending copy of what was typed before it.
        QTest::keyClicks(bar.field(), "x");
        f.model->clearSearch();
        QCOMPARE(bar.field()->text(), QString());
        QVERIFY(!bar.clearButton()->isVisibleTo(&bar));
        QTest::qWait(2 * SearchBar::typingPauseMilliseconds);
        QCOMPARE(f.model->searchText(), QString());
    }

    void escapeClearAndFocus()
    {
        Shown s;
        QVERIFY(s.show({"kick 1.wav", "kick 2.wav", "snare.wav"}));
        auto prepare = [&] {
            s.field->setFocus();
            QTest::keyClicks(s.field, "kick");
            QTRY_COMPARE(s.model->searchText(), "kick");
            s.model->setActiveTagFilters({FinderTag::Green});
            s.model->setGlobalSearch(true);
            s.model->setResultSelection(s.url("Samples/snare.wav"));
            QVERIFY(s.model->isSearchFieldFocused());
        };
        // Text, model text, global, filters, result selection, field focus, model's focus flag.
        const auto state = [&] {
            return QVariantList({s.field->text(), s.model->searchText(), s.model->globalSearch(),
                                 s.model->activeTagFilters().size(),
                                 s.model->resultSelection().isValid(), s.field->hasFocus(),
                                 s.model->isSearchFieldFocused()});
        };
        prepare();
        QTest::keyClick(s.field, Qt::Key_Escape);
        QCOMPARE(state(), QVariantList({"", "", false, 0, false, false, false}));
        prepare();
        QTest::mouseClick(s.bar->clearButton(), Qt::LeftButton);
        QCOMPARE(state(), QVariantList({"", "", false, 1, true, true, true}));
        QVERIFY(!s.bar->clearButton()->isVisibleTo(s.bar));

        // Focus requests reach the field.
        s.table->setFocus();
        QVERIFY(!s.model->isSearchFieldFocused());
        s.model->requestSearchFocus();
        QVERIFY(s.field->hasFocus() && s.model->isSearchFieldFocused());
    }

    void downArrow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("resultsRequests");
        QTest::addColumn<int>("treeRequests");
        QTest::newRow("results: to the results") << "kick" << 1 << 0;
        QTest::newRow("empty field: to the tree") << "" << 0 << 1;
        QTest::newRow("nothing found: passes on") << "zzz" << 0 << 0;
    }

    void downArrow()
    {
        QFETCH(QString, text);
        QFETCH(int, resultsRequests);
        QFETCH(int, treeRequests);
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
        QCOMPARE(parent.keys.contains(Qt::Key_Down), resultsRequests + treeRequests == 0);
    }
};

QTEST_MAIN(TestSearchBar)
#include "tst_searchbar.moc"
