#include "FileNode.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

class TestFileNode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listing_data();
    void listing();
    void normalisedIdentity();
    void childrenCacheUntilUnload();
    void audioExtensions_data();
    void audioExtensions();
};

void TestFileNode::listing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("folders first, case-insensitive, filtered")
        << QStringList{"b.WAV", "A.aif", "notes.txt", ".hidden.wav"} << QStringList{"Zeta"}
        << QStringList{"Zeta", "A.aif", "b.WAV"};
    QTest::newRow("extensions by lower case; opus is not audio")
        << QStringList{"loop.OGG", "loop.opus", "noext"} << QStringList{}
        << QStringList{"loop.OGG"};
    QTest::newRow("a folder named like audio is a folder")
        << QStringList{"a.wav"} << QStringList{"drums.wav"} << QStringList{"drums.wav", "a.wav"};
    QTest::newRow("folders sort without case")
        << QStringList{} << QStringList{"beta", "Alpha"} << QStringList{"Alpha", "beta"};
    QTest::newRow("bundles are plain folders; hidden folders are not listed")
        << QStringList{} << QStringList{"Kit.bundle", ".git"} << QStringList{"Kit.bundle"};
}

void TestFileNode::listing()
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
    for (const FileNodePtr &child : root.children())
        names.append(child->name());
    QCOMPARE(names, expected);
    for (const FileNodePtr &child : root.children())
        QCOMPARE(child->isDirectory(), folders.contains(child->name()));
}

void TestFileNode::normalisedIdentity()
{
    FileNode a(QUrl::fromLocalFile(QStringLiteral("/S/Kicks/")), true);
    FileNode b(QUrl::fromLocalFile(QStringLiteral("/S/./Kicks")), false);
    FileNode c(QUrl::fromLocalFile(QStringLiteral("/S/Snares/../Kicks")), true);
    QVERIFY(a == b);
    QVERIFY(a == c);
    QCOMPARE(qHash(a), qHash(b));
    QCOMPARE(a.path(), QStringLiteral("/S/Kicks"));

    FileNode file(QUrl::fromLocalFile(QStringLiteral("/does/not/exist.wav")), false);
    QVERIFY(file.children().isEmpty());
    QVERIFY(file.isLoaded());
}

void TestFileNode::childrenCacheUntilUnload()
{
    QTemporaryDir dir;
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("Sub/one.wav"))));
    FileNode root(QUrl::fromLocalFile(dir.path()), true);
    QCOMPARE(root.children().size(), 1);
    const FileNodePtr sub = root.children().first();
    QCOMPARE(sub->children().size(), 1);

    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("Sub/two.wav"))));
    QCOMPARE(sub->children().size(), 1); // cached

    root.unloadChildren();
    QVERIFY(!root.isLoaded());
    QVERIFY(!sub->isLoaded()); // unloaded depth first
    QCOMPARE(root.children().first()->children().size(), 2);

    // A deleted folder lists as empty and stays empty until unloaded.
    QVERIFY(QDir(dir.filePath(QStringLiteral("Sub"))).removeRecursively());
    FileNode gone(QUrl::fromLocalFile(dir.filePath(QStringLiteral("Sub"))), true);
    QVERIFY(gone.children().isEmpty());
    QVERIFY(TestSupport::writeFile(dir.filePath(QStringLiteral("Sub/back.wav"))));
    QVERIFY(gone.children().isEmpty());
    gone.unloadChildren();
    QCOMPARE(gone.children().size(), 1);
}

void TestFileNode::audioExtensions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("audio");
    for (const QString &ext : FileNode::audioExtensions())
        QTest::newRow(qPrintable(ext)) << QStringLiteral("x.") + ext.toUpper() << true;
    QTest::newRow("opus") << QStringLiteral("x.opus") << false;
    QTest::newRow("no extension") << QStringLiteral("wav") << false;
    QTest::newRow("trailing dot") << QStringLiteral("x.") << false;
    QTest::newRow("double") << QStringLiteral("x.wav.txt") << false;
}

void TestFileNode::audioExtensions()
{
    QFETCH(QString, name);
    QFETCH(bool, audio);
    QCOMPARE(FileNode::isAudioFileName(name), audio);
    QCOMPARE(FileNode::audioExtensions().size(), 15);
}

QTEST_GUILESS_MAIN(TestFileNode)
#include "tst_filenode.moc"
