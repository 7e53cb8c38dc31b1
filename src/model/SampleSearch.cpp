// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Name search over the sample index.
#include "SampleSearch.h"

#include "BackgroundJob.h"
#include "Fold.h"
#include "SoundFilter.h"

namespace {
constexpr int searchPauseMilliseconds = 30;

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}
} // namespace

SampleSearch::SampleSearch(QObject *parent) : QObject(parent)
{
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

void SampleSearch::setResults(const QList<FileNodePtr> &results)
{
    if (m_results.isSharedWith(results) || sameNodes(m_results, results))
        return;
    m_results = results;
    Q_EMIT resultsChanged();
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
    if (words.isEmpty() && filter.isEmpty()) {
        setResults({});
        return;
    }
    std::vector<std::string> utf8Terms;
    for (const QString &term : words)
        utf8Terms.push_back(utf8(term));

    CancelFlagPtr flag = std::make_shared<CancelFlag>();
    m_cancel = flag;
    // Facts of another index than the one searched are not looked at: none of its files counts
    // as analysed until the facts catch up.
    const bool factsApply = factsIndex && factsIndex == index;
    m_pending = [this, flag, snapshot = std::move(index), scope = std::move(scope),
                 terms = std::move(utf8Terms), filter, factsApply,
                 facts = std::move(facts)]() mutable {
        if (flag->isCancelled())
            return;
        BackgroundJob::run(
            this, flag, BackgroundJob::Priority::UserInitiated,
            [snapshot, scope = std::move(scope), terms = std::move(terms), flag, filter, factsApply,
             facts = std::move(facts), shown = m_results] {
                QList<FileNodePtr> results;
                std::function<bool(quint32)> accept;
                if (!filter.isEmpty()) {
                    accept = [&](quint32 entry) {
                        return factsApply && filter.matches(facts.at(entry));
                    };
                }
                const std::vector<quint32> hits = snapshot->search(terms, scope, *flag, accept);
                results.reserve(static_cast<qsizetype>(hits.size()));
                for (quint32 entry : hits) {
                    if (flag->isCancelled())
                        return results;
                    results.append(
                        FileNode::fromNormalizedPath(snapshot->pathString(entry), false));
                }
                // Handing back the list on screen tells the GUI thread that nothing changed
                // without comparing a million paths there.
                return sameNodes(results, shown) ? shown : results;
            },
            [this](QList<FileNodePtr> results) { setResults(results); });
    };
    m_delay.start(searchPauseMilliseconds);
}
