#include "TestSupport.h"

#include "audio/AudioPreviewPlayer.h"
#include "model/BrowserModel.h"
#include "platform/FileManagerReveal.h"
#include "platform/Preferences.h"
#include "tags/TagStore.h"
#include "ui/ResultsTableView.h"
#include "ui/SidebarView.h"
#include "ui/TreeListView.h"
#include "ui/TreeRowModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

class RecordingReveal final : public FileManagerReveal
{
public:
    void reveal(const QString &path) override { paths.append(path); }
    QStringList paths;
};

// One tone made once and copied for every fixture.
QString tone()
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("tone.wav"));
    static const bool made =
        TestSupport::makeAudio(path, QStringLiteral("sine=frequency=440:duration=4"));
    return made ? path : QString();
}

// Library/
//   Drums/ Loops/ Loop.wav, Kick.wav, Snare.wav
//   Pad.wav
struct Fixture
{
    QTemporaryDir dir;
    std::unique_ptr<Preferences> prefs;
    std::unique_ptr<AudioPreviewPlayer> player;
    std::unique_ptr<TagStore> tags;
    std::unique_ptr<BrowserModel> model;
    std::unique_ptr<SidebarView> view;
    RecordingReveal reveal;
    // The player's URL after every change that started playback.
    QList<QUrl> plays;

    QString library() const { return dir.filePath(QStringLiteral("Library")); }
    QString path(const QString &relative) const { return library() + QLatin1Char('/') + relative; }
    QUrl url(const QString &relative) const
    {
        return QUrl::fromLocalFile(relative.isEmpty() ? library() : path(relative));
    }

    bool make(bool withRoot = true)
    {
        if (!dir.isValid())
            return false;
        for (const QString &file :
             {QStringLiteral("Drums/Kick.wav"), QStringLiteral("Drums/Snare.wav"),
              QStringLiteral("Drums/Loops/Loop.wav"), QStringLiteral("Pad.wav")}) {
            if (!TestSupport::makeDirs(QFileInfo(path(file)).path()) ||
                !QFile::copy(tone(), path(file)))
                return false;
        }
        prefs = std::make_unique<Preferences>(dir.filePath(QStringLiteral("prefs.plist")));
        player = std::make_unique<AudioPreviewPlayer>(*prefs);
        tags = std::make_unique<TagStore>(*prefs);
        model = std::make_unique<BrowserModel>(*prefs, dir.filePath(QStringLiteral("index.plist")),
                                               false, tags.get());
        model->setFileManagerReveal(&reveal);
        if (withRoot && !model->addDroppedFolders({url(QString())}))
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

    ~Fixture()
    {
        view.reset();
        if (model)
            model->waitForIndexWrites();
    }

    TreeRowModel &rows() const { return *view->rowModel(); }
    QListView &list() const { return *view->treeList(); }
    int row(const QString &relative) const { return rows().rowOf(url(relative)); }
    FileNodePtr node(const QString &relative) const { return model->node(url(relative)); }
    void expand(const QString &relative) { model->expand(node(relative)); }
    QStringList rowNames() const
    {
        QStringList names;
        for (int i = 0; i < rows().rowCount(); ++i)
            names.append(QString(rows().rowAt(i).row.depth, QLatin1Char(' ')) +
                         rows().rowAt(i).row.node->name());
        return names;
    }
    // Every row is found again by its URL: the first row showing that item.
    bool lookupsAgree() const
    {
        for (int i = 0; i < rows().rowCount(); ++i) {
            const int found = rows().rowOf(rows().rowAt(i).row.node->url());
            if (found < 0 || found > i ||
                rows().rowAt(found).row.node->path() != rows().rowAt(i).row.node->path())
                return false;
        }
        return true;
    }
    QPoint rowCenter(int row) const { return list().visualRect(rows().index(row)).center(); }
    void click(const QString &relative)
    {
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, rowCenter(row(relative)));
    }
    bool waitForIndex() const
    {
        return QTest::qWaitFor([this] { return !model->isIndexing(); });
    }
};

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

class TestSidebar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void contentFollowsState_data();
    void contentFollowsState();
    void indexingThenNoMatches();
    void rowModelFollowsTree();
    void rowFlags();
    void hoverRepaintsTwoRows();
    void clicks_data();
    void clicks();
    void pressAndMoveDoesNotClick();
    void keys_data();
    void keys();
    void arrowDownSelectsAndPlays();
    void selectionFollowsModel();
    void focusTreeRequest();
    void contextMenuItems_data();
    void contextMenuItems();
    void contextMenuActions();
    void offlineRoot();
    void dropFolders();
    void tagHousekeeping();
};

