#include "FileSystemWatcher.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A library in a temporary folder, next to a folder outside it:
//   Library/a/b/c/, Library/a/b/old.wav, Library/.hidden/x/, Library/link -> Outside
//   Outside/moved/deep/
// path() is relative to Library, at() to the temporary folder.
class Tree
{
public:
    Tree()
    {
        TestSupport::makeDirs(path(QStringLiteral("a/b/c")));
        TestSupport::writeFile(path(QStringLiteral("a/b/old.wav")), "RIFF");
        TestSupport::makeDirs(path(QStringLiteral(".hidden/x")));
        TestSupport::makeDirs(at("Outside/moved/deep"));
        QFile::link(at("Outside"), at("Library/link"));
    }

    QString base() const { return m_temp.path(); }
    QString root() const { return m_temp.path() + QStringLiteral("/Library"); }
    QString path(const QString &relative) const { return root() + QStringLiteral("/") + relative; }
    QString at(const char *relative) const
    {
        return m_temp.path() + QStringLiteral("/") + QString::fromUtf8(relative);
    }

private:
    QTemporaryDir m_temp;
};

using Step = std::function<bool(const Tree &)>;

bool write(const QString &path)
{
    return TestSupport::writeFile(path, "data");
}

// Steps on paths relative to the temporary folder that holds Library and Outside.
Step writes(const char *relative)
{
    return [relative](const Tree &t) { return write(t.at(relative)); };
}

Step makesFolder(const char *relative)
{
    return [relative](const Tree &t) { return TestSupport::makeDirs(t.at(relative)); };
}

Step removes(const char *relative)
{
    return [relative](const Tree &t) {
        const QString path = t.at(relative);
        return QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path);
    };
}

Step renames(const char *from, const char *to)
{
    return [from, to](const Tree &t) { return QDir().rename(t.at(from), t.at(to)); };
}

Step both(Step first, Step second)
{
    return [first, second](const Tree &t) { return first(t) && second(t); };
}

// Counts handler calls, notes when and where they ran and gathers what they reported.
class Calls
{
public:
    std::function<void(const FileSystemChanges &)> handler()
    {
        return [this](const FileSystemChanges &changes) {
            const std::lock_guard lock(m_mutex);
            m_times.push_back(Clock::now());
            m_threadName = QThread::currentThread()->objectName();
            m_changes.merge(changes);
            m_count.fetch_add(1);
        };
    }
    int count() const { return m_count.load(); }
    std::vector<Clock::time_point> times() const
    {
        const std::lock_guard lock(m_mutex);
        return m_times;
    }
    QString threadName() const
    {
        const std::lock_guard lock(m_mutex);
        return m_threadName;
    }
    // What was reported since the last call of forget(), with paths relative to `base`.
    QString changes(const QString &base) const
    {
        const std::lock_guard lock(m_mutex);
        return describe(m_changes, base);
    }
    void forget()
    {
        const std::lock_guard lock(m_mutex);
        m_changes = FileSystemChanges();
    }

    static QString describe(const FileSystemChanges &changes, const QString &base)
    {
        if (!changes.complete)
            return QStringLiteral("incomplete");
        const auto relative = [&base](QStringList paths) {
            for (QString &path : paths)
                path = QDir(base).relativeFilePath(path);
            return paths.join(u',');
        };
        return QStringLiteral("folders: %1; trees: %2")
            .arg(relative(changes.folders), relative(changes.trees));
    }

private:
    std::atomic<int> m_count{0};
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_times;
    QString m_threadName;
    FileSystemChanges m_changes;
};

// Longer than the one-second batch window, so that the next change starts a quiet period.
constexpr int kPastBatchWindowMs = 1150;
// A change in a quiet period is delivered at once, not after the batch window; this bound only
// absorbs a loaded machine.
constexpr int kAtOnceMs = 800;
// Where only whether a change is reported matters.
constexpr int kReportedMs = 3000;
constexpr int kNoCallWaitMs = 400;
constexpr int kJustEnough = -2;

} // namespace

