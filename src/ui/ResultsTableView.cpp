// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResultsTableView.h"

#include "DestructiveMenuStyle.h"
#include "FilePaths.h"
#include "SearchBar.h"
#include "TagDot.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "ReliableRowClick.h"
#include "ResultsModel.h"
#include "SampleDragPreview.h"
#include "SearchResultRow.h"
#include "TagMenuSection.h"
#include "TagStore.h"
#include "Theme.h"

#include "platform/Preferences.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <cmath>
#include <numbers>

namespace {
const QString soundColumnsKey = QStringLiteral("resultsSoundColumns");
constexpr int pulseIntervalMilliseconds = 80;
constexpr int pulseSteps = 16;

} // namespace

ResultsTableView::ResultsTableView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                                   QWidget *parent)
    : QTableView(parent), m_model(model), m_player(player), m_tags(tags),
      m_results(new ResultsModel(model, player, tags, this)),
      m_rowDelegate(new SearchResultRow(this)), m_lastFocusRequest(model.focusResultsRequest())
{
    setModel(m_results);
    setItemDelegate(m_rowDelegate);

    auto *plain = new QStyledItemDelegate(this);
    setItemDelegateForColumn(ResultsModel::TempoColumn, plain);
    setItemDelegateForColumn(ResultsModel::KeyColumn, plain);
    horizontalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(ResultsModel::NameColumn, QHeaderView::Stretch);
    horizontalHeader()->resizeSection(ResultsModel::TempoColumn, 56);
    horizontalHeader()->resizeSection(ResultsModel::KeyColumn, 44);
    horizontalHeader()->setSortIndicator(ResultsModel::NameColumn, Qt::AscendingOrder);
    applySoundColumns(model.defaults().boolForKey(soundColumnsKey));
    verticalHeader()->hide();
    // Fixed heights: the view never measures a row, however long the list.
    verticalHeader()->setMinimumSectionSize(SearchResultRow::rowHeight);
    verticalHeader()->setDefaultSectionSize(SearchResultRow::rowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(SearchResultRow::rowHeight / 2);
    setMouseTracking(true);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    // The rows draw their own selection; the style's row highlight would square it off.
    QPalette colors = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        colors.setColor(group, QPalette::Highlight, Qt::transparent);
    setPalette(colors);

    m_rowClick = new ReliableRowClick(*this, [this](const QModelIndex &index, bool) {
        if (index.row() != selectedRow())
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    });

    m_pulseTimer.setInterval(pulseIntervalMilliseconds);
    connect(&m_pulseTimer, &QTimer::timeout, this, [this] {
        m_pulseStep = (m_pulseStep + 1) % pulseSteps;
        const double angle = 2 * std::numbers::pi * m_pulseStep / pulseSteps;
        m_rowDelegate->setPulse(0.5 + 0.5 * std::cos(angle));
        updateRow(m_results->playingRow());
    });

    connect(m_results, &QAbstractItemModel::modelReset, this, [this] {
        syncSelection();
        updatePulse();
    });
    connect(&m_model, &BrowserModel::resultSelectionChanged, this,
            &ResultsTableView::syncSelection);
    connect(&m_model, &BrowserModel::focusResultsRequestChanged, this,
            &ResultsTableView::handleFocusRequest);
    connect(&m_player, &AudioPreviewPlayer::playingURLChanged, this,
            &ResultsTableView::updatePulse);
    syncSelection();
    updatePulse();
}

ResultsTableView::~ResultsTableView() = default;

int ResultsTableView::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void ResultsTableView::syncSelection()
{
    const QUrl url = m_model.resultSelection();
    if (url.isEmpty()) {
        clearSelection();
        return;
    }
    // A selection outside the list leaves the table as it is.
    const int row = m_results->rowOf(url);
    if (row >= 0 && row != selectedRow())
        selectRowAndReveal(row);
}

void ResultsTableView::selectRowAndReveal(int row)
{
    const QModelIndex index = m_results->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

void ResultsTableView::handleFocusRequest()
{
    const qint64 request = m_model.focusResultsRequest();
    if (request == m_lastFocusRequest)
        return;
    m_lastFocusRequest = request;
    focusTable();
}

void ResultsTableView::focusTable()
{
    if (m_results->rowCount() == 0)
        return;
    setFocus(Qt::OtherFocusReason);
    const int row = m_results->rowOf(m_model.resultSelection());
    selectRowAndReveal(row >= 0 ? row : 0);
}

void ResultsTableView::selectionChanged(const QItemSelection &selected,
                                        const QItemSelection &deselected)
{
    QTableView::selectionChanged(selected, deselected);
    const FileNodePtr node = m_results->node(selectedRow());
    if (!node)
        return;
    const QUrl url = node->url();
    if (node->isDirectory()) {
        // Revealing ends the search and so replaces this list: not while its selection changes.
        QMetaObject::invokeMethod(
            this, [this, url] { m_model.revealInBrowser(url); }, Qt::QueuedConnection);
        return;
    }
    if (url == m_model.resultSelection())
        return;
    m_model.setResultSelection(url);
    m_player.play(url);
    prepareAround(selectedRow());
}

void ResultsTableView::prepareAround(int row)
{
    QList<QUrl> files;
    for (const int near : {row, row + 1, row - 1}) {
        const FileNodePtr node = m_results->node(near);
        if (node && !node->isDirectory())
            files.append(node->url());
    }
    m_player.prepare(files);
}

void ResultsTableView::mousePressEvent(QMouseEvent *event)
{
    const int row = rowAt(event->position().toPoint().y());
    if (row < 0 || event->button() != Qt::LeftButton) {
        QTableView::mousePressEvent(event);
        return;
    }
    const int previous = selectedRow();
    QTableView::mousePressEvent(event);
    const FileNodePtr node = m_results->node(row);
    if (row == previous && node && !node->isDirectory())
        m_player.play(node->url());
}

void ResultsTableView::mouseMoveEvent(QMouseEvent *event)
{
    setHoveredRow(rowAt(event->position().toPoint().y()));
    QTableView::mouseMoveEvent(event);
}

void ResultsTableView::leaveEvent(QEvent *event)
{
    setHoveredRow(-1);
    QTableView::leaveEvent(event);
}

void ResultsTableView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (m_hoveredRow >= 0)
        setHoveredRow(rowAt(viewport()->mapFromGlobal(QCursor::pos()).y()));
}

void ResultsTableView::setHoveredRow(int row)
{
    if (row == m_hoveredRow)
        return;
    const int previous = std::exchange(m_hoveredRow, row);
    m_rowDelegate->setHoveredRow(row);
    updateRow(previous);
    updateRow(row);
}

void ResultsTableView::updateRow(int row)
{
    if (row >= 0 && row < m_results->rowCount())
        viewport()->update(visualRect(m_results->index(row, 0)));
}

void ResultsTableView::updatePulse()
{
    const bool animate = m_player.isPlaying() && m_results->playingRow() >= 0;
    if (animate == m_pulseTimer.isActive())
        return;
    if (animate) {
        m_pulseStep = 0;
        m_pulseTimer.start();
    } else {
        m_pulseTimer.stop();
        m_rowDelegate->setPulse(1.0);
    }
}

void ResultsTableView::keyPressEvent(QKeyEvent *event)
{
    const bool plain =
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain) {
        switch (event->key()) {
        case Qt::Key_Down:
            // Focus that arrives by Tab puts the current index on row 0 without selecting it, so
            // the view's own step would skip the first row.
            if (selectedRow() < 0 && m_results->rowCount() > 0) {
                selectRowAndReveal(0);
                event->accept();
                return;
            }
            break;
        case Qt::Key_Up:
            if (selectedRow() == 0) {
                m_model.requestSearchFocus();
                event->accept();
                return;
            }
            break;
        case Qt::Key_Right: {
            const FileNodePtr node = m_results->node(m_results->rowOf(m_model.resultSelection()));
            if (node && !node->isDirectory())
                m_player.play(node->url());
            event->accept();
            return;
        }
        case Qt::Key_Space: {
            if (m_player.isPlaying()) {
                m_player.stop();
            } else {
                const FileNodePtr node =
                    m_results->node(m_results->rowOf(m_model.resultSelection()));
                if (node && !node->isDirectory())
                    m_player.play(node->url());
            }
            event->accept();
            return;
        }
        default:
            break;
        }
    }
    QTableView::keyPressEvent(event);
}

