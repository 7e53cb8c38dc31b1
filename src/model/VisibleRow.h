// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileNode.h"

#include <QUrl>

// The identity of one tree row. The context keeps identities apart when the same item is shown
// twice: at the top level and again inside an expanded top-level folder.
struct RowID
{
    QUrl context; // empty for a top-level row
    QUrl url;
    friend bool operator==(const RowID &, const RowID &) = default;
};

inline size_t qHash(const RowID &id, size_t seed = 0) noexcept
{
    return qHashMulti(seed, id.context, id.url);
}

// One row of the flattened tree.
struct VisibleRow
{
    FileNodePtr node;
    int depth = 0;
    QUrl contextID; // empty for a top-level row; else the URL of the top-level row above it

    RowID id() const { return RowID{contextID, node->url()}; }
};