void TestSidebar::initTestCase()
{
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make the sample files");
    QVERIFY(!tone().isEmpty());
}

void TestSidebar::contentFollowsState_data()
{
    QTest::addColumn<bool>("withRoot");
    QTest::addColumn<QList<int>>("filters");
    QTest::addColumn<QString>("search");
    QTest::addColumn<SidebarView::Content>("content");
    QTest::addColumn<QString>("message");

    using C = SidebarView::Content;
    const QList<int> none;
    QTest::newRow("no roots") << false << none << QString() << C::Welcome << "No folders yet";
    QTest::newRow("tree") << true << none << QString() << C::Tree << QString();
    QTest::newRow("one filter, nothing tagged")
        << true << QList<int>{0} << QString() << C::NothingTagged << "Nothing tagged Red";
    QTest::newRow("two filters, nothing tagged")
        << true << QList<int>{0, 4} << QString() << C::NothingTagged << "Nothing tagged 2 colors";
    QTest::newRow("results") << true << none << "kick" << C::Results << QString();
    QTest::newRow("search wins over filters")
        << true << QList<int>{2} << "zzz" << C::NoMatches << "No matches";
    QTest::newRow("no matches") << true << none << "zzz" << C::NoMatches << "No matches";
    QTest::newRow("blank search shows the tree") << true << none << "   " << C::Tree << QString();
}

void TestSidebar::contentFollowsState()
{
    QFETCH(bool, withRoot);
    QFETCH(QList<int>, filters);
    QFETCH(QString, search);
    QFETCH(SidebarView::Content, content);
    QFETCH(QString, message);

    Fixture f;
    QVERIFY(f.make(withRoot));
    QVERIFY(f.waitForIndex());
    FinderTagSet set;
    for (int raw : filters)
        set.insert(*FinderTags::fromRawValue(raw));
    f.model->setActiveTagFilters(set);
    if (!search.isNull()) {
        f.model->setGlobalSearch(true);
        f.model->setSearchText(search);
    }
    QTRY_COMPARE(f.view->content(), content);
    QCOMPARE(f.view->messageText(), message);
    if (!message.isEmpty() && content != SidebarView::Content::Welcome) {
        auto *label = f.view->findChild<QLabel *>(QStringLiteral("messageText"));
        QVERIFY(label && label->isVisible());
        QCOMPARE(label->text(), message);
    }
    QCOMPARE(f.list().isVisible(), content == SidebarView::Content::Tree);
    QCOMPARE(f.view->resultsTable()->isVisible(), content == SidebarView::Content::Results);
}

void TestSidebar::indexingThenNoMatches()
{
    Fixture f;
    QVERIFY(f.make(false));
    f.model->addDroppedFolders({f.url(QString())});
    QVERIFY(f.model->isIndexing());
    f.model->setSearchText(QStringLiteral("zzz"));
    QCOMPARE(f.view->content(), SidebarView::Content::Indexing);
    QCOMPARE(f.view->messageText(), QStringLiteral("Indexing…"));
    QTRY_COMPARE(f.view->content(), SidebarView::Content::NoMatches);
}

