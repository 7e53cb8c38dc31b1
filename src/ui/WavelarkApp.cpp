// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WavelarkApp.h"

#include "AboutDialog.h"
#include "AudioOutput.h"
#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "CheckForUpdatesCommand.h"
#include "ContentView.h"
#include "DialogPresenter.h"
#include "FocusFollowsMouse.h"
#include "PeaksCache.h"
#include "Preferences.h"
#include "QtWindowHost.h"
#include "SearchBar.h"
#include "SymbolIcon.h"
#include "TagStore.h"
#include "TagsMenu.h"
#include "TextEditActions.h"
#include "Theme.h"
#include "UpdaterManager.h"
#include "UrlOpener.h"
#include "WindowController.h"
#include "WindowManagerNotice.h"
#include "WindowManagerSupport.h"
#include "X11Connection.h"
#include "X11FocusEnvironment.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

QString dockIcon(DockMode mode)
{
    switch (mode) {
    case DockMode::Left:
        return QStringLiteral("rectangle.lefthalf.inset.filled");
    case DockMode::Right:
        return QStringLiteral("rectangle.righthalf.inset.filled");
    case DockMode::Off:
        break;
    }
    return QStringLiteral("macwindow");
}

const QString pinToolTip =
    QStringLiteral("Pin the window above your DAW. Your cursor then steers focus, so the "
                   "spacebar previews here and plays in your DAW.");
const QString dockToolTip = QStringLiteral("Snap the window to a screen edge");

} // namespace

WavelarkApp::WavelarkApp() : WavelarkApp(Services{}) {}

WavelarkApp::WavelarkApp(Services services)
{
    m_defaults = std::make_unique<Preferences>(services.preferencesPath.isEmpty()
                                                   ? Preferences::defaultFilePath()
                                                   : services.preferencesPath);
    m_player = std::make_unique<AudioPreviewPlayer>(*m_defaults, std::move(services.audioOutput));
    m_player->setPeaksCache(std::make_shared<const PeaksCache>(
        services.peaksCacheDirectory.isEmpty() ? PeaksCache::defaultDirectory()
                                               : services.peaksCacheDirectory));
    m_x11 = X11Connection::open();
    m_windowManagerSupport = std::make_unique<WindowManagerSupport>();
    m_windowManagerSupport->follow(m_x11.get());
    m_windowController =
        std::make_unique<WindowController>(*m_defaults, m_windowManagerSupport.get());
    m_focusEnvironment = services.focusEnvironment
                             ? std::move(services.focusEnvironment)
                             : std::make_unique<X11FocusEnvironment>(
                                   m_x11.get(), m_windowManagerSupport.get(), nullptr);
    m_focusFollows = std::make_unique<FocusFollowsMouse>(*m_defaults, m_focusEnvironment.get());
    m_tagStore = std::make_unique<TagStore>(*m_defaults);
    m_model = std::make_unique<BrowserModel>(*m_defaults, services.indexFilePath,
                                             services.liveUpdates, m_tagStore.get());
    m_model->setFolderChooser(&m_folderChooser);

    DialogPresenter &presenter =
        services.dialogPresenter ? *services.dialogPresenter : DialogPresenter::system();
    m_presenter = &presenter;
    m_urlOpener = services.urlOpener ? services.urlOpener : &UrlOpener::system();
    m_feedURL = services.feedURL.value_or(QStringLiteral(WAVELARK_FEED_URL));
    buildWindow(presenter);
    m_folderChooser.setParent(m_window.get());
}

WavelarkApp::~WavelarkApp()
{
    // Nothing may poll or place a window that is being torn down.
    m_focusFollows->setAlwaysOnTopProvider({});
    m_windowController->setWindow(nullptr);
    m_windowHost.reset();
    m_window.reset();
    m_model->setFolderChooser(nullptr);
}

void WavelarkApp::show()
{
    // Placed before it is mapped, so the window appears where it belongs, not at a default spot.
    connectWindow();
    m_window->show();
    if (m_contentShown)
        return;
    m_contentShown = true;
    QPointer<WindowController> controller(m_windowController.get());
    m_focusFollows->setAlwaysOnTopProvider(
        [controller] { return controller && controller->isAlwaysOnTop(); });
    m_focusFollows->setEnabled(m_windowController->isAlwaysOnTop());
    tellLoadProblem();
    connect(m_windowController.get(), &WindowController::isAlwaysOnTopChanged, m_focusFollows.get(),
            &FocusFollowsMouse::setEnabled);
    // Sample names in a script the interface font lacks (full-width packs, Japanese, Cyrillic...)
    // load a fallback face the first time one is drawn. That happens here, right after the first
    // frame, instead of inside the first search that shows such a name.
    QTimer::singleShot(0, m_window.get(), [window = QPointer<QWidget>(m_window.get())] {
        if (window)
            QFontMetrics(window->font())
                .horizontalAdvance(QStringLiteral("ＡＺａｚ０９あア中한Жλאاअก"));
    });
}

