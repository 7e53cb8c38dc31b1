// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileNode.h"

#include <QString>

// Every file-system call the tree and the roots make, in one place: they are made on background
// threads only, and a test stands in here for a slow share or one that never answers. The calls
// may block for as long as the share does; all are safe on any thread.
class LibraryFiles
{
public:
    enum class Kind
    {
        Missing, // or not to be reached by this user
        Folder,
        File,   // anything else that exists
        Failed, // the share failed to answer (EIO, a timeout): not known to be gone
    };

    LibraryFiles() = default;
    virtual ~LibraryFiles() = default;
    Q_DISABLE_COPY_MOVE(LibraryFiles)

    virtual FileNode::Listing list(const QString &folder) const;
    // Following links, as the file manager does.
    virtual Kind kind(const QString &path) const;
    // Answers from memory, without touching `path`: safe on the GUI thread.
    virtual QString shareOf(const QString &path) const;
    // Into the desktop's trash, where the user can put it back from; false when it did not go.
    virtual bool moveToTrash(const QString &path) const;
};
