// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

inline QByteArray appcastFeed(const QByteArray &items)
{
    return "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>" +
           items + "</channel></rss>";
}

// A minimal HTTP/1.0 server on 127.0.0.1 for one test: each path answers with a fixed response,
// or never answers at all.
class LoopbackHttpServer final : public QObject
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body{};
        QByteArray headers{}; // extra header lines, each ending in CR LF
        bool silent = false;  // never answers
    };

    LoopbackHttpServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void route(const QByteArray &path, const Response &response)
    {
        m_routes.insert(path, response);
    }
    int requests() const { return m_requests; }

private:
    void answer(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        ++m_requests;
        const QByteArray path = buffer.split(' ').value(1);
        m_buffers.remove(socket);
        const Response response = m_routes.value(path, {404, "not here"});
        if (response.silent)
            return;
        socket->write("HTTP/1.0 " + QByteArray::number(response.status) + " Status\r\n" +
                      "Content-Type: application/xml\r\n" + response.headers + "Content-Length: " +
                      QByteArray::number(response.body.size()) + "\r\n\r\n" + response.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Response> m_routes;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    int m_requests = 0;
};
