// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SidebarView.h"

#include "TagDot.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "DestructiveMenuStyle.h"
#include "FilePaths.h"
#include "FileRowView.h"
#include "ResultsTableView.h"
#include "SampleDragPreview.h"
#include "SearchBar.h"
#include "SymbolIcon.h"
#include "TagMenuSection.h"
#include "TagStore.h"
#include "Theme.h"
#include "TreeListView.h"
#include "TreeRowModel.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {

constexpr int animationIntervalMs = 50;
constexpr qreal animationPeriodMs = 1200;

QColor secondaryColor(const QWidget *widget)
{
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

void useSecondaryText(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryColor(label));
    label->setPalette(palette);
}

bool hasLocalFiles(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return false;
    const QList<QUrl> urls = mime->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl &url) { return url.isLocalFile(); });
}

// The outline shown over the whole sidebar while folders are dragged over it.
class DropOutline final : public QWidget
{
public:
    explicit DropOutline(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setObjectName(QStringLiteral("dropOutline"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(4, 4, -4, -4);
        QPainterPath path;
        path.addRoundedRect(box, 8, 8);
        QColor fill = Theme::accent();
        fill.setAlphaF(0.06f);
        painter.fillPath(path, fill);
        QPainterPath inner;
        inner.addRoundedRect(box.adjusted(1, 1, -1, -1), 7, 7);
        painter.setPen(QPen(Theme::accent(), 2));
        painter.drawPath(inner);
    }
};

} // namespace

SidebarView::SidebarView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                         QWidget *parent)
    : QWidget(parent), m_model(model), m_player(player), m_tags(tags)
{
    setObjectName(QStringLiteral("sidebar"));
    setAcceptDrops(true);
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_welcome = makeWelcomeView();
    m_message = makeMessageView();
    makeTreeList();
    m_results = new ResultsTableView(model, player, tags, this);
    m_stack->addWidget(m_welcome);
    m_stack->addWidget(m_message);
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_results);
    m_dropOutline = new DropOutline(this);

    m_playingAnimation.setInterval(animationIntervalMs);
    connect(&m_playingAnimation, &QTimer::timeout, this, &SidebarView::advancePlayingAnimation);

    for (auto signal :
         {&BrowserModel::rootsChanged, &BrowserModel::folderContentsChanged,
          &BrowserModel::activeTagFiltersChanged, &BrowserModel::tagScopeFoldersChanged,
          &BrowserModel::tagScopeSamplesChanged, &BrowserModel::searchTextChanged,
          &BrowserModel::searchResultsChanged, &BrowserModel::isIndexingChanged,
          &BrowserModel::searchModeChanged, &BrowserModel::searchProblemChanged,
          &BrowserModel::searchRunningChanged})
        connect(&model, signal, this, &SidebarView::updateContent);
    connect(&model, &BrowserModel::selectionChanged, this, &SidebarView::modelSelectionChanged);
    connect(&model, &BrowserModel::focusTreeRequestChanged, this, &SidebarView::focusTreeRequested);
    connect(&player, &AudioPreviewPlayer::playingURLChanged, this,
            &SidebarView::updatePlayingAnimation);
    connect(&tags, &TagStore::revisionChanged, this, [this] { m_model.recomputeTagScope(); });

    updateContent();
}

SidebarView::~SidebarView() = default;

QWidget *SidebarView::makeWelcomeView()
{
    auto *view = new QWidget(this);
    view->setObjectName(QStringLiteral("welcomeView"));
    m_welcomeIcon = new QLabel(view);
    m_welcomeIcon->setAlignment(Qt::AlignCenter);
    auto *title = new QLabel(QStringLiteral("No folders yet"), view);
    title->setObjectName(QStringLiteral("welcomeTitle"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);
    auto *hint = new QLabel(
        QStringLiteral("Click + in the toolbar, or drag a\nfolder here from your file manager."),
        view);
    hint->setObjectName(QStringLiteral("welcomeHint"));
    hint->setAlignment(Qt::AlignCenter);
    useSecondaryText(hint);

    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);
    layout->addStretch(1);
    layout->addWidget(m_welcomeIcon);
    layout->addWidget(title);
    layout->addWidget(hint);
    layout->addStretch(1);
    return view;
}

