#include "FileSystemChanges.h"

#include <QTest>

namespace {

FileSystemChanges changes(const QStringList &folders, const QStringList &trees,
                          bool complete = true)
{
    FileSystemChanges result;
    result.complete = complete;
    result.folders = folders;
    result.trees = trees;
    return result;
}

} // namespace

class FileSystemChangesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void merge_data();
    void merge();
};

void FileSystemChangesTest::merge_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("trees");
    QTest::addColumn<QStringList>("laterFolders");
    QTest::addColumn<QStringList>("laterTrees");
    QTest::addColumn<bool>("laterComplete");
    QTest::addColumn<QStringList>("mergedFolders");
    QTest::addColumn<QStringList>("mergedTrees");

    const QStringList none;
    QTest::newRow("disjoint folders are sorted")
        << QStringList{u"/r/b"_qs} << none << QStringList{u"/r/a"_qs} << none << true
        << QStringList{u"/r/a"_qs, u"/r/b"_qs} << none;
    QTest::newRow("the same folder twice")
        << QStringList{u"/r/a"_qs, u"/r/a"_qs} << none << QStringList{u"/r/a"_qs} << none << true
        << QStringList{u"/r/a"_qs} << none;
    QTest::newRow("a folder inside a later tree")
        << QStringList{u"/r/a/b"_qs, u"/r"_qs} << none << none << QStringList{u"/r/a"_qs} << true
        << QStringList{u"/r"_qs} << QStringList{u"/r/a"_qs};
    QTest::newRow("the tree's own folder")
        << QStringList{u"/r/a"_qs} << QStringList{u"/r/a"_qs} << none << none << true << none
        << QStringList{u"/r/a"_qs};
    QTest::newRow("a tree inside another")
        << none << QStringList{u"/r/a/b/c"_qs} << none << QStringList{u"/r/a"_qs, u"/r/a"_qs}
        << true << none << QStringList{u"/r/a"_qs};
    QTest::newRow("a sibling whose name starts with the tree's")
        << QStringList{u"/r/Kicks"_qs, u"/r/Kick/x"_qs} << QStringList{u"/r/Kick"_qs}
        << QStringList{u"/r/Kick 2"_qs} << QStringList{u"/r/Kicks/a"_qs} << true
        << QStringList{u"/r/Kick 2"_qs, u"/r/Kicks"_qs}
        << QStringList{u"/r/Kick"_qs, u"/r/Kicks/a"_qs};
    QTest::newRow("the whole file system")
        << QStringList{u"/"_qs, u"/r"_qs} << QStringList{u"/r/a"_qs} << none << QStringList{u"/"_qs}
        << true << none << QStringList{u"/"_qs};
    QTest::newRow("incomplete later changes")
        << QStringList{u"/r/a"_qs} << QStringList{u"/r/b"_qs} << QStringList{u"/r/c"_qs} << none
        << false << none << none;
}

void FileSystemChangesTest::merge()
{
    QFETCH(QStringList, folders);
    QFETCH(QStringList, trees);
    QFETCH(QStringList, laterFolders);
    QFETCH(QStringList, laterTrees);
    QFETCH(bool, laterComplete);
    QFETCH(QStringList, mergedFolders);
    QFETCH(QStringList, mergedTrees);

    FileSystemChanges merged = changes(folders, trees);
    merged.merge(changes(laterFolders, laterTrees, laterComplete));
    QCOMPARE(merged.complete, laterComplete);
    QCOMPARE(merged.folders, mergedFolders);
    QCOMPARE(merged.trees, mergedTrees);

    // Incomplete stays incomplete, whatever follows.
    merged.merge(changes({u"/r/z"_qs}, {}));
    QCOMPARE(merged.complete, laterComplete);
    QCOMPARE(merged.isEmpty(), false);
}

QTEST_GUILESS_MAIN(FileSystemChangesTest)
#include "tst_filesystemchanges.moc"
