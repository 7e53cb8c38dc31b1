// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// FileSystemWatcher on a generated library: how long the watches take to set up (against a plain
// readdir walk of the same tree, measured in the same run) and the memory they take, how many
// handler calls a large copy makes and what they name, and whether the reader thread wakes at all
// while nothing changes. With --network the root is taken for a network file system and re-scanned
// every second instead of every 30, so the idle phase measures the re-scan's cost; --watch-limit
// caps the watches as a small kernel limit would.
//
//   watcher_bench [--folders N] [--files-per-folder N] [--copy N] [--idle SECONDS] [--dir DIR]
//                 [--watch-limit N] [--network 1]

#include "FileSystemWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Packs of ten categories of ten folders each, `filesPerFolder` files in every leaf folder.
int makeLibrary(const QString &root, int folders, int filesPerFolder)
{
    int made = 0;
    const QByteArray bytes(512, 'x');
    for (int pack = 0; made < folders; ++pack) {
        for (int category = 0; category < 10 && made < folders; ++category) {
            for (int leaf = 0; leaf < 10 && made < folders; ++leaf) {
                const QString folder = QStringLiteral("%1/Pack %2/Category %3/Kit %4")
                                           .arg(root)
                                           .arg(pack)
                                           .arg(category)
                                           .arg(leaf);
                QDir().mkpath(folder);
                for (int file = 0; file < filesPerFolder; ++file)
                    writeFile(QStringLiteral("%1/Hit %2.wav").arg(folder).arg(file), bytes);
                ++made;
            }
        }
    }
    return made;
}

// The reference: one thread listing every folder with readdir and d_type, nothing else.
int walkFolders(const std::string &top)
{
    int folders = 0;
    std::vector<std::string> pending{top};
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        DIR *dir = ::opendir(path.c_str());
        if (!dir)
            continue;
        ++folders;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.' && entry->d_type == DT_DIR)
                pending.push_back(path + '/' + entry->d_name);
        }
        ::closedir(dir);
    }
    return folders;
}

// Resident memory of the process, in kB.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &row : status.readAll().split('\n')) {
        if (row.startsWith("VmRSS:"))
            return row.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Bytes the allocator has handed out and not yet been given back.
