// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FolderChooser.h"

#include <QPointer>
#include <QWidget>

// The open panel for folders, as a Qt file dialog over the main window.
class FileDialogFolderChooser final : public FolderChooser
{
public:
    explicit FileDialogFolderChooser(QWidget *parent = nullptr) : m_parent(parent) {}

    void setParent(QWidget *parent) { m_parent = parent; }
    QList<QUrl> chooseFolders(const Request &request) override;

private:
    QPointer<QWidget> m_parent;
};