Q_DECLARE_METATYPE(Step)

class FileSystemWatcherTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsChanges_data();
    void reportsChanges();
    void reportsChangesInNestedRoots_data();
    void reportsChangesInNestedRoots();
    void reportsDrivesMountedInsideRoots();
    void batchesChanges_data();
    void batchesChanges();
    void separateBurstsMakeSeparateCalls();
    void steadyChangesAreThrottled();
    void startReplacesAndStops();
    void destructionWhileEventsStreamIsSafe();
    void rescansWhatNoWatchHears_data();
    void rescansWhatNoWatchHears();
    void recoversFromQueueOverflow();
};

void FileSystemWatcherTest::reportsChanges_data()
{
    QTest::addColumn<Step>("setup");
    QTest::addColumn<Step>("change");
    QTest::addColumn<QString>("reported"); // empty: no call at all

    const Step none;
    const auto in = [](const char *folders, const char *trees = "") {
        return QStringLiteral("folders: %1; trees: %2")
            .arg(QLatin1String(folders), QLatin1String(trees));
    };
    const QString incomplete = QStringLiteral("incomplete");
    QTest::newRow("file in root") << none << writes("Library/new.wav") << in("Library");
    QTest::newRow("file in nested folder")
        << none << writes("Library/a/b/c/new.wav") << in("Library/a/b/c");
    QTest::newRow("file deleted") << none << removes("Library/a/b/old.wav") << in("Library/a/b");
    QTest::newRow("file renamed") << none << renames("Library/a/b/old.wav", "Library/a/b/new.wav")
                                  << in("Library/a/b");
    QTest::newRow("file moved to another folder")
        << none << renames("Library/a/b/old.wav", "Library/a/b/c/old.wav")
        << in("Library/a/b,Library/a/b/c");
    QTest::newRow("permissions changed") << none << Step([](const Tree &t) {
        return QFile::setPermissions(t.at("Library/a/b/old.wav"), QFile::ReadOwner);
    }) << in("Library/a/b");
    QTest::newRow("folder deleted")
        << none << removes("Library/a/b/c") << in("Library/a/b", "Library/a/b/c");
    QTest::newRow("folder created with files")
        << none << writes("Library/new/x/f.wav") << in("Library", "Library/new");
    QTest::newRow("folder moved in")
        << none << renames("Outside/moved", "Library/moved") << in("Library", "Library/moved");
    QTest::newRow("folder moved out")
        << none << renames("Library/a/b", "Outside/b") << in("Library/a", "Library/a/b");
    QTest::newRow("folder renamed")
        << none << renames("Library/a", "Library/z") << in("Library", "Library/a,Library/z");
    QTest::newRow("file in new folder")
        << makesFolder("Library/new") << writes("Library/new/f.wav") << in("Library/new");
    QTest::newRow("file in new folder tree")
        << makesFolder("Library/new/x/y") << writes("Library/new/x/y/f.wav")
        << in("Library/new/x/y");
    QTest::newRow("file in folder moved in")
        << renames("Outside/moved", "Library/moved") << writes("Library/moved/deep/f.wav")
        << in("Library/moved/deep");
    QTest::newRow("file in folder made below a renamed one")
        << both(renames("Library/a", "Library/z"), makesFolder("Library/z/b/new"))
        << writes("Library/z/b/new/f.wav") << in("Library/z/b/new");
    QTest::newRow("root renamed") << none << renames("Library", "Renamed") << incomplete;
    QTest::newRow("root deleted") << none << removes("Library") << incomplete;
    QTest::newRow("root made again") << removes("Library") << makesFolder("Library") << incomplete;
    QTest::newRow("file in root made again") << both(removes("Library"), makesFolder("Library"))
                                             << writes("Library/f.wav") << in("Library");

    QTest::newRow("file in hidden folder")
        << none << writes("Library/.hidden/x/f.wav") << QString();
    QTest::newRow("hidden file") << none << writes("Library/.DS_Store") << QString();
    QTest::newRow("file in new folder in hidden folder")
        << makesFolder("Library/.hidden/new") << writes("Library/.hidden/new/f.wav") << QString();
    QTest::newRow("file in folder moved out")
        << renames("Library/a", "Outside/a") << writes("Outside/a/b/f.wav") << QString();
    QTest::newRow("file next to root") << none << writes("x.txt") << QString();
    QTest::newRow("folder next to root") << none << makesFolder("Library2") << QString();
    QTest::newRow("file behind a folder link")
        << none << writes("Outside/moved/f.wav") << QString();
}

