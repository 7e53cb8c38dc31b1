#include "TestSupport.h"

#include "platform/Preferences.h"
#include "tags/TagStore.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

QVariantList ints(std::initializer_list<qint64> values)
{
    QVariantList list;
    for (qint64 value : values)
        list.append(value);
    return list;
}

const FinderTagSet red{FinderTag::Red};
const FinderTagSet blue{FinderTag::Blue};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};

} // namespace

class TestTagStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_prefs;

    QString prefsPath() const { return m_dir->filePath(s("prefs.plist")); }
    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QString file(const QString &relative) const
    {
        TestSupport::writeFile(path(relative), "x");
        return path(relative);
    }
    // A fresh store and preferences object over the same file, as after a restart.
    std::unique_ptr<TagStore> reopen()
    {
        m_prefs->flush();
        m_prefs = std::make_unique<Preferences>(prefsPath());
        return std::make_unique<TagStore>(*m_prefs);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_prefs = std::make_unique<Preferences>(prefsPath());
    }
    void cleanup()
    {
        m_prefs.reset();
        m_dir.reset();
    }

    void setTagsStoresSortedRawValues()
    {
        TagStore store(*m_prefs);
        QSignalSpy tagsSpy(&store, &TagStore::tagsChanged);
        QSignalSpy revisionSpy(&store, &TagStore::revisionChanged);

        store.setTags({FinderTag::Blue, FinderTag::Red}, fileUrl(s("/a/b.wav")));
        QCOMPARE(store.tags(), (TagMap{{s("/a/b.wav"), {0, 4}}}));
        QCOMPARE(store.revision(), 1);
        QCOMPARE(tagsSpy.count(), 1);
        QCOMPARE(revisionSpy.count(), 1);
        QCOMPARE(revisionSpy.first().first().toLongLong(), 1);
        QCOMPARE(store.property("revision").toLongLong(), 1);
        QCOMPARE(store.property("tags").value<TagMap>(), store.tags());

        // The same colours through another spelling of the path change nothing.
        store.setTags(redBlue, fileUrl(s("/a/./x/../b.wav/")));
        QCOMPARE(store.revision(), 1);
        QCOMPARE(tagsSpy.count(), 1);
        QCOMPARE(revisionSpy.count(), 1);
        QCOMPARE(store.tagsFor(fileUrl(s("/a/x/../b.wav"))), redBlue);

        store.setTags({}, fileUrl(s("/nothing/here.wav")));
        QCOMPARE(store.revision(), 1);

        QCOMPARE(reopen()->tags(), (TagMap{{s("/a/b.wav"), {0, 4}}}));
    }

    void removingTheLastColourRemovesEntryAndBookmark()
    {
        const QString a = file(s("a.wav"));
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(a));
        QVERIFY(store.bookmarks().contains(a));
        store.setTags(redBlue, fileUrl(a));
        store.setTags({}, fileUrl(a));
        QVERIFY(store.tags().isEmpty());
        QVERIFY(store.bookmarks().isEmpty());
        QCOMPARE(store.revision(), 3);
        const std::unique_ptr<TagStore> again = reopen();
        QVERIFY(again->tags().isEmpty());
        QVERIFY(again->bookmarks().isEmpty());
        QCOMPARE(again->revision(), 0);
    }

    void itemsThatDoNotExistAreTaggedWithoutBookmark()
    {
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(path(s("missing.wav"))));
        QCOMPARE(store.tags().size(), 1);
        QVERIFY(store.bookmarks().isEmpty());
    }

    void load_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<TagMap>("expected");
        QTest::addColumn<bool>("migrates");

        QTest::newRow("invalid values dropped, rest sorted")
            << QVariantMap{{TagStore::tagsKey,
                            QVariantMap{{s("/a"), ints({6, 0, 0, 9})}, {s("/b"), ints({9})}}}}
            << TagMap{{s("/a"), {0, 6}}} << false;
        QTest::newRow("malformed entries dropped")
            << QVariantMap{{TagStore::tagsKey,
                            QVariantMap{{s("/text"), s("red")},
                                        {s("/one"), qint64(3)},
                                        {s("/mixed"), QVariantList{qint64(1), s("2")}},
                                        {s("/real"), QVariantList{1.5}},
                                        {s("/empty"), QVariantList{}},
                                        {s("/nested"), QVariantList{ints({1})}},
                                        {s("/fine"), ints({5, 5, 2})}}}}
            << TagMap{{s("/fine"), {2, 5}}} << false;
        QTest::newRow("keys normalised, first wins")
            << QVariantMap{{TagStore::tagsKey, QVariantMap{{s("/x/y"), ints({1})},
                                                           {s("/x/y/"), ints({2})},
                                                           {s("/x/./z/../w"), ints({3})}}}}
            << TagMap{{s("/x/y"), {1}}, {s("/x/w"), {3}}} << false;
        QTest::newRow("path with a line feed")
            << QVariantMap{{TagStore::tagsKey, QVariantMap{{s("/x/a\nb.wav"), ints({4})}}}}
            << TagMap{{s("/x/a\nb.wav"), {4}}} << false;
        QTest::newRow("older format")
            << QVariantMap{{TagStore::legacyTagsKey, QVariantMap{{s("/a"), qint64(3)},
                                                                 {s("/b"), qint64(7)},
                                                                 {s("/c"), s("3")},
                                                                 {s("/d/"), qint64(0)}}}}
            << TagMap{{s("/a"), {3}}, {s("/d"), {0}}} << true;
        QTest::newRow("older format, nothing valid")
            << QVariantMap{{TagStore::legacyTagsKey, QVariantMap{{s("/b"), qint64(-1)}}}}
            << TagMap() << false;
        QTest::newRow("older format ignored once the new key exists")
            << QVariantMap{{TagStore::tagsKey, QVariantMap()},
                           {TagStore::legacyTagsKey, QVariantMap{{s("/a"), qint64(3)}}}}
            << TagMap() << false;
        QTest::newRow("new key of the wrong type reads as absent")
            << QVariantMap{{TagStore::tagsKey, s("oops")},
                           {TagStore::legacyTagsKey, QVariantMap{{s("/a"), qint64(2)}}}}
            << TagMap{{s("/a"), {2}}} << true;
        QTest::newRow("nothing stored") << QVariantMap() << TagMap() << false;
    }
    void load()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(TagMap, expected);
        QFETCH(bool, migrates);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            m_prefs->setObject(it.value(), it.key());
        const std::unique_ptr<TagStore> store = reopen();
        QCOMPARE(store->tags(), expected);
        QCOMPARE(store->revision(), 0);
        QCOMPARE(m_prefs->objectForKey(TagStore::tagsKey).isValid(),
                 migrates || stored.contains(TagStore::tagsKey));
        if (migrates) {
            QVERIFY(m_prefs->dictionaryForKey(TagStore::bookmarksKey).has_value());
            // The older key stays for older versions of the application.
            QCOMPARE(m_prefs->objectForKey(TagStore::legacyTagsKey),
                     stored.value(TagStore::legacyTagsKey));
            QCOMPARE(reopen()->tags(), expected);
        }
    }

    void loadKeepsOnlyBookmarkData()
    {
        m_prefs->setObject(QVariantMap{{s("/a"), ints({1})}, {s("/b"), ints({2})}},
                           TagStore::tagsKey);
        m_prefs->setObject(QVariantMap{{s("/a/"), QByteArray("data-a")},
                                       {s("/a/."), QByteArray("second")},
                                       {s("/b"), s("text")}},
                           TagStore::bookmarksKey);
        const std::unique_ptr<TagStore> store = reopen();
        QCOMPARE(store->bookmarks(), (TagBookmarkMap{{s("/a"), QByteArray("data-a")}}));
    }

    void tagsForLooksUpUnchangedThenNormalised()
    {
        m_prefs->setObject(QVariantMap{{s("/a/b"), ints({1})}}, TagStore::tagsKey);
        const std::unique_ptr<TagStore> store = reopen();
        QCOMPARE(store->tagsFor(fileUrl(s("/a/b"))), FinderTagSet{FinderTag::Orange});
        QCOMPARE(store->tagsFor(fileUrl(s("/a/./b/"))), FinderTagSet{FinderTag::Orange});
        QCOMPARE(store->tagsFor(fileUrl(s("/a/c"))), FinderTagSet());
        QCOMPARE(store->tagsFor(QUrl()), FinderTagSet());
    }

    void taggedURLs_data()
    {
        QTest::addColumn<FinderTagSet>("anyOf");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty set") << FinderTagSet() << QStringList();
        QTest::newRow("red") << red << QStringList{s("/r.wav"), s("/rb.wav")};
        QTest::newRow("red or blue")
            << redBlue << QStringList{s("/b.wav"), s("/r.wav"), s("/rb.wav")};
        QTest::newRow("gray") << FinderTagSet{FinderTag::Gray} << QStringList();
    }
    void taggedURLs()
    {
        QFETCH(FinderTagSet, anyOf);
        QFETCH(QStringList, expected);
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(s("/r.wav")));
        store.setTags(blue, fileUrl(s("/b.wav")));
        store.setTags(redBlue, fileUrl(s("/rb.wav")));
        store.setTags({FinderTag::Green}, fileUrl(s("/g.wav")));
        QStringList found;
        for (const QUrl &url : store.taggedURLs(anyOf))
            found.append(url.toLocalFile());
        found.sort();
        QCOMPARE(found, expected);
    }

    void allTaggedItems()
    {
        TagStore store(*m_prefs);
        store.setTags(redBlue, fileUrl(s("/rb.wav")));
        store.setTags({FinderTag::Gray}, fileUrl(s("/S/a\nb")));
        const QHash<QUrl, FinderTagSet> expected{{fileUrl(s("/rb.wav")), redBlue},
                                                 {fileUrl(s("/S/a\nb")), {FinderTag::Gray}}};
        QCOMPARE(store.allTaggedItems(), expected);
        QCOMPARE(reopen()->allTaggedItems(), expected);
    }

    void mergeImported_data()
    {
        QTest::addColumn<FinderTagSet>("stored");
        QTest::addColumn<FinderTagSet>("imported");
        QTest::addColumn<qint64>("changed");
        QTest::addColumn<FinderTagSet>("after");
        QTest::newRow("already has all") << redBlue << blue << qint64(0) << redBlue;
        QTest::newRow("adds, never removes") << red << blue << qint64(1) << redBlue;
        QTest::newRow("new item") << FinderTagSet() << red << qint64(1) << red;
        QTest::newRow("empty import") << red << FinderTagSet() << qint64(0) << red;
    }
    void mergeImported()
    {
        QFETCH(FinderTagSet, stored);
        QFETCH(FinderTagSet, imported);
        QFETCH(qint64, changed);
        QFETCH(FinderTagSet, after);
        const QString item = file(s("item.wav"));
        TagStore store(*m_prefs);
        store.setTags(stored, fileUrl(item));
        const qint64 revision = store.revision();
        QSignalSpy tagsSpy(&store, &TagStore::tagsChanged);
        QCOMPARE(store.mergeImported({{fileUrl(item + s("/")), imported}}), changed);
        QCOMPARE(store.tagsFor(fileUrl(item)), after);
        QCOMPARE(store.revision(), revision + (changed > 0 ? 1 : 0));
        QCOMPARE(tagsSpy.count(), changed > 0 ? 1 : 0);
        if (!after.isEmpty())
            QVERIFY(store.bookmarks().contains(item));
    }

    void mergeImportedCountsItemsAndSavesOnce()
    {
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(s("/a.wav")));
        QSignalSpy revisionSpy(&store, &TagStore::revisionChanged);
        const qint64 changed = store.mergeImported({{fileUrl(s("/a.wav")), redBlue},
                                                    {fileUrl(s("/b.wav")), blue},
                                                    {fileUrl(s("/c.wav")), {}},
                                                    {QUrl(s("https://x/y")), red}});
        QCOMPARE(changed, 2);
        QCOMPARE(revisionSpy.count(), 1);
        QCOMPARE(reopen()->tags(), (TagMap{{s("/a.wav"), {0, 4}}, {s("/b.wav"), {4}}}));
    }

    void moveTags_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("folder into another")
            << s("S/Kicks") << s("S/Drums/Kicks")
            << QStringList{s("S/Drums/Kicks"), s("S/Drums/Kicks/k1.wav"), s("S/Kicks2/k.wav"),
                           s("T/t.wav")};
        QTest::newRow("one file") << s("S/Kicks/k1.wav") << s("S/k1.wav")
                                  << QStringList{s("S/Kicks"), s("S/Kicks2/k.wav"), s("S/k1.wav"),
                                                 s("T/t.wav")};
        QTest::newRow("root relinked") << s("S") << s("T/S")
                                       << QStringList{s("T/S/Kicks"), s("T/S/Kicks/k1.wav"),
                                                      s("T/S/Kicks2/k.wav"), s("T/t.wav")};
        QTest::newRow("nothing below")
            << s("Q") << s("R")
            << QStringList{s("S/Kicks"), s("S/Kicks/k1.wav"), s("S/Kicks2/k.wav"), s("T/t.wav")};
    }
    void moveTags()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QStringList, expected);
        TagStore store(*m_prefs);
        const QStringList items{s("S/Kicks"), s("S/Kicks/k1.wav"), s("S/Kicks2/k.wav"),
                                s("T/t.wav")};
        for (const QString &item : items) {
            if (item.endsWith(s(".wav")))
                file(item);
            else
                QVERIFY(QDir().mkpath(path(item)));
            store.setTags(red, fileUrl(path(item)));
        }
        QCOMPARE(store.bookmarks().size(), 4);
        const qint64 revision = store.revision();

        // The application has already moved the item when it re-keys its tags.
        if (QFileInfo::exists(path(from))) {
            QDir().mkpath(QFileInfo(path(to)).absolutePath());
            QVERIFY(QDir().rename(path(from), path(to)));
        }
        store.moveTags(fileUrl(path(from) + s("/")), fileUrl(path(to)));
        QStringList keys;
        for (const QString &key : store.tags().keys())
            keys.append(QDir(m_dir->path()).relativeFilePath(key));
        QCOMPARE(keys, expected);
        const bool moved = from != s("Q");
        QCOMPARE(store.revision(), revision + (moved ? 1 : 0));
        QCOMPARE(store.bookmarks().keys(), store.tags().keys());
        QCOMPARE(reopen()->tags().keys(), store.tags().keys());
    }

    void moveTagsReplacesTagsAtTheDestination()
    {
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(s("/x/a.wav")));
        store.setTags(blue, fileUrl(s("/x/b.wav")));
        store.moveTags(fileUrl(s("/x/a.wav")), fileUrl(s("/x/b.wav")));
        QCOMPARE(store.tags(), (TagMap{{s("/x/b.wav"), {0}}}));
        store.moveTags(fileUrl(s("/x/b.wav")), fileUrl(s("/x/./b.wav")));
        QCOMPARE(store.revision(), 3);
    }

    void relocateMovedItems()
    {
        const QString root = path(s("Root"));
        const QString inside = file(s("Root/Kicks/k1.wav"));
        const QString leaving = file(s("Root/Kicks/k2.wav"));
        const QString occupied = file(s("Root/Kicks/k3.wav"));
        const QString staying = file(s("Root/s.wav"));
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(inside));
        store.setTags(blue, fileUrl(leaving));
        store.setTags(red, fileUrl(occupied));
        store.setTags(blue, fileUrl(staying));
        store.setTags(blue, fileUrl(path(s("Root/never-existed.wav"))));
        const qint64 revision = store.revision();

        const auto relocate = [&store](const QList<QUrl> &roots) {
            store.relocateMovedItems(roots);
            QTRY_VERIFY(!store.isRelocating());
        };
        // Nothing moved yet: nothing to do.
        relocate({fileUrl(root)});
        QCOMPARE(store.revision(), revision);

        QVERIFY(QDir().mkpath(path(s("Root/Moved"))));
        QVERIFY(QFile::rename(inside, path(s("Root/Moved/k1.wav"))));
        QVERIFY(QDir().mkpath(path(s("Away"))));
        QVERIFY(QFile::rename(leaving, path(s("Away/k2.wav"))));
        // Moved onto an item that is tagged already: the tags found there win.
        store.setTags({FinderTag::Gray}, fileUrl(path(s("Root/Moved/k3.wav"))));
        QVERIFY(QFile::rename(occupied, path(s("Root/Moved/k3.wav"))));
        const qint64 before = store.revision();

        relocate({});
        QCOMPARE(store.revision(), before);
        relocate({fileUrl(root + s("/"))});
        QCOMPARE(store.revision(), before + 1);
        const TagMap tags = store.tags();
        QCOMPARE(tags.value(path(s("Root/Moved/k1.wav"))), QList<qint64>{0});
        QVERIFY(!tags.contains(inside));
        QVERIFY(tags.contains(leaving)); // moved outside every root
        QCOMPARE(tags.value(path(s("Root/Moved/k3.wav"))), QList<qint64>{6});
        QVERIFY(tags.contains(occupied));
        QVERIFY(tags.contains(staying));
        QVERIFY(store.bookmarks().contains(path(s("Root/Moved/k1.wav"))));
        QVERIFY(!store.bookmarks().contains(inside));

        // A second pass finds nothing new.
        relocate({fileUrl(root)});
        QCOMPARE(store.revision(), before + 1);
        QCOMPARE(reopen()->tags(), tags);
    }

    // Bookmark searches touch the disk: they run off the GUI thread, and one that failed is not
    // repeated until a folder it read changes.
    void relocationSearchesInTheBackgroundOnce()
    {
        const QString root = path(s("q/r/Root"));
        TagStore store(*m_prefs);
        store.setTags(red, fileUrl(file(s("q/r/Root/Kit/a.wav"))));
        store.setTags(blue, fileUrl(file(s("q/r/Root/Kit/b.wav"))));
        QList<QThread *> threads;
        QMutex mutex;
        store.setResolver([&](const QByteArray &data, Bookmark::SearchTrace *searched) {
            QMutexLocker lock(&mutex);
            threads.append(QThread::currentThread());
            return Bookmark::resolve(data, searched);
        });
        const auto searches = [&] {
            QMutexLocker lock(&mutex);
            return threads.size();
        };
        QVERIFY(QDir(path(s("q/r/Root/Kit"))).removeRecursively());
        store.relocateMovedItems({fileUrl(root)});
        QTRY_VERIFY(!store.isRelocating());
        QCOMPARE(searches(), 2);
        QVERIFY(!threads.contains(QThread::currentThread()));
        store.relocateMovedItems({fileUrl(root)});
        QTRY_VERIFY(!store.isRelocating());
        QCOMPARE(searches(), 2);
        file(s("q/r/Root/new.wav"));
        store.relocateMovedItems({fileUrl(root)});
        QTRY_VERIFY(!store.isRelocating());
        QCOMPARE(searches(), 4);
        QCOMPARE(store.tags().size(), 2);
    }

    void pruneOutside_data()
    {
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<QStringList>("kept");
        const QStringList all{s("/A"), s("/A/a.wav"), s("/AB/b.wav"), s("/C/c.wav")};
        QTest::newRow("no roots keep everything") << QStringList() << all;
        QTest::newRow("by whole components")
            << QStringList{s("/A")} << QStringList{s("/A"), s("/A/a.wav")};
        QTest::newRow("root with trailing slash")
            << QStringList{s("/C/"), s("/A/a.wav")} << QStringList{s("/A/a.wav"), s("/C/c.wav")};
        QTest::newRow("nothing outside") << QStringList{s("/")} << all;
    }
    void pruneOutside()
    {
        QFETCH(QStringList, roots);
        QFETCH(QStringList, kept);
        TagStore store(*m_prefs);
        for (const QString &item : {s("/A"), s("/A/a.wav"), s("/AB/b.wav"), s("/C/c.wav")})
            store.setTags(red, fileUrl(item));
        const QString real = file(s("real.wav"));
        store.setTags(red, fileUrl(real));
        QVERIFY(store.bookmarks().contains(real));
        const qint64 revision = store.revision();

        QList<QUrl> rootUrls;
        for (const QString &root : roots)
            rootUrls.append(fileUrl(root));
        store.pruneOutside(rootUrls);
        QStringList expected = kept;
        if (roots.isEmpty() || roots.contains(s("/")))
            expected.append(real);
        expected.sort();
        QCOMPARE(store.tags().keys(), expected);
        QCOMPARE(store.revision(), revision + (store.tags().size() == 5 ? 0 : 1));
        QCOMPARE(store.bookmarks().contains(real), expected.contains(real));
        QCOMPARE(reopen()->tags().keys(), expected);
    }
};

QTEST_GUILESS_MAIN(TestTagStore)
#include "tst_tag_store.moc"
