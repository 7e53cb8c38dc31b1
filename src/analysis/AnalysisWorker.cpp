// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnalysisWorker.h"

namespace {
// A few requests ahead keep the worker busy between answers without delaying a file the user
// asks for next.
constexpr size_t requestsAhead = 4;
} // namespace

AnalysisWorker::AnalysisWorker(const QString &program, const QStringList &arguments,
                               std::chrono::milliseconds timeLimit, QObject *parent)
    : QObject(parent), m_program(program), m_arguments(arguments), m_timeLimit(timeLimit)
{
    m_limitTimer.setSingleShot(true);
    connect(&m_limitTimer, &QTimer::timeout, this, [this] {
        if (m_process && !m_sent.empty())
            m_process->kill();
    });
}

AnalysisWorker::~AnalysisWorker()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    // An idle worker saves its cache and leaves when its input ends; a busy one is not waited for.
    m_process->closeWriteChannel();
    if (!m_sent.empty() || !m_process->waitForFinished(500))
        m_process->kill();
    m_process->waitForFinished(1000);
}

void AnalysisWorker::analyze(const QString &path)
{
    if (m_unstartable) {
        Q_EMIT analysed(path, SoundFacts::failed());
        return;
    }
    m_waiting.push_back({Request::Analyse, path});
    ensureProcess();
    sendMore();
}

QStringList AnalysisWorker::clearWaiting()
{
    QStringList dropped;
    std::erase_if(m_waiting, [&dropped](const Item &item) {
        if (item.request != Request::Analyse)
            return false;
        dropped.append(item.path);
        return true;
    });
    return dropped;
}

void AnalysisWorker::ensureProcess()
{
    if (m_process || m_unstartable)
        return;
    m_process = std::make_unique<QProcess>();
    m_process->setStandardErrorFile(QProcess::nullDevice());
    connect(m_process.get(), &QProcess::started, this, &AnalysisWorker::sendMore);
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this,
            &AnalysisWorker::readAnswers);
    connect(m_process.get(), &QProcess::finished, this, &AnalysisWorker::processEnded);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            processEnded();
    });
    m_process->start(m_program, m_arguments);
}

void AnalysisWorker::sendMore()
{
    if (!m_process || m_process->state() != QProcess::Running)
        return;
    const bool wasIdle = m_sent.empty();
    while (!m_waiting.empty() && m_sent.size() < requestsAhead) {
        Item item = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_process->write(AnalysisWorkerProcess::requestLine(item.request, item.path));
        m_sent.push_back(std::move(item));
    }
    if (wasIdle && !m_sent.empty())
        restartTimer();
}

void AnalysisWorker::restartTimer()
{
    if (m_sent.empty())
        m_limitTimer.stop();
    else
        m_limitTimer.start(m_timeLimit);
}

void AnalysisWorker::readAnswers()
{
    // The process may be replaced by a slot connected to `analysed`.
    QProcess *process = m_process.get();
    while (process == m_process.get() && process->canReadLine() && !m_sent.empty()) {
        const QByteArray line = process->readLine();
        const Item item = std::move(m_sent.front());
        m_sent.pop_front();
        restartTimer();
        if (item.request != Request::Analyse)
            continue;
        const std::optional<SoundFacts> facts = AnalysisWorkerProcess::parseAnswer(line);
        Q_EMIT analysed(item.path, facts.value_or(SoundFacts::failed()));
    }
    sendMore();
}

void AnalysisWorker::processEnded()
{
    if (!m_process)
        return;
    const bool started = m_process->error() != QProcess::FailedToStart;
    m_limitTimer.stop();
    m_process->disconnect(this);
    // Deleting the process from its own signal is not allowed.
    m_process.release()->deleteLater();

    std::deque<Item> failed;
    if (!started) {
        m_unstartable = true;
        failed = std::move(m_sent);
        for (Item &item : m_waiting)
            failed.push_back(std::move(item));
        m_waiting.clear();
    } else if (!m_sent.empty()) {
        // The file in work took the worker down; the ones sent after it go again.
        Item culprit = std::move(m_sent.front());
        m_sent.pop_front();
        for (auto it = m_sent.rbegin(); it != m_sent.rend(); ++it)
            m_waiting.push_front(std::move(*it));
        if (culprit.request == Request::Analyse) {
            m_waiting.push_front({Request::RecordFailure, culprit.path});
            failed.push_back(std::move(culprit));
        }
        ++m_restarts;
    }
    m_sent.clear();
    for (const Item &item : failed) {
        if (item.request == Request::Analyse)
            Q_EMIT analysed(item.path, SoundFacts::failed());
    }
    if (!m_waiting.empty()) {
        ensureProcess();
        sendMore();
    }
}
