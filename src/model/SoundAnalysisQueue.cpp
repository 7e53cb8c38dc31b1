// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundAnalysisQueue.h"

#include "AnalysisWorker.h"
#include "BackgroundJob.h"
#include "FilePaths.h"
#include "Preferences.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

namespace {

const QString pausedKey = QStringLiteral("soundAnalysisPaused");
// Enough requests ahead to keep the worker busy; few enough that a new focus goes next.
constexpr qsizetype inFlightLimit = 8;
constexpr size_t focusLimit = 20000;

struct CarriedFacts
{
    SoundFactsTable facts;
    std::vector<bool> checked;
    qint64 done = 0;
};

std::vector<std::string> utf8(const QStringList &paths)
{
    std::vector<std::string> out;
    for (const QString &path : paths)
        out.push_back(path.toUtf8().toStdString());
    return out;
}

} // namespace

SoundAnalysisQueue::SoundAnalysisQueue(Preferences &defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_paused(defaults.boolForKey(pausedKey))
{
    m_notify.setSingleShot(true);
    m_notify.setInterval(300);
    connect(&m_notify, &QTimer::timeout, this, [this] {
        Q_EMIT progressChanged();
        Q_EMIT factsChanged();
    });
}

SoundAnalysisQueue::~SoundAnalysisQueue()
{
    for (const CancelFlagPtr &flag : {m_carryCancel, m_focusCancel}) {
        if (flag)
            flag->cancel();
    }
}

void SoundAnalysisQueue::startWorker(const QString &program, const QStringList &arguments,
                                     std::chrono::milliseconds timeLimit)
{
    m_worker = std::make_unique<AnalysisWorker>(program, arguments, timeLimit);
    connect(m_worker.get(), &AnalysisWorker::analysed, this, &SoundAnalysisQueue::analysed);
    pump();
}

void SoundAnalysisQueue::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    m_defaults.setBool(paused, pausedKey);
    if (paused)
        takeBackWaiting();
    Q_EMIT pausedChanged();
    Q_EMIT progressChanged();
    pump();
}

QString SoundAnalysisQueue::progressText() const
{
    return progressText(m_done, totalCount(), m_paused);
}

QString SoundAnalysisQueue::progressText(qint64 done, qint64 total, bool paused)
{
    if (total <= 0 || done >= total)
        return {};
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    const QString counts =
        QStringLiteral("%1 of %2").arg(locale.toString(done), locale.toString(total));
    return paused ? QStringLiteral("Analysis paused at %1").arg(counts)
                  : QStringLiteral("Analysing %1").arg(counts);
}

SoundFacts SoundAnalysisQueue::factsFor(const QString &path) const
{
    if (!m_index || !m_ready)
        return {};
    const std::optional<size_t> entry = m_index->find(path);
    return entry ? m_facts.at(*entry) : SoundFacts();
}

void SoundAnalysisQueue::setIndex(std::shared_ptr<const SampleIndex> index)
{
    if (index == m_index)
        return;
    if (m_carryCancel)
        m_carryCancel->cancel();
    if (m_worker)
        m_worker->clearWaiting();
    m_inFlight.clear();
    carryOver(std::move(index));
}

// What was learnt of a file stays with its path when the index is rebuilt or patched; a fresh
// index starts from the facts its file held, to be checked again.
void SoundAnalysisQueue::carryOver(std::shared_ptr<const SampleIndex> index)
{
    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_carryCancel = flag;
    // Lining a million entries up with the old index reads all of it back into memory: only
    // worth it when there is something to carry.
    const bool carries = m_ready && (m_done > 0 || m_facts.knowsAny());
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [index, old = carries ? m_index : nullptr, facts = m_facts, checked = m_checked,
         recheck = std::exchange(m_recheck, FileSystemChanges()), flag] {
            auto carried = std::make_shared<CarriedFacts>();
            if (!index)
                return carried;
            carried->facts = SoundFactsTable(index->size());
            carried->checked.assign(index->size(), false);
            if (old) {
                const std::vector<qint64> matches = index->matching(*old, *flag);
                for (size_t entry = 0; entry < matches.size(); ++entry) {
                    if (matches[entry] < 0)
                        continue;
                    const auto from = size_t(matches[entry]);
                    // Nothing known stays unallocated: a patch of a large index carries a
                    // million entries, most of them not analysed yet.
                    if (const SoundFacts known = facts.at(from); known != SoundFacts())
                        carried->facts.set(entry, known);
                    if (checked[from]) {
                        carried->checked[entry] = true;
                        ++carried->done;
                    }
                }
                for (const quint32 entry : entriesIn(*index, recheck, *flag)) {
                    if (carried->checked[entry]) {
                        carried->checked[entry] = false;
                        --carried->done;
                    }
                }
            } else if (index->hasStoredFacts()) {
                for (size_t entry = 0; entry < index->size(); ++entry) {
                    const SoundFacts stored = index->storedFacts(entry);
                    if (stored.status() != SoundFacts::Status::NotAnalysed)
                        carried->facts.set(entry, stored);
                }
            }
            return carried;
        },
        [this, index](std::shared_ptr<CarriedFacts> carried) {
            if (!carried)
                return;
            m_index = index;
            m_facts = std::move(carried->facts);
            m_checked = std::move(carried->checked);
            m_done = carried->done;
            m_ready = true;
            m_cursor = 0;
            Q_EMIT progressChanged();
            Q_EMIT factsChanged();
            // With a focus, the first files sent are its own.
            if (m_focusFolder.isEmpty() && m_focusFile.isEmpty())
                pump();
            else
                setFocus(m_focusFolder, m_focusFile);
        });
}