void TestSidebar::rowModelFollowsTree()
{
    Fixture f;
    QVERIFY(f.make());
    QAbstractItemModelTester tester(&f.rows(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(f.rowNames(), QStringList{QStringLiteral("Library")});

    QSignalSpy inserted(&f.rows(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&f.rows(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&f.rows(), &QAbstractItemModel::modelReset);
    f.expand(QString());
    f.expand(QStringLiteral("Drums"));
    QCOMPARE(f.rowNames(), (QStringList{"Library", " Drums", "  Loops", "  Kick.wav", "  Snare.wav",
                                        " Pad.wav"}));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 2);
    QCOMPARE(inserted.at(1).at(2).toInt(), 4);
    QVERIFY(f.lookupsAgree());

    f.model->collapse(f.node(QStringLiteral("Drums")));
    QCOMPARE(removed.size(), 1);
    QCOMPARE(f.rowNames(), (QStringList{"Library", " Drums", " Pad.wav"}));
    QCOMPARE(reset.size(), 0);
    QVERIFY(f.lookupsAgree());

    // Tag filters replace the rows; tagging then rescopes them.
    f.tags->setTags({FinderTag::Red}, f.url(QStringLiteral("Drums/Kick.wav")));
    f.model->setActiveTagFilters({FinderTag::Red});
    QTRY_COMPARE(f.rowNames(), QStringList{QStringLiteral("Kick.wav")});
    f.tags->setTags({FinderTag::Red}, f.url(QStringLiteral("Drums")));
    QTRY_COMPARE(f.rowNames(), (QStringList{"Drums", "Kick.wav"}));
    QVERIFY(f.lookupsAgree());
    // A tagged file inside a tagged, expanded folder is shown twice; both rows take the hover.
    f.expand(QStringLiteral("Drums"));
    QCOMPARE(f.rowNames(), (QStringList{"Drums", " Loops", " Kick.wav", " Snare.wav", "Kick.wav"}));
    QVERIFY(f.lookupsAgree());
    f.rows().setHoveredURL(f.url(QStringLiteral("Drums/Kick.wav")));
    QVERIFY(f.rows().isHovered(2) && f.rows().isHovered(4) && !f.rows().isHovered(3));
    f.rows().setHoveredURL({});
    f.model->collapse(f.node(QStringLiteral("Drums")));
    QVERIFY(f.lookupsAgree());
    f.model->setActiveTagFilters({});
    QCOMPARE(f.rowNames(), (QStringList{"Library", " Drums", " Pad.wav"}));

    // Refresh picks up a file created since the folder was listed.
    QVERIFY(TestSupport::makeAudio(f.path(QStringLiteral("Bass.wav")),
                                   QStringLiteral("sine=frequency=110:duration=1")));
    f.node(QString())->unloadChildren();
    f.model->notifyTreeChanged();
    QCOMPARE(f.rowNames(), (QStringList{"Library", " Drums", " Bass.wav", " Pad.wav"}));
    QVERIFY(f.lookupsAgree());
}

void TestSidebar::rowFlags()
{
    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    f.expand(QStringLiteral("Drums"));
    f.model->setSelection(f.url(QStringLiteral("Drums/Loops/Loop.wav")));
    f.tags->setTags({FinderTag::Blue, FinderTag::Red}, f.url(QStringLiteral("Pad.wav")));

    const auto flag = [&](const QString &relative, TreeRowModel::Role role) {
        return f.rows().index(f.row(relative)).data(role);
    };
    QCOMPARE(flag(QString(), TreeRowModel::ContainsSelectionRole).toBool(), true);
    QCOMPARE(flag(QStringLiteral("Drums"), TreeRowModel::ContainsSelectionRole).toBool(), true);
    // Loops is collapsed: the selection has no row, but Loops still contains it.
    QCOMPARE(flag(QStringLiteral("Drums/Loops"), TreeRowModel::ContainsSelectionRole).toBool(),
             true);
    QCOMPARE(flag(QStringLiteral("Drums/Loops"), TreeRowModel::IsExpandedRole).toBool(), false);
    QCOMPARE(flag(QStringLiteral("Drums"), TreeRowModel::IsExpandedRole).toBool(), true);
    QCOMPARE(flag(QStringLiteral("Drums"), TreeRowModel::DepthRole).toInt(), 1);
    QCOMPARE(flag(QStringLiteral("Pad.wav"), TreeRowModel::TagsRole).value<QList<int>>(),
             (QList<int>{0, 4}));

    f.model->setSelection(f.url(QStringLiteral("Drums")));
    QCOMPARE(flag(QStringLiteral("Drums"), TreeRowModel::ContainsSelectionRole).toBool(), false);
    QCOMPARE(flag(QString(), TreeRowModel::ContainsSelectionRole).toBool(), true);

    QVERIFY(f.player->play(f.url(QStringLiteral("Drums/Kick.wav"))));
    QCOMPARE(flag(QStringLiteral("Drums/Kick.wav"), TreeRowModel::IsPlayingRole).toBool(), true);
    QCOMPARE(flag(QStringLiteral("Pad.wav"), TreeRowModel::IsPlayingRole).toBool(), false);
    f.player->stop();
    QCOMPARE(flag(QStringLiteral("Drums/Kick.wav"), TreeRowModel::IsPlayingRole).toBool(), false);
}

void TestSidebar::hoverRepaintsTwoRows()
{
    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    QSignalSpy changed(&f.rows(), &QAbstractItemModel::dataChanged);
    QTest::mouseMove(f.list().viewport(), f.rowCenter(1));
    QTRY_COMPARE(f.view->hoveredURL(), f.url(QStringLiteral("Drums")));
    changed.clear();
    QTest::mouseMove(f.list().viewport(), f.rowCenter(2));
    QTRY_COMPARE(f.view->hoveredURL(), f.url(QStringLiteral("Pad.wav")));
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 1);
    QCOMPARE(changed.at(1).at(0).toModelIndex().row(), 2);
    QVERIFY(f.rows().isHovered(2));
    QVERIFY(!f.rows().isHovered(1));
}

void TestSidebar::clicks_data()
{
    QTest::addColumn<QString>("selectedBefore");
    QTest::addColumn<bool>("drumsExpandedBefore");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QString>("selectedAfter");
    QTest::addColumn<bool>("drumsExpandedAfter");
    QTest::addColumn<int>("plays");

    QTest::newRow("folder selects and expands") << QString() << false << "Drums"
                                                << "Drums" << true << 0;
    QTest::newRow("expanded folder collapses") << "Pad.wav" << true << "Drums"
                                               << "Drums" << false << 0;
    QTest::newRow("other file selects and plays once") << "Drums" << true << "Drums/Kick.wav"
                                                       << "Drums/Kick.wav" << true << 1;
    QTest::newRow("selected file plays again") << "Drums/Kick.wav" << true << "Drums/Kick.wav"
                                               << "Drums/Kick.wav" << true << 1;
}

void TestSidebar::clicks()
{
    QFETCH(QString, selectedBefore);
    QFETCH(bool, drumsExpandedBefore);
    QFETCH(QString, clicked);
    QFETCH(QString, selectedAfter);
    QFETCH(bool, drumsExpandedAfter);
    QFETCH(int, plays);

    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    if (drumsExpandedBefore)
        f.expand(QStringLiteral("Drums"));
    if (!selectedBefore.isNull())
        f.model->setSelection(f.url(selectedBefore));
    f.plays.clear();

    f.click(clicked);
    QCOMPARE(f.model->selection(), f.url(selectedAfter));
    QCOMPARE(f.model->expanded().contains(f.url(QStringLiteral("Drums"))), drumsExpandedAfter);
    QCOMPARE(f.plays.size(), plays);
    if (plays > 0)
        QCOMPARE(f.plays.last(), f.url(clicked));
    QCOMPARE(f.list().currentIndex().row(), f.row(selectedAfter));
}

void TestSidebar::pressAndMoveDoesNotClick()
{
    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    const QPoint start = f.rowCenter(f.row(QStringLiteral("Drums")));
    QTest::mousePress(f.list().viewport(), Qt::LeftButton, {}, start);
    QMouseEvent move(QEvent::MouseMove, start + QPoint(0, 40),
                     f.list().viewport()->mapToGlobal(start + QPoint(0, 40)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.list().viewport(), &move);
    QTest::mouseRelease(f.list().viewport(), Qt::LeftButton, {}, start);
    QCOMPARE(f.model->selection(), QUrl());
    QVERIFY(!f.model->expanded().contains(f.url(QStringLiteral("Drums"))));
}

void TestSidebar::keys_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("expanded");
    QTest::addColumn<QString>("playing");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("selectedAfter");
    QTest::addColumn<QStringList>("expandedAfter");
    QTest::addColumn<QString>("playingAfter");

    const QString none;
    const QStringList root{QString()};
    const QStringList rootAndDrums{QString(), QStringLiteral("Drums")};
    QTest::newRow("left on a file selects its folder")
        << "Drums/Kick.wav" << rootAndDrums << none << int(Qt::Key_Left) << "Drums" << rootAndDrums
        << none;
    QTest::newRow("left on an expanded folder collapses it")
        << "Drums" << rootAndDrums << none << int(Qt::Key_Left) << "Drums" << root << none;
    QTest::newRow("left on a collapsed folder selects its parent")
        << "Drums" << root << none << int(Qt::Key_Left) << "" << root << none;
    QTest::newRow("left on a collapsed root does nothing")
        << "" << QStringList{} << none << int(Qt::Key_Left) << "" << QStringList{} << none;
    QTest::newRow("left on a hidden selection does nothing")
        << "Drums/Kick.wav" << root << none << int(Qt::Key_Left) << "Drums/Kick.wav" << root
        << none;
    QTest::newRow("right on a collapsed folder expands it")
        << "Drums" << root << none << int(Qt::Key_Right) << "Drums" << rootAndDrums << none;
    QTest::newRow("right on an expanded folder does nothing")
        << "Drums" << rootAndDrums << none << int(Qt::Key_Right) << "Drums" << rootAndDrums << none;
    QTest::newRow("right on a file plays it")
        << "Pad.wav" << root << none << int(Qt::Key_Right) << "Pad.wav" << root << "Pad.wav";
    QTest::newRow("space stops even with a folder selected")
        << "Drums" << root << "Pad.wav" << int(Qt::Key_Space) << "Drums" << root << none;
    QTest::newRow("space on a folder with nothing playing does nothing")
        << "Drums" << root << none << int(Qt::Key_Space) << "Drums" << root << none;
    QTest::newRow("space plays the selected file")
        << "Pad.wav" << root << none << int(Qt::Key_Space) << "Pad.wav" << root << "Pad.wav";
}

void TestSidebar::keys()
{
    QFETCH(QString, selected);
    QFETCH(QStringList, expanded);
    QFETCH(QString, playing);
    QFETCH(int, key);
    QFETCH(QString, selectedAfter);
    QFETCH(QStringList, expandedAfter);
    QFETCH(QString, playingAfter);

    Fixture f;
    QVERIFY(f.make());
    for (const QString &folder : expanded)
        f.expand(folder);
    f.model->setSelection(f.url(selected));
    f.player->stop();
    if (!playing.isNull())
        QVERIFY(f.player->play(f.url(playing)));

    QTest::keyClick(&f.list(), static_cast<Qt::Key>(key));
    QCOMPARE(f.model->selection(), f.url(selectedAfter));
    QSet<QUrl> expectedExpanded;
    for (const QString &folder : expandedAfter)
        expectedExpanded.insert(f.url(folder));
    QCOMPARE(f.model->expanded(), expectedExpanded);
    QCOMPARE(f.player->playingURL(), playingAfter.isNull() ? QUrl() : f.url(playingAfter));
}

void TestSidebar::arrowDownSelectsAndPlays()
{
    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    f.model->setSelection(f.url(QStringLiteral("Drums")));
    f.plays.clear();
    QTest::keyClick(&f.list(), Qt::Key_Down);
    QCOMPARE(f.model->selection(), f.url(QStringLiteral("Pad.wav")));
    QCOMPARE(f.plays, QList<QUrl>{f.url(QStringLiteral("Pad.wav"))});
    QTest::keyClick(&f.list(), Qt::Key_Up);
    QCOMPARE(f.model->selection(), f.url(QStringLiteral("Drums")));
    QCOMPARE(f.plays.size(), 1);
}

void TestSidebar::selectionFollowsModel()
{
    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    f.model->setSelection(f.url(QStringLiteral("Pad.wav")));
    QCOMPARE(f.list().currentIndex().row(), f.row(QStringLiteral("Pad.wav")));
    QVERIFY(f.list().selectionModel()->isSelected(f.list().currentIndex()));

    // Collapsing hides the selected row; the selection itself stays.
    f.model->collapse(f.node(QString()));
    QCOMPARE(f.model->selection(), f.url(QStringLiteral("Pad.wav")));
    QVERIFY(!f.list().selectionModel()->hasSelection());
    f.expand(QString());
    QCOMPARE(f.list().currentIndex().row(), f.row(QStringLiteral("Pad.wav")));

    // A selection change to a file plays it; to a folder, nothing.
    f.plays.clear();
    f.model->setSelection(f.url(QStringLiteral("Drums")));
    QCOMPARE(f.plays.size(), 0);
    f.model->setSelection(f.url(QStringLiteral("Pad.wav")));
    QCOMPARE(f.plays, QList<QUrl>{f.url(QStringLiteral("Pad.wav"))});
}

void TestSidebar::focusTreeRequest()
{
    Fixture f;
    QVERIFY(f.make());
    f.view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
    f.model->setSearchFieldFocused(true);
    f.view->setFocus();
    QVERIFY(!f.list().hasFocus());
    f.model->requestTreeFocus();
    QCOMPARE(f.model->selection(), f.url(QString()));
    QVERIFY(f.list().hasFocus());

    // With something selected the request keeps it.
    f.expand(QString());
    f.model->setSelection(f.url(QStringLiteral("Pad.wav")));
    f.view->setFocus();
    f.model->requestTreeFocus();
    QCOMPARE(f.model->selection(), f.url(QStringLiteral("Pad.wav")));
    QVERIFY(f.list().hasFocus());
}

void TestSidebar::contextMenuItems_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QList<int>>("tags");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("noColorEnabled");

    const QStringList colours{"Red", "Orange", "Yellow", "Green", "Blue", "Purple", "Gray"};
    const QStringList &withRed = colours;
    const QStringList &withOrangeGray = colours;

    QTest::newRow("file") << "Pad.wav" << QList<int>{}
                          << colours + QStringList{"No Color", "-", "Show in File Manager"}
                          << false;
    QTest::newRow("tagged file") << "Pad.wav" << QList<int>{0}
                                 << withRed + QStringList{"No Color", "-", "Show in File Manager"}
                                 << true;
    QTest::newRow("folder") << "Drums" << QList<int>{1, 6}
                            << withOrangeGray + QStringList{"No Color",
                                                            "-",
                                                            "Search in This Folder",
                                                            "-",
                                                            "Show in File Manager",
                                                            "Refresh"}
                            << true;
    QTest::newRow("root")
        << "" << QList<int>{}
        << colours +
               QStringList{"No Color", "-", "Search in This Folder", "-", "Show in File Manager",
                           "Refresh",  "-", "Remove from Browser"}
        << false;
}

void TestSidebar::contextMenuItems()
{
    QFETCH(QString, item);
    QFETCH(QList<int>, tags);
    QFETCH(QStringList, texts);
    QFETCH(bool, noColorEnabled);

    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    FinderTagSet set;
    for (int raw : tags)
        set.insert(*FinderTags::fromRawValue(raw));
    f.tags->setTags(set, f.url(item));
    std::unique_ptr<QMenu> menu(f.view->contextMenuForRow(f.row(item)));
    QVERIFY(menu);
    QCOMPARE(actionTexts(*menu), texts);
    QCOMPARE(actionNamed(*menu, QStringLiteral("No Color"))->isEnabled(), noColorEnabled);
    // The same tag section as the results' menu: checkable items, the item's tags checked.
    for (FinderTag tag : FinderTags::all) {
        QAction *action = actionNamed(*menu, FinderTags::displayName(tag));
        QVERIFY(action->isCheckable());
        QCOMPARE(action->isChecked(), set.contains(tag));
    }
}

void TestSidebar::contextMenuActions()
{
    Fixture f;
    QVERIFY(f.make());
    f.expand(QString());
    const auto menuFor = [&](const QString &item) {
        return std::unique_ptr<QMenu>(f.view->contextMenuForRow(f.row(item)));
    };

    // Colours toggle one at a time; "No Color" clears them all.
    actionNamed(*menuFor(QStringLiteral("Pad.wav")), QStringLiteral("Red"))->trigger();
    actionNamed(*menuFor(QStringLiteral("Pad.wav")), QStringLiteral("Blue"))->trigger();
    QCOMPARE(f.tags->tagsFor(f.url(QStringLiteral("Pad.wav"))),
             (FinderTagSet{FinderTag::Red, FinderTag::Blue}));
    actionNamed(*menuFor(QStringLiteral("Pad.wav")), QStringLiteral("Red"))->trigger();
    QCOMPARE(f.tags->tagsFor(f.url(QStringLiteral("Pad.wav"))), FinderTagSet{FinderTag::Blue});
    actionNamed(*menuFor(QStringLiteral("Pad.wav")), QStringLiteral("No Color"))->trigger();
    QVERIFY(f.tags->tagsFor(f.url(QStringLiteral("Pad.wav"))).isEmpty());

    actionNamed(*menuFor(QStringLiteral("Pad.wav")), QStringLiteral("Show in File Manager"))
        ->trigger();
    QCOMPARE(f.reveal.paths, QStringList{f.path(QStringLiteral("Pad.wav"))});

    const qint64 focus = f.model->searchFocusRequest();
    actionNamed(*menuFor(QStringLiteral("Drums")), QStringLiteral("Search in This Folder"))
        ->trigger();
    QCOMPARE(f.model->selection(), f.url(QStringLiteral("Drums")));
    QCOMPARE(f.model->searchFocusRequest(), focus + 1);

    // Only the command that removes something is drawn in red.
    const std::unique_ptr<QMenu> rootMenu = menuFor(QString());
    const QImage image = rootMenu->grab().toImage();
    const auto redPixels = [&](const QString &text) {
        const QRect rect = rootMenu->actionGeometry(actionNamed(*rootMenu, text));
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor pixel = image.pixelColor(QPoint(x, y) * image.devicePixelRatio());
                count += pixel.red() > 150 && pixel.red() > 2 * pixel.green();
            }
        }
        return count;
    };
    QVERIFY(redPixels(QStringLiteral("Remove from Browser")) > 10);
    QCOMPARE(redPixels(QStringLiteral("Refresh")), 0);
    actionNamed(*menuFor(QString()), QStringLiteral("Remove from Browser"))->trigger();
    QVERIFY(f.model->roots().isEmpty());
    QCOMPARE(f.view->content(), SidebarView::Content::Welcome);
}

