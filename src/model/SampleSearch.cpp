// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SampleSearch.h"

#include "BackgroundJob.h"
#include "Fold.h"
#include "SoundFilter.h"

#include "analysis/SoundAnalyzer.h"
#include "platform/FilePaths.h"

#include <QFileInfo>

namespace {
constexpr int searchPauseMilliseconds = 30;
// Tens of megabytes for a large library: kept while the user goes from one sound search to the
// next, let go when they have moved on.
constexpr int timbreHoldMilliseconds = 5 * 60 * 1000;

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
} // namespace

SampleSearch::SampleSearch(QObject *parent) : QObject(parent)
{
    m_timbreRelease.setSingleShot(true);
    m_timbreRelease.setInterval(timbreHoldMilliseconds);
    connect(&m_timbreRelease, &QTimer::timeout, this, [this] { m_timbre.reset(); });
    m_delay.setSingleShot(true);
    m_delay.setTimerType(Qt::PreciseTimer);
    connect(&m_delay, &QTimer::timeout, this, [this] {
        if (auto pending = std::exchange(m_pending, nullptr))
            pending();
    });
}

SampleSearch::~SampleSearch()
{
    if (m_cancel)
        m_cancel->cancel();
}

bool SampleSearch::setText(const QString &text)
{
    if (m_text == text)
        return false;
    m_text = text;
    Q_EMIT textChanged();
    return true;
}

QStringList SampleSearch::terms() const
{
    return termsFor(SoundFilter::parse(m_text).second);
}

bool SampleSearch::hasSoundFilter() const
{
    return !SoundFilter::parse(m_text).first.isEmpty();
}

QStringList SampleSearch::termsFor(const QString &text)
{
    const QString folded = fold(text);
    QStringList terms;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= folded.size(); ++i) {
        const bool space = i == folded.size() || folded.at(i).isSpace();
        if (space && start >= 0) {
            terms.append(folded.mid(start, i - start));
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return terms;
}

bool SampleSearch::setMode(Mode mode, const QString &queryPath)
{
    const QString query = mode == Mode::Similar ? queryPath : QString();
    if (m_mode == mode && m_queryPath == query)
        return false;
    m_mode = mode;
    m_queryPath = query;
    Q_EMIT modeChanged();
    return true;
}

void SampleSearch::apply(Found found)
{
    if (found.timbre) {
        m_timbre = std::move(found.timbre);
        m_timbreRelease.start();
    }
    setProblem(found.problem);
    if (m_groups != found.groups ||
        !(m_results.isSharedWith(found.results) || sameNodes(m_results, found.results))) {
        m_results = std::move(found.results);
        m_groups = std::move(found.groups);
        Q_EMIT resultsChanged();
    }
    // Last, so that an observer never sees the search done with the old results.
    setRunning(false);
}

void SampleSearch::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    Q_EMIT runningChanged();
}

void SampleSearch::setProblem(const QString &problem)
{
    if (m_problem == problem)
        return;
    m_problem = problem;
    Q_EMIT problemChanged();
}

void SampleSearch::run(std::shared_ptr<const SampleIndex> index, SampleIndex::Scope scope,
                       std::shared_ptr<const SampleIndex> factsIndex, SoundFactsTable facts)
{
    m_delay.stop();
    m_pending = nullptr;
    if (m_cancel)
        m_cancel->cancel();
    // Not a structured binding: lambdas below capture the filter, which Clang 14 refuses for one.
    const std::pair<SoundFilter, QString> parsed =
        SoundFilter::parse(isSearching() ? m_text : QString());
    const SoundFilter filter = parsed.first;
    const QStringList words = termsFor(parsed.second);
    if (m_mode == Mode::Names && words.isEmpty() && filter.isEmpty()) {
        apply({});
        return;
    }
    std::vector<std::string> utf8Terms;
    for (const QString &term : words)
        utf8Terms.push_back(utf8(term));

    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_cancel = flag;
    setRunning(true);
    Query query;
    query.mode = m_mode;
    query.queryPath = m_queryPath;
    query.storeFile = m_timbreStoreFile;
    query.timbre = m_timbre;
    query.index = std::move(index);
    query.scope = std::move(scope);
    query.terms = std::move(utf8Terms);
    query.filter = filter;
    // Facts of another index than the one searched are not looked at: none of its files counts
    // as analysed until the facts catch up.
    query.factsApply = factsIndex && factsIndex == query.index;
    query.facts = std::move(facts);
    m_pending = [this, flag, query = std::move(query)]() mutable {
        if (flag->isCancelled())
            return;
        BackgroundJob::run(
            this, flag, BackgroundJob::Priority::UserInitiated,
            [query = std::move(query), flag, shown = m_results] {
                Found found = find(query, *flag);
                // Handing back the list on screen tells the GUI thread that nothing changed
                // without comparing a million paths there.
                if (sameNodes(found.results, shown))
                    found.results = shown;
                return found;
            },
            [this](Found found) { apply(std::move(found)); });
    };
    m_delay.start(searchPauseMilliseconds);
}