void FileSystemWatcherTest::reportsChanges()
{
    QFETCH(Step, setup);
    QFETCH(Step, change);
    QFETCH(QString, reported);

    Tree tree;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.start({tree.root()});
    QVERIFY(watcher.isRunning());
    QTRY_VERIFY(watcher.isReady());

    if (setup) {
        QVERIFY(setup(tree));
        QTest::qWait(kPastBatchWindowMs);
    }
    calls.forget();
    const int before = calls.count();
    QVERIFY(change(tree));
    if (!reported.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), reported, kReportedMs);
        // Nothing arrives later that the first calls left out.
        QTest::qWait(kNoCallWaitMs);
        QCOMPARE(calls.changes(tree.base()), reported);
    } else {
        QTest::qWait(kNoCallWaitMs);
        QCOMPARE(calls.count(), before);
    }

    // The watches kept in step with the change are those a fresh start sets up.
    FileSystemWatcher fresh([](const FileSystemChanges &) {});
    fresh.start({tree.root()});
    QTRY_VERIFY(fresh.isReady());
    QCOMPARE(watcher.watchCount(), fresh.watchCount());
    QCOMPARE(watcher.folderCount(), fresh.folderCount());
}

void FileSystemWatcherTest::reportsChangesInNestedRoots_data()
{
    QTest::addColumn<Step>("change");
    QTest::addColumn<QString>("reported");

    QTest::newRow("file in the inner root")
        << writes("Library/a/b/new.wav") << QStringLiteral("folders: Library/a/b; trees: ");
    QTest::newRow("folder made in the inner root")
        << makesFolder("Library/a/new")
        << QStringLiteral("folders: Library/a; trees: Library/a/new");
    QTest::newRow("inner root deleted") << removes("Library/a") << QStringLiteral("incomplete");
    QTest::newRow("outer root deleted") << removes("Library") << QStringLiteral("incomplete");
}

void FileSystemWatcherTest::reportsChangesInNestedRoots()
{
    QFETCH(Step, change);
    QFETCH(QString, reported);

    Tree tree;
    const QStringList roots{tree.root(), tree.path(QStringLiteral("a"))};
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.start(roots);
    QTRY_VERIFY(watcher.isReady());
    QVERIFY(change(tree));
    QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), reported, kReportedMs);

    QTest::qWait(kNoCallWaitMs);
    FileSystemWatcher fresh([](const FileSystemChanges &) {});
    fresh.start(roots);
    QTRY_VERIFY(fresh.isReady());
    QCOMPARE(watcher.watchCount(), fresh.watchCount());
    QCOMPARE(watcher.folderCount(), fresh.folderCount());
}

