// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;

// Fetches one small document over HTTPS at a time: plain HTTP only to this machine, redirects
// only to HTTPS, a deadline for the whole transfer and a size limit. The network does its work
// asynchronously, so nothing here blocks the thread it lives on.
class FeedFetcher final : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 30'000;

    explicit FeedFetcher(QObject *parent = nullptr);
    ~FeedFetcher() override;
    Q_DISABLE_COPY_MOVE(FeedFetcher)

    void setTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }
    void setMaximumBytes(qsizetype bytes) { m_maximumBytes = bytes; }

    // HTTPS anywhere, or HTTP to a loopback address.
    static bool isAllowedUrl(const QUrl &url);

    // Starts a fetch, replacing any running one (whose result is dropped); `finished` follows,
    // never from within this call.
    void fetch(const QUrl &url);
    void abort();

Q_SIGNALS:
    // `error` is empty on success and a text for the user otherwise.
    void finished(const QByteArray &body, const QString &error);

private:
    void fail(const QString &error);
    void onFinished();

    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QString m_failure; // set when we abort the reply ourselves
    bool m_pendingFailure = false;
    int m_timeoutMs = defaultTimeoutMs;
    qsizetype m_maximumBytes;
};
