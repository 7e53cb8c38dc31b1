// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// The open panel, behind an interface so that the model needs no widgets and tests can answer it.
class FolderChooser
{
public:
    struct Request
    {
        QString buttonText; // "Add", "Relink"
        QString message;    // shown above the folder list
        bool allowsMultiple = false;
    };

    virtual ~FolderChooser() = default;
    // Modal; an empty list when the user cancels.
    virtual QList<QUrl> chooseFolders(const Request &request) = 0;
};
