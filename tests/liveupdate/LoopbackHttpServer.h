#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for the live-update tests, served from
// the test's own event loop. Each path answers with a scripted response: a
// status, a body sent in timed chunks, with or without Content-Length, or
// stalled part way so a test can act while a download is running.
class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    struct Route {
        int status = 200;
        QByteArray body;
        bool announceLength = true;
        int chunkSize = 0; // 0: the whole body at once
        int chunkDelayMs = 0;
        qint64 stallAfter = -1; // send this many body bytes, then hold the connection open
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer() override;

    void setRoute(const QByteArray& path, const Route& route) { m_routes[path] = route; }
    QString url(const QByteArray& path) const;
    quint16 port() const { return m_server.serverPort(); }
    const QList<Request>& requests() const { return m_requests; }
    int requestCount(const QByteArray& path) const;
    // Connections the server still holds open (a stalled one stays until the client leaves).
    int openConnections() const;

    // A loopback port on which nothing listens.
    static quint16 closedPort();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Request& request);
    void sendChunk(QTcpSocket* socket, QByteArray remaining, const Route& route, qint64 sent);

    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
    QList<Request> m_requests;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
