// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// Each probe command takes its arguments (without the command name) and returns the exit code:
// 0 success, 1 failure, 2 usage error. Results go to stdout, timings and diagnostics to stderr.
namespace ProbeCommands {
int index(const QStringList &args);
int search(const QStringList &args);
int fold(const QStringList &args);
int peaks(const QStringList &args);
int info(const QStringList &args);
int peaksBench(const QStringList &args);
int latency(const QStringList &args);
// Needs a QApplication: it opens the real main window.
int keyLatency(const QStringList &args);
int tagsRead(const QStringList &args);
int tagsWrite(const QStringList &args);
int tagsImport(const QStringList &args);
int tagsExport(const QStringList &args);
int analyze(const QStringList &args);
int similar(const QStringList &args);
int duplicates(const QStringList &args);
} // namespace ProbeCommands
