// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QUrl>
#include <QWidget>

class AudioPreviewPlayer;
class BrowserModel;
class FileRowView;
class QLabel;
class QMenu;
class QStackedLayout;
class ResultsTableView;
class TagStore;
class TreeListView;
class TreeRowModel;

// The middle of the window: the welcome view without roots, the folder tree (or the tag-filtered
// tree), and while a search is open the results table or a short status message. It takes
// folders dropped from the file manager, handles the tree's clicks, keys and context menu, plays
// a file when it becomes selected and lets files be dragged out.
class SidebarView final : public QWidget
{
    Q_OBJECT

public:
    enum class Content
    {
        Welcome,
        Tree,
        NothingTagged,
        Indexing,
        Comparing, // a sound search reading what the files sound like
        NoMatches,
        Results
    };
    Q_ENUM(Content)

    SidebarView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                QWidget *parent = nullptr);
    ~SidebarView() override;
    Q_DISABLE_COPY_MOVE(SidebarView)

    Content content() const { return m_content; }
    TreeListView *treeList() const { return m_list; }
    TreeRowModel *rowModel() const { return m_rows; }
    ResultsTableView *resultsTable() const { return m_results; }
    // The text of the message view (welcome title, "No matches", ...), for the content shown.
    QString messageText() const;
    bool isDropTargeted() const { return m_isDropTargeted; }
    QUrl hoveredURL() const;

    // The row's context menu, owned by the caller.
    QMenu *contextMenuForRow(int row, QWidget *parent = nullptr);
    // A click on a row: folders are selected and toggled, a selected file plays again, another
    // file is selected (and so plays).
    void clickRow(int row);
    // The tree's own keys (left, right, space); false when the key is not handled.
    bool handleKey(int key);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QWidget *makeWelcomeView();
    QWidget *makeMessageView();
    void makeTreeList();
    Content evaluateContent() const;
    void updateContent();
    void showMessage(const QString &icon, const QString &text);
    void syncViewSelection();
    void viewCurrentChanged();
    void modelSelectionChanged();
    // The files of the selected row and the rows above and below it, decoded ahead.
    void prepareAround(const QUrl &selection);
    void focusTreeRequested();
    void takeFocusUnlessSearching();
    void updatePlayingAnimation();
    void advancePlayingAnimation();
    void setDropTargeted(bool targeted);
    void startFileDrag(int row);
    void showContextMenu(const QPoint &viewportPos);

    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    TagStore &m_tags;

    QStackedLayout *m_stack = nullptr;
    QWidget *m_welcome = nullptr;
    QLabel *m_welcomeIcon = nullptr;
    QWidget *m_message = nullptr;
    QLabel *m_messageIcon = nullptr;
    QLabel *m_messageText = nullptr;
    TreeListView *m_list = nullptr;
    TreeRowModel *m_rows = nullptr;
    FileRowView *m_delegate = nullptr;
    ResultsTableView *m_results = nullptr;
    QWidget *m_dropOutline = nullptr;

    Content m_content = Content::Welcome;
    bool m_shownOnce = false;
    bool m_syncingSelection = false;
    bool m_isDropTargeted = false;
    QTimer m_playingAnimation;
};
