// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FeedFetcher.h"

#include "Appcast.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QString unreachable(const QNetworkReply &reply)
{
    return QStringLiteral("The update server could not be reached (%1). Check your internet "
                          "connection and try again.")
        .arg(reply.errorString());
}

QString describe(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("A secure connection to the update server could not be made (%1).")
            .arg(reply.errorString());
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return unreachable(reply);
    default:
        break;
    }
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return QStringLiteral("The update server answered with an error (HTTP %1).").arg(status);
    return QStringLiteral("The update feed could not be loaded (%1).").arg(reply.errorString());
}

} // namespace

FeedFetcher::FeedFetcher(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)),
      m_maximumBytes(Appcast::maximumFeedBytes)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("The update server did not answer in time.")); });
}

FeedFetcher::~FeedFetcher()
{
    abort();
}

bool FeedFetcher::isAllowedUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    const QString host = url.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

void FeedFetcher::fetch(const QUrl &url)
{
    abort();
    if (!isAllowedUrl(url)) {
        m_pendingFailure = true;
        // Reported on the next turn of the event loop, like every other outcome.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_pendingFailure)
                    return;
                m_pendingFailure = false;
                Q_EMIT finished({}, QStringLiteral("The update feed address must use HTTPS."));
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Wavelark"));
    m_reply = m_network->get(request);
    m_failure.clear();
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl &target) {
        if (target.scheme() == QLatin1String("https"))
            Q_EMIT reply->redirectAllowed();
        else
            fail(QStringLiteral("The update feed redirected to an address without HTTPS."));
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > m_maximumBytes)
            fail(QStringLiteral("The update feed is larger than 1 MB."));
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > m_maximumBytes)
            fail(QStringLiteral("The update feed is larger than 1 MB."));
    });
    connect(reply, &QNetworkReply::finished, this, &FeedFetcher::onFinished);
    m_deadline.start(m_timeoutMs);
}

void FeedFetcher::abort()
{
    m_pendingFailure = false;
    m_deadline.stop();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void FeedFetcher::fail(const QString &error)
{
    if (!m_reply || !m_failure.isEmpty())
        return;
    m_failure = error;
    // abort() makes the reply finish at once, which reports the failure through onFinished.
    m_reply->abort();
}

void FeedFetcher::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    m_deadline.stop();
    reply->deleteLater();
    QString error = m_failure;
    QByteArray body;
    if (error.isEmpty() && reply->error() != QNetworkReply::NoError)
        error = describe(*reply);
    if (error.isEmpty()) {
        body = reply->read(m_maximumBytes + 1);
        if (body.size() > m_maximumBytes)
            error = QStringLiteral("The update feed is larger than 1 MB.");
    }
    Q_EMIT finished(error.isEmpty() ? body : QByteArray(), error);
}