void FileSystemWatcherTest::reportsDrivesMountedInsideRoots()
{
    Tree tree;
    const QString point = tree.path(QStringLiteral("a/b/c"));
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());

    const auto mountTmpfs = [&point] {
        return TestSupport::run(QStringLiteral("mount"),
                                {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                 QStringLiteral("wavelark-test"), point})
                   .exitCode == 0;
    };
    if (!mountTmpfs())
        QSKIP("mounting needs privileges this run does not have");
    // Unmounted however the test ends, so that the temporary folder can go.
    const auto unmount = qScopeGuard([&point] {
        TestSupport::run(QStringLiteral("umount"), {QStringLiteral("-l"), point});
    });
    QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), QStringLiteral("incomplete"),
                              kReportedMs);

    // The mounted drive is watched in place of the folder it covers.
    QTest::qWait(kPastBatchWindowMs);
    calls.forget();
    QVERIFY(write(tree.path(QStringLiteral("a/b/c/on-drive.wav"))));
    QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()),
                              QStringLiteral("folders: Library/a/b/c; trees: "), kReportedMs);

    QTest::qWait(kPastBatchWindowMs);
    calls.forget();
    QCOMPARE(TestSupport::run(QStringLiteral("umount"), {point}).exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), QStringLiteral("incomplete"),
                              kReportedMs);
}

void FileSystemWatcherTest::batchesChanges_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("maxCalls");

    QTest::newRow("one file") << 1 << 1;
    QTest::newRow("burst of 50 files") << 50 << 2;
}

void FileSystemWatcherTest::batchesChanges()
{
    QFETCH(int, files);
    QFETCH(int, maxCalls);

    Tree tree;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());

    for (int i = 0; i < files; ++i)
        QVERIFY(write(tree.path(QStringLiteral("a/b/c/%1.wav").arg(i))));
    QTRY_VERIFY_WITH_TIMEOUT(calls.count() >= 1, kReportedMs);
    QTest::qWait(kPastBatchWindowMs);
    QVERIFY2(calls.count() <= maxCalls, QByteArray::number(calls.count()));
    QCOMPARE(calls.threadName(), QStringLiteral("org.wavelark.Wavelark.fsevents"));
}

void FileSystemWatcherTest::separateBurstsMakeSeparateCalls()
{
    Tree tree;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());

    for (int i = 0; i < 10; ++i)
        QVERIFY(write(tree.path(QStringLiteral("first%1.wav").arg(i))));
    QTRY_VERIFY_WITH_TIMEOUT(calls.count() >= 1, kReportedMs);
    QTest::qWait(kPastBatchWindowMs + 100);
    const int afterFirst = calls.count();

    for (int i = 0; i < 10; ++i)
        QVERIFY(write(tree.path(QStringLiteral("second%1.wav").arg(i))));
    QTRY_VERIFY_WITH_TIMEOUT(calls.count() > afterFirst, kAtOnceMs);
}

void FileSystemWatcherTest::steadyChangesAreThrottled()
{
    Tree tree;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());

    // A change every 100 ms for 2.5 s: the first is delivered at once, the rest once a second.
    for (int i = 0; i < 25; ++i) {
        QVERIFY(write(tree.path(QStringLiteral("a/%1.wav").arg(i))));
        QTest::qWait(100);
    }
    QTest::qWait(kPastBatchWindowMs);

    const std::vector<Clock::time_point> times = calls.times();
    QVERIFY2(times.size() >= 3 && times.size() <= 4, QByteArray::number(int(times.size())));
    for (std::size_t i = 1; i < times.size(); ++i)
        QVERIFY(times[i] - times[i - 1] >= 995ms);
}

void FileSystemWatcherTest::startReplacesAndStops()
{
    Tree first;
    Tree second;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    QVERIFY(!watcher.isRunning());
    watcher.start({first.root(), second.root()});
    QTRY_VERIFY(watcher.isReady());
    QVERIFY(write(second.path(QStringLiteral("f.wav"))));
    QTRY_COMPARE_WITH_TIMEOUT(calls.count(), 1, kReportedMs);

    watcher.start({second.root()});
    QTRY_VERIFY(watcher.isReady());
    QVERIFY(write(first.path(QStringLiteral("f.wav"))));
    QTest::qWait(kNoCallWaitMs);
    QCOMPARE(calls.count(), 1);
    QVERIFY(write(second.path(QStringLiteral("g.wav"))));
    QTRY_COMPARE_WITH_TIMEOUT(calls.count(), 2, kPastBatchWindowMs);

    watcher.start({});
    QVERIFY(!watcher.isRunning());
    QCOMPARE(watcher.watchCount(), 0);
    QVERIFY(write(second.path(QStringLiteral("h.wav"))));
    QTest::qWait(kPastBatchWindowMs);
    QCOMPARE(calls.count(), 2);
}