void TestSidebar::offlineRoot()
{
    Fixture f;
    QVERIFY(f.make());
    QVERIFY(QDir(f.library()).removeRecursively());
    f.model->updateOfflineRoots();
    QCOMPARE(f.rows().index(0).data(TreeRowModel::IsOfflineRole).toBool(), true);
    std::unique_ptr<QMenu> menu(f.view->contextMenuForRow(0));
    const QStringList texts = actionTexts(*menu);
    QCOMPARE(texts.mid(texts.size() - 3),
             (QStringList{"-", QStringLiteral("Locate…"), "Remove from Browser"}));
}

void TestSidebar::dropFolders()
{
    Fixture f;
    QVERIFY(f.make(false));
    QCOMPARE(f.view->content(), SidebarView::Content::Welcome);
    const QString other = f.dir.filePath(QStringLiteral("Other"));
    QVERIFY(QDir().mkpath(other));

    QMimeData mime;
    mime.setUrls({f.url(QString()), QUrl::fromLocalFile(f.path(QStringLiteral("Pad.wav"))),
                  QUrl::fromLocalFile(other)});
    const QPoint center = f.view->rect().center();
    QDragEnterEvent enter(center, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view.get(), &enter);
    QVERIFY(enter.isAccepted());
    QVERIFY(f.view->isDropTargeted());
    QVERIFY(f.view->findChild<QWidget *>(QStringLiteral("dropOutline"))->isVisible());

    QDropEvent drop(center, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view.get(), &drop);
    QVERIFY(drop.isAccepted());
    QVERIFY(!f.view->isDropTargeted());
    // The file among them is skipped; each folder becomes a root.
    QTRY_COMPARE(f.model->roots().size(), 2);
    QCOMPARE(f.model->roots().at(0)->url(), f.url(QString()));
    QCOMPARE(f.model->roots().at(1)->url(), QUrl::fromLocalFile(other));
    QCOMPARE(f.view->content(), SidebarView::Content::Tree);

    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent refused(center, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view.get(), &refused);
    QVERIFY(!refused.isAccepted());
    QVERIFY(!f.view->isDropTargeted());
}

void TestSidebar::tagHousekeeping()
{
    QTemporaryDir outside;
    Fixture f;
    // Tags outside every root are forgotten when the sidebar first shows.
    {
        QVERIFY(f.dir.isValid());
        Preferences prefs(f.dir.filePath(QStringLiteral("prefs.plist")));
        TagStore tags(prefs);
        tags.setTags({FinderTag::Green}, QUrl::fromLocalFile(outside.path()));
        QVERIFY(prefs.flush());
    }
    QVERIFY(f.make());
    QVERIFY(f.tags->allTaggedItems().isEmpty());

    // Tagging with a filter on rescopes the tree.
    f.model->setActiveTagFilters({FinderTag::Purple});
    QCOMPARE(f.view->content(), SidebarView::Content::NothingTagged);
    f.tags->setTags({FinderTag::Purple}, f.url(QStringLiteral("Pad.wav")));
    QTRY_COMPARE(f.view->content(), SidebarView::Content::Tree);
    QCOMPARE(f.rowNames(), QStringList{QStringLiteral("Pad.wav")});
}

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
