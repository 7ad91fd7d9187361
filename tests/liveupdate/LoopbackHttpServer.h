#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1, served from the test's own event loop.
// Each path answers with a scripted response; unknown paths get a 404 page.
class LoopbackHttpServer : public QObject {
public:
    struct Route {
        int status = 200;
        QByteArray body;
        bool announceLength = true;
        int chunkSize = 0; // 0: the whole body at once
        int chunkDelayMs = 0;
        qint64 stallAfter = -1; // send this many body bytes, then hold the connection open
    };

    LoopbackHttpServer();
    void setRoute(const QByteArray& path, const Route& route) { m_routes[path] = route; }
    QString url(const QByteArray& path) const;
    // The request heads as received.
    const QList<QByteArray>& requests() const { return m_requests; }
    int requestCount(const QByteArray& path) const;
    int openConnections() const;
    // A loopback port on which nothing listens.
    static quint16 closedPort();

private:
    void send(QTcpSocket* socket, const Route& route, qint64 sent);

    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
    QList<QByteArray> m_requests;
};
