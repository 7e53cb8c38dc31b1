// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by the tests: fixtures are always made by the tests themselves.
namespace TestSupport {

// Creates the parent folders as needed.
bool writeFile(const QString &path, const QByteArray &bytes = {});
bool makeDirs(const QString &path);

struct ProcessResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
ProcessResult run(const QString &program, const QStringList &arguments,
                  const QByteArray &input = {});

// python3 -c SCRIPT ARGS...; the script reads sys.argv[1:].
ProcessResult python(const QString &script, const QStringList &arguments = {},
                     const QByteArray &input = {});

// Generates an audio file with ffmpeg's lavfi sources; `source` is a lavfi graph such as
// "sine=frequency=440:duration=1". Extra output options go in `outputOptions`.
bool makeAudio(const QString &path, const QString &source, const QStringList &outputOptions = {});

bool haveTool(const QString &program);

} // namespace TestSupport