double heapInUseMb()
{
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

struct ThreadUsage
{
    long ticks = -1;   // user + system CPU time, in clock ticks
    long wakeUps = -1; // voluntary context switches: each poll() return is one
};

// The reader thread is found by its name, which the kernel cuts to 15 bytes.
ThreadUsage readerUsage()
{
    ThreadUsage usage;
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) ||
            !QByteArray("org.wavelark.Wavelark.fsevents").startsWith(comm.readAll().trimmed()))
            continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            usage.ticks = fields.value(11).toLong() + fields.value(12).toLong(); // utime, stime
        }
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &row : status.readAll().split('\n')) {
                if (row.startsWith("voluntary_ctxt_switches:"))
                    usage.wakeUps = row.mid(row.indexOf(':') + 1).trimmed().toLong();
            }
        }
    }
    return usage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int folders = 10000;
    int filesPerFolder = 5;
    int copyFiles = 10000;
    int idleSeconds = 5;
    int watchLimit = -1;
    bool network = false;
    QString dir = QDir::tempPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--folders"))
            folders = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--files-per-folder"))
            filesPerFolder = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--copy"))
            copyFiles = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--idle"))
            idleSeconds = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--dir"))
            dir = args[i + 1];
        else if (args[i] == QStringLiteral("--watch-limit"))
            watchLimit = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--network"))
            network = args[i + 1].toInt() != 0;
    }

    QTemporaryDir temp(dir + QStringLiteral("/watcher_bench-XXXXXX"));
    const QString root = temp.path() + QStringLiteral("/Library");
    QElapsedTimer timer;
    timer.start();
    makeLibrary(root, folders, filesPerFolder);
    const std::string rootPath = QFile::encodeName(root).toStdString();
    const int totalFolders = walkFolders(rootPath);
    out() << "library: " << totalFolders << " folders (" << folders << " leaves x "
          << filesPerFolder << " files), made in " << timer.elapsed() << " ms\n";
    out().flush();

    std::atomic<int> calls{0};
    std::atomic<int> incompleteCalls{0};
    std::atomic<int> folderPaths{0};
    std::atomic<int> treePaths{0};
    const long rssBefore = residentKb();
    const double heapBefore = heapInUseMb();
    FileSystemWatcher watcher([&](const FileSystemChanges &changes) {
        calls.fetch_add(1);
        incompleteCalls.fetch_add(changes.complete ? 0 : 1);
        folderPaths.fetch_add(static_cast<int>(changes.folders.size()));
        treePaths.fetch_add(static_cast<int>(changes.trees.size()));
    });
    if (watchLimit >= 0)
        watcher.setWatchLimitForTesting(watchLimit);
    watcher.setTreatRootsAsNetworkForTesting(network);
    if (network)
        watcher.setRescanIntervalForTesting(std::chrono::seconds(1));

    // Set-up, warm cache, five rounds each, alternating.
    std::vector<double> walkMs, startMs, readyMs;
    walkFolders(rootPath);
    for (int round = 0; round < 5; ++round) {
        timer.restart();
        walkFolders(rootPath);
        walkMs.push_back(timer.nsecsElapsed() / 1e6);

        watcher.start({});
        timer.restart();
        watcher.start({root});
        startMs.push_back(timer.nsecsElapsed() / 1e6);
        while (!watcher.isReady())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        readyMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double heapWatching = heapInUseMb();
    const long rssWatching = residentKb();
    const double walk = median(walkMs);
    const double ready = median(readyMs);
    out() << "readdir walk (reference): " << walk << " ms\n"
          << "start() returns after:    " << median(startMs) << " ms\n"
          << "all watches ready after:  " << ready << " ms = " << ready / walk
          << " x the walk; watches: " << watcher.watchCount() << " for " << watcher.folderCount()
          << " folders\n"
          << "memory while watching: heap +" << heapWatching - heapBefore << " MB ("
          << (heapWatching - heapBefore) * 1024 * 1024 / std::max(1, watcher.folderCount())
          << " bytes a folder), resident +" << (rssWatching - rssBefore) / 1024.0 << " MB\n";
    out().flush();

    // Idle: no change on disk, so the reader must not run at all.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const ThreadUsage idleBefore = readerUsage();
    const int callsBefore = calls.load();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const ThreadUsage idleAfter = readerUsage();
    out() << "idle " << idleSeconds << " s" << (network ? " (a re-scan every second)" : "")
          << ": reader CPU " << idleAfter.ticks - idleBefore.ticks << " ticks ("
          << sysconf(_SC_CLK_TCK) << "/s), wake-ups " << idleAfter.wakeUps - idleBefore.wakeUps
          << ", handler calls " << calls.load() - callsBefore << "\n";
    out().flush();

    if (copyFiles <= 0)
        return 0;

    // A copy into the library of `copyFiles` files in folders of 100, made outside it first.
    timer.restart();
    const QString source = temp.path() + QStringLiteral("/Import");
    const QByteArray sample(32 * 1024, 's');
    for (int i = 0; i < copyFiles; ++i) {
        const QString folder = QStringLiteral("%1/Folder %2").arg(source).arg(i / 100);
        if (i % 100 == 0)
            QDir().mkpath(folder);
        writeFile(QStringLiteral("%1/Sample %2.wav").arg(folder).arg(i), sample);
    }
    out() << "copy source made in " << timer.elapsed() << " ms\n";
    out().flush();
    const ThreadUsage copyBefore = readerUsage();
    calls.store(0);
    incompleteCalls.store(0);
    folderPaths.store(0);
    treePaths.store(0);
    timer.restart();
    QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, root});
    const double copyMs = timer.nsecsElapsed() / 1e6;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const ThreadUsage copyAfter = readerUsage();
    out() << "copy of " << copyFiles << " files in " << (copyFiles + 99) / 100
          << " folders: cp took " << copyMs << " ms, handler calls " << calls.load() << " ("
          << incompleteCalls.load() << " incomplete) naming " << folderPaths.load()
          << " folders and " << treePaths.load() << " trees, reader CPU "
          << copyAfter.ticks - copyBefore.ticks << " ticks (" << sysconf(_SC_CLK_TCK)
          << "/s), watches now " << watcher.watchCount() << "\n";
    out().flush();
    return 0;
}
