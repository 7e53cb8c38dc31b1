// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FileDialogFolderChooser.h"
#include "FocusEnvironment.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class AudioOutput;
class AudioPreviewPlayer;
class BrowserModel;
class ContentView;
class DialogPresenter;
class FocusFollowsMouse;
class Preferences;
class QAction;
class QActionGroup;
class QMainWindow;
class QToolBar;
class QToolButton;
class TagStore;
class TextEditActions;
class UpdaterManager;
class UrlOpener;
class WindowController;
class WindowHost;
class WindowManagerNotice;
class WindowManagerSupport;
class X11Connection;

// The application: it creates the long-lived objects once, in order, and the one main window
// with its toolbar, menus and content. It holds no state of its own beyond them.
class WavelarkApp final : public QObject
{
    Q_OBJECT

public:
    // What the application is built on; the defaults are the real ones, tests substitute.
    struct Services
    {
        QString preferencesPath;     // empty: the standard preferences file
        QString indexFilePath;       // empty: the standard index location
        QString peaksCacheDirectory; // empty: the standard cache location
        bool liveUpdates = true;
        std::unique_ptr<AudioOutput> audioOutput;   // null: the system's audio device
        DialogPresenter *dialogPresenter = nullptr; // null: real message boxes
        // null: the desktop's own (X11 where Qt runs on xcb, otherwise inert).
        std::unique_ptr<FocusEnvironment> focusEnvironment;
        UrlOpener *urlOpener = nullptr; // null: the desktop's browser
        std::optional<QString> feedURL; // absent: the feed the build names
    };

    static constexpr int defaultWidth = 440;
    static constexpr int defaultHeight = 720;
    static constexpr int minimumWidth = 440;

    WavelarkApp();
    explicit WavelarkApp(Services services);
    ~WavelarkApp() override;
    Q_DISABLE_COPY_MOVE(WavelarkApp)

    void show();
    // Brings the window forward and gives it the keyboard, as when the user starts us again.
    void raise();

    Preferences &defaults() const { return *m_defaults; }
    AudioPreviewPlayer &player() const { return *m_player; }
    TagStore &tagStore() const { return *m_tagStore; }
    BrowserModel &model() const { return *m_model; }
    WindowController &windowController() const { return *m_windowController; }
    FocusFollowsMouse &focusFollows() const { return *m_focusFollows; }
    WindowManagerSupport &windowManagerSupport() const { return *m_windowManagerSupport; }
    WindowManagerNotice *windowManagerNotice() const { return m_windowManagerNotice; }
    QMainWindow *window() const { return m_window.get(); }
    ContentView *content() const { return m_content; }
    QToolBar *toolBar() const { return m_toolBar; }

    QAction *addFolderAction() const { return m_addFolderAction; }
    QAction *stopAction() const { return m_stopAction; }
    QAction *addFolderMenuAction() const { return m_addFolderMenuAction; }
    QAction *quitAction() const { return m_quitAction; }
    QAction *findAction() const { return m_findAction; }
    QAction *findSimilarAction() const { return m_findSimilarAction; }
    QAction *aboutAction() const { return m_aboutAction; }
    QAction *alwaysOnTopAction() const { return m_alwaysOnTopAction; }
    QAction *loopAction() const { return m_loopAction; }
    QToolButton *dockButton() const { return m_dockButton; }
    // "Dock Left", "Dock Right", "Don't Dock", then "Reset Position".
    QList<QAction *> dockActions() const;
    QAction *checkForUpdatesAction() const { return m_checkForUpdatesAction; }

    // Created on first use.
    UpdaterManager &updater();
    TextEditActions *textEditActions() const { return m_textEditActions; }

    // Non-modal; one at a time.
    void showAbout();

private:
    void tellLoadProblem();
    void buildWindow(DialogPresenter &presenter);
    void buildToolBar();
    void buildMenus(DialogPresenter &presenter);
    void updateCommands();
    void buildDockMenu(const QColor &iconColor);
    void buildLoopToggle(const QColor &iconColor);
    void updateWindowCommands();
    void connectWindow();

    std::unique_ptr<Preferences> m_defaults;
    std::unique_ptr<AudioPreviewPlayer> m_player;
    std::unique_ptr<X11Connection> m_x11;
    std::unique_ptr<WindowManagerSupport> m_windowManagerSupport;
    std::unique_ptr<WindowController> m_windowController;
    std::unique_ptr<FocusEnvironment> m_focusEnvironment;
    std::unique_ptr<FocusFollowsMouse> m_focusFollows;
    std::unique_ptr<TagStore> m_tagStore;
    std::unique_ptr<BrowserModel> m_model;
    FileDialogFolderChooser m_folderChooser;
    DialogPresenter *m_presenter = nullptr;
    UrlOpener *m_urlOpener = nullptr;
    QString m_feedURL;
    std::unique_ptr<UpdaterManager> m_updater;
    // Declared last: the views hold references to everything above and must go first.
    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<WindowHost> m_windowHost;
    ContentView *m_content = nullptr;
    QToolBar *m_toolBar = nullptr;
    QAction *m_addFolderAction = nullptr;
    QAction *m_stopAction = nullptr;
    QAction *m_addFolderMenuAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_findAction = nullptr;
    QAction *m_findSimilarAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_checkForUpdatesAction = nullptr;
    QAction *m_alwaysOnTopAction = nullptr;
    QAction *m_loopAction = nullptr;
    QToolButton *m_dockButton = nullptr;
    QActionGroup *m_dockGroup = nullptr;
    QAction *m_resetPositionAction = nullptr;
    QAction *m_dockReasonAction = nullptr;
    WindowManagerNotice *m_windowManagerNotice = nullptr;
    bool m_contentShown = false;
    TextEditActions *m_textEditActions = nullptr;
    QPointer<QWidget> m_about;
};
