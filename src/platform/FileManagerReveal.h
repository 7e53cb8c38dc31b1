// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Shows an item in the desktop's file manager. The default asks the file manager over D-Bus
// (org.freedesktop.FileManager1.ShowItems), then the desktop portal, then opens the parent folder.
class FileManagerReveal
{
public:
    virtual ~FileManagerReveal() = default;
    // Returns at once; the request is answered asynchronously.
    virtual void reveal(const QString &path) = 0;

    static FileManagerReveal &systemDefault();
};
