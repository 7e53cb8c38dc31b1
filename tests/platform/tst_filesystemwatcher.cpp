// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileSystemWatcher.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A library in a temporary folder, next to a folder outside it:
//   Library/a/b/c/, Library/a/b/old.wav, Library/.hidden/x/, Library/link -> Outside
//   Outside/moved/deep/
class Tree
{
public:
    Tree()
    {
        apply(u"mkdir Library/a/b/c; write Library/a/b/old.wav; mkdir Library/.hidden/x; "
              u"mkdir Outside/moved/deep"_qs);
        QFile::link(at(u"Outside"_qs), at(u"Library/link"_qs));
    }
    ~Tree()
    {
        // Unmounted however the test ends, so that the temporary folder can go.
        for (const QString &point : std::as_const(m_mounted))
            TestSupport::run(u"umount"_qs, {u"-l"_qs, point});
    }
    QString base() const { return m_temp.path(); }
    QString root() const { return at(u"Library"_qs); }
    QString at(const QString &relative) const { return m_temp.path() + u'/' + relative; }
    // Changes written as "verb path [path]" and separated by ";": write, mkdir, rm, mv, chmod
    // (to read-only), touch, mount (a new tmpfs drive), umount.
    bool apply(const QString &script)
    {
        const auto ok = [](const QString &program, const QStringList &arguments) {
            return TestSupport::run(program, arguments).exitCode == 0;
        };
        for (const QString &command : script.split(u';', Qt::SkipEmptyParts)) {
            const QStringList words = command.split(u' ', Qt::SkipEmptyParts);
            const QString verb = words.value(0);
            const QString path = at(words.value(1));
            if (verb == u"mount")
                m_mounted.append(path);
            if (!(verb == u"write"   ? TestSupport::writeFile(path, "data")
                  : verb == u"mkdir" ? TestSupport::makeDirs(path)
                  : verb == u"rm"    ? (QFileInfo(path).isDir() ? QDir(path).removeRecursively()
                                                                : QFile::remove(path))
                  : verb == u"mv"    ? QDir().rename(path, at(words.value(2)))
                  : verb == u"chmod" ? QFile::setPermissions(path, QFile::ReadOwner)
                  : verb == u"mount"
                      ? ok(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"wavelark-test"_qs, path})
                  : verb == u"umount" ? ok(u"umount"_qs, {path})
                                      : ok(u"touch"_qs, {path})))
                return false;
        }
        return true;
    }

private:
    QTemporaryDir m_temp;
    QStringList m_mounted;
};

// Gathers what the handler reported, and how often.
struct Calls
{
    mutable std::mutex mutex;
    int calls = 0;
    FileSystemChanges merged;

    std::function<void(const FileSystemChanges &)> handler()
    {
        return [this](const FileSystemChanges &changes) {
            const std::lock_guard lock(mutex);
            ++calls;
            merged.merge(changes);
        };
    }
    int count() const
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
    // What was reported since the last forget(), with paths relative to `base`.
    QString changes(const QString &base) const
    {
        const std::lock_guard lock(mutex);
        const auto relative = [&base](QStringList paths) {
            for (QString &path : paths)
                path = QDir(base).relativeFilePath(path);
            return paths.join(u',');
        };
        return merged.complete ? QStringLiteral("folders: %1; trees: %2")
                                     .arg(relative(merged.folders), relative(merged.trees))
                               : QStringLiteral("incomplete");
    }
    void forget()
    {
        const std::lock_guard lock(mutex);
        merged = FileSystemChanges();
    }
};

// Longer than the one-second batch window, so that the next change starts a quiet period.
constexpr int kPastBatchWindowMs = 1150;
constexpr int kReportedMs = 3000;
constexpr int kJustEnough = -2;

QString in(const char *folders, const char *trees = "")
{
    return QStringLiteral("folders: %1; trees: %2")
        .arg(QLatin1String(folders), QLatin1String(trees));
}

} // namespace

class FileSystemWatcherTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsChanges_data();
    void reportsChanges();
    void destructionWhileEventsStreamIsSafe();
    void recoversFromQueueOverflow();
};

