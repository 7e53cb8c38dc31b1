// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRows.h"
#include "FileNode.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestFileNode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listing_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow(
            "folders first, all without case; bundles are folders, hidden ones are left out")
            << rowList("b.WAV|A.aif|notes.txt|.hidden.wav") << rowList("Zeta|alpha|Kit.bundle|.git")
            << rowList("alpha|Kit.bundle|Zeta|A.aif|b.WAV");
        QTest::newRow("extensions by lower case; opus is not audio")
            << rowList("loop.OGG|loop.opus|noext|wav|x.|x.wav.txt|y.FLAC") << rowList("")
            << rowList("loop.OGG|y.FLAC");
        QTest::newRow("a folder named like audio is a folder")
            << rowList("a.wav") << rowList("drums.wav") << rowList("drums.wav|a.wav");
    }
    void listing()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (const QString &f : files)
            QVERIFY(TestSupport::writeFile(dir.filePath(f)));
        for (const QString &f : folders)
            QVERIFY(TestSupport::makeDirs(dir.filePath(f)));

        FileNode root(QUrl::fromLocalFile(dir.path()), true);
        QStringList names;
        for (const FileNodePtr &child : root.children()) {
            names.append(child->name());
            QCOMPARE(child->isDirectory(), folders.contains(child->name()));
        }
        QCOMPARE(names, expected);
    }
    void identityIsTheNormalisedPath()
    {
        FileNode a(QUrl::fromLocalFile("/S/Kicks/"), true);
        FileNode b(QUrl::fromLocalFile("/S/Snares/../Kicks"), false);
        QVERIFY(a == b && qHash(a) == qHash(b) && a.path() == "/S/Kicks");
    }
    void childrenCacheUntilUnload()
    {
        QTemporaryDir dir;
        QVERIFY(TestSupport::writeFile(dir.filePath("Sub/one.wav")));
        FileNode root(QUrl::fromLocalFile(dir.path()), true);
        const FileNodePtr sub = root.children().first();
        QCOMPARE(sub->children().size(), 1);
        QVERIFY(TestSupport::writeFile(dir.filePath("Sub/two.wav")));
        QCOMPARE(sub->children().size(), 1); // cached
        root.unloadChildren();
        QVERIFY(!root.isLoaded());
        QVERIFY(!sub->isLoaded()); // unloaded depth first
        QCOMPARE(root.children().first()->children().size(), 2);

        // A deleted folder lists as empty and stays empty until unloaded.
        QVERIFY(QDir(dir.filePath("Sub")).removeRecursively());
        FileNode gone(QUrl::fromLocalFile(dir.filePath("Sub")), true);
        QVERIFY(gone.children().isEmpty());
        QVERIFY(TestSupport::writeFile(dir.filePath("Sub/back.wav")));
        QVERIFY(gone.children().isEmpty());
        gone.unloadChildren();
        QCOMPARE(gone.children().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFileNode)
#include "tst_filenode.moc"
