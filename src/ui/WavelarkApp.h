#pragma once

#include "FileDialogFolderChooser.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class AudioOutput;
class AudioPreviewPlayer;
class BrowserModel;
class ContentView;
class DialogPresenter;
class Preferences;
class QAction;
class QMainWindow;
class QToolBar;
class TagStore;
class TextEditActions;

// The application: it creates the long-lived objects once, in order, and the one main window
// with its toolbar, menus and content. It holds no state of its own beyond them.
class WavelarkApp final : public QObject
{
    Q_OBJECT

public:
    // What the application is built on; the defaults are the real ones, tests substitute.
    struct Services
    {
        QString preferencesPath; // empty: the standard preferences file
        QString indexFilePath;   // empty: the standard index location
        bool liveUpdates = true;
        std::unique_ptr<AudioOutput> audioOutput;   // null: the system's audio device
        DialogPresenter *dialogPresenter = nullptr; // null: real message boxes
    };

    static constexpr int defaultWidth = 440;
    static constexpr int defaultHeight = 720;
    static constexpr int minimumWidth = 440;

    WavelarkApp();
    explicit WavelarkApp(Services services);
    ~WavelarkApp() override;
    Q_DISABLE_COPY_MOVE(WavelarkApp)

    void show();

    Preferences &defaults() const { return *m_defaults; }
    AudioPreviewPlayer &player() const { return *m_player; }
    TagStore &tagStore() const { return *m_tagStore; }
    BrowserModel &model() const { return *m_model; }
    QMainWindow *window() const { return m_window.get(); }
    ContentView *content() const { return m_content; }
    QToolBar *toolBar() const { return m_toolBar; }

    QAction *addFolderAction() const { return m_addFolderAction; }
    QAction *stopAction() const { return m_stopAction; }
    QAction *addFolderMenuAction() const { return m_addFolderMenuAction; }
    QAction *quitAction() const { return m_quitAction; }
    QAction *findAction() const { return m_findAction; }
    QAction *aboutAction() const { return m_aboutAction; }
    TextEditActions *textEditActions() const { return m_textEditActions; }

    // Non-modal; one at a time.
    void showAbout();

private:
    void buildWindow(DialogPresenter &presenter);
    void buildToolBar();
    void buildMenus(DialogPresenter &presenter);
    void updateCommands();

    std::unique_ptr<Preferences> m_defaults;
    std::unique_ptr<AudioPreviewPlayer> m_player;
    std::unique_ptr<TagStore> m_tagStore;
    std::unique_ptr<BrowserModel> m_model;
    FileDialogFolderChooser m_folderChooser;
    // Declared last: the views hold references to everything above and must go first.
    std::unique_ptr<QMainWindow> m_window;
    ContentView *m_content = nullptr;
    QToolBar *m_toolBar = nullptr;
    QAction *m_addFolderAction = nullptr;
    QAction *m_stopAction = nullptr;
    QAction *m_addFolderMenuAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_findAction = nullptr;
    QAction *m_aboutAction = nullptr;
    TextEditActions *m_textEditActions = nullptr;
    QPointer<QWidget> m_about;
};
