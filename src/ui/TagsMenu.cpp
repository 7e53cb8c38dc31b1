// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagsMenu.h"

#include "DialogPresenter.h"
#include "FinderTagSync.h"
#include "TagStore.h"

#include <QLocale>
#include <QPointer>

namespace {
const QString okButton = QStringLiteral("OK");

QString plural(qint64 count)
{
    return count == 1 ? QString() : QStringLiteral("s");
}
} // namespace

TagsMenu::TagsMenu(BrowserModel &model, TagStore &tags, DialogPresenter &presenter, QWidget *parent)
    : QMenu(QStringLiteral("&Tags"), parent), m_model(model), m_tags(tags), m_presenter(presenter),
      m_importAction(addAction(QStringLiteral("Import Tags from File Manager…"))),
      m_exportAction(addAction(QStringLiteral("Export Tags to File Manager…")))
{
    m_importAction->setObjectName(QStringLiteral("importTagsAction"));
    m_exportAction->setObjectName(QStringLiteral("exportTagsAction"));
    connect(m_importAction, &QAction::triggered, this, &TagsMenu::runImport);
    connect(m_exportAction, &QAction::triggered, this, &TagsMenu::runExport);
    connect(&m_model, &BrowserModel::rootsChanged, this, &TagsMenu::updateEnabled);
    updateEnabled();
}

TagsMenu::~TagsMenu() = default;

void TagsMenu::updateEnabled()
{
    const bool hasRoots = !m_model.roots().isEmpty();
    m_importAction->setEnabled(hasRoots);
    m_exportAction->setEnabled(hasRoots);
}

QWidget *TagsMenu::dialogParent() const
{
    return parentWidget() ? parentWidget()->window() : nullptr;
}

int TagsMenu::showAlert(const QString &messageText, const QString &informativeText,
                        const QStringList &buttons)
{
    return m_presenter.run(DialogPresenter::Alert{messageText, informativeText, buttons},
                           dialogParent());
}

void TagsMenu::showResultLater(const QString &messageText, const QString &informativeText)
{
    // The alert's modal loop runs from a fresh event, not inside the job's completion.
    QMetaObject::invokeMethod(
        this,
        [this, messageText, informativeText] {
            showAlert(messageText, informativeText, {okButton});
        },
        Qt::QueuedConnection);
}

QString TagsMenu::importResultText(qint64 changed)
{
    if (changed <= 0)
        return QStringLiteral("No new file manager colors were found to import.");
    return QStringLiteral("Added file manager colors to ") + QString::number(changed) +
           QStringLiteral(" item") + plural(changed) + QStringLiteral(".");
}

QString TagsMenu::exportConfirmationText(qint64 taggedItems)
{
    return QStringLiteral("Wavelark will write its colors onto ") + QString::number(taggedItems) +
           QStringLiteral(" tagged item") + plural(taggedItems) +
           QStringLiteral(" as real file manager tags. Your existing file manager tags are kept. "
                          "Nothing is removed.");
}

QString TagsMenu::exportResultText(const BrowserModel::ExportSummary &summary)
{
    QStringList lines;
    lines.append(QStringLiteral("Wrote file manager tags to ") +
                 QString::number(summary.filesWritten) + QStringLiteral(" item") +
                 plural(summary.filesWritten) + QStringLiteral("."));
    if (summary.filesFailed >= 1)
        lines.append(QString::number(summary.filesFailed) +
                     QStringLiteral(" could not be written (read only or offline)."));
    if (!summary.skippedColors.isEmpty()) {
        QStringList names;
        for (FinderTag tag : FinderTags::sorted(summary.skippedColors))
            names.append(FinderTags::displayName(tag));
        lines.append(
            QStringLiteral("Skipped ") + names.join(QStringLiteral(", ")) +
            QStringLiteral(": Wavelark couldn't read your file manager tag names, so "
                           "it didn't write ") +
            (names.size() == 1 ? QStringLiteral("this color") : QStringLiteral("these colors")) +
            QStringLiteral(" to avoid creating a mismatched tag. Please try again."));
    }
    return lines.join(QLatin1Char('\n'));
}

void TagsMenu::runImport()
{
    const int answer = showAlert(
        QStringLiteral("Import Tags from File Manager?"),
        QStringLiteral(
            "Wavelark will read the file manager colors already on your files and add them "
            "to its own tags. Tags you set in Wavelark are kept. Nothing is written "
            "to your files."),
        {QStringLiteral("Import"), QStringLiteral("Cancel")});
    if (answer != 0)
        return;
    QPointer<TagsMenu> guard(this);
    m_model.importFinderTags([guard](qint64 changed) {
        if (guard)
            guard->showResultLater(QStringLiteral("Import Complete"), importResultText(changed));
    });
}

void TagsMenu::runExport()
{
    const qint64 items = m_tags.allTaggedItems().size();
    if (items == 0) {
        showAlert(QStringLiteral("Nothing to Export"),
                  QStringLiteral("You haven't tagged anything in Wavelark yet."), {okButton});
        return;
    }
    const int answer =
        showAlert(QStringLiteral("Export Tags to File Manager?"), exportConfirmationText(items),
                  {QStringLiteral("Export"), QStringLiteral("Cancel")});
    if (answer != 0)
        return;
    QPointer<TagsMenu> guard(this);
    m_model.exportFinderTags(FinderTagSync::defaultNamesAllowed(QLocale::system().uiLanguages()),
                             [guard](BrowserModel::ExportSummary summary) {
                                 if (guard)
                                     guard->showResultLater(QStringLiteral("Export Complete"),
                                                            exportResultText(summary));
                             });
}
