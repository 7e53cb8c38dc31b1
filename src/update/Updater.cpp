// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Updater.h"

#include "Appcast.h"
#include "AppcastVersion.h"
#include "FeedFetcher.h"
#include "Preferences.h"

namespace {

const QString feedKey = QStringLiteral("SUFeedURL");
const QString automaticKey = QStringLiteral("SUEnableAutomaticChecks");
const QString lastCheckKey = QStringLiteral("SULastCheckTime");
const QString skippedKey = QStringLiteral("SUSkippedVersion");
const QString launchedKey = QStringLiteral("SUHasLaunchedBefore");

} // namespace

Updater::Updater(Preferences &defaults, const QString &feedURL, const QString &currentVersion,
                 QObject *parent)
    : QObject(parent), m_defaults(defaults), m_currentVersion(currentVersion),
      m_fetcher(new FeedFetcher(this))
{
    // The preference stands in for the build's feed, as a bundle's own key would.
    m_feedURL = m_defaults.stringForKey(feedKey).value_or(feedURL).trimmed();
    m_schedule.setSingleShot(true);
    connect(&m_schedule, &QTimer::timeout, this, &Updater::checkForUpdatesInBackground);
    connect(m_fetcher, &FeedFetcher::finished, this,
            [this](const QByteArray &body, const QString &error) {
                if (m_fetchingNotes)
                    onNotesFetched(body, error);
                else
                    onFeedFetched(body, error);
            });
}

Updater::~Updater() = default;

bool Updater::isFeedConfigured(const QString &feedURL)
{
    return !feedURL.trimmed().isEmpty() && !feedURL.contains(QLatin1String("REPLACE-ME"));
}

void Updater::setTimeoutMs(int milliseconds)
{
    m_fetcher->setTimeoutMs(milliseconds);
}

void Updater::startUpdater()
{
    if (m_started || !isFeedConfigured(m_feedURL))
        return;
    m_started = true;
    m_launchedBefore = m_defaults.boolForKey(launchedKey);
    if (!m_launchedBefore)
        m_defaults.setBool(true, launchedKey);
    setCanCheckForUpdates(true);
}

void Updater::checkForUpdates()
{
    startCheck(true);
}

void Updater::checkForUpdatesInBackground()
{
    startCheck(false);
}

bool Updater::shouldAskForAutomaticChecks() const
{
    return m_started && m_launchedBefore && !m_defaults.objectForKey(automaticKey).isValid();
}

bool Updater::automaticallyChecksForUpdates() const
{
    return m_defaults.boolForKey(automaticKey);
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled)
{
    m_defaults.setBool(enabled, automaticKey);
    if (!enabled)
        m_schedule.stop();
}

void Updater::scheduleAutomaticChecks()
{
    m_schedule.stop();
    if (!m_started || !automaticallyChecksForUpdates())
        return;
    const std::optional<QDateTime> last = lastUpdateCheckDate();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // A last check in the future means the clock was wrong then; it does not postpone checks.
    const qint64 age = last && *last <= now ? last->secsTo(now) : checkIntervalSeconds;
    if (age >= checkIntervalSeconds)
        checkForUpdatesInBackground();
    else
        m_schedule.start(std::chrono::seconds(checkIntervalSeconds - age));
}

std::optional<QDateTime> Updater::lastUpdateCheckDate() const
{
    const QVariant value = m_defaults.objectForKey(lastCheckKey);
    if (value.metaType().id() != QMetaType::QDateTime)
        return std::nullopt;
    return value.toDateTime();
}

void Updater::skipVersion(const QString &version)
{
    m_defaults.setObject(version, skippedKey);
}

QString Updater::skippedVersion() const
{
    return m_defaults.stringForKey(skippedKey).value_or(QString());
}

void Updater::setCanCheckForUpdates(bool canCheck)
{
    if (m_canCheckForUpdates == canCheck)
        return;
    m_canCheckForUpdates = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

void Updater::startCheck(bool userInitiated)
{
    if (!m_canCheckForUpdates)
        return;
    setCanCheckForUpdates(false);
    m_userInitiated = userInitiated;
    m_fetchingNotes = false;
    m_fetcher->fetch(QUrl(m_feedURL));
}

void Updater::onFeedFetched(const QByteArray &body, const QString &error)
{
    UpdateCheckResult result;
    result.userInitiated = m_userInitiated;
    if (!error.isEmpty()) {
        result.error = error;
        finish(result);
        return;
    }
    const Appcast::ParseResult feed = Appcast::parse(body);
    const std::optional<AppcastItem> newest = Appcast::newestItem(feed.items);
    if (!feed.error.isEmpty())
        result.error = feed.error;
    else if (feed.items.isEmpty())
        result.error = QStringLiteral("The update feed lists no releases.");
    else if (!newest)
        result.error = QStringLiteral("The update feed lists no version that can be read.");
    else if (!AppcastVersion::isValid(m_currentVersion))
        result.error = QStringLiteral("This copy's version (%1) cannot be compared with the "
                                      "versions of the update feed.")
                           .arg(m_currentVersion);
    if (!result.error.isEmpty()) {
        finish(result);
        return;
    }
    const bool newer = AppcastVersion::compare(newest->version, m_currentVersion) > 0;
    const bool skipped = !m_userInitiated && newest->version == skippedVersion();
    if (!newer || skipped) {
        result.kind = UpdateCheckResult::Kind::UpToDate;
        finish(result);
        return;
    }
    m_found = *newest;
    if (!m_found.releaseNotesLink.isEmpty()) {
        m_fetchingNotes = true;
        m_fetcher->fetch(m_found.releaseNotesLink);
        return;
    }
    onNotesFetched(m_found.description.toUtf8(), {});
}

void Updater::onNotesFetched(const QByteArray &body, const QString &error)
{
    m_fetchingNotes = false;
    UpdateCheckResult result;
    result.kind = UpdateCheckResult::Kind::UpdateAvailable;
    result.userInitiated = m_userInitiated;
    result.item = m_found;
    if (!error.isEmpty())
        result.releaseNotes =
            QStringLiteral("<p><i>The release notes could not be loaded: %1</i></p>")
                .arg(error.toHtmlEscaped());
    else
        result.releaseNotes = Appcast::sanitizedReleaseNotes(QString::fromUtf8(body));
    finish(result);
}

void Updater::finish(UpdateCheckResult result)
{
    m_defaults.setObject(QDateTime::currentDateTimeUtc(), lastCheckKey);
    setCanCheckForUpdates(true);
    if (automaticallyChecksForUpdates())
        m_schedule.start(std::chrono::seconds(checkIntervalSeconds));
    // Background checks stay quiet unless there is something new to offer.
    if (result.userInitiated || result.kind == UpdateCheckResult::Kind::UpdateAvailable)
        Q_EMIT checkFinished(result);
}