SampleSearch::Found SampleSearch::find(const Query &query, const CancelFlag &flag)
{
    const SampleIndex &index = *query.index;
    std::function<bool(quint32)> accept;
    if (!query.filter.isEmpty()) {
        accept = [&query](quint32 entry) {
            return query.factsApply && query.filter.matches(query.facts.at(entry));
        };
    }
    const auto nodes = [&](const std::vector<quint32> &entries) {
        QList<FileNodePtr> results;
        results.reserve(qsizetype(entries.size()));
        for (quint32 entry : entries) {
            if (flag.isCancelled())
                break;
            results.append(FileNode::fromNormalizedPath(index.pathString(entry), false));
        }
        return results;
    };
    if (query.mode == Mode::Names)
        return {nodes(index.search(query.terms, query.scope, flag, accept)), {}, {}, {}};

    Found found;
    found.timbre = query.timbre;
    if (!found.timbre || found.timbre->index() != query.index ||
        found.timbre->storeModified() != QFileInfo(query.storeFile).lastModified())
        found.timbre = TimbreTable::build(query.index, query.storeFile, flag);
    if (!found.timbre)
        return {};
    // The sound search looks only at the entries a name search with the same text and scope
    // would find.
    std::vector<bool> inScope;
    if (!query.terms.empty() || accept || query.scope.kind != SampleIndex::Scope::Kind::All) {
        inScope.assign(index.size(), false);
        for (quint32 entry : index.search(
                 query.terms, query.scope, flag, accept ? accept : [](quint32) { return true; }))
            inScope[entry] = true;
    }

    if (query.mode == Mode::Copies) {
        const std::vector<std::vector<quint32>> groups = found.timbre->copies(
            inScope.empty() ? TimbreTable::Include()
                            : [&inScope](quint32 entry) { return bool(inScope[entry]); },
            flag);
        std::vector<quint32> entries;
        for (size_t group = 0; group < groups.size(); ++group) {
            entries.insert(entries.end(), groups[group].begin(), groups[group].end());
            found.groups.insert(found.groups.end(), qsizetype(groups[group].size()), int(group));
        }
        found.results = nodes(entries);
        return found;
    }

    const std::optional<size_t> own = index.find(query.queryPath);
    SoundDescriptor descriptor = own ? found.timbre->descriptor(quint32(*own)) : SoundDescriptor();
    if (!descriptor.isValid() && !flag.isCancelled() && QFileInfo(query.queryPath).isFile()) {
        // Not in the store yet (the analysis has not reached it, or has not saved since): it is
        // listened to now, as the preview would decode it. Only a regular file: opening a FIFO
        // named like a sample would park this thread for good.
        descriptor = SoundAnalyzer::listen(query.queryPath, &flag).descriptor;
    }
    if (!descriptor.isValid()) {
        found.problem = QStringLiteral("\u201C") +
                        FilePaths::displayText(FilePaths::lastComponent(query.queryPath)) +
                        QStringLiteral("\u201D is silent or could not be decoded");
        return found;
    }
    const std::optional<quint32> self = own ? std::optional(quint32(*own)) : std::nullopt;
    found.results = nodes(found.timbre->nearest(
        descriptor, similarCount,
        [&inScope, self](quint32 entry) {
            return entry != self && (inScope.empty() || inScope[entry]);
        },
        flag));
    return found;
}
