// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRows.h"
#include "ModelFixtures.h"
#include "UiFixtures.h"

#include "platform/FileManagerReveal.h"
#include "ui/ResultsTableView.h"
#include "ui/SidebarView.h"
#include "ui/TreeListView.h"
#include "ui/TreeRowModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QListView>
#include <QMimeData>
#include <QSignalSpy>

namespace {

class RecordingReveal final : public FileManagerReveal
{
public:
    void reveal(const QString &path) override { paths.append(path); }
    QStringList paths;
};

using C = SidebarView::Content;
using R = TreeRowModel;

// Library/ with Drums/ (Loops/Loop.wav, Kick.wav, Snare.wav) and Pad.wav; paths are relative to
// Library, whose own path is empty.
struct Fixture : SearchFixture
{
    RecordingReveal reveal;
    std::unique_ptr<SidebarView> view;
    QList<QUrl> plays; // the player's URL at every start of playback

    QString path(const QString &item) const
    {
        return dir.filePath(item.isEmpty() ? "Library" : "Library/" + item);
    }
    QUrl url(const QString &item) const { return QUrl::fromLocalFile(path(item)); }
    bool make(bool withRoot = true)
    {
        for (const char *file :
             {"Drums/Kick.wav", "Drums/Snare.wav", "Drums/Loops/Loop.wav", "Pad.wav"})
            writeWav(path(QLatin1String(file)));
        model->setFileManagerReveal(&reveal);
        if (withRoot && !addFolders(*model, {url("")}))
            return false;
        QObject::connect(player.get(), &AudioPreviewPlayer::playingURLChanged, player.get(),
                         [this] {
                             if (player->isPlaying())
                                 plays.append(player->playingURL());
                         });
        view = std::make_unique<SidebarView>(*model, *player, *tags);
        view->resize(400, 500);
        view->show();
        return QTest::qWaitForWindowExposed(view.get());
    }

    TreeRowModel &rows() const { return *view->rowModel(); }
    QListView &list() const { return *view->treeList(); }
    int row(const QString &item) const { return rows().rowOf(url(item)); }
    FileNodePtr node(const QString &item) const { return model->node(url(item)); }
    void expand(const QString &item)
    {
        model->expand(node(item));
        settledRows(*model);
    }
    QVariant data(const QString &item, int role) const
    {
        return rows().index(row(item)).data(role);
    }
    QPoint center(int row) const { return list().visualRect(rows().index(row)).center(); }
    std::unique_ptr<QMenu> menu(const QString &item) const
    {
        return std::unique_ptr<QMenu>(view->contextMenuForRow(row(item)));
    }
    // Indented names; every row must be found again by its URL as the first row showing it.
    QStringList rowNames() const
    {
        QStringList names;
        for (int i = 0; i < rows().rowCount(); ++i) {
            const VisibleRow &shown = rows().rowAt(i).row;
            const int found = rows().rowOf(shown.node->url());
            const bool agrees = found >= 0 && found <= i &&
                                rows().rowAt(found).row.node->path() == shown.node->path();
            names.append(QString(shown.depth, ' ') + shown.node->name() +
                         QLatin1String(agrees ? "" : "!"));
        }
        return names;
    }
};

} // namespace

