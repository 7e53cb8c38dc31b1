// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class DialogPresenter;
class Preferences;
class QWidget;
class UpdateWindow;
class Updater;
class UrlOpener;
struct UpdateCheckResult;

// Owns the updater and its interface, starts it only when a feed is configured, and publishes
// whether a check may start now.
class UpdaterManager final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    // Well inside the ten seconds after the window shows, so start-up work goes first.
    static constexpr int firstCheckDelayMs = 4000;

    // `window` is the browser window: its first showing starts automatic checks.
    UpdaterManager(Preferences &defaults, const QString &feedURL, DialogPresenter &presenter,
                   UrlOpener &urlOpener, QWidget *window, QObject *parent = nullptr);
    ~UpdaterManager() override;
    Q_DISABLE_COPY_MOVE(UpdaterManager)

    Updater &controller() const { return *m_controller; }
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    void checkForUpdates();
    // Asks once whether to check automatically, then schedules the checks.
    void startAutomaticChecks();
    UpdateWindow *updateWindow() const { return m_window.get(); }

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setCanCheckForUpdates(bool canCheck);
    void present(const UpdateCheckResult &result);

    std::unique_ptr<Updater> m_controller;
    bool m_canCheckForUpdates = false;
    DialogPresenter &m_presenter;
    UrlOpener &m_urlOpener;
    QPointer<QWidget> m_browserWindow;
    std::unique_ptr<UpdateWindow> m_window;
};
