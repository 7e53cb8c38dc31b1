// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileSystemWatcher.h"

#include "FilePaths.h"

#include "InotifyTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <optional>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLatency{1000};
// The first change of a quiet period waits this long for the rest of its operation (a file's
// creation is followed by its close), so that copying one file makes one call, not two.
constexpr milliseconds kSettle{50};
constexpr milliseconds kRescanInterval{30000};

int pollTimeout(std::optional<Clock::time_point> wake)
{
    if (!wake)
        return -1;
    const auto left = std::chrono::ceil<milliseconds>(*wake - Clock::now()).count();
    return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

std::vector<std::string> localRoots(const QStringList &paths)
{
    std::vector<std::string> roots;
    for (const QString &path : paths) {
        if (path.isEmpty())
            continue;
        const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        std::string local = FilePaths::encoded(clean).toStdString();
        if (std::find(roots.begin(), roots.end(), local) == roots.end())
            roots.push_back(std::move(local));
    }
    return roots;
}

} // namespace

using Handler = std::function<void(const FileSystemChanges &)>;

// One run of the watcher: the inotify tree and the thread that reads it, from start() to stop.
class WatchReader final
{
public:
    WatchReader(std::vector<std::string> roots, const Handler &handler,
                InotifyTree::Options options, milliseconds rescanInterval)
        : m_tree(std::move(roots), options), m_handler(handler), m_rescanInterval(rescanInterval),
          m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->setObjectName(QStringLiteral("org.wavelark.Wavelark.fsevents"));
        m_thread->start();
    }

    ~WatchReader()
    {
        m_stop.store(true);
        if (m_wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
        }
        m_thread->wait();
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
    }
    Q_DISABLE_COPY_MOVE(WatchReader)

    bool isReady() const { return m_ready.load(); }
    int watchCount() const { return m_watchCount.load(); }
    int folderCount() const { return m_folderCount.load(); }

private:
    void run();

    InotifyTree m_tree;
    const Handler &m_handler;
    const milliseconds m_rescanInterval;
    const int m_wakeFd;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ready{false};
    std::atomic<int> m_watchCount{0};
    std::atomic<int> m_folderCount{0};
    std::unique_ptr<QThread> m_thread;
};

void WatchReader::run()
{
    m_tree.watchAll(m_stop);
    m_watchCount.store(m_tree.watchCount());
    m_folderCount.store(static_cast<int>(m_tree.folderCount()));
    m_ready.store(true);

    std::optional<Clock::time_point> lastCall;
    std::optional<Clock::time_point> due; // when the pending batch is handed over
    bool rescanning = m_tree.needsRescan();
    Clock::time_point nextRescan = Clock::now() + m_rescanInterval;
    while (!m_stop.load()) {
        std::optional<Clock::time_point> wake = due;
        if (rescanning && (!wake || nextRescan < *wake))
            wake = nextRescan;
        // Without a wake-up descriptor, stop() can only be noticed by looking now and then.
        const int timeout = m_wakeFd >= 0 ? pollTimeout(wake) : std::min(pollTimeout(wake), 100);
        pollfd fds[3] = {
            {m_wakeFd, POLLIN, 0}, {m_tree.mountsFd(), POLLPRI, 0}, {m_tree.fd(), POLLIN, 0}};
        if (::poll(fds, 3, timeout) < 0 && errno != EINTR)
            QThread::msleep(100);
        if (m_stop.load())
            break;

        if (fds[2].revents & POLLIN)
            m_tree.readEvents(m_stop);
        if (fds[1].revents & (POLLPRI | POLLERR))
            m_tree.checkMounts(m_stop);
        if (!rescanning && m_tree.needsRescan()) {
            rescanning = true;
            nextRescan = Clock::now() + m_rescanInterval;
        }
        if (rescanning && Clock::now() >= nextRescan) {
            m_tree.rescan(m_stop);
            rescanning = m_tree.needsRescan();
            nextRescan = Clock::now() + m_rescanInterval;
        }
        m_watchCount.store(m_tree.watchCount());
        m_folderCount.store(static_cast<int>(m_tree.folderCount()));

        const Clock::time_point now = Clock::now();
        if (m_tree.hasChanges() && !due) {
            const bool quiet = !lastCall || now >= *lastCall + kLatency;
            due = quiet ? now + kSettle : *lastCall + kLatency;
        }
        if (due && now >= *due && !m_stop.load()) {
            due.reset();
            lastCall = now;
            m_handler(m_tree.takeChanges());
        }
    }
}

class FileSystemWatcher::Private
{
public:
    explicit Private(Handler handler) : m_handler(std::move(handler)) {}

    const Handler m_handler;
    mutable std::mutex m_mutex;
    InotifyTree::Options m_options;
    milliseconds m_rescanInterval = kRescanInterval;
    std::unique_ptr<WatchReader> m_reader;
};

FileSystemWatcher::FileSystemWatcher(Handler handler)
    : d(std::make_unique<Private>(std::move(handler)))
{}

FileSystemWatcher::~FileSystemWatcher()
{
    start({});
}

void FileSystemWatcher::start(const QStringList &paths)
{
    std::vector<std::string> roots = localRoots(paths);
    const std::lock_guard lock(d->m_mutex);
    d->m_reader.reset();
    if (!roots.empty())
        d->m_reader = std::make_unique<WatchReader>(std::move(roots), d->m_handler, d->m_options,
                                                    d->m_rescanInterval);
}

bool FileSystemWatcher::isRunning() const
{
    const std::lock_guard lock(d->m_mutex);
    return d->m_reader != nullptr;
}

bool FileSystemWatcher::isReady() const
{
    const std::lock_guard lock(d->m_mutex);
    return d->m_reader && d->m_reader->isReady();
}

int FileSystemWatcher::watchCount() const
{
    const std::lock_guard lock(d->m_mutex);
    return d->m_reader ? d->m_reader->watchCount() : 0;
}

int FileSystemWatcher::folderCount() const
{
    const std::lock_guard lock(d->m_mutex);
    return d->m_reader ? d->m_reader->folderCount() : 0;
}

void FileSystemWatcher::setWatchLimitForTesting(int limit)
{
    const std::lock_guard lock(d->m_mutex);
    d->m_options.watchLimit = std::max(0, limit);
}

void FileSystemWatcher::setTreatRootsAsNetworkForTesting(bool network)
{
    const std::lock_guard lock(d->m_mutex);
    d->m_options.treatRootsAsNetwork = network;
}

void FileSystemWatcher::setRescanIntervalForTesting(milliseconds interval)
{
    const std::lock_guard lock(d->m_mutex);
    d->m_rescanInterval = std::max(interval, milliseconds(1));
}
