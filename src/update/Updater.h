// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "AppcastItem.h"
#include "UpdateCheckResult.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <optional>

class FeedFetcher;
class Preferences;

// A small appcast updater that tells the user about new versions and never installs them. It
// keeps its settings under the update framework's usual preference keys.
class Updater final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    static constexpr qint64 checkIntervalSeconds = 24 * 60 * 60;

    Updater(Preferences &defaults, const QString &feedURL, const QString &currentVersion,
            QObject *parent = nullptr);
    ~Updater() override;
    Q_DISABLE_COPY_MOVE(Updater)

    // Not empty and no placeholder left in it.
    static bool isFeedConfigured(const QString &feedURL);
    QString currentVersion() const { return m_currentVersion; }
    // For tests; the default is FeedFetcher's.
    void setTimeoutMs(int milliseconds);

    // Records this launch and allows checks. Without a configured feed it does nothing.
    void startUpdater();
    bool isStarted() const { return m_started; }
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }

    // The user asked: every outcome is reported, and a skipped version is offered all the same.
    void checkForUpdates();
    // A scheduled check: only a new, not skipped version is reported.
    void checkForUpdatesInBackground();

    // True on a later launch while the user has not yet said whether to check automatically.
    bool shouldAskForAutomaticChecks() const;
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);
    // When enabled: a background check now if the last one is a day old, then one a day.
    void scheduleAutomaticChecks();

    std::optional<QDateTime> lastUpdateCheckDate() const;
    void skipVersion(const QString &version);
    QString skippedVersion() const;

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    void checkFinished(const UpdateCheckResult &result);

private:
    void setCanCheckForUpdates(bool canCheck);
    void startCheck(bool userInitiated);
    void onFeedFetched(const QByteArray &body, const QString &error);
    void onNotesFetched(const QByteArray &body, const QString &error);
    void finish(UpdateCheckResult result);

    Preferences &m_defaults;
    QString m_feedURL;
    QString m_currentVersion;
    FeedFetcher *m_fetcher;
    QTimer m_schedule;
    bool m_started = false;
    bool m_launchedBefore = false;
    bool m_canCheckForUpdates = false;
    bool m_userInitiated = false;
    bool m_fetchingNotes = false;
    AppcastItem m_found;
};
