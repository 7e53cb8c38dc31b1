// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "IndexBuilder.h"

#include "FilePaths.h"
#include "Fold.h"

#include <QFile>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool isAudioName(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 > 4 || dot + 1 == name.size())
        return false;
    char extension[5] = {};
    const std::string_view raw = name.substr(dot + 1);
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        extension[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    static const char *const known[] = {"wav", "wave", "aif",  "aiff", "aifc", "caf", "mp3", "m4a",
                                        "aac", "mp4",  "flac", "au",   "snd",  "ogg", "oga"};
    for (const char *candidate : known) {
        if (std::string_view(extension) == candidate)
            return true;
    }
    return false;
}

// True when the bytes are the index's form already: valid UTF-8 holding nothing of the block that
// carries other bytes (its code points are EF BE xx and EF BF xx in UTF-8).
bool isCarriedAsIs(std::string_view text)
{
    if (isAscii(text))
        return true;
    return QUtf8StringView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8() &&
           text.find("\xEF\xBE") == std::string_view::npos &&
           text.find("\xEF\xBF") == std::string_view::npos;
}

std::string joined(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

struct LinuxDirent64
{
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// A cold walk waits on the disk, where four readers finish a fifth sooner than two; warm, the
// cores are busy either way.
constexpr int walkingThreads = 4;

// The threads share one stack of folders; each lists a folder with getdents64, folds the audio
// names it finds and hands the folder's entries to the shared builder in one step.
class Walk final
{
public:
    explicit Walk(const CancelFlag &flag) : m_flag(flag) {}

    void add(std::string path, bool recursive)
    {
        m_pending.push_back({std::move(path), recursive});
    }

    SampleIndex::Builder run()
    {
        // Each thread fills a builder of its own, joined at the end: a shared one would have
        // the threads wait on each other's copying.
        std::vector<SampleIndex::Builder> parts(walkingThreads);
        if (!m_pending.empty()) {
            std::vector<std::thread> helpers;
            for (int i = 1; i < walkingThreads; ++i)
                helpers.emplace_back([this, &parts, i] { work(parts[size_t(i)]); });
            work(parts[0]);
            for (std::thread &helper : helpers)
                helper.join();
        }
        for (size_t i = 1; i < parts.size(); ++i) {
            parts[0].adjoin(parts[i]);
            parts[i] = SampleIndex::Builder();
        }
        return std::move(parts[0]);
    }

private:
    struct Task
    {
        std::string path;
        bool recursive;
    };
    struct Listing
    {
        std::vector<std::string> subfolders;
        std::string folded;
        std::vector<char> buffer = std::vector<char>(64 * 1024);
        std::string scratch;
        quint64 counter = 0;
    };

    void work(SampleIndex::Builder &builder)
    {
        Listing listing;
        std::unique_lock lock(m_mutex);
        for (;;) {
            // A thread sleeps only while others may still find work; each folder found wakes
            // at most one sleeper, so a walk of many small folders is not a storm of wake-ups.
            while (m_pending.empty() && m_busy > 0 && !m_stop) {
                ++m_idle;
                m_wake.wait(lock);
                --m_idle;
            }
            if (m_pending.empty() || m_stop) {
                m_stop = true;
                if (m_idle > 0)
                    m_wake.notify_all();
                return;
            }
            Task task = std::move(m_pending.back());
            m_pending.pop_back();
            ++m_busy;
            lock.unlock();
            const bool cancelled = !list(task, listing, builder);
            lock.lock();
            --m_busy;
            if (cancelled)
                m_stop = true;
            const size_t found = listing.subfolders.size();
            for (auto it = listing.subfolders.rbegin(); it != listing.subfolders.rend(); ++it)
                m_pending.push_back({std::move(*it), true});
            // This thread takes one of the folders itself; the rest go to sleepers.
            for (size_t woken = 1; woken < found && woken <= size_t(m_idle); ++woken)
                m_wake.notify_one();
            if ((m_stop || (m_busy == 0 && m_pending.empty())) && m_idle > 0)
                m_wake.notify_all();
        }
    }

    // Returns false once cancelled.
    bool list(const Task &task, Listing &listing, SampleIndex::Builder &builder)
    {
        listing.subfolders.clear();
        // The folder joins the index with its first audio file.
        std::optional<quint32> folder;
        const int fd = ::open(task.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return true;
        bool cancelled = false;
        for (;;) {
            const long read =
                ::syscall(SYS_getdents64, fd, listing.buffer.data(), listing.buffer.size());
            if (read <= 0)
                break;
            for (long position = 0; position < read;) {
                const auto *entry =
                    reinterpret_cast<const LinuxDirent64 *>(listing.buffer.data() + position);
                position += entry->d_reclen;
                const char *name = entry->d_name;
                if (name[0] == '.')
                    continue;
                if (++listing.counter % 1024 == 0 && m_flag.isCancelled()) {
                    cancelled = true;
                    break;
                }
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN) {
                    struct stat st;
                    if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                        type = DT_REG; // unreadable flag: keep the item
                    else if (S_ISDIR(st.st_mode))
                        type = DT_DIR;
                    else if (S_ISREG(st.st_mode))
                        type = DT_REG;
                    else
                        type = DT_LNK;
                }
                const std::string_view nameView(name);
                if (type == DT_DIR) {
                    if (task.recursive)
                        listing.subfolders.push_back(joined(task.path, nameView));
                    continue;
                }
                if (type != DT_REG || !isAudioName(nameView))
                    continue;
                if (!folder) {
                    folder = builder.addFolder(
                        isCarriedAsIs(task.path) ? task.path : FilePaths::escapedUtf8(task.path));
                }
                if (isAscii(nameView)) {
                    builder.appendAscii(*folder, nameView);
                    continue;
                }
                std::string_view carried = nameView;
                if (!isCarriedAsIs(nameView)) {
                    // Names that are not UTF-8 keep their bytes, so the file opens again by them.
                    listing.scratch = FilePaths::escapedUtf8(nameView);
                    carried = listing.scratch;
                }
                listing.folded.clear();
                foldUtf8(carried, listing.folded);
                builder.append(*folder, carried, listing.folded);
            }
            if (cancelled)
                break;
        }
        ::close(fd);
        return !cancelled;
    }

    const CancelFlag &m_flag;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Task> m_pending;
    int m_busy = 0;
    int m_idle = 0;
    bool m_stop = false;
};

std::string localPath(const QString &path)
{
    const QByteArray encoded = FilePaths::encoded(FilePaths::normalized(path));
    return std::string(encoded.constData(), size_t(encoded.size()));
}

} // namespace

std::shared_ptr<SampleIndex> IndexBuilder::buildIndex(const QStringList &rootPaths,
                                                      const CancelFlag &flag)
{
    return walk(rootPaths, flag).finish();
}

SampleIndex::Builder IndexBuilder::walk(const QStringList &rootPaths, const CancelFlag &flag)
{
    Walk walker(flag);
    // The stack is worked from the back: the first root first.
    for (auto it = rootPaths.rbegin(); it != rootPaths.rend(); ++it)
        walker.add(localPath(*it), true);
    return walker.run();
}

std::shared_ptr<SampleIndex> IndexBuilder::buildPart(const QStringList &rootPaths,
                                                     const std::vector<std::string> &folders,
                                                     const std::vector<std::string> &trees,
                                                     const CancelFlag &flag)
{
    Walk walker(flag);
    for (const QString &root : rootPaths) {
        const std::string rootPath = localPath(root);
        for (const std::string &folder : folders) {
            if (takesIn(rootPath, folder))
                walker.add(folder, false);
        }
        for (const std::string &tree : trees) {
            if (takesIn(rootPath, tree))
                walker.add(tree, true);
        }
    }
    return walker.run().finish();
}

bool IndexBuilder::takesIn(std::string_view root, std::string_view path)
{
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0)
        return false;
    if (path.size() == root.size())
        return true;
    size_t position = root.size();
    if (root != "/") {
        if (path[position] != '/')
            return false;
        ++position;
    }
    for (size_t start = position; start < path.size();) {
        if (path[start] == '.')
            return false;
        const size_t slash = path.find('/', start);
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    return true;
}
