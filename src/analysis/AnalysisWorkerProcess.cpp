// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnalysisWorkerProcess.h"

#include "SoundAnalyzer.h"
#include "SoundCache.h"
#include "TimbreStore.h"

#include "platform/FilePaths.h"

#include <QElapsedTimer>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <thread>

#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Both files are rewritten whole, tens of megabytes for a large library: while the worker is
// busy they are saved seldom, and whenever it runs out of work.
constexpr qint64 saveIntervalMs = 30000;
// The analysis's own clock is wall time; the watchdog times the processor.
constexpr std::chrono::milliseconds wallLimit{std::chrono::hours(1)};

// Lines from stdin, read in blocks; it knows whether another request is already waiting.
class RequestReader final
{
public:
    // False at the end of the input.
    bool next(QByteArray &line)
    {
        for (;;) {
            const qsizetype end = m_buffer.indexOf('\n', m_start);
            if (end >= 0) {
                line = m_buffer.mid(m_start, end + 1 - m_start);
                m_start = end + 1;
                return true;
            }
            m_buffer.remove(0, m_start);
            m_start = 0;
            char block[65536];
            const ssize_t got = ::read(STDIN_FILENO, block, sizeof block);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            m_buffer.append(block, got);
        }
    }

    bool waiting() const
    {
        if (m_buffer.indexOf('\n', m_start) >= 0)
            return true;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        return ::poll(&input, 1, 0) > 0;
    }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
};

qint64 processCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Ends the process when one file has used `limitMs` of processor time. Processor time, not
// wall time: at idle priority a busy machine may hold the worker back for minutes, and that
// must not count against the file. A file that blocks without computing is the app's to time.
class CpuWatchdog final
{
public:
    explicit CpuWatchdog(qint64 limitMs) : m_limitMs(limitMs), m_thread([this] { watch(); }) {}
    ~CpuWatchdog()
    {
        m_stop = true;
        m_thread.join();
    }
    Q_DISABLE_COPY_MOVE(CpuWatchdog)

    void startFile() { m_fileStart = processCpuMs(); }
    void endFile() { m_fileStart = -1; }

private:
    void watch()
    {
        while (!m_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const qint64 start = m_fileStart;
            if (start >= 0 && processCpuMs() - start > m_limitMs)
                std::_Exit(3);
        }
    }

    const qint64 m_limitMs;
    std::atomic<qint64> m_fileStart{-1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void lowerPriority()
{
    // Before any thread exists, so that the decoder's and FFTW's threads inherit both.
    ::setpriority(PRIO_PROCESS, 0, 10);
    sched_param parameter{};
    parameter.sched_priority = 0;
    ::sched_setscheduler(0, SCHED_IDLE, &parameter);
}

} // namespace

QByteArray AnalysisWorkerProcess::requestLine(Request request, const QString &path)
{
    const QByteArray bytes = FilePaths::encoded(path);
    QByteArray line;
    line.reserve(bytes.size() + 3);
    line.append(char(request));
    for (const char c : bytes) {
        if (c == '\\')
            line.append("\\\\");
        else if (c == '\n')
            line.append("\\n");
        else
            line.append(c);
    }
    line.append('\n');
    return line;
}

std::optional<std::pair<AnalysisWorkerProcess::Request, QByteArray>>
AnalysisWorkerProcess::parseRequest(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.isEmpty() ||
        (line.front() != char(Request::Analyse) && line.front() != char(Request::RecordFailure)))
        return std::nullopt;
    QByteArray path;
    path.reserve(line.size());
    for (qsizetype i = 1; i < line.size(); ++i) {
        if (line[i] != '\\') {
            path.append(line[i]);
            continue;
        }
        if (++i == line.size())
            return std::nullopt;
        if (line[i] == '\\')
            path.append('\\');
        else if (line[i] == 'n')
            path.append('\n');
        else
            return std::nullopt;
    }
    if (path.isEmpty() || path.contains('\0'))
        return std::nullopt;
    return std::pair(Request(line.front()), path);
}

