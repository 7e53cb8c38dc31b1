// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchBar.h"

#include "BrowserModel.h"
#include "FilePaths.h"
#include "SymbolIcon.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace {

constexpr int outerHorizontalPadding = 10;
constexpr int outerVerticalPadding = 6;
constexpr int innerHorizontalPadding = 8;
constexpr int innerVerticalPadding = 5;
constexpr int itemSpacing = 6;
constexpr qreal cornerRadius = 7;

QColor secondaryColor()
{
    return QColor(235, 235, 245, 153);
}

QColor quaternaryFill()
{
    return QColor(255, 255, 255, 20);
}

// The platform's own spelling of the Find shortcut.
QString findShortcut()
{
    return QKeySequence(Qt::CTRL | Qt::Key_F).toString(QKeySequence::NativeText);
}

QString lastComponent(const QUrl &url)
{
    return FilePaths::displayText(url.adjusted(QUrl::StripTrailingSlash).fileName());
}

// A small indeterminate spinner: twelve spokes of fading lines, turning while visible.
class IndexingSpinner final : public QWidget
{
public:
    explicit IndexingSpinner(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(12, 12);
        m_timer.setInterval(83);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % spokes;
            update();
        });
    }

protected:
    void showEvent(QShowEvent *) override { m_timer.start(); }
    void hideEvent(QHideEvent *) override { m_timer.stop(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const qreal radius = std::min(width(), height()) / 2.0;
        for (int i = 0; i < spokes; ++i) {
            const int age = (m_step - i + spokes) % spokes;
            QColor color = secondaryColor();
            color.setAlphaF(color.alphaF() * static_cast<float>(1.0 - age / double(spokes)));
            painter.setPen(QPen(color, 1.4, Qt::SolidLine, Qt::RoundCap));
            painter.save();
            painter.rotate(i * 360.0 / spokes);
            painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.95));
            painter.restore();
        }
    }

private:
    static constexpr int spokes = 12;
    QTimer m_timer;
    int m_step = 0;
};

} // namespace

SearchBar::SearchBar(BrowserModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_scopeButton(new QToolButton(this)),
      m_field(new QLineEdit(this)), m_spinner(new IndexingSpinner(this)),
      m_clearButton(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(outerHorizontalPadding + innerHorizontalPadding,
                               outerVerticalPadding + innerVerticalPadding,
                               outerHorizontalPadding + innerHorizontalPadding,
                               outerVerticalPadding + innerVerticalPadding);
    layout->setSpacing(itemSpacing);

    m_scopeButton->setObjectName(QStringLiteral("scopeButton"));
    m_scopeButton->setAutoRaise(true);
    m_scopeButton->setFocusPolicy(Qt::NoFocus);
    m_scopeButton->setFixedWidth(14);
    m_scopeButton->setIconSize(QSize(12, 12));
    m_scopeButton->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    connect(m_scopeButton, &QToolButton::clicked, this, &SearchBar::scopeClicked);

    m_field->setObjectName(QStringLiteral("searchField"));
    m_field->setFrame(false);
    m_field->setClearButtonEnabled(false);
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    m_field->installEventFilter(this);
    connect(m_field, &QLineEdit::textChanged, this, &SearchBar::textEdited);

    m_spinner->setObjectName(QStringLiteral("indexingSpinner"));
    m_spinner->setToolTip(QString());

    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setAutoRaise(true);
    m_clearButton->setFocusPolicy(Qt::NoFocus);
    m_clearButton->setIcon(SymbolIcon::icon(QStringLiteral("xmark.circle.fill"), secondaryColor()));
    m_clearButton->setIconSize(QSize(13, 13));
    m_clearButton->setToolTip(QStringLiteral("Clear search"));
    m_clearButton->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    connect(m_clearButton, &QToolButton::clicked, this, &SearchBar::clearClicked);

    layout->addWidget(m_scopeButton);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_spinner);
    layout->addWidget(m_clearButton);

    m_debounce.setSingleShot(true);
    m_debounce.setTimerType(Qt::PreciseTimer);
    m_debounce.setInterval(typingPauseMilliseconds);
    connect(&m_debounce, &QTimer::timeout, this,
            [this] { m_model.setSearchText(std::exchange(m_pendingText, QString())); });

    connect(&m_model, &BrowserModel::searchTextChanged, this, &SearchBar::modelTextChanged);
    connect(&m_model, &BrowserModel::searchFocusRequestChanged, this, &SearchBar::focusRequested);
    connect(&m_model, &BrowserModel::isIndexingChanged, this,
            [this] { m_spinner->setVisible(m_model.isIndexing()); });
    for (auto signal : {&BrowserModel::activeTagFiltersChanged, &BrowserModel::globalSearchChanged,
                        &BrowserModel::selectionChanged, &BrowserModel::rootsChanged,
                        &BrowserModel::searchModeChanged})
        connect(&m_model, signal, this, &SearchBar::updateScope);

    m_field->setText(m_model.searchText());
    m_spinner->setVisible(m_model.isIndexing());
    updateScope();
}

