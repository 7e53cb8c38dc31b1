#include "WavelarkApp.h"

#include "AboutDialog.h"
#include "AudioOutput.h"
#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "ContentView.h"
#include "DialogPresenter.h"
#include "Preferences.h"
#include "SymbolIcon.h"
#include "TagStore.h"
#include "TagsMenu.h"
#include "TextEditActions.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QToolBar>

WavelarkApp::WavelarkApp() : WavelarkApp(Services{}) {}

WavelarkApp::WavelarkApp(Services services)
{
    m_defaults = std::make_unique<Preferences>(services.preferencesPath.isEmpty()
                                                   ? Preferences::defaultFilePath()
                                                   : services.preferencesPath);
    m_player = std::make_unique<AudioPreviewPlayer>(*m_defaults, std::move(services.audioOutput));
    m_tagStore = std::make_unique<TagStore>(*m_defaults);
    m_model = std::make_unique<BrowserModel>(*m_defaults, services.indexFilePath,
                                             services.liveUpdates, m_tagStore.get());
    m_model->setFolderChooser(&m_folderChooser);

    DialogPresenter &presenter =
        services.dialogPresenter ? *services.dialogPresenter : DialogPresenter::system();
    buildWindow(presenter);
    m_folderChooser.setParent(m_window.get());
}

WavelarkApp::~WavelarkApp()
{
    m_window.reset();
    m_model->setFolderChooser(nullptr);
}

void WavelarkApp::show()
{
    m_window->show();
}

void WavelarkApp::buildWindow(DialogPresenter &presenter)
{
    m_window = std::make_unique<QMainWindow>();
    m_window->setObjectName(QStringLiteral("main"));
    m_window->setWindowTitle(QStringLiteral("Wavelark"));
    m_window->setUnifiedTitleAndToolBarOnMac(true);
    m_content = new ContentView(*m_model, *m_player, *m_tagStore, m_window.get());
    m_window->setCentralWidget(m_content);
    buildToolBar();
    buildMenus(presenter);
    m_window->setMinimumWidth(std::max(m_window->minimumWidth(), minimumWidth));
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
    m_window->addToolBar(Qt::TopToolBarArea, m_toolBar);
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

    bar->addMenu(new TagsMenu(*m_model, *m_tagStore, presenter, m_window.get()));

    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    m_aboutAction = help->addAction(QStringLiteral("About Wavelark"));
    m_aboutAction->setObjectName(QStringLiteral("about"));
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &WavelarkApp::showAbout);
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