void ResultsTableView::focusInEvent(QFocusEvent *event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
}

void ResultsTableView::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void ResultsTableView::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if (!hasFocus() || m_results->rowCount() == 0)
        return;
    // Focus reached by Tab or a click on empty space selects nothing: the row the keys act on
    // carries the accent ring, so the keyboard is never lost.
    const int row = selectedRow() >= 0 ? selectedRow() : 0;
    const QRect rect = visualRect(m_results->index(row, 0)).adjusted(1, 1, -2, -2);
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Theme::accent(), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect), 5, 5);
}

QModelIndex ResultsTableView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // One column: Home and End go to the ends of the list, not of the row.
    if (cursorAction == MoveHome || cursorAction == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(cursorAction, modifiers);
}

void ResultsTableView::contextMenuEvent(QContextMenuEvent *event)
{
    int row = -1;
    QPoint position = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        row = selectedRow();
        if (row >= 0)
            position = viewport()->mapToGlobal(visualRect(m_results->index(row, 0)).center());
    } else {
        row = rowAt(event->pos().y());
    }
    if (row < 0)
        return;
    if (row != selectedRow())
        selectionModel()->setCurrentIndex(m_results->index(row, 0),
                                          QItemSelectionModel::ClearAndSelect |
                                              QItemSelectionModel::Rows);
    QMenu *menu = contextMenuForRow(row, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(position);
    event->accept();
}

