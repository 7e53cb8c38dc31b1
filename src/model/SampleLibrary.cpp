// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The sample index and its file.
#include "SampleLibrary.h"

#include "BackgroundJob.h"
#include "FilePaths.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "IndexSnapshot.h"
#include "MemoryPolicy.h"
#include "SerialQueue.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

namespace {
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
}

SampleLibrary::~SampleLibrary()
{
    if (m_cancel)
        m_cancel->cancel();
    // Live changes not yet written go out now; the queue finishes its writes before it goes.
    if (m_writeDue)
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
    m_changesInFlight = changes;
    setIsIndexing(true);
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [snapshot = m_index, rootPaths, folders = std::move(folders), trees = std::move(trees),
         flag] {
            const std::shared_ptr<SampleIndex> part =
                IndexBuilder::buildPart(rootPaths, folders, trees, *flag);
            return std::shared_ptr<const SampleIndex>(snapshot->patched(folders, trees, *part));
        },
        [this](std::shared_ptr<const SampleIndex> patched) {
            m_job = Job::None;
            m_changesInFlight = {};
            apply(std::move(patched));
            setIsIndexing(false);
            store(true);
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
    const qint64 rest = std::max<qint64>(m_minimumWriteRest, 4 * m_lastWriteMs);
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
    ++m_writesRunning;
    // Each write owns its snapshot, so later changes never touch what is being written. The
    // model waits for the queue before it goes, so the call back always finds it.
    writeQueue().enqueue([this, snapshot = m_index, filePath = m_filePath] {
        QElapsedTimer took;
        took.start();
        std::shared_ptr<const SampleIndex> mapped;
        if (IndexFile::write(*snapshot, filePath)) {
            // The same entries read back from the snapshot just written live in the file's
            // pages, which the system can drop and read again; the copy built in memory cannot.
            std::shared_ptr<SampleIndex> copy = IndexSnapshot::read(filePath);
            if (copy && copy->size() == snapshot->size()) {
                copy->markCopyOf(*snapshot);
                mapped = std::move(copy);
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, ms = took.elapsed(), written = snapshot, mapped = std::move(mapped)]() mutable {
                if (mapped && m_index == written && m_job == Job::None)
                    apply(std::move(mapped));
                writeFinished(ms);
            },
            Qt::QueuedConnection);
    });
}

void SampleLibrary::writeFinished(qint64 milliseconds)
{
    --m_writesRunning;
    // A build or a patch and its write leave large free blocks in the pools of the threads that
    // made them.
    MemoryPolicy::releaseFreeMemory();
    m_lastWriteMs = milliseconds;
    m_sinceWrite.start();
    if (m_writeDue)
        writeWhenRested();
}
