// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AudioDecoder.h"
#include "FileSignature.h"

#include <QString>

#include <memory>
#include <optional>

// Every file-system call the preview makes, in one place: the player makes them on its own
// threads, never the GUI thread, and a test stands in here for a slow share or a dead one. The
// calls may block for as long as the share does; all are safe on any thread.
class PreviewFiles
{
public:
    enum class Kind
    {
        Missing, // or unreadable
        Regular,
        Other, // a folder, a FIFO, a device: nothing to open as a sample
    };
    struct Status
    {
        Kind kind = Kind::Missing;
        std::optional<FileSignature> signature; // of a regular file
    };

    PreviewFiles() = default;
    virtual ~PreviewFiles() = default;
    Q_DISABLE_COPY_MOVE(PreviewFiles)

    // The mount `path` lives on, found without touching the path itself, so that it answers even
    // when the share does not: calls on one dead share are counted together.
    virtual QString shareOf(const QString &path) const;
    virtual Status status(const QString &path) const;
    virtual std::unique_ptr<AudioDecoder> open(const QString &path,
                                               AudioDecoder::Interrupt interrupt) const;
};
