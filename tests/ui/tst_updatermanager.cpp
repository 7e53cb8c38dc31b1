// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "../update/LoopbackHttpServer.h"
#include "UiFixtures.h"

#include "ui/CheckForUpdatesCommand.h"
#include "ui/ReleaseNotesView.h"
#include "ui/UpdateWindow.h"
#include "ui/UpdaterManager.h"
#include "ui/UrlOpener.h"

#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTextDocument>

namespace {

class RecordingOpener final : public UrlOpener
{
public:
    bool open(const QUrl &url) override
    {
        urls.append(url);
        return isWebUrl(url);
    }
    QList<QUrl> urls;
};

QByteArray appcast(const QByteArray &version)
{
    return appcastFeed("<item><sparkle:version>" + version +
                       "</sparkle:version><description>&lt;p&gt;Faster&lt;/p&gt;</description>"
                       "<enclosure url=\"https://x.org/w.tar\"/></item>");
}

struct Fixture
{
    QTemporaryDir dir;
    LoopbackHttpServer server;
    RecordingPresenter presenter;
    RecordingOpener opener;
    std::unique_ptr<Preferences> defaults;
    QMainWindow window;
    std::unique_ptr<UpdaterManager> manager;

    bool make(const QByteArray &feed, int status = 200)
    {
        if (!dir.isValid() || !server.listen())
            return false;
        server.route("/feed", {status, feed});
        defaults = std::make_unique<Preferences>(dir.filePath("prefs.plist"));
        restart();
        return true;
    }
    void restart()
    {
        manager.reset();
        manager = std::make_unique<UpdaterManager>(*defaults, server.url("/feed").toString(),
                                                   presenter, opener, &window);
    }
};

} // namespace

class TestUpdaterManager final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void userCheck_data()
    {
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("alert"); // empty: the update window shows
        QTest::newRow("newer") << appcast("99") << 200 << "";
        QTest::newRow("up to date") << appcast("0.0.1") << 200 << "You're up to date";
        QTest::newRow("server error") << QByteArray() << 503 << "Update Error!";
    }
    void userCheck()
    {
        QFETCH(QByteArray, feed);
        QFETCH(int, status);
        QFETCH(QString, alert);
        Fixture f;
        QVERIFY(f.make(feed, status));
        CheckForUpdatesCommand command(*f.manager);
        command.trigger();
        QVERIFY(!command.isEnabled());
        QTRY_VERIFY(command.isEnabled());
        if (!alert.isEmpty()) {
            QTRY_COMPARE(f.presenter.titles(), QStringList{alert});
            QVERIFY(!f.manager->updateWindow());
            return;
        }
        QTRY_VERIFY(f.manager->updateWindow() && f.manager->updateWindow()->isVisible());
        UpdateWindow *window = f.manager->updateWindow();
        QVERIFY(f.presenter.alerts.isEmpty() && !window->parentWidget());
        QVERIFY(window->informativeLabel()->text().startsWith("Wavelark 99 is now available"));
        QCOMPARE(window->releaseNotes()->toPlainText(), QString("Faster"));
        window->downloadButton()->click();
        QCOMPARE(f.opener.urls, QList<QUrl>{QUrl("https://x.org/w.tar")});
        QVERIFY(!window->isVisible());

        command.trigger();
        QTRY_VERIFY(window->isVisible());
        window->skipButton()->click();
        QCOMPARE(f.defaults->stringForKey("SUSkippedVersion"), std::optional<QString>("99"));
        QCOMPARE(f.opener.urls.size(), 1);
    }

    void automaticChecksAskedOnSecondStart_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("check automatically") << 0;
        QTest::newRow("don't check") << 1;
    }
    void automaticChecksAskedOnSecondStart()
    {
        QFETCH(int, answer);
        Fixture f;
        QVERIFY(f.make(appcast("99")));
        f.manager->startAutomaticChecks();
        QVERIFY(f.presenter.alerts.isEmpty());
        f.restart();
        f.presenter.answers = {answer, answer};
        f.manager->startAutomaticChecks();
        f.manager->startAutomaticChecks();
        QCOMPARE(f.presenter.alerts.size(), 1);
        QCOMPARE(f.presenter.alerts.at(0).buttons,
                 QStringList({"Check Automatically", "Don't Check"}));
        QCOMPARE(f.defaults->boolForKey("SUEnableAutomaticChecks"), answer == 0);
        QCOMPARE(f.manager->canCheckForUpdates(), answer != 0);
        if (answer == 0)
            QTRY_VERIFY(f.manager->updateWindow() && f.manager->updateWindow()->isVisible());
    }

    // Notes come from the network: nothing they name is loaded, not even a local file, and a
    // refused image leaves no broken-image symbol.
    void releaseNotesLoadNothing()
    {
        QTemporaryDir dir;
        const QUrl picture = QUrl::fromLocalFile(dir.filePath("picture.png"));
        QImage red(4, 4, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(picture.toLocalFile()));
        const QUrl page = QUrl::fromLocalFile(dir.filePath("page.html"));
        QVERIFY(TestSupport::writeFile(page.toLocalFile(), "<p>Elsewhere</p>"));
        ReleaseNotesView view;
        view.setNotes("<p>Notes</p><img src=\"" + picture.toString() + "\">");
        const auto shown = view.document()->resource(QTextDocument::ImageResource, picture);
        QCOMPARE(qvariant_cast<QImage>(shown).pixelColor(0, 0).alpha(), 0);
        view.setSource(page);
        QVERIFY(!view.toPlainText().contains("Elsewhere"));
    }
};

QTEST_MAIN(TestUpdaterManager)
#include "tst_updatermanager.moc"
