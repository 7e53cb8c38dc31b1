// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The model's parts on their own, without the façade that ties them together.
#include "ModelFixtures.h"

#include "LibraryFiles.h"
#include "RootFolders.h"
#include "TreeNavigation.h"

#include <QSignalSpy>
#include <QTest>

class TestModelParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Roots are remembered in order with a bookmark each, and come back after a restart.
    void rootFoldersRememberTheirOrderAndBookmarks()
    {
        ModelFixture f;
        for (const QString &folder : QStringList{"A", "B", "C"})
            f.mkdir(folder);
        {
            RootFolders roots(*f.prefs, std::make_shared<LibraryFiles>());
            QSignalSpy changed(&roots, &RootFolders::rootsChanged);
            QVERIFY(roots.add(f.url("A")) && roots.add(f.url("B")) && !roots.add(f.url("A/")));
            QVERIFY(roots.replace(f.path("A"), f.url("C")));
            QVERIFY(!roots.replace(f.path("nope"), f.url("A")));
            roots.persist();
            QTRY_VERIFY(roots.isSettled()); // the bookmarks are made off the GUI thread
            QCOMPARE(changed.count(), 3);
            QCOMPARE(roots.paths(), (QStringList{f.path("C"), f.path("B")}));
        }
        f.restart();
        RootFolders roots(*f.prefs, std::make_shared<LibraryFiles>());
        roots.load();
        QVERIFY(roots.readInFull());
        QCOMPARE(roots.paths(), (QStringList{f.path("C"), f.path("B")}));
        QCOMPARE(f.prefs->dictionaryForKey("rootFolderBookmarks")->keys(),
                 (QStringList{f.path("B"), f.path("C")}));
        roots.remove(f.path("B"));
        QCOMPARE(roots.paths(), QStringList{f.path("C")});
        QCOMPARE(f.prefs->dictionaryForKey("rootFolderBookmarks")->keys(),
                 QStringList{f.path("C")});
    }

    // Expansion and selection follow a moved folder; what is forgotten is gone below it only.
    void navigationRebasesAndForgets()
    {
        ModelFixture f;
        const QList<FileNodePtr> none;
        const QList<FileNodePtr> roots{FileNode::create(f.url("R"), true)};
        TreeNavigation navigation(
            *f.prefs, {nullptr, [&]() -> const QList<FileNodePtr> & { return roots; },
                       [&]() -> const QList<FileNodePtr> & { return none; },
                       [&]() -> const QList<FileNodePtr> & { return none; }, [] { return false; }});
        QVERIFY(navigation.setExpanded({f.url("R"), f.url("R/a"), f.url("R/ab"), f.url("S")}));
        QVERIFY(!navigation.setExpanded(navigation.expanded()));
        navigation.rebase(f.path("R/a"), f.path("R/z"));
        QCOMPARE(navigation.expanded(),
                 (QSet<QUrl>{f.url("R"), f.url("R/z"), f.url("R/ab"), f.url("S")}));
        navigation.forget(f.path("R"));
        QCOMPARE(navigation.expanded(), QSet<QUrl>{f.url("S")});
        QVERIFY(navigation.setSelection(f.url("R/./x.wav")));
        QVERIFY(!navigation.setSelection(f.url("R/x.wav")));
        QCOMPARE(f.prefs->stringForKey("selectedItemPath"), f.path("R/x.wav"));
    }
};

QTEST_GUILESS_MAIN(TestModelParts)
#include "tst_modelparts.moc"