void ResultsTableView::setSoundColumnsShown(bool shown)
{
    if (shown == soundColumnsShown())
        return;
    applySoundColumns(shown);
    m_model.defaults().setBool(shown, soundColumnsKey);
}

// The header appears with the columns, as it is where they are sorted.
void ResultsTableView::applySoundColumns(bool shown)
{
    setColumnHidden(ResultsModel::TempoColumn, !shown);
    setColumnHidden(ResultsModel::KeyColumn, !shown);
    horizontalHeader()->setVisible(shown);
    setSortingEnabled(shown);
    if (!shown)
        m_results->sort(ResultsModel::NameColumn, Qt::AscendingOrder);
}

bool ResultsTableView::soundColumnsShown() const
{
    return !isColumnHidden(ResultsModel::TempoColumn);
}

QMenu *ResultsTableView::contextMenuForRow(int row, QWidget *parent)
{
    const FileNodePtr node = m_results->node(row);
    if (!node)
        return nullptr;
    const QUrl url = node->url();
    auto *menu = new QMenu(parent);
    TagMenuSection::addTo(*menu, m_tags, url, devicePixelRatioF(), this,
                          TagMenuSection::Marking::Checkable);
    menu->addSeparator();
    QAction *similar = menu->addAction(QStringLiteral("Find Similar"));
    similar->setShortcut(SearchBar::findSimilarShortcut());
    similar->setShortcutContext(Qt::WidgetShortcut);
    connect(similar, &QAction::triggered, this, [this, url] { m_model.findSimilar(url); });
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Reveal in Browser")), &QAction::triggered, this,
            [this, url] { m_model.revealInBrowser(url); });
    connect(menu->addAction(QStringLiteral("Show in File Manager")), &QAction::triggered, this,
            [this, url] { m_model.revealInFinder(url); });
    if (m_model.searchMode() == SampleSearch::Mode::Copies) {
        menu->addSeparator();
        QAction *keep = menu->addAction(QStringLiteral("Keep This Copy, Move Others to Trash"));
        keep->setObjectName(QStringLiteral("destructive"));
        DestructiveMenuStyle::install(*menu);
        connect(keep, &QAction::triggered, this, [this, url] { m_model.keepOnlyCopy(url); });
    }
    return menu;
}

void ResultsTableView::startDrag(Qt::DropActions)
{
    const int row = currentIndex().row();
    const FileNodePtr node = m_results->node(row);
    QMimeData *mime = node ? m_results->mimeData({m_results->index(row, 0)}) : nullptr;
    if (!mime)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(SampleDragPreview(FilePaths::displayText(node->name()))
                        .render(font(), devicePixelRatioF()));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}
