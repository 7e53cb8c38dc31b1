#include "TagTestSupport.h"
#include "TestSupport.h"

#include "model/BrowserModel.h"
#include "platform/Preferences.h"
#include "tags/FinderTagsIO.h"
#include "tags/TagStore.h"
#include "tags/XdgTags.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

using namespace TagTestSupport;

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

const FinderTagSet red{FinderTag::Red};
const FinderTagSet redBlue{FinderTag::Red, FinderTag::Blue};

// Lets the model's own background jobs (index read and build) finish before it goes away.
struct SettleThenDelete
{
    void operator()(BrowserModel *model) const
    {
        for (int round = 0; round < 5; ++round) {
            QThreadPool::globalInstance()->waitForDone();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        delete model;
    }
};
using ModelPtr = std::unique_ptr<BrowserModel, SettleThenDelete>;

} // namespace

class TestBrowserModelFinderTags : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_prefs;
    std::unique_ptr<TagStore> m_store;

    QString path(const QString &relative) const { return m_dir->filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }
    QString file(const QString &relative) const
    {
        TestSupport::writeFile(path(relative), "x");
        return path(relative);
    }
    ModelPtr makeModel(TagStore *store, const QStringList &roots = {})
    {
        ModelPtr model(new BrowserModel(*m_prefs, path(s("index.plist")), false, store));
        for (const QString &root : roots)
            model->addRoot(url(root));
        return model;
    }

    static std::optional<qint64> importNow(BrowserModel &model)
    {
        std::optional<qint64> changed;
        model.importFinderTags([&changed](qint64 count) {
            QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
            changed = count;
        });
        if (!QTest::qWaitFor([&] { return changed.has_value(); }, 20000))
            return std::nullopt;
        return changed;
    }

    static std::optional<BrowserModel::ExportSummary> exportNow(BrowserModel &model,
                                                                bool allowDefaultNames)
    {
        std::optional<BrowserModel::ExportSummary> summary;
        model.exportFinderTags(allowDefaultNames, [&summary](BrowserModel::ExportSummary result) {
            QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
            summary = result;
        });
        if (!QTest::qWaitFor([&] { return summary.has_value(); }, 20000))
            return std::nullopt;
        return summary;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QTemporaryDir probe;
        if (!userAttributesWork(probe.path()))
            QSKIP("the temporary folder's file system has no user attributes");
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_prefs = std::make_unique<Preferences>(path(s("prefs.plist")));
        m_store = std::make_unique<TagStore>(*m_prefs);
    }
    void cleanup()
    {
        m_store.reset();
        m_prefs.reset();
        m_dir.reset();
    }

    void withoutTagStoreNothingHappens()
    {
        QVERIFY(setPythonPlist(file(s("Lib/a.wav")), {s("Red\n6")}));
        const ModelPtr model = makeModel(nullptr, {s("Lib")});
        bool called = false;
        model->importFinderTags([&called](qint64 changed) {
            QCOMPARE(changed, 0);
            called = true;
        });
        QVERIFY(called);
        called = false;
        model->exportFinderTags(true, [&called](BrowserModel::ExportSummary summary) {
            QCOMPARE(summary.filesWritten, 0);
            QCOMPARE(summary.filesFailed, 0);
            QVERIFY(summary.skippedColors.isEmpty());
            called = true;
        });
        QVERIFY(called);
    }

    void importAddsColoursBelowTheRoots()
    {
        const QString a = file(s("Lib/a.wav"));
        const QString b = file(s("Lib/Pack/b.wav"));
        const QString outside = file(s("Other/o.wav"));
        QVERIFY(setPythonPlist(a, {s("Red\n6"), s("Work"), s("Green\n2")}));
        QVERIFY(setPythonPlist(b, {s("Blau\n4")}));
        QVERIFY(setPythonPlist(outside, {s("Red\n6")}));
        m_store->setTags(red, QUrl::fromLocalFile(b));
        const ModelPtr model = makeModel(m_store.get(), {s("Lib")});
        const qint64 revision = m_store->revision();

        QCOMPARE(importNow(*model), std::optional<qint64>(2));
        QCOMPARE(m_store->tagsFor(QUrl::fromLocalFile(a)),
                 (FinderTagSet{FinderTag::Red, FinderTag::Green}));
        QCOMPARE(m_store->tagsFor(QUrl::fromLocalFile(b)), redBlue);
        QCOMPARE(m_store->tagsFor(QUrl::fromLocalFile(outside)), FinderTagSet());
        QCOMPARE(m_store->revision(), revision + 1);
        // Import never writes to files.
        QCOMPARE(pythonStrings(b), std::optional<QStringList>(QStringList{s("Blau\n4")}));

        QCOMPARE(importNow(*model), std::optional<qint64>(0));
        QCOMPARE(m_store->revision(), revision + 1);
    }

    void importWithoutRootsFindsNothing()
    {
        QVERIFY(setPythonPlist(file(s("Lib/a.wav")), {s("Red\n6")}));
        const ModelPtr model = makeModel(m_store.get());
        QCOMPARE(importNow(*model), std::optional<qint64>(0));
        QVERIFY(m_store->tags().isEmpty());
    }

    void exportAddsMissingColours_data()
    {
        QTest::addColumn<bool>("allowDefaultNames");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<qint64>("written");
        QTest::addColumn<FinderTagSet>("skipped");
        // There are no file-manager tag names on this system, so the language decides.
        QTest::newRow("English") << true << QStringList{s("Rot\n6"), s("Blue\n4")} << qint64(1)
                                 << FinderTagSet();
        QTest::newRow("other language")
            << false << QStringList{s("Rot\n6")} << qint64(0) << redBlue;
    }
    void exportAddsMissingColours()
    {
        QFETCH(bool, allowDefaultNames);
        QFETCH(QStringList, after);
        QFETCH(qint64, written);
        QFETCH(FinderTagSet, skipped);
        const QString item = file(s("Lib/item.wav"));
        QVERIFY(setPythonPlist(item, {s("Rot\n6")}));
        m_store->setTags(redBlue, QUrl::fromLocalFile(item));
        m_store->setTags(red, url(s("Lib/vanished.wav")));
        const ModelPtr model = makeModel(m_store.get(), {s("Lib")});
        const TagMap before = m_store->tags();

        const std::optional<BrowserModel::ExportSummary> summary =
            exportNow(*model, allowDefaultNames);
        QVERIFY(summary);
        QCOMPARE(summary->filesWritten, written);
        QCOMPARE(summary->filesFailed, 0);
        QCOMPARE(summary->skippedColors, skipped);
        QCOMPARE(pythonStrings(item), std::optional<QStringList>(after));
        QVERIFY(!QFileInfo::exists(path(s("Lib/vanished.wav"))));
        QCOMPARE(m_store->tags(), before); // export never changes the store
    }

    // A German user's files came from a Mac: one import teaches "Rot", also for a name Dolphin
    // gave, and the export then writes it to both attributes though English names are not allowed.
    void importTeachesNamesForTheExport()
    {
        const QString fromMac = file(s("Lib/mac.wav"));
        const QString untagged = file(s("Lib/new.wav"));
        const QString fromDolphin = file(s("Lib/Kde/kde.wav"));
        QVERIFY(setPythonPlist(fromMac, {s("Rot\n6"), s("Work")}));
        QVERIFY(
            setRawAttribute(fromDolphin, QString::fromLatin1(XdgTags::attributeName), "Live, rot"));
        const ModelPtr model = makeModel(m_store.get(), {s("Lib")});

        QCOMPARE(importNow(*model), std::optional<qint64>(2));
        QCOMPARE(m_store->tagsFor(QUrl::fromLocalFile(fromMac)), red);
        QCOMPARE(m_store->tagsFor(QUrl::fromLocalFile(fromDolphin)), red);
        m_store->setTags(redBlue, QUrl::fromLocalFile(untagged));

        const std::optional<BrowserModel::ExportSummary> summary = exportNow(*model, false);
        QVERIFY(summary);
        QCOMPARE(summary->filesWritten, 3);
        QCOMPARE(summary->filesFailed, 0);
        QCOMPARE(summary->skippedColors, FinderTagSet{FinderTag::Blue});
        QCOMPARE(pythonStrings(untagged), std::optional(QStringList{s("Rot\n6")}));
        const QString xdg = QString::fromLatin1(XdgTags::attributeName);
        QCOMPARE(rawAttribute(untagged, xdg), std::optional(QByteArray("Rot")));
        QCOMPARE(rawAttribute(fromMac, xdg), std::optional(QByteArray("Rot")));
        QCOMPARE(rawAttribute(fromDolphin, xdg), std::optional(QByteArray("Live, rot")));
        QCOMPARE(pythonStrings(fromMac), std::optional(QStringList{s("Rot\n6"), s("Work")}));

        // A fresh start reads the names back from the preferences file.
        m_prefs->flush();
        const Preferences reread(m_prefs->filePath());
        QCOMPARE(
            FinderTagsIO::favoriteTagNames(reread),
            std::optional(QStringList{s(""), s("Rot"), s(""), s(""), s(""), s(""), s(""), s("")}));
    }

    void exportCountsFailuresOncePerItem()
    {
        m_store->setTags(redBlue, QUrl::fromLocalFile(s("/proc/self/status")));
        const ModelPtr model = makeModel(m_store.get());
        const std::optional<BrowserModel::ExportSummary> summary = exportNow(*model, true);
        QVERIFY(summary);
        QCOMPARE(summary->filesWritten, 0);
        QCOMPARE(summary->filesFailed, 1);
    }
};

QTEST_GUILESS_MAIN(TestBrowserModelFinderTags)
#include "tst_browser_model_finder_tags.moc"