void FileSystemWatcherTest::reportsChanges_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("reported"); // empty: nothing at all
    QTest::addColumn<int>("watchLimit");   // -1: the kernel's; kJustEnough: what the tree needs
    QTest::addColumn<bool>("network");
    const QString incomplete = QStringLiteral("incomplete");
    const auto row = [](const char *name, const char *setup, const char *change,
                        const QString &reported, int limit = -1, bool network = false) {
        QTest::newRow(name) << QString::fromUtf8(setup) << QString::fromUtf8(change) << reported
                            << limit << network;
    };
    row("file in root", "", "write Library/new.wav", in("Library"));
    row("file deleted", "", "rm Library/a/b/old.wav", in("Library/a/b"));
    row("file moved to another folder", "", "mv Library/a/b/old.wav Library/a/b/c/old.wav",
        in("Library/a/b,Library/a/b/c"));
    row("permissions changed", "", "chmod Library/a/b/old.wav", in("Library/a/b"));
    row("folder deleted", "", "rm Library/a/b/c", in("Library/a/b", "Library/a/b/c"));
    row("folder created with files", "", "write Library/new/x/f.wav", in("Library", "Library/new"));
    row("folder moved in", "", "mv Outside/moved Library/moved", in("Library", "Library/moved"));
    row("folder moved out", "", "mv Library/a/b Outside/b", in("Library/a", "Library/a/b"));
    row("folder renamed", "", "mv Library/a Library/z", in("Library", "Library/a,Library/z"));
    row("file in new folder tree", "mkdir Library/new/x/y", "write Library/new/x/y/f.wav",
        in("Library/new/x/y"));
    row("file in folder moved in", "mv Outside/moved Library/moved",
        "write Library/moved/deep/f.wav", in("Library/moved/deep"));
    row("file in folder made below a renamed one", "mv Library/a Library/z; mkdir Library/z/b/new",
        "write Library/z/b/new/f.wav", in("Library/z/b/new"));
    row("root renamed", "", "mv Library Renamed", incomplete);
    row("root deleted", "", "rm Library", incomplete);
    row("file in root made again", "rm Library; mkdir Library", "write Library/f.wav",
        in("Library"));
    row("file in hidden folder", "", "write Library/.hidden/x/f.wav", QString());
    row("hidden file, file next to root", "", "write Library/.DS_Store; write x.txt", QString());
    row("file in new folder in hidden folder", "mkdir Library/.hidden/new",
        "write Library/.hidden/new/f.wav", QString());
    row("file in folder moved out", "mv Library/a/b Outside/b", "write Outside/b/c/f.wav",
        QString());
    row("file behind a folder link", "", "write Outside/moved/f.wav", QString());
    // With two watches, the root's parent and the root are watched and no folder below them.
    row("file in unwatched folder", "", "write Library/a/b/c/f.wav", incomplete, 2);
    row("unwatched folder deleted", "", "rm Library/a/b/c", incomplete, 2);
    row("nothing changed", "", "", QString(), 2);
    row("root deleted, nothing watched", "", "rm Library", incomplete, 0);
    row("folder made with no watch left", "", "mkdir Library/a/new", incomplete, kJustEnough);
    row("file made with no watch left", "", "write Library/a/f.wav", in("Library/a"), kJustEnough);
    // Without watches, a network root's changes stand for those made by other machines.
    row("network: change heard by a watch", "", "write Library/a/b/c/f.wav", in("Library/a/b/c"),
        -1, true);
    row("network: folder made elsewhere", "", "mkdir Library/a/new", incomplete, 0, true);
    row("network: folder time moved, same entries", "", "touch Library/a/b", QString(), 0, true);
    // A drive mounted inside a root is watched in place of the folder it covers.
    row("drive mounted", "", "mount Library/a/b/c", incomplete);
    row("file on a mounted drive", "mount Library/a/b/c", "write Library/a/b/c/f.wav",
        in("Library/a/b/c"));
    row("drive unmounted", "mount Library/a/b/c", "umount Library/a/b/c", incomplete);
}

