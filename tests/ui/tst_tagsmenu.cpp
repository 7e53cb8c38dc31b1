// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiFixtures.h"

#include "FinderTagSync.h"
#include "FinderTagsIO.h"
#include "TagsMenu.h"

#include <QLocale>

class TestTagsMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Without the file manager's own names, English ones may be written only for English users.
    void defaultNamesOnlyForEnglish()
    {
        QVERIFY(FinderTagSync::defaultNamesAllowed({"en-US", "de-DE"}));
        QVERIFY(FinderTagSync::defaultNamesAllowed({"EN"}));
        QVERIFY(!FinderTagSync::defaultNamesAllowed({"de-DE", "en-US"}));
        QVERIFY(!FinderTagSync::defaultNamesAllowed({}));
    }

    void exportFlow()
    {
        SearchFixture f;
        RecordingPresenter presenter;
        TagsMenu menu(*f.model, *f.tags, presenter);
        const auto enabled = [&] {
            return QList<bool>(
                {menu.importAction()->isEnabled(), menu.exportAction()->isEnabled()});
        };
        QCOMPARE(enabled(), QList<bool>({false, false}));
        QVERIFY(f.addIndexedRoot("Samples", {"a.wav", "b.wav", "c.wav"}));
        QCOMPARE(enabled(), QList<bool>({true, true}));
        if (!FinderTagsIO::writeEntries({{"Probe", 0}}, f.url("Samples/c.wav")))
            QSKIP("no user extended attributes on this file system");
        menu.exportAction()->trigger();
        QCOMPARE(presenter.titles(), QStringList{"Nothing to Export"});

        f.tags->setTags({FinderTag::Red}, f.url("Samples/a.wav"));
        f.tags->setTags({FinderTag::Red, FinderTag::Blue}, f.url("Samples/b.wav"));
        presenter.alerts.clear();
        presenter.answers = {1};
        menu.exportAction()->trigger();
        QTRY_COMPARE(presenter.titles(), QStringList{"Export Tags to File Manager?"});
        QCOMPARE(presenter.alerts.at(0).informativeText, TagsMenu::exportConfirmationText(2));
        QCOMPARE(presenter.alerts.at(0).buttons, QStringList({"Export", "Cancel"}));
        QVERIFY(FinderTagsIO::readEntries(f.url("Samples/a.wav")).isEmpty());

        presenter.alerts.clear();
        menu.exportAction()->trigger();
        QTRY_COMPARE(presenter.titles(),
                     QStringList({"Export Tags to File Manager?", "Export Complete"}));
        // Without the file manager's names, English names are written only for English users.
        BrowserModel::ExportSummary expected;
        if (FinderTagSync::defaultNamesAllowed(QLocale::system().uiLanguages()))
            expected.filesWritten = 2;
        else
            expected.skippedColors = {FinderTag::Red, FinderTag::Blue};
        QCOMPARE(presenter.alerts.at(1).informativeText, TagsMenu::exportResultText(expected));
        QCOMPARE(FinderTagsIO::readEntries(f.url("Samples/b.wav")).size(),
                 expected.filesWritten ? 2 : 0);
        f.model->removeRoot(f.model->roots().constFirst());
        QCOMPARE(enabled(), QList<bool>({false, false}));
    }

    void importFlow()
    {
        const int coloredFiles = 2;
        SearchFixture f;
        QVERIFY(f.addIndexedRoot("Samples", {"0.wav", "1.wav", "2.wav", "3.wav"}));
        if (!FinderTagsIO::writeEntries({{"Probe", 0}}, f.url("Samples/3.wav")))
            QSKIP("no user extended attributes on this file system");
        for (int i = 0; i < coloredFiles; ++i)
            QVERIFY(FinderTagsIO::writeEntries({{"Green", 2}},
                                               f.url(QString("Samples/%1.wav").arg(i))));
        RecordingPresenter presenter;
        TagsMenu menu(*f.model, *f.tags, presenter);
        presenter.answers = {1};
        menu.importAction()->trigger();
        QTRY_COMPARE(presenter.titles(), QStringList{"Import Tags from File Manager?"});
        QCOMPARE(presenter.alerts.at(0).buttons, QStringList({"Import", "Cancel"}));
        QVERIFY(f.tags->allTaggedItems().isEmpty());

        presenter.alerts.clear();
        menu.importAction()->trigger();
        QTRY_COMPARE(presenter.titles(),
                     QStringList({"Import Tags from File Manager?", "Import Complete"}));
        QCOMPARE(presenter.alerts.at(1).informativeText, TagsMenu::importResultText(coloredFiles));
        QCOMPARE(f.tags->allTaggedItems().size(), coloredFiles);
        for (int i = 0; i < coloredFiles; ++i)
            QCOMPARE(f.tags->tagsFor(f.url(QString("Samples/%1.wav").arg(i))),
                     FinderTagSet{FinderTag::Green});
    }
};

QTEST_MAIN(TestTagsMenu)
#include "tst_tagsmenu.moc"
