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

        const FileNode::Listing listing = FileNode::listFolder(dir.path());
        QCOMPARE(listing.outcome, FileNode::Listing::Outcome::Listed);
        QStringList names;
        for (const FileNodePtr &child : listing.nodes) {
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
    // A folder read again keeps the nodes of entries that stayed, with what is known below them:
    // an open subfolder stays open and shown while it is read again itself.
    void readingAgainKeepsWhatStayed()
    {
        QTemporaryDir dir;
        QVERIFY(TestSupport::writeFile(dir.filePath("Sub/one.wav")));
        QVERIFY(TestSupport::writeFile(dir.filePath("Old/x.wav")));
        const auto root = FileNode::create(QUrl::fromLocalFile(dir.path()), true);
        QVERIFY(!root->isLoaded() && root->children().isEmpty());
        root->setChildren(FileNode::listFolder(root->path()).nodes);
        const FileNodePtr sub = root->children().first();
        QCOMPARE(sub->name(), QStringLiteral("Old"));
        const FileNodePtr kept = root->children().at(1);
        kept->setChildren(FileNode::listFolder(kept->path()).nodes);

        const quint64 before = root->generation();
        root->markStale();
        QVERIFY(root->isStale() && kept->isStale() && root->generation() != before);
        QCOMPARE(kept->children().size(), 1); // still shown

        QVERIFY(QDir(dir.filePath("Old")).removeRecursively());
        QVERIFY(TestSupport::writeFile(dir.filePath("New/y.wav")));
        root->setChildren(FileNode::listFolder(root->path()).nodes);
        QVERIFY(!root->isStale());
        QCOMPARE(root->children().size(), 2);
        QCOMPARE(root->children().first()->name(), QStringLiteral("New"));
        QVERIFY(root->children().at(1) == kept && kept->isStale() && kept->isLoaded());

        root->unloadChildren();
        QVERIFY(!root->isLoaded() && !kept->isLoaded());
    }

    void listingOutcomes()
    {
        QTemporaryDir dir;
        QVERIFY(TestSupport::writeFile(dir.filePath("file.wav")));
        QCOMPARE(FileNode::listFolder(dir.filePath("missing")).outcome,
                 FileNode::Listing::Outcome::Missing);
        QCOMPARE(FileNode::listFolder(dir.filePath("file.wav")).outcome,
                 FileNode::Listing::Outcome::Missing);
        const FileNode::Listing empty = FileNode::listFolder(dir.path() + "/");
        QCOMPARE(empty.outcome, FileNode::Listing::Outcome::Listed);
        QCOMPARE(empty.nodes.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFileNode)
#include "tst_filenode.moc"