QByteArray AnalysisWorkerProcess::answerLine(const SoundFacts &facts)
{
    return facts.toBytes().toHex() + '\n';
}

std::optional<SoundFacts> AnalysisWorkerProcess::parseAnswer(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.size() != 2 * SoundFacts::serializedSize)
        return std::nullopt;
    for (const char c : line) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    }
    return SoundFacts::fromBytes(QByteArray::fromHex(line.toByteArray()));
}

int AnalysisWorkerProcess::run(int argc, char *argv[])
{
    lowerPriority();
    QString cachePath;
    std::chrono::milliseconds limit = SoundAnalyzer::defaultTimeLimit;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cache") == 0 && i + 1 < argc)
            cachePath = FilePaths::decoded(QByteArrayView(argv[++i]));
        else if (std::strcmp(argv[i], "--time-limit") == 0 && i + 1 < argc)
            limit = std::chrono::milliseconds(std::max(1L, std::atol(argv[++i])));
    }
    SoundCache cache(cachePath);
    cache.load();
    TimbreStore timbres(cachePath.isEmpty() ? QString() : TimbreStore::filePathBeside(cachePath));
    timbres.load();
    CpuWatchdog watchdog(limit.count());
    QElapsedTimer sinceSave;
    sinceSave.start();
    // Saved whenever the worker runs out of work, and every few seconds while it is busy.
    const auto saveWhenDue = [&](bool outOfWork) {
        const qsizetype pending = cache.pending() + timbres.pending();
        if (pending > 0 &&
            (outOfWork || sinceSave.elapsed() >= saveIntervalMs || pending >= 4096)) {
            cache.save();
            timbres.save();
            sinceSave.restart();
        }
    };
    const auto listenTo = [&](const QByteArray &path, quint64 key) {
        watchdog.startFile();
        const SoundAnalyzer::Listening heard =
            SoundAnalyzer::listen(FilePaths::decoded(path), nullptr, wallLimit);
        watchdog.endFile();
        if (heard.facts.status() != SoundFacts::Status::NotAnalysed) {
            cache.insert(key, heard.facts);
            timbres.insert(TimbreStore::pathKey(path), Timbre(heard.audioHash, heard.descriptor));
        }
        return heard.facts;
    };
    // Files whose facts are known from before timbre was kept, or that moved: their facts are
    // answered at once, and they are listened to again whenever no request waits.
    std::deque<QByteArray> unheard;

    RequestReader reader;
    QByteArray line;
    for (;;) {
        while (!unheard.empty() && !reader.waiting()) {
            const QByteArray path = std::move(unheard.front());
            unheard.pop_front();
            if (const std::optional<quint64> key = SoundCache::keyOf(path))
                listenTo(path, *key);
            saveWhenDue(unheard.empty());
        }
        if (!reader.next(line))
            break;
        const auto request = parseRequest(line);
        SoundFacts facts = SoundFacts::failed();
        if (request) {
            const auto &[kind, path] = *request;
            const std::optional<quint64> key = SoundCache::keyOf(path);
            const std::optional<SoundFacts> known = key ? cache.find(*key) : std::nullopt;
            if (kind == Request::RecordFailure) {
                if (key)
                    cache.insert(*key, facts);
            } else if (known) {
                facts = *known;
                if (facts.status() == SoundFacts::Status::Analysed &&
                    !timbres.find(TimbreStore::pathKey(path)))
                    unheard.push_back(path);
            } else if (key) {
                facts = listenTo(path, *key);
            }
        }
        const QByteArray answer = answerLine(facts);
        if (std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout) !=
                size_t(answer.size()) ||
            std::fflush(stdout) != 0)
            break;
        saveWhenDue(unheard.empty() && !reader.waiting());
    }
    saveWhenDue(true);
    return 0;
}
