// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The sample index and its file.
#include "SampleLibrary.h"

#include "BackgroundJob.h"
#include "BufferPool.h"
#include "FilePaths.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "IndexJournal.h"
#include "IndexSnapshot.h"
#include "MemoryPolicy.h"
#include "SerialQueue.h"

#include <QDir>
#include <QStandardPaths>
#include <QThreadPool>

#include <algorithm>

namespace {
// Changes carried by the journal before the index file is written whole again: reading them
// back at a start costs one patch of the index.
constexpr size_t journalLimit = 65536;
// A burst of changes (a pack unpacking, a sync) goes to the journal as it comes; the index file
// is written whole once the changes have rested this long, so that a start reads it without
// replaying, and the index in memory is the file's pages again.
constexpr int defaultCompactionDelay = 30000;
// A burst of live changes recycles the memory of one patched index for the next; this long
// after the last patch, the burst is over and the memory goes back.
constexpr int burstEnd = 5000;

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
} // namespace

SampleLibrary::SampleLibrary(const QString &filePath, QObject *parent)
    : QObject(parent), m_filePath(filePath.isEmpty() ? defaultFilePath() : filePath),
      m_index(SampleIndex::Builder().finish())
{
    m_writeTimer.setSingleShot(true);
    connect(&m_writeTimer, &QTimer::timeout, this, [this] {
        if (m_writeDue)
            writeNow();
    });
    m_burstTimer.setSingleShot(true);
    m_burstTimer.setInterval(burstEnd);
    connect(&m_burstTimer, &QTimer::timeout, this, [] {
        // Unmapping a hundred megabytes of kept blocks would cost the GUI thread a frame.
        QThreadPool::globalInstance()->start([] {
            BufferPool::setKeeping(false);
            MemoryPolicy::releaseFreeMemory();
        });
    });
    m_compactionTimer.setSingleShot(true);
    m_compactionTimer.setInterval(defaultCompactionDelay);
    connect(&m_compactionTimer, &QTimer::timeout, this, [this] {
        // A build or a patch under way writes or journals when it ends.
        if (m_journaled > 0 && m_job == Job::None)
            writeNow();
    });
}

SampleLibrary::~SampleLibrary()
{
    if (m_cancel)
        m_cancel->cancel();
    if (m_burstTimer.isActive())
        BufferPool::setKeeping(false);
    // Live changes not yet written go out now, and journaled ones are written whole, so that the
    // next start maps the index instead of patching it; the queue finishes its writes before it
    // goes.
    if (m_writeDue || m_journaled > 0)
        writeNow();
    waitForWrites();
}

QString SampleLibrary::defaultFilePath()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/Wavelark/index.plist");
}

void SampleLibrary::setIsIndexing(bool indexing)
{
    if (m_isIndexing == indexing)
        return;
    m_isIndexing = indexing;
    Q_EMIT isIndexingChanged();
}

SerialQueue &SampleLibrary::writeQueue()
{
    if (!m_writeQueue)
        m_writeQueue =
            std::make_unique<SerialQueue>(QStringLiteral("org.wavelark.Wavelark.indexWrite"));
    return *m_writeQueue;
}

void SampleLibrary::waitForWrites()
{
    if (m_writeQueue)
        m_writeQueue->waitForDone();
}

void SampleLibrary::loadFromDisk()
{
    const QString path = m_filePath;
    BackgroundJob::run(
        this, std::make_shared<CancelFlag>(), BackgroundJob::Priority::UserInitiated,
        [path] { return std::shared_ptr<const SampleIndex>(IndexFile::read(path)); },
        [this](std::shared_ptr<const SampleIndex> loaded) {
            // A finished build always wins over the stored list.
            if (m_index->isEmpty() && !loaded->isEmpty())
                apply(std::move(loaded));
        });
}

void SampleLibrary::apply(std::shared_ptr<const SampleIndex> index)
{
    m_index = std::move(index);
    Q_EMIT indexChanged();
}

void SampleLibrary::build(const QStringList &rootPaths, bool live)
{
    if (m_cancel)
        m_cancel->cancel();
    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_cancel = flag;
    m_job = Job::Build;
    m_changesInFlight = {};
    setIsIndexing(true);
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [rootPaths, flag] {
            return std::shared_ptr<const SampleIndex>(IndexBuilder::buildIndex(rootPaths, *flag));
        },
        [this, live](std::shared_ptr<const SampleIndex> built) {
            m_job = Job::None;
            apply(std::move(built));
            setIsIndexing(false);
            store(live);
        });
}