QWidget *SidebarView::makeMessageView()
{
    auto *view = new QWidget(this);
    view->setObjectName(QStringLiteral("messageView"));
    m_messageIcon = new QLabel(view);
    m_messageIcon->setAlignment(Qt::AlignCenter);
    m_messageText = new QLabel(view);
    m_messageText->setObjectName(QStringLiteral("messageText"));
    m_messageText->setAlignment(Qt::AlignCenter);
    m_messageText->setWordWrap(true);
    useSecondaryText(m_messageText);
    auto *layout = new QVBoxLayout(view);
    layout->setSpacing(6);
    layout->addStretch(1);
    layout->addWidget(m_messageIcon);
    layout->addWidget(m_messageText);
    layout->addStretch(1);
    return view;
}

void SidebarView::makeTreeList()
{
    m_rows = new TreeRowModel(m_model, m_player, m_tags, this);
    m_delegate = new FileRowView(this);
    m_list = new TreeListView(this);
    m_list->setObjectName(QStringLiteral("treeList"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setAutoFillBackground(false);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setItemDelegate(m_delegate);
    m_list->setModel(m_rows);
    m_list->setKeyHandler([this](int key) { return handleKey(key); });

    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &SidebarView::viewCurrentChanged);
    connect(m_list, &QWidget::customContextMenuRequested, this, &SidebarView::showContextMenu);
    connect(m_list, &TreeListView::rowClicked, this, &SidebarView::clickRow);
    connect(m_list, &TreeListView::rowDragStarted, this, [this](int row) {
        if (row < m_rows->rowCount() && !m_rows->rowAt(row).isDirectory)
            startFileDrag(row);
    });
    connect(m_list, &TreeListView::hoveredRowChanged, this, [this](int row) {
        m_rows->setHoveredURL(
            row >= 0 && row < m_rows->rowCount() ? m_rows->rowAt(row).row.node->url() : QUrl());
    });
    connect(m_rows, &QAbstractItemModel::modelReset, this, &SidebarView::syncViewSelection);
    connect(m_rows, &QAbstractItemModel::rowsInserted, this, &SidebarView::syncViewSelection);
    connect(m_rows, &QAbstractItemModel::rowsRemoved, this, &SidebarView::syncViewSelection);
    syncViewSelection();
}

QUrl SidebarView::hoveredURL() const
{
    return m_rows->hoveredURL();
}

QString SidebarView::messageText() const
{
    switch (m_content) {
    case Content::Welcome:
        return QStringLiteral("No folders yet");
    case Content::NothingTagged:
    case Content::Indexing:
    case Content::Comparing:
    case Content::NoMatches:
        return m_messageText->text();
    case Content::Tree:
    case Content::Results:
        break;
    }
    return {};
}

SidebarView::Content SidebarView::evaluateContent() const
{
    if (m_model.roots().isEmpty())
        return Content::Welcome;
    const auto searchView = [this] {
        if (!m_model.searchResults().isEmpty())
            return Content::Results;
        // The first sound search reads the analysis's store: a moment, not "no matches".
        if (m_model.searchMode() != SampleSearch::Mode::Names && m_model.isSearchRunning())
            return Content::Comparing;
        return m_model.isIndexing() ? Content::Indexing : Content::NoMatches;
    };
    if (m_model.isSearching())
        return searchView();
    if (!m_model.activeTagFilters().isEmpty() && m_model.tagScopeFolders().isEmpty() &&
        m_model.tagScopeSamples().isEmpty())
        return Content::NothingTagged;
    return Content::Tree;
}

void SidebarView::updateContent()
{
    const Content previous = m_content;
    m_content = evaluateContent();
    switch (m_content) {
    case Content::Welcome:
        // Drawn when shown, at the pixel ratio of the screen the window is on by then.
        m_welcomeIcon->setPixmap(SymbolIcon::pixmap(QStringLiteral("folder.badge.plus"),
                                                    secondaryColor(this), QSize(46, 46),
                                                    devicePixelRatioF()));
        m_stack->setCurrentWidget(m_welcome);
        break;
    case Content::Tree:
        m_stack->setCurrentWidget(m_list);
        break;
    case Content::NothingTagged:
        showMessage(QStringLiteral("tag"),
                    QStringLiteral("Nothing tagged ") + m_model.tagFilterDescription());
        break;
    case Content::Indexing:
        showMessage(QStringLiteral("hourglass"), QStringLiteral("Indexing…"));
        break;
    case Content::Comparing:
        showMessage(QStringLiteral("hourglass"), QStringLiteral("Comparing sounds…"));
        break;
    case Content::NoMatches: {
        QString text = m_model.searchProblem();
        if (text.isEmpty())
            text = m_model.searchMode() == SampleSearch::Mode::Copies
                       ? QStringLiteral("No identical audio")
                       : QStringLiteral("No matches");
        showMessage(QStringLiteral("magnifyingglass"), text);
        break;
    }
    case Content::Results:
        m_stack->setCurrentWidget(m_results);
        break;
    }
    // A tree that appears again takes the keyboard, unless the user is typing a search.
    if (m_content == Content::Tree && (previous != Content::Tree || !m_shownOnce)) {
        QTimer::singleShot(0, this, [this] {
            if (m_content == Content::Tree && !m_model.isSearchFieldFocused() && isVisible())
                m_list->setFocus(Qt::OtherFocusReason);
        });
    }
    updatePlayingAnimation();
}

void SidebarView::showMessage(const QString &icon, const QString &text)
{
    m_messageIcon->setPixmap(
        SymbolIcon::pixmap(icon, secondaryColor(this), QSize(28, 28), devicePixelRatioF()));
    m_messageText->setText(text);
    m_stack->setCurrentWidget(m_message);
}

void SidebarView::syncViewSelection()
{
    const int row = m_rows->rowOf(m_model.selection());
    QItemSelectionModel *selection = m_list->selectionModel();
    m_syncingSelection = true;
    if (row < 0) {
        selection->clear();
    } else {
        const QModelIndex index = m_rows->index(row);
        if (selection->currentIndex() != index || !selection->isSelected(index)) {
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            m_list->scrollTo(index);
        }
    }
    m_syncingSelection = false;
}

void SidebarView::viewCurrentChanged()
{
    if (m_syncingSelection || m_rows->isChangingRows())
        return;
    // The list also moves its current row without selecting it (on focus-in); only a row the
    // user selected with the keys counts.
    const QModelIndex current = m_list->selectionModel()->currentIndex();
    if (!current.isValid() || !m_list->selectionModel()->isSelected(current))
        return;
    m_model.setSelection(m_rows->rowAt(current.row()).row.node->url());
}

void SidebarView::modelSelectionChanged()
{
    syncViewSelection();
    if (m_content != Content::Tree)
        return;
    const QUrl selection = m_model.selection();
    const FileNodePtr node = m_model.node(selection);
    if (node && !node->isDirectory())
        m_player.play(selection);
    prepareAround(selection);
}

void SidebarView::prepareAround(const QUrl &selection)
{
    const int row = m_rows->rowOf(selection);
    if (row < 0)
        return;
    QList<QUrl> files;
    for (const int near : {row, row + 1, row - 1}) {
        if (near < 0 || near >= m_rows->rowCount())
            continue;
        const FileNodePtr &node = m_rows->rowAt(near).row.node;
        if (node && !node->isDirectory() && !node->isNote())
            files.append(node->url());
    }
    m_player.prepare(files);
}

void SidebarView::focusTreeRequested()
{
    if (m_model.selection().isEmpty() && m_rows->rowCount() > 0)
        m_model.setSelection(m_rows->rowAt(0).row.node->url());
    m_list->setFocus(Qt::OtherFocusReason);
}

void SidebarView::takeFocusUnlessSearching()
{
    if (m_content == Content::Tree && !m_model.isSearching() && !m_model.isSearchFieldFocused())
        m_list->setFocus(Qt::ActiveWindowFocusReason);
}

void SidebarView::clickRow(int row)
{
    if (row < 0 || row >= m_rows->rowCount())
        return;
    m_list->setFocus(Qt::MouseFocusReason);
    // Copies: toggling rebuilds the rows.
    const FileNodePtr node = m_rows->rowAt(row).row.node;
    const QUrl url = node->url();
    if (node->isDirectory()) {
        m_model.setSelection(url);
        m_model.toggle(node);
    } else if (m_model.selection() == url) {
        m_player.play(url);
    } else {
        m_model.setSelection(url);
    }
}

bool SidebarView::handleKey(int key)
{
    const QUrl selection = m_model.selection();
    switch (key) {
    case Qt::Key_Left: {
        const FileNodePtr node = m_model.node(selection);
        if (!node)
            return false;
        if (node->isDirectory() && m_model.expanded().contains(node->url())) {
            m_model.collapse(node);
            return true;
        }
        const QUrl parent = FilePaths::fileUrl(FilePaths::parentPath(node->path()));
        if (!m_model.node(parent))
            return false;
        m_model.setSelection(parent);
        return true;
    }
    case Qt::Key_Right: {
        const FileNodePtr node = m_model.node(selection);
        if (!node)
            return false;
        if (!node->isDirectory()) {
            m_player.play(selection);
            return true;
        }
        if (m_model.expanded().contains(node->url()))
            return false;
        m_model.expand(node);
        return true;
    }
    case Qt::Key_Space: {
        if (m_player.isPlaying()) {
            m_player.stop();
            return true;
        }
        const FileNodePtr node = m_model.node(selection);
        if (!node || node->isDirectory())
            return false;
        m_player.play(selection);
        return true;
    }
    default:
        return false;
    }
}

QMenu *SidebarView::contextMenuForRow(int row, QWidget *parent)
{
    if (row < 0 || row >= m_rows->rowCount())
        return nullptr;
    const FileNodePtr node = m_rows->rowAt(row).row.node;
    if (node->isNote())
        return nullptr;
    const QUrl url = node->url();
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("rowContextMenu"));
    TagMenuSection::addTo(*menu, m_tags, url, devicePixelRatioF(), this,
                          TagMenuSection::Marking::NameSuffix);
    menu->addSeparator();

    if (node->isDirectory()) {
        connect(menu->addAction(QStringLiteral("Search in This Folder")), &QAction::triggered, this,
                [this, url] { m_model.searchInFolder(url); });
        connect(menu->addAction(QStringLiteral("Show Duplicates")), &QAction::triggered, this,
                [this, url] { m_model.showCopies(url); });
        menu->addSeparator();
    } else {
        QAction *similar = menu->addAction(QStringLiteral("Find Similar"));
        similar->setShortcut(SearchBar::findSimilarShortcut());
        similar->setShortcutContext(Qt::WidgetShortcut);
        connect(similar, &QAction::triggered, this, [this, url] { m_model.findSimilar(url); });
        menu->addSeparator();
    }
    connect(menu->addAction(QStringLiteral("Show in File Manager")), &QAction::triggered, this,
            [this, url] { m_model.revealInFinder(url); });
    if (node->isDirectory()) {
        connect(menu->addAction(QStringLiteral("Refresh")), &QAction::triggered, this,
                [this, node] {
                    node->markStale();
                    m_model.notifyTreeChanged();
                });
    }

    const QList<FileNodePtr> &roots = m_model.roots();
    const auto root = std::find_if(roots.begin(), roots.end(),
                                   [&](const FileNodePtr &r) { return r->url() == url; });
    if (root != roots.end()) {
        const FileNodePtr rootNode = *root;
        menu->addSeparator();
        if (m_model.offlineRoots().contains(url)) {
            connect(menu->addAction(QStringLiteral("Locate…")), &QAction::triggered, this,
                    [this, rootNode] { m_model.relinkRoot(rootNode); });
        }
        QAction *remove = menu->addAction(QStringLiteral("Remove from Browser"));
        remove->setObjectName(QStringLiteral("destructive"));
        DestructiveMenuStyle::install(*menu);
        connect(remove, &QAction::triggered, this,
                [this, rootNode] { m_model.removeRoot(rootNode); });
    }
    return menu;
}