class TestSidebar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentFollowsState_data()
    {
        QTest::addColumn<bool>("withRoot");
        QTest::addColumn<QList<FinderTag>>("filters");
        QTest::addColumn<QString>("search");
        QTest::addColumn<SidebarView::Content>("content");
        QTest::addColumn<QString>("message");
        const QList<FinderTag> none;
        // clang-format off
        QTest::newRow("no roots") << false << none << QString() << C::Welcome << "No folders yet";
        QTest::newRow("indexing") << false << none << "zzz" << C::Indexing << "Indexing…";
        QTest::newRow("tree") << true << none << QString() << C::Tree << QString();
        QTest::newRow("one filter, nothing tagged") << true << QList<FinderTag>{FinderTag::Red} << QString() << C::NothingTagged << "Nothing tagged Red";
        QTest::newRow("two filters, nothing tagged") << true << QList<FinderTag>{FinderTag::Red, FinderTag::Blue} << QString() << C::NothingTagged << "Nothing tagged 2 colors";
        QTest::newRow("results") << true << none << "kick" << C::Results << QString();
        QTest::newRow("search wins over filters") << true << QList<FinderTag>{FinderTag::Yellow} << "zzz" << C::NoMatches << "No matches";
        QTest::newRow("blank search shows the tree") << true << none << "   " << C::Tree << QString();
        // clang-format on
    }
    void contentFollowsState()
    {
        QFETCH(bool, withRoot);
        QFETCH(QList<FinderTag>, filters);
        QFETCH(QString, search);
        QFETCH(SidebarView::Content, content);
        QFETCH(QString, message);
        Fixture f;
        QVERIFY(f.make(withRoot));
        QTRY_VERIFY(!f.model->isIndexing());
        // A search while the first index is built waits for it, then finds nothing.
        if (content == C::Indexing) {
            f.model->addRoot(f.url(""));
            f.model->startIndexing();
            QVERIFY(f.model->isIndexing());
        }
        f.model->setActiveTagFilters(FinderTagSet(filters.cbegin(), filters.cend()));
        if (!search.isNull()) {
            f.model->setGlobalSearch(true);
            f.model->setSearchText(search);
        }
        QTRY_COMPARE(f.view->content(), content);
        QCOMPARE(f.view->messageText(), message);
        QCOMPARE(f.list().isVisible(), content == C::Tree);
        QCOMPARE(f.view->resultsTable()->isVisible(), content == C::Results);
        if (content == C::Indexing)
            QTRY_COMPARE(f.view->content(), C::NoMatches);
    }

    void rowModelFollowsTree()
    {
        Fixture f;
        QVERIFY(f.make());
        QAbstractItemModelTester tester(&f.rows(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&f.rows(), &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&f.rows(), &QAbstractItemModel::modelReset);
        f.expand("");
        f.expand("Drums");
        QCOMPARE(f.rowNames(), QStringList({"Library", " Drums", "  Loops", "  Kick.wav",
                                            "  Snare.wav", " Pad.wav"}));
        QCOMPARE(inserted.at(1).mid(1), QVariantList({2, 4}));
        f.model->collapse(f.node("Drums"));
        QCOMPARE(f.rowNames(), QStringList({"Library", " Drums", " Pad.wav"}));
        QCOMPARE(reset.size(), 0);

        f.tags->setTags({FinderTag::Red}, f.url("Drums/Kick.wav"));
        f.model->setActiveTagFilters({FinderTag::Red});
        QTRY_COMPARE(f.rowNames(), QStringList{"Kick.wav"});
        f.tags->setTags({FinderTag::Red}, f.url("Drums"));
        QTRY_COMPARE(f.rowNames(), QStringList({"Drums", "Kick.wav"}));
        // A tagged file inside a tagged, expanded folder is shown twice; both rows take the hover.
        f.expand("Drums");
        QCOMPARE(f.rowNames(),
                 QStringList({"Drums", " Loops", " Kick.wav", " Snare.wav", "Kick.wav"}));
        f.rows().setHoveredURL(f.url("Drums/Kick.wav"));
        QVERIFY(f.rows().isHovered(2) && f.rows().isHovered(4) && !f.rows().isHovered(3));
        f.model->collapse(f.node("Drums"));
        f.model->setActiveTagFilters({});

        // Refresh picks up a file created since the folder was listed.
        QVERIFY(writeWav(f.path("Bass.wav")));
        actionNamed(*f.menu(""), "Refresh")->trigger();
        QTRY_COMPARE(f.rowNames(), QStringList({"Library", " Drums", " Bass.wav", " Pad.wav"}));
    }

    void selectingARowDecodesItsNeighboursAhead_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QStringList>("opened"); // the file played and the files around it
        // Rows: Library, Drums, Loops, Kick.wav, Snare.wav, Pad.wav.
        QTest::newRow("a folder above")
            << "Drums/Kick.wav" << QStringList{"Drums/Kick.wav", "Drums/Snare.wav"};
        QTest::newRow("files on both sides")
            << "Drums/Snare.wav" << QStringList{"Drums/Kick.wav", "Drums/Snare.wav", "Pad.wav"};
        QTest::newRow("the last row") << "Pad.wav" << QStringList{"Drums/Snare.wav", "Pad.wav"};
        QTest::newRow("a folder selected") << "Drums/Loops" << QStringList{"Drums/Kick.wav"};
    }

    void selectingARowDecodesItsNeighboursAhead()
    {
        QFETCH(QString, selected);
        QFETCH(QStringList, opened);
        Fixture f;
        const auto files = std::make_shared<RecordingPreviewFiles>();
        f.player->setFiles(files);
        QVERIFY(f.make());
        f.expand("");
        f.expand("Drums");
        QSignalSpy prepared(f.player.get(), &AudioPreviewPlayer::firstBlocksPrepared);
        f.model->setSelection(f.url(selected));
        QVERIFY(prepared.wait(5000));
        QSet<QString> expected;
        for (const QString &item : opened)
            expected.insert(f.path(item));
        QTRY_COMPARE(files->opened(), expected);
    }

    void rowFlagsAndHover()
    {
        Fixture f;
        QVERIFY(f.make());
        f.expand("");
        f.expand("Drums");
        f.model->setSelection(f.url("Drums/Loops/Loop.wav"));
        f.tags->setTags({FinderTag::Blue, FinderTag::Red}, f.url("Pad.wav"));
        // Loops is collapsed: the selection has no row, but Loops still contains it.
        const auto flags = [&](int role) {
            QList<bool> set;
            for (const char *item : {"", "Drums", "Drums/Loops", "Drums/Kick.wav", "Pad.wav"})
                set.append(f.data(QLatin1String(item), role).toBool());
            return set;
        };
        QCOMPARE(flags(R::ContainsSelectionRole), QList<bool>({true, true, true, false, false}));
        QCOMPARE(flags(R::IsExpandedRole), QList<bool>({true, true, false, false, false}));
        QCOMPARE(f.data("Drums/Kick.wav", R::DepthRole).toInt(), 2);
        QCOMPARE(f.data("Pad.wav", R::TagsRole).value<QList<int>>(), QList<int>({0, 4}));
        f.model->setSelection(f.url("Drums"));
        QVERIFY(f.player->play(f.url("Drums/Kick.wav")));
        QCOMPARE(flags(R::ContainsSelectionRole), QList<bool>({true, false, false, false, false}));
        QCOMPARE(flags(R::IsPlayingRole), QList<bool>({false, false, false, true, false}));

        // Moving the pointer repaints the row it left and the row it entered, nothing else.
        f.model->collapse(f.node("Drums"));
        QSignalSpy changed(&f.rows(), &QAbstractItemModel::dataChanged);
        QTest::mouseMove(f.list().viewport(), f.center(1));
        QTRY_COMPARE(f.view->hoveredURL(), f.url("Drums"));
        changed.clear();
        QTest::mouseMove(f.list().viewport(), f.center(2));
        QTRY_COMPARE(f.view->hoveredURL(), f.url("Pad.wav"));
        QCOMPARE(changedRows(changed), QList<int>({1, 1, 2, 2}));
    }

    void keysAndClicks_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("open"); // 0: nothing expanded, 1: the root, 2: also Drums
        QTest::addColumn<QString>("playing");
        QTest::addColumn<int>("key"); // 0: a click on the row selected after it, -1: Drums dragged
        QTest::addColumn<QString>("selectedAfter");
        QTest::addColumn<int>("openAfter");
        QTest::addColumn<QString>("playingAfter");
        const QString none;
        // clang-format off
        QTest::newRow("left on a file selects its folder") << "Drums/Kick.wav" << 2 << none << int(Qt::Key_Left) << "Drums" << 2 << none;
        QTest::newRow("left on an expanded folder collapses it") << "Drums" << 2 << none << int(Qt::Key_Left) << "Drums" << 1 << none;
        QTest::newRow("left on a collapsed folder selects its parent") << "Drums" << 1 << none << int(Qt::Key_Left) << "" << 1 << none;
        QTest::newRow("left on a collapsed root does nothing") << "" << 0 << none << int(Qt::Key_Left) << "" << 0 << none;
        QTest::newRow("left on a hidden selection does nothing") << "Drums/Kick.wav" << 1 << none << int(Qt::Key_Left) << "Drums/Kick.wav" << 1 << none;
        QTest::newRow("right on a collapsed folder expands it") << "Drums" << 1 << none << int(Qt::Key_Right) << "Drums" << 2 << none;
        QTest::newRow("right on an expanded folder does nothing") << "Drums" << 2 << none << int(Qt::Key_Right) << "Drums" << 2 << none;
        QTest::newRow("right on a file plays it") << "Pad.wav" << 1 << none << int(Qt::Key_Right) << "Pad.wav" << 1 << "Pad.wav";
        QTest::newRow("space stops even with a folder selected") << "Drums" << 1 << "Pad.wav" << int(Qt::Key_Space) << "Drums" << 1 << none;
        QTest::newRow("space on a folder, nothing playing") << "Drums" << 1 << none << int(Qt::Key_Space) << "Drums" << 1 << none;
        QTest::newRow("space plays the selected file") << "Pad.wav" << 1 << none << int(Qt::Key_Space) << "Pad.wav" << 1 << "Pad.wav";
        QTest::newRow("down selects and plays") << "Drums" << 1 << none << int(Qt::Key_Down) << "Pad.wav" << 1 << "Pad.wav";
        QTest::newRow("click on a folder selects and expands it") << "" << 1 << none << 0 << "Drums" << 2 << none;
        QTest::newRow("click on an expanded folder collapses it") << "Pad.wav" << 2 << none << 0 << "Drums" << 1 << none;
        QTest::newRow("click on a file plays it") << "Drums" << 2 << none << 0 << "Drums/Kick.wav" << 2 << "Drums/Kick.wav";
        QTest::newRow("click on the selected file plays it again") << "Drums/Kick.wav" << 2 << none << 0 << "Drums/Kick.wav" << 2 << "Drums/Kick.wav";
        QTest::newRow("a drag is no click") << "" << 1 << none << -1 << "" << 1 << none;
        QTest::newRow("up to a folder plays nothing") << "Pad.wav" << 1 << none << int(Qt::Key_Up) << "Drums" << 1 << none;
        // clang-format on
    }
    void keysAndClicks()
    {
        QFETCH(QString, selected);
        QFETCH(int, open);
        QFETCH(QString, playing);
        QFETCH(int, key);
        QFETCH(QString, selectedAfter);
        QFETCH(int, openAfter);
        QFETCH(QString, playingAfter);
        Fixture f;
        QVERIFY(f.make());
        for (const char *folder : {"", "Drums"}) {
            if (open-- > 0)
                f.expand(QLatin1String(folder));
        }
        f.model->setSelection(f.url(selected));
        f.player->stop();
        if (!playing.isNull())
            QVERIFY(f.player->play(f.url(playing)));
        f.plays.clear();
        QWidget *port = f.list().viewport();
        if (key == 0) {
            QTest::mouseClick(port, Qt::LeftButton, {}, f.center(f.row(selectedAfter)));
        } else if (key == -1) {
            const QPoint start = f.center(f.row("Drums"));
            QTest::mousePress(port, Qt::LeftButton, {}, start);
            QTest::mouseMove(port, start + QPoint(0, 40));
            QTest::mouseRelease(port, Qt::LeftButton, {}, start);
        } else {
            QTest::keyClick(&f.list(), static_cast<Qt::Key>(key));
        }
        QCOMPARE(f.model->selection(), f.url(selectedAfter));
        QCOMPARE(f.list().currentIndex().row(), f.row(selectedAfter));
        QCOMPARE(f.model->expanded().size(), openAfter);
        QCOMPARE(f.model->expanded().contains(f.url("")), openAfter > 0);
        QCOMPARE(f.player->playingURL(), playingAfter.isNull() ? QUrl() : f.url(playingAfter));
        QCOMPARE(f.plays.size(), playingAfter.isNull() ? 0 : 1);
    }

    void selectionAndFocusFollowModel()
    {
        Fixture f;
        QVERIFY(f.make());
        f.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        // A tree focus request selects the first root when nothing is selected, else keeps it.
        f.model->setSearchFieldFocused(true);
        f.view->setFocus();
        f.model->requestTreeFocus();
        QCOMPARE(f.model->selection(), f.url(""));
        QVERIFY(f.list().hasFocus());
        f.expand("");
        f.model->setSelection(f.url("Pad.wav"));
        f.view->setFocus();
        f.model->requestTreeFocus();
        QCOMPARE(f.model->selection(), f.url("Pad.wav"));
        QVERIFY(f.list().hasFocus());
        // Collapsing hides the selected row; the selection itself stays.
        f.model->collapse(f.node(""));
        QCOMPARE(f.model->selection(), f.url("Pad.wav"));
        QVERIFY(!f.list().selectionModel()->hasSelection());
        f.expand("");
        QCOMPARE(f.list().currentIndex().row(), f.row("Pad.wav"));
        QVERIFY(f.list().selectionModel()->isSelected(f.list().currentIndex()));
    }

    // The tag section toggles like the results table's (tested there) but marks carried colours
    // by name; then the commands after it.
    void contextMenu()
    {
        Fixture f;
        QVERIFY(f.make());
        f.expand("");
        // What follows the colours and No Color (tested with the results table) for each row.
        const auto commands = [&](const QString &item) {
            return actionTexts(*f.menu(item)).mid(qsizetype(FinderTags::all.size()) + 1);
        };
        const char *folder =
            "-|Search in This Folder|Show Duplicates|-|Show in File Manager|Refresh";
        QCOMPARE(commands("Pad.wav"), rowList("-|Find Similar|-|Show in File Manager"));
        QCOMPARE(commands("Drums"), rowList(folder));
        QCOMPARE(commands(""), rowList(folder) + rowList("-|Remove from Browser"));
        actionNamed(*f.menu("Pad.wav"), "Blue")->trigger();
        QCOMPARE(f.tags->tagsFor(f.url("Pad.wav")), FinderTagSet{FinderTag::Blue});
        const std::unique_ptr<QMenu> tagged = f.menu("Pad.wav");
        QCOMPARE(actionTexts(*tagged).first(8),
                 QStringList({"Red", "Orange", "Yellow", "Green", "Blue  \u2713", "Purple", "Gray",
                              "No Color"}));
        for (QAction *action : tagged->actions())
            QVERIFY2(!action->isCheckable(), qPrintable(action->text()));
        actionNamed(*tagged, "Blue  \u2713")->trigger();
        QCOMPARE(f.tags->tagsFor(f.url("Pad.wav")), FinderTagSet());
        actionNamed(*f.menu("Pad.wav"), "Show in File Manager")->trigger();
        QTRY_COMPARE(f.reveal.paths, QStringList{f.path("Pad.wav")});
        // Sound searches start from the row, in all folders for the like of a sample and in the
        // folder for its copies.
        actionNamed(*f.menu("Pad.wav"), "Find Similar")->trigger();
        QCOMPARE(f.model->searchMode(), SampleSearch::Mode::Similar);
        QCOMPARE(f.model->similarTo(), f.url("Pad.wav"));
        QVERIFY(f.model->globalSearch());
        // While it runs the list says so, not "No matches"; a file that does not decode is named.
        QCOMPARE(f.view->content(), SidebarView::Content::Comparing);
        QTRY_COMPARE(f.view->content(), SidebarView::Content::NoMatches);
        QCOMPARE(f.view->messageText(),
                 u"\u201CPad.wav\u201D is silent or could not be decoded"_qs);
        actionNamed(*f.menu("Drums"), "Show Duplicates")->trigger();
        QCOMPARE(f.model->searchMode(), SampleSearch::Mode::Copies);
        QCOMPARE(f.model->selection(), f.url("Drums"));
        QVERIFY(!f.model->globalSearch());
        f.model->clearSearch();
        QCOMPARE(f.model->searchMode(), SampleSearch::Mode::Names);
        const qint64 focus = f.model->searchFocusRequest();
        actionNamed(*f.menu("Drums"), "Search in This Folder")->trigger();
        QCOMPARE(f.model->selection(), f.url("Drums"));
        QCOMPARE(f.model->searchFocusRequest(), focus + 1);

        // Only the command that removes something is drawn in red.
        const std::unique_ptr<QMenu> root = f.menu("");
        const QImage image = root->grab().toImage();
        const auto redPixels = [&](const QString &text) {
            const QImage part = image.copy(root->actionGeometry(actionNamed(*root, text)));
            int count = 0;
            for (int i = 0; i < part.width() * part.height(); ++i) {
                const QColor pixel = part.pixelColor(i % part.width(), i / part.width());
                count += pixel.red() > 150 && pixel.red() > 2 * pixel.green();
            }
            return count;
        };
        QVERIFY(redPixels("Remove from Browser") > 10);
        QCOMPARE(redPixels("Refresh"), 0);

        // Deleted rather than moved: a moved root would be found again.
        QVERIFY(QDir(f.path("")).removeRecursively());
        f.model->updateOfflineRoots();
        QTRY_VERIFY(f.data("", R::IsOfflineRole).toBool());
        QCOMPARE(commands(""), rowList(folder) + rowList("-|Locate…|Remove from Browser"));
        actionNamed(*f.menu(""), "Remove from Browser")->trigger();
        QVERIFY(f.model->roots().isEmpty());
        QCOMPARE(f.view->content(), C::Welcome);
    }

    void dropFoldersAndHousekeeping()
    {
        QTemporaryDir outside;
        Fixture f;
        // Tags outside every root are forgotten when the sidebar first shows.
        f.tags->setTags({FinderTag::Green}, QUrl::fromLocalFile(outside.path()));
        QVERIFY(f.make());
        QVERIFY(f.tags->allTaggedItems().isEmpty());
        const QString other = f.dir.filePath("Other");
        QVERIFY(QDir().mkpath(other));
        QMimeData mime;
        mime.setUrls({f.url("Pad.wav"), QUrl::fromLocalFile(other)});
        const auto accepted = [&](QDropEvent &&event) {
            QApplication::sendEvent(f.view.get(), &event);
            return event.isAccepted();
        };
        const QPoint center = f.view->rect().center();
        QVERIFY(accepted(QDragEnterEvent(center, Qt::CopyAction, &mime, Qt::LeftButton, {})));
        QVERIFY(f.view->isDropTargeted() &&
                f.view->findChild<QWidget *>("dropOutline")->isVisible());
        QVERIFY(accepted(QDropEvent(center, Qt::CopyAction, &mime, Qt::LeftButton, {})));
        QVERIFY(!f.view->isDropTargeted());
        // The file among them is skipped; each folder becomes a root.
        QTRY_COMPARE(f.model->roots().size(), 2);
        QCOMPARE(f.model->roots().at(1)->url(), QUrl::fromLocalFile(other));
        QMimeData text;
        text.setText("hello");
        QVERIFY(!accepted(QDragEnterEvent(center, Qt::CopyAction, &text, Qt::LeftButton, {})));
    }
};

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