QKeySequence SearchBar::findSimilarShortcut()
{
    return QKeySequence(Qt::CTRL | Qt::Key_L);
}

void SearchBar::updateClearButton()
{
    // A sound search is cleared like typed text, even with nothing typed.
    m_clearButton->setVisible(!m_field->text().isEmpty() ||
                              m_model.searchMode() != SampleSearch::Mode::Names);
}

SearchBar::~SearchBar() = default;

void SearchBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(outerHorizontalPadding, outerVerticalPadding,
                                                -outerHorizontalPadding, -outerVerticalPadding),
                        cornerRadius, cornerRadius);
    painter.fillPath(path, quaternaryFill());
}

void SearchBar::textEdited(const QString &text)
{
    updateClearButton();
    m_debounce.stop();
    m_pendingText.clear();
    if (text == m_model.searchText())
        return;
    m_pendingText = text;
    m_debounce.start();
}

void SearchBar::modelTextChanged()
{
    const QString text = m_model.searchText();
    if (text == m_field->text())
        return;
    m_debounce.stop();
    m_pendingText.clear();
    m_field->setText(text);
}

void SearchBar::updateScope()
{
    const bool tagged = !m_model.activeTagFilters().isEmpty();
    const QUrl folder = tagged || m_model.globalSearch() ? QUrl() : m_model.selectedFolder();
    const QString shortcut = findShortcut();
    QColor color = secondaryColor();
    QString placeholder;
    QString tooltip;
    if (tagged) {
        const QString description = m_model.tagFilterDescription();
        m_scopeSymbol = QStringLiteral("tag.fill");
        color = Theme::accent();
        placeholder = QStringLiteral("Search ") + description;
        tooltip = QStringLiteral("Searching your ") + description +
                  QStringLiteral(" items. Click to search all folders (") + shortcut +
                  QStringLiteral(")");
    } else if (!folder.isEmpty()) {
        const QString name = lastComponent(folder);
        m_scopeSymbol = QStringLiteral("folder");
        color = Theme::folderBlue();
        placeholder = QStringLiteral("Search in \u201C") + name + QStringLiteral("\u201D");
        tooltip = QStringLiteral("Searching in \u201C") + name +
                  QStringLiteral("\u201D. Click to search all folders (") + shortcut +
                  QStringLiteral(")");
    } else {
        m_scopeSymbol = QStringLiteral("magnifyingglass");
        placeholder = QStringLiteral("Search all samples (") + shortcut + QStringLiteral(")");
        tooltip = QStringLiteral("Searching all folders");
    }
    const QString where = tagged              ? m_model.tagFilterDescription()
                          : !folder.isEmpty() ? QStringLiteral("\u201C") + lastComponent(folder) +
                                                    QStringLiteral("\u201D")
                                              : QStringLiteral("all folders");
    switch (m_model.searchMode()) {
    case SampleSearch::Mode::Names:
        break;
    case SampleSearch::Mode::Similar:
        placeholder = QStringLiteral("Sounds like \u201C") + lastComponent(m_model.similarTo()) +
                      QStringLiteral("\u201D in ") + where;
        break;
    case SampleSearch::Mode::Copies:
        placeholder = QStringLiteral("Identical audio in ") + where;
        break;
    }
    updateClearButton();
    m_scopeButton->setIcon(SymbolIcon::icon(m_scopeSymbol, color));
    m_scopeButton->setToolTip(tooltip);
    m_field->setPlaceholderText(placeholder);
}

void SearchBar::scopeClicked()
{
    if (m_model.activeTagFilters().isEmpty())
        m_model.setGlobalSearch(!m_model.globalSearch());
    else
        m_model.searchAllFolders();
}

void SearchBar::clearClicked()
{
    m_field->clear();
    m_debounce.stop();
    m_pendingText.clear();
    m_model.searchByName();
    m_model.setSearchText(QString());
    m_model.setGlobalSearch(false);
    m_model.setSearchFieldFocused(true);
    m_field->setFocus(Qt::OtherFocusReason);
}

void SearchBar::focusRequested()
{
    m_model.setSearchFieldFocused(true);
    m_field->setFocus(Qt::ShortcutFocusReason);
}

void SearchBar::cancelEscape()
{
    m_debounce.stop();
    m_pendingText.clear();
    m_model.setSearchFieldFocused(false);
    m_model.clearSearch();
    m_field->clearFocus();
}

bool SearchBar::handleDownArrow()
{
    if (!m_model.searchResults().isEmpty()) {
        m_model.requestResultsFocus();
        return true;
    }
    if (!m_model.isSearching()) {
        m_model.requestTreeFocus();
        return true;
    }
    return false;
}

bool SearchBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_field)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            cancelEscape();
            return true;
        }
        if (key->key() == Qt::Key_Down && handleDownArrow())
            return true;
        break;
    }
    case QEvent::FocusIn:
        m_model.setSearchFieldFocused(true);
        // A first start has no index yet; a build already under way is left to finish.
        if ((!m_model.index() || m_model.index()->isEmpty()) && !m_model.isIndexing())
            m_model.startIndexing();
        break;
    case QEvent::FocusOut:
        m_model.setSearchFieldFocused(false);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