void SidebarView::showContextMenu(const QPoint &viewportPos)
{
    const QModelIndex index = m_list->indexAt(viewportPos);
    if (!index.isValid())
        return;
    QMenu *menu = contextMenuForRow(index.row(), this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(viewportPos));
}

void SidebarView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    QList<QUrl> roots;
    for (const FileNodePtr &root : m_model.roots())
        roots.append(root->url());
    m_tags.relocateMovedItems(roots);
    if (m_model.rootsReadInFull())
        m_tags.pruneOutside(roots);
    m_model.recomputeTagScope();
    updateContent();
    if (m_content == Content::Tree && !m_model.isSearchFieldFocused())
        m_list->setFocus(Qt::OtherFocusReason);
}

void SidebarView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, &SidebarView::takeFocusUnlessSearching);
}

void SidebarView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_dropOutline->setGeometry(rect());
}

void SidebarView::setDropTargeted(bool targeted)
{
    if (m_isDropTargeted == targeted)
        return;
    m_isDropTargeted = targeted;
    m_dropOutline->setGeometry(rect());
    m_dropOutline->setVisible(targeted);
    m_dropOutline->raise();
}

void SidebarView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->source() || !hasLocalFiles(event->mimeData()))
        return event->ignore();
    event->acceptProposedAction();
    setDropTargeted(true);
}