void WavelarkApp::tellLoadProblem()
{
    if (m_defaults->loadProblem().isEmpty())
        return;
    // Once, over the window it concerns, after that window is up.
    QTimer::singleShot(0, this, [this] {
        m_presenter->run(
            {m_defaults->loadProblem(), m_defaults->loadProblemDetails(), {QStringLiteral("OK")}},
            m_window.get());
    });
}

void WavelarkApp::raise()
{
    if (m_window->isMinimized())
        m_window->showNormal();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // The user asked for us by starting us again: a pager-style request, which focus-stealing
    // prevention lets through.
    if (m_x11)
        m_x11->activate(static_cast<xcb_window_t>(m_window->winId()));
}

void WavelarkApp::connectWindow()
{
    if (m_windowHost)
        return;
    m_windowHost = std::make_unique<QtWindowHost>(m_window.get(), m_x11.get());
    if (auto *x11Focus = qobject_cast<X11FocusEnvironment *>(m_focusEnvironment.get()))
        x11Focus->setMainWindow(m_window.get());
    m_windowController->setWindow(m_windowHost.get());
    m_windowHost->setMinimumFrameWidth(
        std::max(m_windowHost->minimumFrameWidth(), static_cast<int>(minimumWidth)));
    m_windowController->startScreenObserver();
    m_windowController->startResizeObserver(m_windowHost.get());
    m_windowController->apply(std::nullopt);
}

void WavelarkApp::buildWindow(DialogPresenter &presenter)
{
    m_window = std::make_unique<QMainWindow>();
    m_window->setObjectName(QStringLiteral("main"));
    m_window->setWindowTitle(QStringLiteral("Wavelark"));
    m_window->setUnifiedTitleAndToolBarOnMac(true);
    m_content = new ContentView(*m_model, *m_player, *m_tagStore, m_window.get());
    m_windowManagerNotice = new WindowManagerNotice(*m_windowManagerSupport, m_content);
    m_content->addNotice(m_windowManagerNotice);
    m_window->setCentralWidget(m_content);
    buildToolBar();
    buildMenus(presenter);
    m_window->resize(defaultWidth, defaultHeight);

    connect(m_model.get(), &BrowserModel::rootsChanged, this, &WavelarkApp::updateCommands);
    connect(m_player.get(), &AudioPreviewPlayer::playingURLChanged, this,
            &WavelarkApp::updateCommands);
    updateCommands();
}

void WavelarkApp::buildToolBar()
{
    const QColor iconColor = m_window->palette().color(QPalette::ButtonText);
    m_toolBar = new QToolBar(QStringLiteral("Toolbar"), m_window.get());
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolBar->toggleViewAction()->setVisible(false);

    m_addFolderAction = m_toolBar->addAction(SymbolIcon::icon(QStringLiteral("plus"), iconColor),
                                             QStringLiteral("Add Folder"));
    m_addFolderAction->setObjectName(QStringLiteral("addFolder"));
    m_addFolderAction->setToolTip(QStringLiteral("Add a samples folder or drive"));
    connect(m_addFolderAction, &QAction::triggered, this, [this] { m_model->addFolder(); });

    m_stopAction = m_toolBar->addAction(SymbolIcon::icon(QStringLiteral("stop.fill"), iconColor),
                                        QStringLiteral("Stop"));
    m_stopAction->setObjectName(QStringLiteral("stop"));
    m_stopAction->setToolTip(QStringLiteral("Stop preview"));
    connect(m_stopAction, &QAction::triggered, this, [this] { m_player->stop(); });

    m_alwaysOnTopAction = m_toolBar->addAction(QStringLiteral("Always on Top"));
    m_alwaysOnTopAction->setObjectName(QStringLiteral("alwaysOnTop"));
    m_alwaysOnTopAction->setCheckable(true);
    m_alwaysOnTopAction->setToolTip(pinToolTip);
    connect(m_alwaysOnTopAction, &QAction::toggled, m_windowController.get(),
            &WindowController::setAlwaysOnTop);
    connect(m_windowController.get(), &WindowController::isAlwaysOnTopChanged, this,
            &WavelarkApp::updateWindowCommands);
    connect(m_windowManagerSupport.get(), &WindowManagerSupport::placesWindowsItselfChanged, this,
            &WavelarkApp::updateWindowCommands);

    buildDockMenu(iconColor);
    buildLoopToggle(iconColor);
    // Reachable by Tab too: space toggles the pin and opens the Dock menu, arrows pick in it.
    m_toolBar->widgetForAction(m_alwaysOnTopAction)->setFocusPolicy(Qt::TabFocus);
    m_dockButton->setFocusPolicy(Qt::TabFocus);
    m_window->addToolBar(Qt::TopToolBarArea, m_toolBar);
    updateWindowCommands();
}