std::vector<quint32> SoundAnalysisQueue::entriesIn(const SampleIndex &index,
                                                   const FileSystemChanges &changes,
                                                   const CancelFlag &flag)
{
    std::vector<quint32> entries;
    if (changes.isEmpty())
        return entries;
    if (!changes.complete) {
        entries.resize(index.size());
        std::iota(entries.begin(), entries.end(), quint32(0));
        return entries;
    }
    const std::vector<std::string> folders = utf8(changes.folders);
    const std::vector<std::string> trees = utf8(changes.trees);
    return index.entriesInFolders(
        [&](std::string_view folder) {
            return std::find(folders.begin(), folders.end(), folder) != folders.end() ||
                   std::any_of(trees.begin(), trees.end(), [folder](const std::string &tree) {
                       return FilePaths::isAtOrBelow(folder, tree);
                   });
        },
        flag);
}

void SoundAnalysisQueue::recheck(const FileSystemChanges &changes)
{
    m_recheck.merge(changes);
    if (!m_ready || !m_index)
        return;
    // Applied to the index of now; an index that replaces it meanwhile takes the same changes.
    auto flag = std::make_shared<CancelFlag>();
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::Utility,
        [index = m_index, changes, flag] { return entriesIn(*index, changes, *flag); },
        [this, index = m_index](std::vector<quint32> entries) {
            if (index == m_index)
                uncheck(entries);
        });
}

void SoundAnalysisQueue::uncheck(const std::vector<quint32> &entries)
{
    for (const quint32 entry : entries) {
        if (entry >= m_checked.size() || !m_checked[entry])
            continue;
        m_checked[entry] = false;
        --m_done;
        m_cursor = std::min<size_t>(m_cursor, entry);
    }
    Q_EMIT progressChanged();
    pump();
}

void SoundAnalysisQueue::setFocus(const QString &folder, const QString &file)
{
    m_focusFolder = folder;
    m_focusFile = file;
    if (m_focusCancel)
        m_focusCancel->cancel();
    if (!m_ready || !m_index)
        return;
    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_focusCancel = flag;
    BackgroundJob::run(
        this, flag, BackgroundJob::Priority::UserInitiated,
        [index = m_index, folder = folder.toUtf8(), file, flag] {
            std::vector<quint32> entries;
            if (const std::optional<size_t> selected =
                    file.isEmpty() ? std::nullopt : index->find(file))
                entries.push_back(quint32(*selected));
            const std::string_view scope(folder.constData(), size_t(folder.size()));
            for (size_t entry = 0; !folder.isEmpty() && entry < index->size(); ++entry) {
                if ((entry + 1) % 8192 == 0 && flag->isCancelled())
                    break;
                if (FilePaths::isAtOrBelow(index->folderPath(entry), scope)) {
                    entries.push_back(quint32(entry));
                    if (entries.size() >= focusLimit)
                        break;
                }
            }
            return entries;
        },
        [this, index = m_index](std::vector<quint32> entries) {
            if (index != m_index)
                return;
            m_urgent = std::move(entries);
            m_urgentNext = 0;
            // What the old focus left waiting in the worker's queue goes after the new one.
            takeBackWaiting();
            pump();
        });
}

void SoundAnalysisQueue::takeBackWaiting()
{
    if (!m_worker)
        return;
    for (const QString &path : m_worker->clearWaiting()) {
        const auto it = m_inFlight.find(path);
        if (it == m_inFlight.end())
            continue;
        m_cursor = std::min<size_t>(m_cursor, it.value());
        m_inFlight.erase(it);
    }
}

std::optional<quint32> SoundAnalysisQueue::nextEntry()
{
    const auto open = [this](quint32 entry) {
        return !m_checked[entry] &&
               !m_inFlight.contains(m_index->pathString(entry)); // few in flight: cheap enough
    };
    while (m_urgentNext < m_urgent.size()) {
        const quint32 entry = m_urgent[m_urgentNext++];
        if (entry < m_checked.size() && open(entry))
            return entry;
    }
    while (m_cursor < m_checked.size()) {
        const auto entry = quint32(m_cursor++);
        if (open(entry))
            return entry;
    }
    return std::nullopt;
}

void SoundAnalysisQueue::pump()
{
    if (!m_worker || !m_ready || m_paused || !m_index)
        return;
    while (m_inFlight.size() < inFlightLimit) {
        const std::optional<quint32> entry = nextEntry();
        if (!entry)
            break;
        const QString path = m_index->pathString(*entry);
        m_inFlight.insert(path, *entry);
        m_worker->analyze(path);
    }
}

void SoundAnalysisQueue::analysed(const QString &path, const SoundFacts &facts)
{
    const auto it = m_inFlight.constFind(path);
    if (it != m_inFlight.constEnd()) {
        const quint32 entry = it.value();
        m_inFlight.erase(it);
        if (facts.status() != SoundFacts::Status::NotAnalysed && !m_checked[entry]) {
            m_facts.set(entry, facts);
            m_checked[entry] = true;
            ++m_done;
            if (!m_notify.isActive())
                m_notify.start();
        }
    }
    pump();
}
