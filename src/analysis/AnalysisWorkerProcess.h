// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SoundFacts.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The process that listens to files for the app, so that a decoder that crashes or hangs on a
// hostile file takes only itself down. It runs at the lowest priority (nice 10, SCHED_IDLE for
// every thread), reads one request a line on stdin and answers each with one line on stdout, in
// order. It owns the sound cache: a file it knows is answered without decoding.
//
// A request is "?" (analyse) or "!" (record as failed: it crashed or hung a worker before) and
// the path's bytes, with "\" and newline escaped as "\\" and "\n". The answer is the facts' bytes
// in hexadecimal.
class AnalysisWorkerProcess final
{
public:
    AnalysisWorkerProcess() = delete;

    static constexpr const char *argument = "--analysis-worker";

    enum class Request : char
    {
        Analyse = '?',
        RecordFailure = '!',
    };

    // Runs the worker until stdin ends; `arguments` after `argument`: [--cache FILE]
    // [--time-limit MS], the processor time one file may take before the worker ends itself.
    // Returns the process's exit status.
    static int run(int argc, char *argv[]);

    static QByteArray requestLine(Request request, const QString &path);
    static std::optional<std::pair<Request, QByteArray>> parseRequest(QByteArrayView line);
    static QByteArray answerLine(const SoundFacts &facts);
    static std::optional<SoundFacts> parseAnswer(QByteArrayView line);
};