void FileSystemWatcherTest::destructionWhileEventsStreamIsSafe()
{
    Tree tree;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; writing.load(); ++i) {
            write(tree.path(QStringLiteral("a/b/stream%1.wav").arg(i % 200)));
            std::this_thread::sleep_for(200us);
        }
    });

    std::atomic<int> lateCalls{0};
    int totalCalls = 0;
    for (int round = 0; round < 20; ++round) {
        // Per-round state on the heap: a call after destruction would be a use after free.
        auto destroyed = std::make_unique<std::atomic<bool>>(false);
        auto count = std::make_unique<std::atomic<int>>(0);
        {
            FileSystemWatcher watcher(
                [&lateCalls, flag = destroyed.get(), n = count.get()](const FileSystemChanges &) {
                    if (flag->load())
                        lateCalls.fetch_add(1);
                    n->fetch_add(1);
                    std::this_thread::sleep_for(2ms);
                });
            watcher.start({tree.root()});
            QTest::qWait(round % 2 == 0 ? 0 : 60);
            if (round % 5 == 0)
                watcher.start({tree.root()});
        }
        destroyed->store(true);
        totalCalls += count->load();
    }
    writing.store(false);
    writer.join();
    QCOMPARE(lateCalls.load(), 0);
    QVERIFY(totalCalls > 0);
}

void FileSystemWatcherTest::rescansWhatNoWatchHears_data()
{
    QTest::addColumn<int>("watchLimit"); // -1: the kernel's; kJustEnough: what the tree needs
    QTest::addColumn<bool>("network");
    QTest::addColumn<Step>("change");
    QTest::addColumn<QString>("reported"); // empty: no call at all

    const Step nothing = [](const Tree &) { return true; };
    const QString incomplete = QStringLiteral("incomplete");
    // With two watches, the root's parent and the root are watched and no folder below them.
    QTest::newRow("file in unwatched folder")
        << 2 << false << writes("Library/a/b/c/f.wav") << incomplete;
    QTest::newRow("folder in unwatched folder")
        << 2 << false << makesFolder("Library/a/b/c/new") << incomplete;
    QTest::newRow("file renamed in unwatched folder")
        << 2 << false << renames("Library/a/b/old.wav", "Library/a/b/new.wav") << incomplete;
    QTest::newRow("unwatched folder deleted")
        << 2 << false << removes("Library/a/b/c") << incomplete;
    QTest::newRow("nothing changed") << 2 << false << nothing << QString();
    QTest::newRow("hidden folder changed, nothing watched")
        << 0 << false << writes("Library/.hidden/x/f.wav") << QString();
    QTest::newRow("file in root, nothing watched")
        << 0 << false << writes("Library/f.wav") << incomplete;
    QTest::newRow("root deleted, nothing watched")
        << 0 << false << removes("Library") << incomplete;

    QTest::newRow("folder made with no watch left")
        << kJustEnough << false << makesFolder("Library/a/new") << incomplete;
    QTest::newRow("file made with no watch left")
        << kJustEnough << false << writes("Library/a/f.wav")
        << QStringLiteral("folders: Library/a; trees: ");

    // Without watches, a network root's changes stand for those made by other machines.
    QTest::newRow("network: nothing changed") << -1 << true << nothing << QString();
    QTest::newRow("network: change heard by a watch")
        << -1 << true << writes("Library/a/b/c/f.wav")
        << QStringLiteral("folders: Library/a/b/c; trees: ");
    QTest::newRow("network: nothing changed elsewhere") << 0 << true << nothing << QString();
    QTest::newRow("network: file made elsewhere")
        << 0 << true << writes("Library/a/b/c/f.wav") << incomplete;
    QTest::newRow("network: folder made elsewhere")
        << 0 << true << makesFolder("Library/a/new") << incomplete;
    QTest::newRow("network: folder time moved, same entries")
        << 0 << true << Step([](const Tree &t) {
               return TestSupport::run(QStringLiteral("touch"), {t.at("Library/a/b")}).exitCode ==
                      0;
           })
        << QString();
}

