// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeySequence>
#include <QTimer>
#include <QWidget>

class BrowserModel;
class QLineEdit;
class QToolButton;

// The search field above the tree. Its icon, placeholder and tooltip say where the search looks;
// the typed text reaches the model after a short pause, so a burst of keys runs one search.
class SearchBar final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int typingPauseMilliseconds = 120;
    static QKeySequence findSimilarShortcut();

    explicit SearchBar(BrowserModel &model, QWidget *parent = nullptr);
    ~SearchBar() override;
    Q_DISABLE_COPY_MOVE(SearchBar)

    QLineEdit *field() const { return m_field; }
    QToolButton *scopeButton() const { return m_scopeButton; }
    QToolButton *clearButton() const { return m_clearButton; }
    QWidget *spinner() const { return m_spinner; }
    // The symbol the scope button shows now.
    QString scopeSymbol() const { return m_scopeSymbol; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void textEdited(const QString &text);
    void updateClearButton();
    void modelTextChanged();
    void updateScope();
    void scopeClicked();
    void clearClicked();
    void focusRequested();
    void cancelEscape();
    bool handleDownArrow();

    BrowserModel &m_model;
    QToolButton *m_scopeButton;
    QLineEdit *m_field;
    QWidget *m_spinner;
    QToolButton *m_clearButton;
    QTimer m_debounce;
    QString m_pendingText;
    QString m_scopeSymbol;
};