void SampleLibrary::update(const QStringList &rootPaths, FileSystemChanges changes)
{
    // A build that is still walking may already have passed what changed: it starts over.
    if (!changes.complete || m_job == Job::Build) {
        build(rootPaths, true);
        return;
    }
    if (m_job == Job::Patch) {
        m_cancel->cancel();
        changes.merge(m_changesInFlight);
    }
    std::vector<std::string> roots;
    for (const QString &root : rootPaths)
        roots.push_back(utf8(FilePaths::normalized(root)));
    bool holdsRoot = false;
    const auto normalized = [&](const QStringList &paths) {
        std::vector<std::string> kept;
        for (const QString &path : paths) {
            std::string clean = utf8(FilePaths::normalized(path));
            holdsRoot = holdsRoot || std::any_of(roots.begin(), roots.end(), [&](auto &root) {
                            return root != clean && FilePaths::isAtOrBelow(root, clean);
                        });
            if (std::find(kept.begin(), kept.end(), clean) == kept.end())
                kept.push_back(std::move(clean));
        }
        return kept;
    };
    const std::vector<std::string> changedTrees = normalized(changes.trees);
    const std::vector<std::string> changedFolders = normalized(changes.folders);
    // A change above a root is the root's own: the roots are walked again.
    if (holdsRoot) {
        build(rootPaths, true);
        return;
    }
    // Nested trees and folders inside a tree are listed with the tree, never twice.
    const auto insideAnother = [&](const std::string &path) {
        return std::any_of(changedTrees.begin(), changedTrees.end(), [&](const std::string &tree) {
            return tree != path && FilePaths::isAtOrBelow(path, tree);
        });
    };
    std::vector<std::string> trees;
    for (const std::string &tree : changedTrees) {
        if (!insideAnother(tree))
            trees.push_back(tree);
    }
    std::vector<std::string> folders;
    for (const std::string &folder : changedFolders) {
        if (!insideAnother(folder) && std::find(trees.begin(), trees.end(), folder) == trees.end())
            folders.push_back(folder);
    }

    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_cancel = flag;
    m_job = Job::Patch;
    BufferPool::setKeeping(true);
    m_burstTimer.start();
    m_changesInFlight = changes;
    setIsIndexing(true);
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [snapshot = m_index, rootPaths, folders = std::move(folders), trees = std::move(trees),
         flag] {
            Patch patch;
            patch.base = snapshot;
            patch.change.replacement = IndexBuilder::buildPart(rootPaths, folders, trees, *flag);
            patch.index = snapshot->patched(folders, trees, *patch.change.replacement);
            patch.change.folders = folders;
            patch.change.trees = trees;
            return patch;
        },
        [this](Patch patch) {
            m_job = Job::None;
            m_changesInFlight = {};
            apply(patch.index);
            setIsIndexing(false);
            m_burstTimer.start();
            storeChange(patch);
        });
}

void SampleLibrary::storeChange(const Patch &patch)
{
    // The journal extends what the disk holds (or will, once the queued writes are done); any
    // other index is written whole.
    const size_t carried = patch.change.replacement->size() + patch.change.folders.size() +
                           patch.change.trees.size() + 1;
    if (m_onDisk.lock() != patch.base || m_journaled + carried > journalLimit) {
        store(true);
        return;
    }
    m_onDisk = patch.index;
    m_journaled += carried;
    m_compactionTimer.start();
    ++m_writesRunning;
    writeQueue().enqueue([this, change = patch.change, index = patch.index, path = m_filePath] {
        if (IndexJournal::append(path, change)) {
            QMetaObject::invokeMethod(
                this, [this] { writeFinished(Written::Appended, nullptr, nullptr); },
                Qt::QueuedConnection);
            return;
        }
        writeWhole(index, path);
    });
}

void SampleLibrary::store(bool live)
{
    if (!live) {
        writeNow();
        return;
    }
    m_writeDue = true;
    writeWhenRested();
}

void SampleLibrary::writeWhenRested()
{
    // The write still running calls again when it ends.
    if (m_writesRunning > 0)
        return;
    // A large index takes a while to write: during a long copy the disk rests four times as long
    // as it writes, while a small one is written after every change.
    const qint64 rest = 4 * m_lastWriteMs;
    const qint64 rested = m_sinceWrite.isValid() ? m_sinceWrite.elapsed() : rest;
    if (rested >= rest) {
        writeNow();
        return;
    }
    if (!m_writeTimer.isActive())
        m_writeTimer.start(int(rest - rested));
}

void SampleLibrary::writeNow()
{
    m_writeDue = false;
    m_writeTimer.stop();
    m_compactionTimer.stop();
    m_onDisk = m_index;
    m_journaled = 0;
    ++m_writesRunning;
    // Each write owns its snapshot, so later changes never touch what is being written. The
    // model waits for the queue before it goes, so the call back always finds it.
    writeQueue().enqueue(
        [this, snapshot = m_index, filePath = m_filePath] { writeWhole(snapshot, filePath); });
}

void SampleLibrary::writeWhole(const std::shared_ptr<const SampleIndex> &index,
                               const QString &filePath)
{
    QElapsedTimer took;
    took.start();
    const bool written = IndexFile::write(*index, filePath);
    std::shared_ptr<const SampleIndex> mapped;
    if (written) {
        // The same entries read back from the snapshot just written live in the file's pages,
        // which the system can drop and read again; the copy built in memory cannot.
        std::shared_ptr<SampleIndex> copy = IndexSnapshot::read(filePath);
        if (copy && copy->size() == index->size()) {
            copy->markCopyOf(*index);
            mapped = std::move(copy);
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this, ms = took.elapsed(), written, index, mapped = std::move(mapped)]() mutable {
            m_lastWriteMs = ms;
            writeFinished(written ? Written::Whole : Written::Failed, index, std::move(mapped));
        },
        Qt::QueuedConnection);
}

void SampleLibrary::writeFinished(Written what, const std::shared_ptr<const SampleIndex> &index,
                                  std::shared_ptr<const SampleIndex> mapped)
{
    --m_writesRunning;
    if (what != Written::Appended) {
        // A failed write left the file as it was and dropped its journal: the next change is
        // written whole.
        if (what == Written::Failed)
            m_onDisk.reset();
        else if (mapped && m_onDisk.lock() == index)
            m_onDisk = mapped;
        if (mapped && m_index == index && m_job == Job::None)
            apply(std::move(mapped));
        // A build or a patch and its write leave large free blocks in the pools of the threads
        // that made them.
        MemoryPolicy::releaseFreeMemory();
        m_sinceWrite.start();
    }
    if (m_writeDue)
        writeWhenRested();
}