void FileSystemWatcherTest::rescansWhatNoWatchHears()
{
    QFETCH(int, watchLimit);
    QFETCH(bool, network);
    QFETCH(Step, change);
    QFETCH(QString, reported);

    Tree tree;
    if (watchLimit == kJustEnough) {
        FileSystemWatcher probe([](const FileSystemChanges &) {});
        probe.start({tree.root()});
        QTRY_VERIFY(probe.isReady());
        watchLimit = probe.watchCount();
    }
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    if (watchLimit >= 0)
        watcher.setWatchLimitForTesting(watchLimit);
    watcher.setTreatRootsAsNetworkForTesting(network);
    watcher.setRescanIntervalForTesting(50ms);
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());
    const int watches = watcher.watchCount();
    if (watchLimit >= 0)
        QCOMPARE(watches, watchLimit);

    // Several rescans over the untouched tree report nothing.
    QTest::qWait(200);
    QCOMPARE(calls.count(), 0);

    QVERIFY(change(tree));
    if (!reported.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), reported, kReportedMs);
        // Later rescans add nothing to what the events said.
        QTest::qWait(kNoCallWaitMs);
        QCOMPARE(calls.changes(tree.base()), reported);
    } else {
        QTest::qWait(kNoCallWaitMs);
        QCOMPARE(calls.count(), 0);
    }
    if (watchLimit >= 0)
        QCOMPARE(watcher.watchCount(), watchLimit);
}

void FileSystemWatcherTest::recoversFromQueueOverflow()
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    if (!limitFile.open(QIODevice::ReadOnly))
        QSKIP("the inotify queue size is not readable");
    const int queueSize = limitFile.readAll().trimmed().toInt();
    if (queueSize <= 0 || queueSize > 60000)
        QSKIP("the inotify queue is too large to overflow quickly");

    Tree tree;
    std::atomic<bool> release{false};
    std::atomic<int> calls{0};
    std::atomic<bool> lost{false};
    FileSystemWatcher watcher([&](const FileSystemChanges &changes) {
        // The first call holds the reader so that the kernel's queue fills up behind it.
        for (int i = 0; calls.load() == 0 && !release.load() && i < 1000; ++i)
            std::this_thread::sleep_for(10ms);
        if (!changes.complete)
            lost.store(true);
        calls.fetch_add(1);
    });
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());
    const int watches = watcher.watchCount();

    QVERIFY(write(tree.path(QStringLiteral("first.wav"))));
    QTest::qWait(100);
    // Each file queues two events, its creation and its close; the folder made after them finds
    // the queue full, so only a fresh walk can find it.
    for (int i = 0; i < queueSize / 2 + 500; ++i)
        QVERIFY(write(tree.path(QStringLiteral("a/b/c/flood%1").arg(i))));
    QVERIFY(TestSupport::makeDirs(tree.at("Library/a/b/late")));
    release.store(true);

    QTRY_VERIFY_WITH_TIMEOUT(lost.load(), 5000);
    QTest::qWait(kPastBatchWindowMs);
    QCOMPARE(watcher.watchCount(), watches + 1);
    const int before = calls.load();
    QVERIFY(write(tree.path(QStringLiteral("a/b/late/after.wav"))));
    QTRY_VERIFY_WITH_TIMEOUT(calls.load() > before, kReportedMs);
}

QTEST_GUILESS_MAIN(FileSystemWatcherTest)
#include "tst_filesystemwatcher.moc"
