// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileDialogFolderChooser.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QListView>
#include <QTreeView>

QList<QUrl> FileDialogFolderChooser::chooseFolders(const Request &request)
{
    QFileDialog dialog(m_parent.data(), request.message, QDir::homePath());
    dialog.setFileMode(QFileDialog::Directory);
    // Only Qt's own dialog lets several folders be picked at once; using it always keeps the
    // panel the same (and dark) whichever way it is opened. Read-only hides "New Folder".
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog |
                      QFileDialog::ReadOnly | QFileDialog::DontResolveSymlinks);
    dialog.setLabelText(QFileDialog::Accept, request.buttonText);
    if (request.allowsMultiple) {
        // The dialog's file views (not its sidebar of places) take a multiple selection.
        if (auto *list = dialog.findChild<QListView *>(QStringLiteral("listView")))
            list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        if (auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView")))
            tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedUrls();
}
