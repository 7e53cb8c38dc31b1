// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DataRows.h"
#include "ModelFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {
const FinderTagSet red{FinderTag::Red};
const FinderTagSet blue{FinderTag::Blue};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};

QVariantList ints(std::initializer_list<qint64> values)
{
    return QVariantList(values.begin(), values.end());
}
} // namespace

class TestTagStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ModelFixture> m_f;

    QString path(const QString &relative) const { return m_f->path(relative); }
    QUrl url(const QString &relative) const { return m_f->url(relative); }
    QUrl file(const QString &relative) const { return QUrl::fromLocalFile(m_f->touch(relative)); }
    TagStore &reopen()
    {
        m_f->restart();
        return *m_f->store;
    }
    // "path:raw values" per entry, paths relative to the test folder; a "*" marks a bookmark.
    QStringList dump() const
    {
        QStringList lines;
        const TagMap tags = m_f->store->tags();
        for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
            QStringList values;
            for (qint64 value : it.value())
                values.append(QString::number(value));
            lines.append(
                QDir(m_f->dir.path()).relativeFilePath(it.key()) + ':' + values.join(',') +
                (m_f->store->bookmarks().contains(it.key()) ? QStringLiteral("*") : QString()));
        }
        return lines;
    }

private Q_SLOTS:
    void init() { m_f = std::make_unique<ModelFixture>(); }

    void setTagsStoresSortedRawValues()
    {
        TagStore &store = *m_f->store;
        QSignalSpy revisions(&store, &TagStore::revisionChanged);
        store.setTags({FinderTag::Blue, FinderTag::Gray, FinderTag::Red}, file("a.wav"));
        store.setTags({FinderTag::Gray}, url("S/a\nb"));
        // The same colours through another spelling of the path, or none for an untagged item,
        // change nothing.
        store.setTags({FinderTag::Red, FinderTag::Gray, FinderTag::Blue}, url("x/../a.wav/"));
        store.setTags({}, url("nothing.wav"));
        QCOMPARE(revisions.count(), 2);
        QCOMPARE(revisions.last().first().toLongLong(), 2);
        QCOMPARE(dump(), rowList("S/a\nb:6|a.wav:0,4,6*"));
        QCOMPARE(store.tagsFor(url("./a.wav")),
                 (FinderTagSet{FinderTag::Red, FinderTag::Blue, FinderTag::Gray}));
        QCOMPARE(store.allTaggedItems().value(url("S/a\nb")), FinderTagSet{FinderTag::Gray});
        QVERIFY(store.taggedURLs({}).isEmpty());
        QCOMPARE(store.mergeImported({{url("b.wav"), {}}, {QUrl("https://x/y"), red}}), 0);
        QCOMPARE(reopen().allTaggedItems().size(), 2);
        QCOMPARE(dump(), rowList("S/a\nb:6|a.wav:0,4,6*"));
        // Removing the last colour removes the entry and its bookmark.
        m_f->store->setTags({}, url("a.wav"));
        QCOMPARE(m_f->store->revision(), 1);
        reopen();
        QCOMPARE(dump(), rowList("S/a\nb:6"));
        QVERIFY(m_f->store->bookmarks().isEmpty());
    }

    void load_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<TagMap>("expected");
        QTest::addColumn<bool>("migrates");
        const QString v2 = TagStore::tagsKey, legacy = TagStore::legacyTagsKey;
        QTest::newRow("invalid and malformed entries dropped, valid values kept, sorted")
            << QVariantMap{{v2, QVariantMap{{"/a", ints({6, 0, 0, 9})},
                                            {"/b", ints({9})},
                                            {"/text", "red"},
                                            {"/one", qint64(3)},
                                            {"/mixed", QVariantList{qint64(1), "2"}},
                                            {"/real", QVariantList{1.5}},
                                            {"/empty", QVariantList{}},
                                            {"/nested", QVariantList{ints({1})}}}}}
            << TagMap{{"/a", {0, 6}}, {"/mixed", {1}}} << false;
        QTest::newRow("keys normalised, first wins")
            << QVariantMap{{v2, QVariantMap{{"/x/y", ints({1})},
                                            {"/x/y/", ints({2})},
                                            {"/x/./z/../w", ints({3})}}}}
            << TagMap{{"/x/y", {1}}, {"/x/w", {3}}} << false;
        QTest::newRow("older format") << QVariantMap{{legacy, QVariantMap{{"/a", qint64(3)},
                                                                          {"/b", qint64(7)},
                                                                          {"/c", "3"},
                                                                          {"/d/", qint64(0)}}}}
                                      << TagMap{{"/a", {3}}, {"/d", {0}}} << true;
        QTest::newRow("older format, nothing valid")
            << QVariantMap{{legacy, QVariantMap{{"/b", qint64(-1)}}}} << TagMap() << false;
        QTest::newRow("older format ignored once the new key exists")
            << QVariantMap{{v2, QVariantMap()}, {legacy, QVariantMap{{"/a", qint64(3)}}}}
            << TagMap() << false;
        QTest::newRow("new key of the wrong type reads as absent")
            << QVariantMap{{v2, "oops"}, {legacy, QVariantMap{{"/a", qint64(2)}}}}
            << TagMap{{"/a", {2}}} << true;
    }
    void load()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(TagMap, expected);
        QFETCH(bool, migrates);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            m_f->prefs->setObject(it.value(), it.key());
        m_f->prefs->setObject(QVariantMap{{"/a/", QByteArray("data-a")},
                                          {"/a/.", QByteArray("second")},
                                          {"/b", "text"}},
                              TagStore::bookmarksKey);
        TagStore &store = reopen();
        QCOMPARE(store.tags(), expected);
        QCOMPARE(store.revision(), 0);
        if (expected.contains("/a"))
            QCOMPARE(store.bookmarks(), (TagBookmarkMap{{"/a", QByteArray("data-a")}}));
        // Migrated tags are written in the new format; the older key stays for older versions.
        QCOMPARE(m_f->prefs->objectForKey(TagStore::tagsKey).isValid(),
                 migrates || stored.contains(TagStore::tagsKey));
        QCOMPARE(m_f->prefs->objectForKey(TagStore::legacyTagsKey),
                 stored.value(TagStore::legacyTagsKey));
        if (migrates)
            QCOMPARE(reopen().tags(), expected);
    }

    // Every item is tagged red but S/Kicks2/k.wav, which is blue.
    void moveTags_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const char *from, const char *to, const char *dump) {
            QTest::newRow(name) << from << to << rowList(dump);
        };
        row("folder into another", "S/Kicks", "S/Drums/Kicks",
            "S/Drums/Kicks:0*|S/Drums/Kicks/k1.wav:0*|S/Kicks2/k.wav:4*|T/t.wav:0*");
        row("one file", "S/Kicks/k1.wav", "S/k1.wav",
            "S/Kicks:0*|S/Kicks2/k.wav:4*|S/k1.wav:0*|T/t.wav:0*");
        row("root relinked", "S", "T/S",
            "T/S/Kicks:0*|T/S/Kicks/k1.wav:0*|T/S/Kicks2/k.wav:4*|T/t.wav:0*");
        row("onto a tagged item: the moved tags replace its own", "S/Kicks2/k.wav", "T/t.wav",
            "S/Kicks:0*|S/Kicks/k1.wav:0*|T/t.wav:4*");
        row("nothing below", "Q", "R", "S/Kicks:0*|S/Kicks/k1.wav:0*|S/Kicks2/k.wav:4*|T/t.wav:0*");
    }
    void moveTags()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QStringList, expected);
        for (const QString &item : rowList("S/Kicks/k1.wav|S/Kicks2/k.wav|T/t.wav|S/Kicks"))
            m_f->store->setTags(item.contains("k.wav") ? blue : red,
                                item.endsWith(".wav") ? file(item) : url(item));
        const qint64 revision = m_f->store->revision();
        m_f->store->moveTags(url("T/t.wav"), url("T/./t.wav")); // onto itself: nothing
        // The application has already moved the item when it re-keys its tags.
        if (QFileInfo::exists(path(from))) {
            QDir().mkpath(QFileInfo(path(to)).absolutePath());
            QFile::remove(path(to));
            QVERIFY(QDir().rename(path(from), path(to)));
        }
        m_f->store->moveTags(QUrl(url(from).toString() + "/"), url(to));
        QCOMPARE(dump(), expected);
        QCOMPARE(m_f->store->revision(), revision + (from != "Q" ? 1 : 0));
        reopen();
        QCOMPARE(dump(), expected);
    }

    // Searches for moved items touch the disk: they run off the GUI thread, and one that failed is
    // not repeated until a folder it read changes. g lies deep enough that its search, which
    // looks below the three nearest folders above its own, stays inside Root, away from the
    // preferences file.
    void relocateMovedItems()
    {
        TagStore &store = *m_f->store;
        store.setTags(red, file("Root/Kicks/k1.wav"));
        store.setTags(blue, file("Root/Kicks/k2.wav"));
        store.setTags(red, file("Root/Kicks/k3.wav"));
        store.setTags(blue, file("Root/s.wav"));
        store.setTags(red, file("Root/q/r/Gone/g.wav"));
        store.setTags(blue, url("Root/never-existed.wav"));
        std::atomic<int> searches = 0;
        std::atomic<bool> onGuiThread = false;
        store.setResolver([&, resolve = TagRelocation::defaultResolver()](
                              const QByteArray &data, Bookmark::SearchTrace *searched,
                              FolderListingCache &listings) {
            ++searches;
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                onGuiThread = true;
            return resolve(data, searched, listings);
        });
        const auto relocate = [&](const QList<QUrl> &roots) {
            store.relocateMovedItems(roots);
            [&] { QTRY_VERIFY(!store.isRelocating()); }();
            return store.revision();
        };
        const qint64 revision = store.revision();
        QCOMPARE(relocate({url("Root")}), revision); // nothing moved yet
        QCOMPARE(searches.load(), 0);
        QVERIFY(QDir().mkpath(path("Root/Moved")) && QDir().mkpath(path("Away")));
        QVERIFY(QFile::rename(path("Root/Kicks/k1.wav"), path("Root/Moved/k1.wav")));
        QVERIFY(QFile::rename(path("Root/Kicks/k2.wav"), path("Away/k2.wav")));
        QVERIFY(QDir(path("Root/q/r/Gone")).removeRecursively());
        // Moved onto an item that is tagged already: the tags found there win.
        store.setTags({FinderTag::Gray}, url("Root/Moved/k3.wav"));
        QVERIFY(QFile::rename(path("Root/Kicks/k3.wav"), path("Root/Moved/k3.wav")));
        QCOMPARE(relocate({}), revision + 1);
        QCOMPARE(relocate({QUrl(url("Root").toString() + "/")}), revision + 2);
        QCOMPARE(searches.load(), 4);
        QVERIFY(!onGuiThread);
        // k2 moved outside every root; g is nowhere.
        const QStringList expected = rowList("Root/Kicks/k2.wav:4*|Root/Kicks/k3.wav:0*|"
                                             "Root/Moved/k1.wav:0*|Root/Moved/k3.wav:6|"
                                             "Root/never-existed.wav:4|Root/q/r/Gone/g.wav:0*|"
                                             "Root/s.wav:4*");
        QCOMPARE(dump(), expected);
        // A second pass finds nothing new and looks for k2 and k3 only; a change in Root, where
        // the search for g looked, makes it look again.
        QCOMPARE(relocate({url("Root")}), revision + 2);
        QCOMPARE(searches.load(), 6);
        file("Root/new.wav");
        relocate({url("Root")});
        QCOMPARE(searches.load(), 9);
        reopen();
        QCOMPARE(dump(), expected);
    }

    void pruneOutside_data()
    {
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<QStringList>("kept");
        const QStringList all = rowList("A:0|A/a.wav:0|AB/b.wav:0|C/c.wav:0|real.wav:0*");
        QTest::newRow("no roots keep everything") << QStringList() << all;
        QTest::newRow("by whole components") << rowList("A") << rowList("A:0|A/a.wav:0");
        QTest::newRow("root with trailing slash")
            << rowList("C/|A/a.wav") << rowList("A/a.wav:0|C/c.wav:0");
        QTest::newRow("nothing outside") << rowList("/") << all;
    }
    void pruneOutside()
    {
        QFETCH(QStringList, roots);
        QFETCH(QStringList, kept);
        for (const QString &item : rowList("A|A/a.wav|AB/b.wav|C/c.wav"))
            m_f->store->setTags(red, url(item));
        m_f->store->setTags(red, file("real.wav"));
        const qint64 revision = m_f->store->revision();
        QList<QUrl> rootUrls;
        for (const QString &root : roots)
            rootUrls.append(root == "/" ? QUrl::fromLocalFile(root) : url(root));
        m_f->store->pruneOutside(rootUrls);
        QCOMPARE(dump(), kept);
        QCOMPARE(m_f->store->revision(), revision + (kept.size() == 5 ? 0 : 1));
        reopen();
        QCOMPARE(dump(), kept);
    }
};

QTEST_GUILESS_MAIN(TestTagStore)
#include "tst_tag_store.moc"
