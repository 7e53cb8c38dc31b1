#include "SearchFixture.h"

#include "DialogPresenter.h"
#include "FinderTagSync.h"
#include "FinderTagsIO.h"
#include "TagsMenu.h"

#include <QLocale>
#include <QTest>

namespace {

// Answers alerts from a script and keeps what they said.
class RecordingPresenter final : public DialogPresenter
{
public:
    int run(const Alert &alert, QWidget *) override
    {
        alerts.append(alert);
        return answers.isEmpty() ? 0 : answers.takeFirst();
    }
    QStringList titles() const
    {
        QStringList result;
        for (const Alert &alert : alerts)
            result.append(alert.messageText);
        return result;
    }
    QList<Alert> alerts;
    QList<int> answers;
};

const QString importQuestion =
    "Wavelark will read the file manager colors already on your files and add them to its own "
    "tags. "
    "Tags you set in Wavelark are kept. Nothing is written to your files.";

bool writeFinderColor(const QUrl &url, FinderTag tag)
{
    return FinderTagsIO::writeEntries(
        {{FinderTags::displayName(tag), FinderTags::finderColorIndex(tag)}}, url);
}

} // namespace

class TestTagsMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void enabledOnlyWithRoots();
    void resultTexts_data();
    void resultTexts();
    void exportConfirmation_data();
    void exportConfirmation();
    void exportSummaryText_data();
    void exportSummaryText();
    void defaultNames_data();
    void defaultNames();
    void exportWithNothingTagged();
    void exportCancelled();
    void exportRuns();
    void importFlow_data();
    void importFlow();
};

void TestTagsMenu::enabledOnlyWithRoots()
{
    SearchFixture f;
    RecordingPresenter presenter;
    TagsMenu menu(*f.model, *f.tags, presenter);
    QCOMPARE(menu.title(), "Tags");
    QCOMPARE(menu.importAction()->text(), "Import Tags from File Manager…");
    QCOMPARE(menu.exportAction()->text(), "Export Tags to File Manager…");
    QVERIFY(!menu.importAction()->isEnabled());
    QVERIFY(!menu.exportAction()->isEnabled());

    QVERIFY(f.addIndexedRoot("Samples", {"a.wav"}));
    QVERIFY(menu.importAction()->isEnabled());
    QVERIFY(menu.exportAction()->isEnabled());
    f.model->removeRoot(f.model->roots().constFirst());
    QVERIFY(!menu.importAction()->isEnabled());
    QVERIFY(!menu.exportAction()->isEnabled());
}

void TestTagsMenu::resultTexts_data()
{
    QTest::addColumn<qint64>("changed");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << qint64(0) << "No new file manager colors were found to import.";
    QTest::newRow("one") << qint64(1) << "Added file manager colors to 1 item.";
    QTest::newRow("many") << qint64(1234) << "Added file manager colors to 1234 items.";
}

void TestTagsMenu::resultTexts()
{
    QFETCH(qint64, changed);
    QFETCH(QString, text);
    QCOMPARE(TagsMenu::importResultText(changed), text);
}

void TestTagsMenu::exportConfirmation_data()
{
    QTest::addColumn<qint64>("items");
    QTest::addColumn<QString>("text");
    const QString tail =
        " as real file manager tags. Your existing file manager tags are kept. Nothing is "
        "removed.";
    QTest::newRow("one") << qint64(1) << "Wavelark will write its colors onto 1 tagged item" + tail;
    QTest::newRow("two") << qint64(2)
                         << "Wavelark will write its colors onto 2 tagged items" + tail;
}

void TestTagsMenu::exportConfirmation()
{
    QFETCH(qint64, items);
    QFETCH(QString, text);
    QCOMPARE(TagsMenu::exportConfirmationText(items), text);
}

void TestTagsMenu::exportSummaryText_data()
{
    QTest::addColumn<qint64>("written");
    QTest::addColumn<qint64>("failed");
    QTest::addColumn<QList<FinderTag>>("skipped");
    QTest::addColumn<QString>("text");

    const QString because =
        ": Wavelark couldn't read your file manager tag names, so it didn't write ";
    const QString end = " to avoid creating a mismatched tag. Please try again.";
    QTest::newRow("nothing") << qint64(0) << qint64(0) << QList<FinderTag>()
                             << "Wrote file manager tags to 0 items.";
    QTest::newRow("one written") << qint64(1) << qint64(0) << QList<FinderTag>()
                                 << "Wrote file manager tags to 1 item.";
    QTest::newRow("three lines")
        << qint64(3) << qint64(1) << QList<FinderTag>{FinderTag::Green, FinderTag::Red}
        << "Wrote file manager tags to 3 items.\n1 could not be written (read only or offline).\n"
           "Skipped Red, Green" +
               because + "these colors" + end;
    QTest::newRow("failures only")
        << qint64(0) << qint64(12) << QList<FinderTag>()
        << "Wrote file manager tags to 0 items.\n12 could not be written "
           "(read only or offline).";
    QTest::newRow("one color skipped")
        << qint64(0) << qint64(0) << QList<FinderTag>{FinderTag::Purple}
        << "Wrote file manager tags to 0 items.\nSkipped Purple" + because + "this color" + end;
}

void TestTagsMenu::exportSummaryText()
{
    QFETCH(qint64, written);
    QFETCH(qint64, failed);
    QFETCH(QList<FinderTag>, skipped);
    QFETCH(QString, text);
    const BrowserModel::ExportSummary summary{written, failed,
                                              FinderTagSet(skipped.cbegin(), skipped.cend())};
    QCOMPARE(TagsMenu::exportResultText(summary), text);
}

