#include "FileSystemWatcher.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// Counts handler calls and notes when and where they ran.
class Calls
{
public:
    std::function<void()> handler()
    {
        return [this] {
            const std::lock_guard lock(m_mutex);
            m_times.push_back(Clock::now());
            m_threadName = QThread::currentThread()->objectName();
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

private:
    std::atomic<int> m_count{0};
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_times;
    QString m_threadName;
};

// Longer than the one-second batch window, so that the next change starts a quiet period.
constexpr int kPastBatchWindowMs = 1150;
// A change in a quiet period is delivered at once, not after the batch window; this bound only
// absorbs a loaded machine.
constexpr int kAtOnceMs = 800;
// Where only whether a change is reported matters.
constexpr int kReportedMs = 3000;
constexpr int kNoCallWaitMs = 400;

} // namespace

Q_DECLARE_METATYPE(Step)

class FileSystemWatcherTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsChanges_data();
    void reportsChanges();
    void batchesChanges_data();
    void batchesChanges();
    void separateBurstsMakeSeparateCalls();
    void steadyChangesAreThrottled();
    void startReplacesAndStops();
    void destructionWhileEventsStreamIsSafe();
    void fallsBackToRescanWhenWatchesRunOut_data();
    void fallsBackToRescanWhenWatchesRunOut();
    void recoversFromQueueOverflow();
};

void FileSystemWatcherTest::reportsChanges_data()
{
    QTest::addColumn<Step>("setup");
    QTest::addColumn<Step>("change");
    QTest::addColumn<bool>("reported");

    const Step none;
    QTest::newRow("file in root") << none << writes("Library/new.wav") << true;
    QTest::newRow("file in nested folder") << none << writes("Library/a/b/c/new.wav") << true;
    QTest::newRow("file deleted") << none << removes("Library/a/b/old.wav") << true;
    QTest::newRow("file renamed") << none << renames("Library/a/b/old.wav", "Library/a/b/new.wav")
                                  << true;
    QTest::newRow("permissions changed") << none << Step([](const Tree &t) {
        return QFile::setPermissions(t.at("Library/a/b/old.wav"), QFile::ReadOwner);
    }) << true;
    QTest::newRow("folder deleted") << none << removes("Library/a/b/c") << true;
    QTest::newRow("file in new folder")
        << makesFolder("Library/new") << writes("Library/new/f.wav") << true;
    QTest::newRow("file in new folder tree")
        << makesFolder("Library/new/x/y") << writes("Library/new/x/y/f.wav") << true;
    QTest::newRow("file in folder moved in")
        << renames("Outside/moved", "Library/moved") << writes("Library/moved/deep/f.wav") << true;
    QTest::newRow("file in folder made below a renamed one")
        << both(renames("Library/a", "Library/z"), makesFolder("Library/z/b/new"))
        << writes("Library/z/b/new/f.wav") << true;
    QTest::newRow("root renamed") << none << renames("Library", "Renamed") << true;
    QTest::newRow("root deleted") << none << removes("Library") << true;
    QTest::newRow("file in root made again")
        << both(removes("Library"), makesFolder("Library")) << writes("Library/f.wav") << true;

    QTest::newRow("file in hidden folder") << none << writes("Library/.hidden/x/f.wav") << false;
    QTest::newRow("hidden file") << none << writes("Library/.DS_Store") << false;
    QTest::newRow("file in new folder in hidden folder")
        << makesFolder("Library/.hidden/new") << writes("Library/.hidden/new/f.wav") << false;
    QTest::newRow("file in folder moved out")
        << renames("Library/a", "Outside/a") << writes("Outside/a/b/f.wav") << false;
    QTest::newRow("file next to root") << none << writes("x.txt") << false;
    QTest::newRow("folder next to root") << none << makesFolder("Library2") << false;
    QTest::newRow("file behind a folder link") << none << writes("Outside/moved/f.wav") << false;
}

void FileSystemWatcherTest::reportsChanges()
{
    QFETCH(Step, setup);
    QFETCH(Step, change);
    QFETCH(bool, reported);

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
    const int before = calls.count();
    QVERIFY(change(tree));
    if (reported) {
        QTRY_VERIFY_WITH_TIMEOUT(calls.count() > before, kReportedMs);
    } else {
        QTest::qWait(kNoCallWaitMs);
        QCOMPARE(calls.count(), before);
    }
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
            FileSystemWatcher watcher([&lateCalls, flag = destroyed.get(), n = count.get()] {
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

void FileSystemWatcherTest::fallsBackToRescanWhenWatchesRunOut_data()
{
    QTest::addColumn<int>("watchLimit");
    QTest::addColumn<Step>("change");
    QTest::addColumn<bool>("reported");

    // With two watches, the root's parent and the root are watched and no folder below them.
    QTest::newRow("file in unwatched folder") << 2 << writes("Library/a/b/c/f.wav") << true;
    QTest::newRow("folder in unwatched folder") << 2 << makesFolder("Library/a/b/c/new") << true;
    QTest::newRow("file renamed in unwatched folder")
        << 2 << renames("Library/a/b/old.wav", "Library/a/b/new.wav") << true;
    QTest::newRow("unwatched folder deleted") << 2 << removes("Library/a/b/c") << true;
    QTest::newRow("nothing changed") << 2 << Step([](const Tree &) { return true; }) << false;
    QTest::newRow("hidden folder changed, nothing watched")
        << 0 << writes("Library/.hidden/x/f.wav") << false;
    QTest::newRow("file in root, nothing watched") << 0 << writes("Library/f.wav") << true;
    QTest::newRow("root deleted, nothing watched") << 0 << removes("Library") << true;
}

void FileSystemWatcherTest::fallsBackToRescanWhenWatchesRunOut()
{
    QFETCH(int, watchLimit);
    QFETCH(Step, change);
    QFETCH(bool, reported);

    Tree tree;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    watcher.setWatchLimitForTesting(watchLimit);
    watcher.setRescanIntervalForTesting(50ms);
    watcher.start({tree.root()});
    QTRY_VERIFY(watcher.isReady());
    QCOMPARE(watcher.watchCount(), watchLimit);

    // Several rescans over the untouched tree report nothing.
    QTest::qWait(200);
    QCOMPARE(calls.count(), 0);

    QVERIFY(change(tree));
    if (reported) {
        QTRY_VERIFY_WITH_TIMEOUT(calls.count() > 0, kReportedMs);
    } else {
        QTest::qWait(kNoCallWaitMs);
        QCOMPARE(calls.count(), 0);
    }
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
    FileSystemWatcher watcher([&] {
        // The first call holds the reader so that the kernel's queue fills up behind it.
        for (int i = 0; calls.load() == 0 && !release.load() && i < 1000; ++i)
            std::this_thread::sleep_for(10ms);
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

    QTRY_VERIFY_WITH_TIMEOUT(calls.load() >= 2, 5000);
    QTest::qWait(kPastBatchWindowMs);
    QCOMPARE(watcher.watchCount(), watches + 1);
    const int before = calls.load();
    QVERIFY(write(tree.path(QStringLiteral("a/b/late/after.wav"))));
    QTRY_VERIFY_WITH_TIMEOUT(calls.load() > before, kReportedMs);
}

QTEST_GUILESS_MAIN(FileSystemWatcherTest)
#include "tst_filesystemwatcher.moc"
