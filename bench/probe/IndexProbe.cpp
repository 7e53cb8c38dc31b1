// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"
#include "ProbeSupport.h"

#include "BrowserModel.h"
#include "CancelFlag.h"
#include "FilePaths.h"
#include "Fold.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "SoundFilter.h"
#include "analysis/SoundAnalyzer.h"
#include "analysis/TimbreStore.h"
#include "model/TimbreTable.h"

#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The index again, with what listening to each file told; every core analyses. What each file
// sounds like goes to a timbre store at `timbreFile`, replacing what it held.
std::shared_ptr<SampleIndex> analysed(const SampleIndex &index, const QString &timbreFile)
{
    std::vector<SoundFacts> facts(index.size());
    std::vector<Timbre> timbre(index.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < std::max(1, QThread::idealThreadCount()); ++t) {
        threads.emplace_back([&] {
            for (size_t entry; (entry = next++) < index.size();) {
                const SoundAnalyzer::Listening heard =
                    SoundAnalyzer::listen(index.pathString(entry));
                facts[entry] = heard.facts;
                timbre[entry] = Timbre(heard.audioHash, heard.descriptor);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QFile::remove(timbreFile);
    TimbreStore store(timbreFile);
    for (size_t entry = 0; entry < index.size(); ++entry)
        store.insert(TimbreTable::pathKey(index, entry), timbre[entry]);
    if (!store.save())
        return nullptr;
    SampleIndex::Builder builder;
    for (size_t entry = 0; entry < index.size(); ++entry)
        builder.append(index.path(entry), index.folded(entry), facts[entry]);
    return builder.finish();
}

} // namespace

namespace ProbeCommands {

int index(const QStringList &args)
{
    QString outFile;
    QStringList roots;
    bool analyse = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            outFile = args[++i];
        else if (args[i] == QLatin1String("--analyze"))
            analyse = true;
        else
            roots.append(args[i]);
    }
    if (outFile.isEmpty() || roots.isEmpty()) {
        err() << "usage: wavelark-probe index [--analyze] --out FILE ROOT...\n";
        return 2;
    }
    CancelFlag flag;
    QElapsedTimer timer;
    timer.start();
    SampleIndex::Builder walked = IndexBuilder::walk(roots, flag);
    const qint64 walkMs = timer.restart();
    std::shared_ptr<SampleIndex> built = walked.finish();
    const qint64 sortMs = timer.restart();
    const qint64 buildMs = walkMs + sortMs;
    if (analyse) {
        built = analysed(*built, TimbreStore::filePathBeside(outFile));
        err() << "analyze_ms " << timer.restart() << ' ';
    }
    if (!built || !IndexFile::write(*built, outFile)) {
        err() << "could not write " << outFile << '\n';
        return 1;
    }
    err() << "build_ms " << buildMs << " write_ms " << timer.elapsed() << " memory_bytes "
          << built->memoryUsage() << " walk_ms " << walkMs << " sort_ms " << sortMs << '\n';
    out() << built->size() << '\n';
    return 0;
}

int search(const QStringList &args)
{
    QString indexFile;
    QString scopeFolder;
    int repeat = 0;
    QStringList words;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--index") && i + 1 < args.size()) {
            indexFile = args[++i];
        } else if (args[i] == QLatin1String("--scope") && i + 1 < args.size()) {
            scopeFolder = args[++i];
        } else if (args[i] == QLatin1String("--repeat") && i + 1 < args.size()) {
            bool ok = false;
            repeat = args[++i].toInt(&ok);
            if (!ok || repeat < 1)
                return 2;
        } else {
            words.append(args[i]);
        }
    }
    if (indexFile.isEmpty() || words.isEmpty()) {
        err() << "usage: wavelark-probe search --index FILE [--scope FOLDER] [--repeat N] TEXT\n";
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    const std::shared_ptr<SampleIndex> loaded = IndexFile::read(indexFile);
    err() << "load_ms " << timer.elapsed() << " entries " << loaded->size() << '\n';

    const auto [filter, rest] = SoundFilter::parse(words.join(QLatin1Char(' ')));
    std::vector<std::string> terms;
    for (const QString &term : BrowserModel::searchTermsFor(rest))
        terms.push_back(utf8(term));
    std::function<bool(quint32)> accept;
    if (!filter.isEmpty()) {
        accept = [&filter, &loaded](quint32 entry) {
            return filter.matches(loaded->storedFacts(entry));
        };
    }
    SampleIndex::Scope scope;
    if (!scopeFolder.isEmpty()) {
        scope.kind = SampleIndex::Scope::Kind::Folder;
        scope.folder = utf8(FilePaths::normalized(scopeFolder));
    }
    CancelFlag flag;
    if (repeat > 0) {
        std::vector<double> times;
        size_t hits = 0;
        for (int i = 0; i < repeat; ++i) {
            timer.restart();
            hits = loaded->search(terms, scope, flag, accept).size();
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        err() << "hits " << hits << '\n';
        out() << "median_ms " << QString::number(ProbeSupport::median(times), 'f', 3) << '\n';
        return 0;
    }
    for (quint32 entry : loaded->search(terms, scope, flag, accept))
        out() << loaded->pathString(entry) << '\n';
    return 0;
}

int fold(const QStringList &args)
{
    if (args.size() != 1) {
        err() << "usage: wavelark-probe fold TEXT\n";
        return 2;
    }
    out() << ::fold(args.first()) << '\n';
    return 0;
}

} // namespace ProbeCommands
