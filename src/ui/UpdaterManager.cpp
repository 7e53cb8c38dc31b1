// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UpdaterManager.h"

#include "DialogPresenter.h"
#include "UpdateCheckResult.h"
#include "UpdateWindow.h"
#include "Updater.h"
#include "UrlOpener.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

UpdaterManager::UpdaterManager(Preferences &defaults, const QString &feedURL,
                               DialogPresenter &presenter, UrlOpener &urlOpener, QWidget *window,
                               QObject *parent)
    : QObject(parent), m_presenter(presenter), m_urlOpener(urlOpener), m_browserWindow(window)
{
    setCanCheckForUpdates(false);
    m_controller = std::make_unique<Updater>(defaults, feedURL, QStringLiteral(WAVELARK_VERSION));
    m_controller->startUpdater();
    if (!m_controller->isStarted())
        return;
    connect(m_controller.get(), &Updater::canCheckForUpdatesChanged, this,
            &UpdaterManager::setCanCheckForUpdates);
    // Alerts run a modal loop; they must not run inside the network reply's own signal.
    connect(m_controller.get(), &Updater::checkFinished, this,
            [this](const UpdateCheckResult &result) {
                QTimer::singleShot(0, this, [this, result] { present(result); });
            });
    setCanCheckForUpdates(m_controller->canCheckForUpdates());
    if (!window)
        return;
    if (window->isVisible())
        QTimer::singleShot(firstCheckDelayMs, this, &UpdaterManager::startAutomaticChecks);
    else
        window->installEventFilter(this);
}

UpdaterManager::~UpdaterManager() = default;

void UpdaterManager::checkForUpdates()
{
    if (m_controller->isStarted())
        m_controller->checkForUpdates();
}

void UpdaterManager::startAutomaticChecks()
{
    if (!m_controller->isStarted())
        return;
    if (m_controller->shouldAskForAutomaticChecks()) {
        const int answer = m_presenter.run(
            {QStringLiteral("Check for updates automatically?"),
             QStringLiteral("Should Wavelark automatically check for updates? You can always "
                            "check for updates manually from the Help menu."),
             {QStringLiteral("Check Automatically"), QStringLiteral("Don't Check")}},
            m_browserWindow);
        m_controller->setAutomaticallyChecksForUpdates(answer == 0);
    }
    m_controller->scheduleAutomaticChecks();
}

bool UpdaterManager::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_browserWindow && event->type() == QEvent::Show) {
        m_browserWindow->removeEventFilter(this);
        QTimer::singleShot(firstCheckDelayMs, this, &UpdaterManager::startAutomaticChecks);
    }
    return QObject::eventFilter(watched, event);
}

void UpdaterManager::setCanCheckForUpdates(bool canCheck)
{
    if (m_canCheckForUpdates == canCheck)
        return;
    m_canCheckForUpdates = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

void UpdaterManager::present(const UpdateCheckResult &result)
{
    const QString current = m_controller->currentVersion();
    switch (result.kind) {
    case UpdateCheckResult::Kind::UpToDate:
        m_presenter.run(
            {QStringLiteral("You're up to date"),
             QStringLiteral("Wavelark %1 is currently the newest version available.").arg(current),
             {QStringLiteral("OK")}},
            m_browserWindow);
        return;
    case UpdateCheckResult::Kind::Failed:
        m_presenter.run({QStringLiteral("Update Error!"), result.error, {QStringLiteral("OK")}},
                        m_browserWindow);
        return;
    case UpdateCheckResult::Kind::UpdateAvailable:
        break;
    }
    if (!m_window) {
        // A window of its own: no parent, so it neither sits on the browser nor blocks it.
        m_window = std::make_unique<UpdateWindow>();
        connect(m_window.get(), &UpdateWindow::skipRequested, this,
                [this](const AppcastItem &item) { m_controller->skipVersion(item.version); });
        connect(m_window.get(), &UpdateWindow::downloadRequested, this,
                [this](const AppcastItem &item) { m_urlOpener.open(item.downloadPage()); });
        connect(m_window.get(), &UpdateWindow::linkActivated, this,
                [this](const QUrl &url) { m_urlOpener.open(url); });
    }
    // Beside a browser kept above other windows, the offer would otherwise open out of sight.
    const bool onTop =
        m_browserWindow && m_browserWindow->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop)
        m_window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    m_window->showUpdate(result.item, current, result.releaseNotes);
}
