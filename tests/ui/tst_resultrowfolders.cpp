#include "SearchFixture.h"

#include "ResultsModel.h"
#include "SearchResultRow.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QTest>

// Result rows name the folder each result lives in, relative to its root.
class TestResultRowFolders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void folderText_data();
    void folderText();
    void narrowRowsShortenTheFolderInTheMiddle();
};

void TestResultRowFolders::folderText_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("offline");

    QTest::newRow("nested") << "kick"
                            << "Samples/Drums/Kicks/kick.wav"
                            << "Drums/Kicks" << false;
    QTest::newRow("one level") << "snare"
                               << "Samples/Drums/snare.wav"
                               << "Drums" << false;
    QTest::newRow("top of the root") << "pad"
                                     << "Samples/pad.wav"
                                     << "Samples" << false;
    QTest::newRow("offline root") << "kick"
                                  << "Samples/Drums/Kicks/kick.wav"
                                  << "Drums/Kicks" << true;
}

void TestResultRowFolders::folderText()
{
    QFETCH(QString, query);
    QFETCH(QString, relative);
    QFETCH(QString, folder);
    QFETCH(bool, offline);

    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"Drums/Kicks/kick.wav", "Drums/snare.wav", "pad.wav"}));
    QVERIFY(f.search(query, 1));
    if (offline) {
        // Deleted rather than moved: a moved root would be found again.
        QVERIFY(QDir(f.path("Samples")).removeRecursively());
        f.model->updateOfflineRoots();
        QVERIFY(f.model->offlineRoots().contains(f.url("Samples")));
    }

    ResultsModel model(*f.model, *f.player, *f.tags);
    QCOMPARE(model.rowCount(), 1);
    const QModelIndex row = model.index(0, 0);
    QCOMPARE(row.data(ResultsModel::FolderRole).toString(), folder);
    QCOMPARE(row.data(Qt::ToolTipRole).toString(), f.path(relative));
}

void TestResultRowFolders::narrowRowsShortenTheFolderInTheMiddle()
{
    const QFontMetrics metrics(QApplication::font());
    SearchResultRow::Look look;
    look.name = QStringLiteral("Kick 01.wav");
    look.folder = QStringLiteral("Acoustic Kits/Studio A/Close Mics/Kicks");

    const int wide = metrics.horizontalAdvance(look.name + look.folder) + 40;
    auto [name, folder] = SearchResultRow::fittedTexts(look, metrics, wide);
    QCOMPARE(name, look.name);
    QCOMPARE(folder, look.folder);

    const int narrow = metrics.horizontalAdvance(look.name) * 3;
    std::tie(name, folder) = SearchResultRow::fittedTexts(look, metrics, narrow);
    QCOMPARE(name, look.name);
    QVERIFY2(folder.startsWith(QStringLiteral("Ac")) && folder.endsWith(QStringLiteral("ks")) &&
                 folder.contains(QChar(0x2026)),
             qPrintable(folder));
    QVERIFY(metrics.horizontalAdvance(name) + metrics.horizontalAdvance(folder) <= narrow);
}

QTEST_MAIN(TestResultRowFolders)
#include "tst_resultrowfolders.moc"