void TestTagsMenu::defaultNames_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("english") << QStringList{"en-US", "de-DE"} << true;
    QTest::newRow("upper case") << QStringList{"EN"} << true;
    QTest::newRow("german first") << QStringList{"de-DE", "en-US"} << false;
    QTest::newRow("none") << QStringList() << false;
}

void TestTagsMenu::defaultNames()
{
    QFETCH(QStringList, languages);
    QFETCH(bool, allowed);
    QCOMPARE(FinderTagSync::defaultNamesAllowed(languages), allowed);
}

void TestTagsMenu::exportWithNothingTagged()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"a.wav"}));
    RecordingPresenter presenter;
    TagsMenu menu(*f.model, *f.tags, presenter);
    menu.exportAction()->trigger();
    QCOMPARE(presenter.titles(), QStringList{"Nothing to Export"});
    QCOMPARE(presenter.alerts.at(0).informativeText,
             "You haven't tagged anything in Wavelark yet.");
    QCOMPARE(presenter.alerts.at(0).buttons.size(), 1);
}

void TestTagsMenu::exportCancelled()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"a.wav"}));
    f.tags->setTags({FinderTag::Red}, f.url("Samples/a.wav"));
    RecordingPresenter presenter;
    presenter.answers = {1};
    TagsMenu menu(*f.model, *f.tags, presenter);
    menu.exportAction()->trigger();
    QTest::qWait(100);
    QCOMPARE(presenter.titles(), QStringList{"Export Tags to File Manager?"});
    QCOMPARE(presenter.alerts.at(0).informativeText, TagsMenu::exportConfirmationText(1));
    QCOMPARE(presenter.alerts.at(0).buttons, QStringList({"Export", "Cancel"}));
    QVERIFY(FinderTagsIO::readEntries(f.url("Samples/a.wav")).isEmpty());
}

void TestTagsMenu::exportRuns()
{
    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"a.wav", "b.wav", "c.wav"}));
    if (!FinderTagsIO::writeEntries({{"Probe", 0}}, f.url("Samples/c.wav")))
        QSKIP("no user extended attributes on this file system");
    f.tags->setTags({FinderTag::Red}, f.url("Samples/a.wav"));
    f.tags->setTags({FinderTag::Red, FinderTag::Blue}, f.url("Samples/b.wav"));
    RecordingPresenter presenter;
    TagsMenu menu(*f.model, *f.tags, presenter);
    menu.exportAction()->trigger();
    QTRY_COMPARE(presenter.titles(),
                 QStringList({"Export Tags to File Manager?", "Export Complete"}));
    QCOMPARE(presenter.alerts.at(0).informativeText, TagsMenu::exportConfirmationText(2));

    // Without the file manager's names, English names are written only for English users.
    BrowserModel::ExportSummary expected;
    if (FinderTagSync::defaultNamesAllowed(QLocale::system().uiLanguages()))
        expected.filesWritten = 2;
    else
        expected.skippedColors = {FinderTag::Red, FinderTag::Blue};
    QCOMPARE(presenter.alerts.at(1).informativeText, TagsMenu::exportResultText(expected));
    QCOMPARE(presenter.alerts.at(1).buttons.size(), 1);
}

void TestTagsMenu::importFlow_data()
{
    QTest::addColumn<int>("coloredFiles");
    QTest::addColumn<QString>("result");
    QTest::newRow("none") << 0 << "No new file manager colors were found to import.";
    QTest::newRow("one") << 1 << "Added file manager colors to 1 item.";
    QTest::newRow("many") << 3 << "Added file manager colors to 3 items.";
}

void TestTagsMenu::importFlow()
{
    QFETCH(int, coloredFiles);
    QFETCH(QString, result);

    SearchFixture f;
    QVERIFY(f.addIndexedRoot("Samples", {"0.wav", "1.wav", "2.wav", "3.wav"}));
    if (!FinderTagsIO::writeEntries({{"Probe", 0}}, f.url("Samples/3.wav")))
        QSKIP("no user extended attributes on this file system");
    for (int i = 0; i < coloredFiles; ++i)
        QVERIFY(writeFinderColor(f.url(QStringLiteral("Samples/%1.wav").arg(i)), FinderTag::Green));
    RecordingPresenter presenter;
    TagsMenu menu(*f.model, *f.tags, presenter);

    presenter.answers = {1};
    menu.importAction()->trigger();
    QTest::qWait(100);
    QCOMPARE(presenter.titles(), QStringList{"Import Tags from File Manager?"});
    QCOMPARE(presenter.alerts.at(0).informativeText, importQuestion);
    QCOMPARE(presenter.alerts.at(0).buttons, QStringList({"Import", "Cancel"}));
    QVERIFY(f.tags->allTaggedItems().isEmpty());

    presenter.alerts.clear();
    presenter.answers = {0};
    menu.importAction()->trigger();
    QTRY_COMPARE(presenter.titles(),
                 QStringList({"Import Tags from File Manager?", "Import Complete"}));
    QCOMPARE(presenter.alerts.at(1).informativeText, result);
    QCOMPARE(f.tags->allTaggedItems().size(), coloredFiles);
}

QTEST_MAIN(TestTagsMenu)
#include "tst_tagsmenu.moc"
