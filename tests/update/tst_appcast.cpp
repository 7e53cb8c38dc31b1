// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/Appcast.h"
#include "update/AppcastVersion.h"

#include <QTest>

namespace {

QByteArray feed(const QByteArray &items,
                const QByteArray &ns = "http://www.andymatuschak.org/xml-namespaces/sparkle")
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"" + ns +
           "\"><channel><title>Wavelark</title>" + items + "</channel></rss>";
}

QByteArray item(const QByteArray &version, const QByteArray &extra = {})
{
    return "<item><sparkle:version>" + version + "</sparkle:version>" + extra + "</item>";
}

QByteArray entityBomb()
{
    QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'j'; ++c)
        xml += QByteArray("<!ENTITY ") + c + " \"" +
               QByteArray(10, '*').replace("*", QByteArray("&") + char(c - 1) + ";") + "\">";
    return xml + "]><rss><channel><item><title>&j;</title></item></channel></rss>";
}

} // namespace

class TestAppcast final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionOrder_data()
    {
        QTest::addColumn<QString>("older");
        QTest::addColumn<QString>("newer");
        const char *const pairs[][2] = {
            {"1.9", "1.10"},
            {"1.0b2", "1.0"},
            {"1.0b2", "1.0b10"},
            {"1.0a9", "1.0b1"},
            {"1.0 beta", "1.0"},
            {"1.0", "1.0.1"},
            {"99", "100"},
            {"2.0rc1", "2.0.1"},
            {"1.99999999999999999999", "1.100000000000000000000"},
        };
        for (const auto &pair : pairs)
            QTest::addRow("%s < %s", pair[0], pair[1]) << pair[0] << pair[1];
    }
    void versionOrder()
    {
        QFETCH(QString, older);
        QFETCH(QString, newer);
        QVERIFY(AppcastVersion::compare(older, newer) < 0);
        QVERIFY(AppcastVersion::compare(newer, older) > 0);
        QCOMPARE(AppcastVersion::compare(newer, newer), 0);
        QCOMPARE(AppcastVersion::compare("1.007", "1.7"), 0);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("newest"); // empty: no item can be offered
        QTest::addColumn<QString>("download");
        QTest::addColumn<QString>("shown");
        const QByteArray builds =
            "<sparkle:shortVersionString>1.1 Final</sparkle:shortVersionString>"
            "<enclosure url=\"https://x.org/mac\" sparkle:os=\"macos\"/>"
            "<enclosure url=\"https://x.org/any\"/>"
            "<enclosure url=\"https://x.org/lin\" sparkle:os=\"linux\"/>";
        const QByteArray onEnclosure = "<item><enclosure url=\"https://x.org/a\" sparkle:version="
                                       "\"7\" sparkle:shortVersionString=\"0.7\"/></item>";
        const QByteArray linked =
            "<link>https://x.org/3</link><enclosure url=\"https://x.org/3.t\"/>";
        const QByteArray macOnly = "<enclosure url=\"https://x.org/4\" sparkle:os=\"macos\"/>";
        const QByteArray hostile =
            "<link>javascript:alert(1)</link><enclosure url=\"file:///etc\"/>";
        const QByteArray unreadable =
            item("latest") + item("v2") + item("1.0&lt;b&gt;") + item("1.\xef\xbc\x92");
        // clang-format off
        QTest::newRow("linux build preferred") << feed(item("1.2") + item("1.10", builds)) << false << "1.10" << "https://x.org/lin" << "1.1 Final";
        QTest::newRow("versions on the enclosure") << feed(onEnclosure) << false << "7" << "https://x.org/a" << "0.7";
        QTest::newRow("link before enclosure") << feed(item("3", linked)) << false << "3" << "https://x.org/3" << "3";
        QTest::newRow("other system's build only") << feed(item("4", macOnly)) << false << "4" << "" << "4";
        QTest::newRow("hostile addresses") << feed(item("5", hostile)) << false << "5" << "" << "5";
        QTest::newRow("wrong namespace") << feed(item("2"), "http://x.org/other") << false << "" << "" << "";
        QTest::newRow("items without version") << feed("<item><title>A</title></item>") << false << "" << "" << "";
        QTest::newRow("unreadable versions") << feed(unreadable) << false << "" << "" << "";
        QTest::newRow("truncated") << feed(item("1.1")).chopped(20) << true << "" << "" << "";
        QTest::newRow("not a feed") << QByteArray("<html>Hi</html>") << true << "" << "" << "";
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n") << true << "" << "" << "";
        QTest::newRow("huge") << feed(item("9", QByteArray(1024 * 1024, ' '))) << true << "" << "" << "";
        QTest::newRow("entity expansion") << entityBomb() << true << "" << "" << "";
        // clang-format on
    }
    void parse()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, fails);
        QFETCH(QString, newest);
        QFETCH(QString, download);
        QFETCH(QString, shown);
        const Appcast::ParseResult result = Appcast::parse(xml);
        QCOMPARE(!result.error.isEmpty(), fails);
        const std::optional<AppcastItem> found = Appcast::newestItem(result.items);
        QCOMPARE(found.has_value(), !newest.isEmpty());
        if (!found)
            return;
        QCOMPARE(found->version, newest);
        QCOMPARE(found->downloadPage().toString(), download);
        QCOMPARE(found->displayVersion(), shown);
    }

    void releaseNotes()
    {
        // Scripts go in any case, across lines, and when never closed, up to the end.
        QCOMPARE(Appcast::sanitizedReleaseNotes("<p>A</p><SCRIPT src=a.js></SCRIPT ><p>B</p>"
                                                "<script\n>x\n</script><p>C</p><script>while(1){}"),
                 QString("<p>A</p><p>B</p><p>C</p>"));
    }
};

QTEST_GUILESS_MAIN(TestAppcast)
#include "tst_appcast.moc"
