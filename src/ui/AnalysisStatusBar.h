// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class BrowserModel;
class QAction;
class QLabel;
class QMenu;
class QToolButton;

// A quiet line under the browser: how far the analysis of the library has come, a button that
// pauses or resumes it, and a menu of sound filters that adds them to the search text. Nothing
// here waits for the analysis.
class AnalysisStatusBar final : public QWidget
{
    Q_OBJECT

public:
    explicit AnalysisStatusBar(BrowserModel &model, QWidget *parent = nullptr);
    ~AnalysisStatusBar() override;
    Q_DISABLE_COPY_MOVE(AnalysisStatusBar)

    QLabel *progressLabel() const { return m_progress; }
    QToolButton *pauseButton() const { return m_pause; }
    QToolButton *filterButton() const { return m_filter; }
    QMenu *filterMenu() const { return m_menu; }
    // Checkable; whoever shows the results connects it.
    QAction *columnsAction() const { return m_columns; }

    // `text` with `filter` added; a filter of the same kind ("bpm:…") already there is replaced.
    static QString withFilter(const QString &text, const QString &filter);

private:
    void update();
    void addFilter(const QString &filter);
    void buildMenu();

    BrowserModel &m_model;
    QLabel *m_progress;
    QToolButton *m_pause;
    QToolButton *m_filter;
    QMenu *m_menu;
    QAction *m_columns = nullptr;
};
