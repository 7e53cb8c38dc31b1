// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiFixtures.h"

#include "ReliableRowClick.h"
#include "ResultsModel.h"
#include "ResultsTableView.h"
#include "SearchResultRow.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QSignalSpy>
#include <QStringListModel>
#include <QVBoxLayout>

namespace {
// The four "kick" results, in order, in a table below a line edit in an active window.
struct Shown : SearchFixture
{
    QWidget window;
    QLineEdit *other = new QLineEdit(&window);
    ResultsTableView *table = new ResultsTableView(*model, *player, *tags, &window);
    ResultsModel &rows = table->resultsModel();

    bool show(bool searched = true)
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(other);
        layout->addWidget(table);
        window.resize(360, 340);
        window.show();
        return addIndexedRoot("Samples",
                              {"Drums/kick 1.wav", "Drums/kick 2.wav", "Drums/kick 3.wav",
                               "Bass/sub kick.wav", "Bass/sub.wav"}) &&
               (!searched || search("kick", 4)) && QTest::qWaitForWindowActive(&window);
    }
    QUrl kick(int n) const { return url(QString("Samples/Drums/kick %1.wav").arg(n)); }
    QPoint center(int row) const { return table->visualRect(rows.index(row, 0)).center(); }
    void contextMenuAt(const QPoint &point) const
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, point,
                                table->viewport()->mapToGlobal(point));
        QApplication::sendEvent(table->viewport(), &event);
    }
};
} // namespace

class TestResultsTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modelRowsAndUpdates()
    {
        Shown s;
        QVERIFY(s.show(false));
        ResultsModel &model = s.rows;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(s.search("kick", 4));
        s.tags->setTags({FinderTag::Gray, FinderTag::Red}, s.kick(2));
        QCOMPARE(model.index(3, 0).data().toString(), "sub kick.wav");
        QCOMPARE(model.index(1, 0).data(ResultsModel::UrlRole).toUrl(), s.kick(2));
        QCOMPARE(model.index(1, 0).data(ResultsModel::TagsRole).toList(),
                 QVariantList({qint64(0), qint64(6)}));
        QCOMPARE(model.rowOf(s.kick(3)), 2);
        QCOMPARE(model.rowOf(s.url("Samples/Bass/sub.wav")), -1);

        // Tags and playback repaint only the rows they touch.
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
        s.tags->setTags({FinderTag::Blue}, s.kick(3));
        s.tags->setTags({FinderTag::Blue}, s.url("Samples/Bass/sub.wav"));
        QCOMPARE(changedRows(changes), QList<int>({2, 2}));
        QVERIFY(s.player->play(s.kick(1)));
        QCOMPARE(changedRows(changes), QList<int>({0, 0}));
        QVERIFY(model.index(0, 0).data(ResultsModel::IsPlayingRole).toBool());
        QVERIFY(s.player->play(s.url("Samples/Bass/sub kick.wav")));
        QCOMPARE(changedRows(changes), QList<int>({0, 0, 3, 3}));
        s.player->stop();
        QCOMPARE(changedRows(changes), QList<int>({3, 3}));

        std::unique_ptr<QMimeData> mime(model.mimeData({model.index(0, 0)}));
        QCOMPARE(mime->urls(), QList<QUrl>{s.kick(1)});

        // A search with the same outcome changes nothing; a new list resets once and keeps the
        // selected result selected when it is still listed.
        s.model->setResultSelection(s.kick(3));
        s.model->setSearchText("KICK");
        QTest::qWait(200);
        QCOMPARE(resets.count(), 0);
        QVERIFY(s.search("kick 3", 1));
        QCOMPARE(resets.count(), 1);
        QCOMPARE(s.table->selectedRow(), 0);
    }

    void mouse()
    {
        Shown s;
        QVERIFY(s.show());
        ResultsTableView &table = *s.table;
        s.tags->setTags({FinderTag::Red, FinderTag::Blue}, s.kick(2));
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, s.center(1));
        QCOMPARE(s.model->resultSelection(), s.kick(2));
        QCOMPARE(s.player->playingURL(), s.kick(2));
        s.player->stop();
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, s.center(1));
        QCOMPARE(s.player->playingURL(), s.kick(2));
        QTest::mouseMove(table.viewport(), s.center(2));
        QTRY_COMPARE(table.hoveredRow(), 2);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&table, &leave);
        QCOMPARE(table.hoveredRow(), -1);

        // A right click selects (and previews) before its menu opens; below the rows, no menu.
        s.contextMenuAt(s.center(2));
        QCOMPARE(s.player->playingURL(), s.kick(3));
        QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
        QApplication::activePopupWidget()->close();
        QTRY_VERIFY(!QApplication::activePopupWidget());
        s.contextMenuAt(QPoint(20, table.viewport()->height() - 4));
        QVERIFY(!QApplication::activePopupWidget());
        QCOMPARE(table.selectedRow(), 2);
    }

    void selectingARowDecodesItsNeighboursAhead_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("opened"); // the file played and the files around it
        QTest::newRow("first") << 0 << QStringList{"Drums/kick 1.wav", "Drums/kick 2.wav"};
        QTest::newRow("middle") << 1
                                << QStringList{"Drums/kick 1.wav", "Drums/kick 2.wav",
                                               "Drums/kick 3.wav"};
        QTest::newRow("last") << 3 << QStringList{"Drums/kick 3.wav", "Bass/sub kick.wav"};
    }

    void selectingARowDecodesItsNeighboursAhead()
    {
        QFETCH(int, row);
        QFETCH(QStringList, opened);
        Shown s;
        const auto files = std::make_shared<RecordingPreviewFiles>();
        s.player->setFiles(files);
        QVERIFY(s.show());
        QSignalSpy prepared(s.player.get(), &AudioPreviewPlayer::firstBlocksPrepared);
        s.table->selectRow(row);
        QVERIFY(prepared.wait(5000));
        QSet<QString> expected;
        for (const QString &item : opened)
            expected.insert(s.path(u"Samples/"_qs + item));
        QTRY_COMPARE(files->opened(), expected);
    }

    void keysAndFocus()
    {
        Shown s;
        QVERIFY(s.show(false));
        ResultsTableView &table = *s.table;
        s.other->setFocus();
        s.model->requestResultsFocus();
        QVERIFY(!table.hasFocus());
        QVERIFY(s.search("kick", 4));
        // Tab selects nothing; the first Down lands on the first row.
        QTest::keyClick(s.other, Qt::Key_Tab);
        QVERIFY(table.hasFocus() && table.selectedRow() == -1);
        QTest::keyClick(&table, Qt::Key_Down);
        QCOMPARE(s.model->resultSelection(), s.kick(1));
        QTest::keyClick(&table, Qt::Key_Down);
        QCOMPARE(s.player->playingURL(), s.kick(2));
        // Up at the first row hands focus to the search field; Space stops and plays, Right plays.
        // Each key, then the selected row, the row playing (-1: none) and the field's requests.
        const qint64 searchFocus = s.model->searchFocusRequest();
        const int steps[][4] = {{Qt::Key_Up, 0, 0, 0},     {Qt::Key_Up, 0, 0, 1},
                                {Qt::Key_Space, 0, -1, 1}, {Qt::Key_Right, 0, 0, 1},
                                {Qt::Key_End, 3, 3, 1},    {Qt::Key_Space, 3, -1, 1},
                                {Qt::Key_Space, 3, 3, 1},  {Qt::Key_Home, 0, 0, 1}};
        for (const auto &[key, row, playing, requests] : steps) {
            QTest::keyClick(&table, Qt::Key(key));
            const int played = s.player->isPlaying() ? s.rows.rowOf(s.player->playingURL()) : -1;
            QCOMPARE(QList<qint64>({table.selectedRow(), played,
                                    s.model->searchFocusRequest() - searchFocus}),
                     QList<qint64>({row, playing, requests}));
        }
        QVERIFY(s.player->play(s.url("Samples/Bass/sub.wav")));
        QTest::keyClick(&table, Qt::Key_Space);
        QVERIFY(!s.player->isPlaying());

        // The model's selection is shown when listed; a request focuses it, or the first row.
        s.model->setResultSelection(s.url("Samples/Bass/sub.wav"));
        QCOMPARE(table.selectedRow(), 0);
        s.model->setResultSelection(s.kick(3));
        s.other->setFocus();
        s.model->requestResultsFocus();
        QVERIFY(table.hasFocus() && table.selectedRow() == 2);
        s.other->setFocus();
        s.model->setResultSelection(QUrl());
        QCOMPARE(table.selectedRow(), -1);
        s.player->stop();
        s.model->requestResultsFocus();
        QVERIFY(table.hasFocus());
        QCOMPARE(s.model->resultSelection(), s.kick(1));
        QVERIFY(s.player->isPlaying() && s.player->playingURL() == s.kick(1));
    }

    void contextMenu()
    {
        Shown s;
        QVERIFY(s.show());
        s.tags->setTags({FinderTag::Red, FinderTag::Blue}, s.kick(2));
        QVERIFY(!s.table->contextMenuForRow(4, s.table));
        const auto menu = [&] {
            return std::unique_ptr<QMenu>(s.table->contextMenuForRow(1, s.table));
        };
        QCOMPARE(
            actionTexts(*menu()),
            QStringList({"Red", "Orange", "Yellow", "Green", "Blue", "Purple", "Gray", "No Color",
                         "-", "Find Similar", "-", "Reveal in Browser", "Show in File Manager"}));
        // A checked colour is taken off, another added; No Color takes them all, then is off.
        for (const char *trigger : {"Red", "Gray", "No Color"}) {
            const std::unique_ptr<QMenu> shown = menu();
            for (FinderTag tag : FinderTags::all)
                QCOMPARE(actionNamed(*shown, FinderTags::displayName(tag))->isChecked(),
                         s.tags->tagsFor(s.kick(2)).contains(tag));
            actionNamed(*shown, QLatin1String(trigger))->trigger();
        }
        QCOMPARE(s.tags->tagsFor(s.kick(2)), FinderTagSet());
        QVERIFY(!actionNamed(*menu(), "No Color")->isEnabled());
    }

    void folderText_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("offline");
        // clang-format off
        QTest::newRow("nested") << "kick" << "Drums/Kicks" << false;
        QTest::newRow("top of the root") << "pad" << "Samples" << false;
        QTest::newRow("offline root") << "kick" << "Drums/Kicks" << true;
        // clang-format on
    }
    void folderText()
    {
        QFETCH(QString, query);
        QFETCH(QString, folder);
        QFETCH(bool, offline);
        SearchFixture f;
        QVERIFY(f.addIndexedRoot("Samples", {"Drums/Kicks/kick.wav", "snare.wav", "pad.wav"}));
        QVERIFY(f.search(query, 1));
        const QString path = f.model->searchResults().constFirst()->path();
        // Deleted rather than moved: a moved root would be found again.
        if (offline) {
            QVERIFY(QDir(f.path("Samples")).removeRecursively());
            f.model->updateOfflineRoots();
            QTRY_VERIFY(f.model->offlineRoots().contains(f.url("Samples")));
        }
        ResultsModel model(*f.model, *f.player, *f.tags);
        QCOMPARE(model.index(0, 0).data(ResultsModel::FolderRole).toString(), folder);
        QCOMPARE(model.index(0, 0).data(Qt::ToolTipRole).toString(), path);

        // A narrow row keeps the name and shortens the folder in the middle.
        const QFontMetrics metrics(QApplication::font());
        SearchResultRow::Look look;
        look.name = "Kick 01.wav";
        look.folder = "Acoustic Kits/Studio A/Close Mics/Kicks";
        const int narrow = metrics.horizontalAdvance(look.name) * 3;
        auto [name, shortened] = SearchResultRow::fittedTexts(look, metrics, narrow);
        QCOMPARE(name, look.name);
        QVERIFY2(shortened.startsWith("Ac") && shortened.endsWith("ks") &&
                     shortened.contains(QChar(0x2026)),
                 qPrintable(shortened));
        QVERIFY(metrics.horizontalAdvance(name + shortened) <= narrow);
    }

    void reliableRowClick()
    {
        QStringListModel rows(QStringList{"a", "b", "c"});
        QListView view;
        view.setModel(&rows);
        view.setDragEnabled(true);
        QList<int> clicked;
        new ReliableRowClick(view,
                             [&](const QModelIndex &index, bool) { clicked.append(index.row()); });
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QWidget *port = view.viewport();
        const QPoint a = view.visualRect(rows.index(0)).center();
        const QPoint b = view.visualRect(rows.index(1)).center();
        QTest::mouseClick(port, Qt::LeftButton, {}, b);
        // A double click is two clicks; the second press arrives as the double-click event.
        QTest::mouseClick(port, Qt::LeftButton, {}, a);
        QTest::mouseDClick(port, Qt::LeftButton, {}, a);
        QTest::mouseRelease(port, Qt::LeftButton, {}, a);
        QCOMPARE(clicked, QList<int>({1, 0, 0}));
        // Released on another row, moved past the drag distance, or the right button: no click.
        QTest::mousePress(port, Qt::LeftButton, {}, a);
        QTest::mouseRelease(port, Qt::LeftButton, {}, b);
        QTest::mousePress(port, Qt::LeftButton, {}, a);
        QTest::mouseMove(port, a + QPoint(QApplication::startDragDistance() + 2, 0));
        QTest::mouseRelease(port, Qt::LeftButton, {}, a);
        QTest::mouseClick(port, Qt::RightButton, {}, b);
        QCOMPARE(clicked.size(), 3);
    }
};

QTEST_MAIN(TestResultsTable)
#include "tst_resultstable.moc"
