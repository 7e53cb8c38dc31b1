// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BrowserModel.h"

#include <QMenu>

class DialogPresenter;
class TagStore;

// The "Tags" menu: colour exchange with the file manager, each command asked for, run in the
// background and reported by an alert when it finishes.
class TagsMenu final : public QMenu
{
    Q_OBJECT

public:
    TagsMenu(BrowserModel &model, TagStore &tags, DialogPresenter &presenter,
             QWidget *parent = nullptr);
    ~TagsMenu() override;
    Q_DISABLE_COPY_MOVE(TagsMenu)

    QAction *importAction() const { return m_importAction; }
    QAction *exportAction() const { return m_exportAction; }

    // The texts of the alerts, by outcome.
    static QString importResultText(qint64 changed);
    static QString exportConfirmationText(qint64 taggedItems);
    static QString exportResultText(const BrowserModel::ExportSummary &summary);

public Q_SLOTS:
    void runImport();
    void runExport();

private:
    void updateEnabled();
    QWidget *dialogParent() const;
    int showAlert(const QString &messageText, const QString &informativeText,
                  const QStringList &buttons);
    void showResultLater(const QString &messageText, const QString &informativeText);

    BrowserModel &m_model;
    TagStore &m_tags;
    DialogPresenter &m_presenter;
    QAction *m_importAction;
    QAction *m_exportAction;
};