void FileSystemWatcherTest::reportsChanges()
{
    QFETCH(QString, setup);
    QFETCH(QString, change);
    QFETCH(QString, reported);
    QFETCH(int, watchLimit);
    QFETCH(bool, network);

    Tree tree;
    if ((setup + change).contains(u"mount") && !tree.apply(u"mount Outside; umount Outside"_qs))
        QSKIP("mounting needs privileges this run does not have");
    if (watchLimit == kJustEnough) {
        FileSystemWatcher probe([](const FileSystemChanges &) {});
        probe.start({tree.root()});
        QTRY_VERIFY(probe.isReady());
        watchLimit = probe.watchCount();
    }
    const bool rescanning = watchLimit >= 0 || network;
    Calls calls;
    FileSystemWatcher watcher(calls.handler());
    if (watchLimit >= 0)
        watcher.setWatchLimitForTesting(watchLimit);
    watcher.setTreatRootsAsNetworkForTesting(network);
    if (rescanning)
        watcher.setRescanIntervalForTesting(50ms);
    watcher.start({tree.root()});
    QVERIFY(watcher.isRunning());
    QTRY_VERIFY(watcher.isReady());
    if (!setup.isEmpty()) {
        QVERIFY(tree.apply(setup));
        QTest::qWait(kPastBatchWindowMs);
    }
    calls.forget();
    QVERIFY(tree.apply(change));
    if (!reported.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), reported, kReportedMs);
    } else if (!rescanning) {
        // Events arrive in order: once a later change is reported, so is all an earlier one made.
        QVERIFY(tree.apply(u"write Library/a/sentinel.wav"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(calls.changes(tree.base()), in("Library/a"), kReportedMs);
    }
    if (!rescanning) {
        // The watches kept in step with the changes are those a fresh start sets up.
        FileSystemWatcher fresh([](const FileSystemChanges &) {});
        fresh.start({tree.root()});
        QTRY_VERIFY(fresh.isReady());
        QTRY_COMPARE(watcher.watchCount(), fresh.watchCount());
        QCOMPARE(watcher.folderCount(), fresh.folderCount());
        return;
    }
    // Rescans over an untouched tree, and later ones over a changed tree, add nothing.
    QTest::qWait(300);
    QCOMPARE(calls.changes(tree.base()), reported.isEmpty() ? in("") : reported);
    QVERIFY(!reported.isEmpty() || calls.count() == 0);
    if (watchLimit >= 0)
        QCOMPARE(watcher.watchCount(), watchLimit);
}

void FileSystemWatcherTest::destructionWhileEventsStreamIsSafe()
{
    Tree tree;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; writing.load(); ++i) {
            TestSupport::writeFile(tree.at(u"Library/a/b/"_qs) + QString::number(i % 200));
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

void FileSystemWatcherTest::recoversFromQueueOverflow()
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    const int queueSize =
        limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt() : 0;
    if (queueSize <= 0 || queueSize > 60000)
        QSKIP("the inotify queue size is unknown or too large to overflow quickly");

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

    QVERIFY(tree.apply(u"write Library/first.wav"_qs));
    QTest::qWait(100);
    // Each file queues two events, its creation and its close; the folder made after them finds
    // the queue full, so only a fresh walk can find it.
    for (int i = 0; i < queueSize / 2 + 500; ++i)
        QVERIFY(TestSupport::writeFile(tree.at(u"Library/a/b/c/"_qs) + QString::number(i)));
    QVERIFY(TestSupport::makeDirs(tree.at(u"Library/a/b/late"_qs)));
    release.store(true);

    QTRY_VERIFY_WITH_TIMEOUT(lost.load(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.watchCount(), watches + 1, kReportedMs);
    QTest::qWait(kPastBatchWindowMs);
    const int before = calls.load();
    QVERIFY(tree.apply(u"write Library/a/b/late/after.wav"_qs));
    QTRY_VERIFY_WITH_TIMEOUT(calls.load() > before, kReportedMs);
}

QTEST_GUILESS_MAIN(FileSystemWatcherTest)
#include "tst_filesystemwatcher.moc"