void SidebarView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->source() || !hasLocalFiles(event->mimeData()))
        return event->ignore();
    event->acceptProposedAction();
}

void SidebarView::dragLeaveEvent(QDragLeaveEvent *)
{
    setDropTargeted(false);
}

void SidebarView::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    QList<QUrl> urls;
    if (event->mimeData() && event->mimeData()->hasUrls()) {
        for (const QUrl &url : event->mimeData()->urls()) {
            if (url.isLocalFile())
                urls.append(url);
        }
    }
    if (urls.isEmpty() || event->source())
        return event->ignore();
    event->acceptProposedAction();
    // Each folder on its own, after the drop has returned to the file manager.
    for (const QUrl &url : urls)
        QTimer::singleShot(0, this, [this, url] { m_model.addDroppedFolders({url}); });
}

void SidebarView::startFileDrag(int row)
{
    const FileNodePtr node = m_rows->rowAt(row).row.node;
    auto *mime = new QMimeData;
    // The row comes from a listing: the disk is not asked again here, on the GUI thread.
    mime->setData(QStringLiteral("text/uri-list"), FilePaths::uriList({node->path()}));
    auto *drag = new QDrag(m_list);
    drag->setMimeData(mime);
    const QPixmap preview =
        SampleDragPreview(FilePaths::displayText(node->name())).render(font(), devicePixelRatioF());
    drag->setPixmap(preview);
    drag->setHotSpot(QPoint(12, static_cast<int>(preview.deviceIndependentSize().height() / 2)));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void SidebarView::updatePlayingAnimation()
{
    const bool wanted = m_content == Content::Tree && m_player.isPlaying();
    if (wanted && !m_playingAnimation.isActive())
        m_playingAnimation.start();
    else if (!wanted && m_playingAnimation.isActive())
        m_playingAnimation.stop();
}

void SidebarView::advancePlayingAnimation()
{
    const qreal step = animationIntervalMs / animationPeriodMs;
    qreal phase = m_delegate->animationPhase() + step;
    if (phase >= 1)
        phase -= 1;
    m_delegate->setAnimationPhase(phase);
    // Only the playing row repaints.
    const int row = m_rows->rowOf(m_player.playingURL());
    if (row >= 0)
        m_list->viewport()->update(m_list->visualRect(m_rows->index(row)));
}
