// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "LoopbackHttpServer.h"

#include "platform/Preferences.h"
#include "update/Updater.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QByteArray newerFeed = appcastFeed(
    "<item><sparkle:version>1.2</sparkle:version><description><![CDATA[<p>Faster scans</p>"
    "<script>alert(1)</script>]]></description></item><item><sparkle:version>1.1</sparkle:version>"
    "</item>");

struct Fixture
{
    QTemporaryDir dir;
    LoopbackHttpServer server;
    Preferences defaults{dir.filePath("prefs.plist")};
    std::unique_ptr<Updater> updater;

    bool make(const QString &path = "/feed", const LoopbackHttpServer::Response &feed = {})
    {
        if (!server.listen())
            return false;
        server.route("/feed", feed);
        server.route("/notes", {200, "<p>Faster scans</p><script>x()</script>"});
        server.route("/redirect",
                     {302, {}, "Location: " + server.url("/feed").toEncoded() + "\r\n"});
        const QString url = path.contains("://") ? path : server.url(path).toString();
        updater = std::make_unique<Updater>(defaults, url, "1.0");
        updater->startUpdater();
        return updater->canCheckForUpdates();
    }
};

} // namespace

Q_DECLARE_METATYPE(UpdateCheckResult)

class TestUpdater final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<UpdateCheckResult>(); }

    void check_data()
    {
        QTest::addColumn<QString>("path"); // or a whole address
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("userInitiated");
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QString>("expected"); // a version, part of an error, or empty: silent
        const QByteArray same = appcastFeed("<item><sparkle:version>1.0</sparkle:version></item>");
        const QByteArray linked = appcastFeed("<item><sparkle:version>1.2</sparkle:version>"
                                              "<sparkle:releaseNotesLink>@/notes"
                                              "</sparkle:releaseNotesLink></item>");
        const QByteArray unreadable =
            appcastFeed("<item><sparkle:version>new</sparkle:version></item>");
        // clang-format off
        QTest::newRow("newer") << "/feed" << 200 << newerFeed << false << "" << "1.2";
        QTest::newRow("notes by link") << "/feed" << 200 << linked << true << "" << "1.2";
        QTest::newRow("skipped, background") << "/feed" << 200 << newerFeed << false << "1.2" << "";
        QTest::newRow("skipped, asked") << "/feed" << 200 << newerFeed << true << "1.2" << "1.2";
        QTest::newRow("older one skipped") << "/feed" << 200 << newerFeed << false << "1.1" << "1.2";
        QTest::newRow("up to date, background") << "/feed" << 200 << same << false << "" << "";
        QTest::newRow("server error") << "/feed" << 500 << QByteArray("oops") << true << "" << "HTTP 500";
        QTest::newRow("server error, background") << "/feed" << 500 << QByteArray() << false << "" << "";
        QTest::newRow("malformed") << "/feed" << 200 << QByteArray("<rss><channel>") << true << "" << "not valid XML";
        QTest::newRow("no items") << "/feed" << 200 << appcastFeed("") << true << "" << "no releases";
        QTest::newRow("no readable version") << "/feed" << 200 << unreadable << true << "" << "no version";
        QTest::newRow("oversized") << "/feed" << 200 << QByteArray(2 << 20, ' ') << true << "" << "larger than 1 MB";
        QTest::newRow("redirect to http") << "/redirect" << 200 << newerFeed << true << "" << "without HTTPS";
        QTest::newRow("http elsewhere") << "http://192.0.2.1/feed" << 200 << newerFeed << true << "" << "must use HTTPS";
        QTest::newRow("unreachable") << "https://127.0.0.1:1/" << 200 << newerFeed << true << "" << "could not be reached";
        // clang-format on
    }
    void check()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, userInitiated);
        QFETCH(QString, skipped);
        QFETCH(QString, expected);
        Fixture f;
        QVERIFY(f.make(path));
        f.server.route("/feed", {status, body.replace("@", f.server.url({}).toEncoded())});
        if (!skipped.isEmpty())
            f.defaults.setObject(skipped, "SUSkippedVersion");
        QSignalSpy results(f.updater.get(), &Updater::checkFinished);

        userInitiated ? f.updater->checkForUpdates() : f.updater->checkForUpdatesInBackground();
        QVERIFY(!f.updater->canCheckForUpdates());
        QTRY_VERIFY(f.updater->canCheckForUpdates());
        QVERIFY(f.updater->lastUpdateCheckDate().has_value());
        QCOMPARE(results.size(), expected.isEmpty() ? 0 : 1);
        if (expected.isEmpty())
            return;
        const auto result = results.at(0).at(0).value<UpdateCheckResult>();
        QCOMPARE(result.userInitiated, userInitiated);
        if (result.kind == UpdateCheckResult::Kind::UpdateAvailable) {
            QCOMPARE(result.item.version, expected);
            QCOMPARE(result.releaseNotes, QString("<p>Faster scans</p>"));
        } else {
            QCOMPARE(result.kind, UpdateCheckResult::Kind::Failed);
            QVERIFY2(result.error.contains(expected), qPrintable(result.error));
        }
    }

    void feedMustBeConfigured()
    {
        for (const char *feed : {"", " ", "https://REPLACE-ME.x.org/a.xml"})
            QVERIFY(!Updater::isFeedConfigured(QLatin1String(feed)));
        // The preference, when set, wins over the built-in address.
        Fixture f;
        f.defaults.setObject("https://x.org/a.xml", "SUFeedURL");
        Updater updater(f.defaults, "", "1.0");
        updater.startUpdater();
        QVERIFY(updater.canCheckForUpdates());
    }

    void slowServer()
    {
        Fixture f;
        QVERIFY(f.make("/feed", {200, {}, {}, true}));
        f.updater->setTimeoutMs(200);
        QSignalSpy results(f.updater.get(), &Updater::checkFinished);
        f.updater->checkForUpdates();
        f.updater->checkForUpdates(); // ignored while the first runs
        QTRY_COMPARE(results.size(), 1);
        QVERIFY(results.at(0).at(0).value<UpdateCheckResult>().error.contains("in time"));
        QCOMPARE(f.server.requests(), 1);
    }

    void automaticChecks_data()
    {
        QTest::addColumn<int>("hoursSinceLastCheck"); // 0: never checked
        QTest::addColumn<bool>("checksNow");
        QTest::newRow("never checked") << 0 << true;
        QTest::newRow("two days ago") << 48 << true;
        QTest::newRow("an hour ago") << 1 << false;
        QTest::newRow("clock went back") << -48 << true;
    }
    void automaticChecks()
    {
        QFETCH(int, hoursSinceLastCheck);
        QFETCH(bool, checksNow);
        Fixture f;
        QVERIFY(f.make("/feed", {200, newerFeed}));
        f.updater->setAutomaticallyChecksForUpdates(true);
        if (hoursSinceLastCheck != 0)
            f.defaults.setObject(
                QDateTime::currentDateTimeUtc().addSecs(-hoursSinceLastCheck * 3600),
                "SULastCheckTime");
        f.updater->scheduleAutomaticChecks();
        QCOMPARE(!f.updater->canCheckForUpdates(), checksNow);
        QTRY_VERIFY(f.updater->canCheckForUpdates());
        QCOMPARE(f.server.requests(), checksNow ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