void WavelarkApp::buildLoopToggle(const QColor &iconColor)
{
    m_loopAction = m_toolBar->addAction(SymbolIcon::icon(QStringLiteral("repeat"), iconColor),
                                        QStringLiteral("Loop"));
    m_loopAction->setObjectName(QStringLiteral("loop"));
    m_loopAction->setCheckable(true);
    m_loopAction->setChecked(m_player->previewLoops());
    m_loopAction->setToolTip(QStringLiteral("Play the preview over and over"));
    connect(m_loopAction, &QAction::toggled, m_player.get(), &AudioPreviewPlayer::setPreviewLoops);
    connect(m_player.get(), &AudioPreviewPlayer::previewLoopsChanged, m_loopAction,
            [this] { m_loopAction->setChecked(m_player->previewLoops()); });
}

void WavelarkApp::buildDockMenu(const QColor &iconColor)
{
    auto *menu = new QMenu(QStringLiteral("Dock"), m_window.get());
    menu->setObjectName(QStringLiteral("dockMenu"));
    // Says why every entry is off where the window manager places windows itself.
    m_dockReasonAction =
        menu->addAction(QStringLiteral("This window manager places windows itself"));
    m_dockReasonAction->setObjectName(QStringLiteral("dockReason"));
    m_dockReasonAction->setEnabled(false);
    m_dockGroup = new QActionGroup(menu);
    m_dockGroup->setExclusive(true);
    const struct
    {
        const char *title;
        DockMode mode;
    } entries[] = {
        {"Dock Left", DockMode::Left},
        {"Dock Right", DockMode::Right},
        {"Don't Dock", DockMode::Off},
    };
    for (const auto &entry : entries) {
        QAction *action = menu->addAction(SymbolIcon::icon(dockIcon(entry.mode), iconColor),
                                          QLatin1String(entry.title));
        action->setCheckable(true);
        action->setData(static_cast<int>(entry.mode));
        m_dockGroup->addAction(action);
        const DockMode mode = entry.mode;
        connect(action, &QAction::triggered, this,
                [this, mode] { m_windowController->setDockMode(mode); });
    }
    menu->addSeparator();
    m_resetPositionAction = menu->addAction(QStringLiteral("Reset Position"));
    m_resetPositionAction->setObjectName(QStringLiteral("resetPosition"));
    connect(m_resetPositionAction, &QAction::triggered, this, [this] {
        m_windowController->defaults().removeObjectForKey(QStringLiteral("windowDockWidthCustom"));
        m_windowController->apply(m_windowController->dockMode());
    });

    m_dockButton = new QToolButton(m_toolBar);
    m_dockButton->setObjectName(QStringLiteral("dock"));
    m_dockButton->setText(QStringLiteral("Dock"));
    m_dockButton->setToolTip(dockToolTip);
    m_dockButton->setAccessibleName(QStringLiteral("Dock"));
    m_dockButton->setMenu(menu);
    m_dockButton->setPopupMode(QToolButton::InstantPopup);
    // A pull-down without the arrow indicator, like the other toolbar buttons.
    m_dockButton->setStyleSheet(
        QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    m_toolBar->addWidget(m_dockButton);
    connect(m_windowController.get(), &WindowController::dockModeChanged, this,
            &WavelarkApp::updateWindowCommands);
}

QList<QAction *> WavelarkApp::dockActions() const
{
    QList<QAction *> actions = m_dockGroup->actions();
    actions.append(m_resetPositionAction);
    return actions;
}

void WavelarkApp::updateWindowCommands()
{
    const QColor iconColor = m_window->palette().color(QPalette::ButtonText);
    // Where the window manager places windows itself the controls show what really happens; the
    // controller keeps the user's choices for a desktop that honours them.
    const bool honoured = !m_windowManagerSupport->placesWindowsItself();
    const bool onTop = honoured && m_windowController->isAlwaysOnTop();
    {
        const QSignalBlocker blocker(m_alwaysOnTopAction);
        m_alwaysOnTopAction->setChecked(onTop);
    }
    m_alwaysOnTopAction->setEnabled(honoured);
    m_alwaysOnTopAction->setToolTip(honoured ? pinToolTip : WindowManagerNotice::text());
    m_alwaysOnTopAction->setIcon(
        SymbolIcon::icon(onTop ? QStringLiteral("pin.fill") : QStringLiteral("pin"), iconColor));
    const DockMode mode = honoured ? m_windowController->dockMode() : DockMode::Off;
    for (QAction *action : m_dockGroup->actions()) {
        const auto entryMode = static_cast<DockMode>(action->data().toInt());
        action->setChecked(entryMode == mode);
        action->setEnabled(honoured);
        // The style's own mark for a checked item with an icon is a faint frame; the accent
        // tells the current mode at a glance.
        action->setIcon(
            SymbolIcon::icon(dockIcon(entryMode), entryMode == mode ? Theme::accent() : iconColor));
    }
    m_resetPositionAction->setEnabled(honoured);
    m_dockReasonAction->setVisible(!honoured);
    m_dockButton->setIcon(SymbolIcon::icon(dockIcon(mode), iconColor));
    m_dockButton->setToolTip(honoured ? dockToolTip : WindowManagerNotice::text());
}

void WavelarkApp::buildMenus(DialogPresenter &presenter)
{
    QMenuBar *bar = m_window->menuBar();

    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    m_addFolderMenuAction = file->addAction(QStringLiteral("Add Folder…"));
    m_addFolderMenuAction->setObjectName(QStringLiteral("addFolderMenu"));
    m_addFolderMenuAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(m_addFolderMenuAction, &QAction::triggered, this, [this] { m_model->addFolder(); });
    file->addSeparator();
    m_quitAction = file->addAction(QStringLiteral("Quit"));
    m_quitAction->setObjectName(QStringLiteral("quit"));
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quitAction->setMenuRole(QAction::QuitRole);
    connect(m_quitAction, &QAction::triggered, this, [] { QCoreApplication::quit(); });

    QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
    m_textEditActions = new TextEditActions(*edit);
    edit->addSeparator();
    m_findAction = edit->addAction(QStringLiteral("Find"));
    m_findAction->setObjectName(QStringLiteral("find"));
    m_findAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(m_findAction, &QAction::triggered, this, [this] { m_model->searchAllFolders(); });
    m_findSimilarAction = edit->addAction(QStringLiteral("Find Similar"));
    m_findSimilarAction->setObjectName(QStringLiteral("findSimilar"));
    m_findSimilarAction->setShortcut(SearchBar::findSimilarShortcut());
    connect(m_findSimilarAction, &QAction::triggered, this, [this] {
        // The sample in front of the user: the result picked in the list, else the tree's.
        if (m_model->isSearching() && !m_model->resultSelection().isEmpty()) {
            m_model->findSimilar(m_model->resultSelection());
            return;
        }
        const FileNodePtr selected = m_model->node(m_model->selection());
        if (selected && !selected->isDirectory())
            m_model->findSimilar(selected->url());
    });
    QAction *copies = edit->addAction(QStringLiteral("Show Duplicates"));
    copies->setObjectName(QStringLiteral("showDuplicates"));
    connect(copies, &QAction::triggered, this, [this] { m_model->showCopies(QUrl()); });

    bar->addMenu(new TagsMenu(*m_model, *m_tagStore, presenter, m_window.get()));

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    m_aboutAction = help->addAction(QStringLiteral("About Wavelark"));
    m_aboutAction->setObjectName(QStringLiteral("about"));
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &WavelarkApp::showAbout);
    help->addSeparator();
    m_checkForUpdatesAction = new CheckForUpdatesCommand(updater(), help);
    help->addAction(m_checkForUpdatesAction);
}

UpdaterManager &WavelarkApp::updater()
{
    if (!m_updater)
        m_updater = std::make_unique<UpdaterManager>(*m_defaults, m_feedURL, *m_presenter,
                                                     *m_urlOpener, m_window.get());
    return *m_updater;
}

void WavelarkApp::updateCommands()
{
    m_stopAction->setEnabled(m_player->isPlaying());
    m_findAction->setEnabled(!m_model->roots().isEmpty());
}

void WavelarkApp::showAbout()
{
    if (!m_about) {
        auto *dialog = new AboutDialog(m_window.get());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        m_about = dialog;
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}
