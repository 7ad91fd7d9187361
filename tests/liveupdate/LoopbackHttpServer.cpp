#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <QVariant>

LoopbackHttpServer::LoopbackHttpServer()
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("loopback HTTP server cannot listen");
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                const QByteArray head = socket->property("head").toByteArray() + socket->readAll();
                socket->setProperty("head", head);
                if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                m_requests << head;
                const Route route = m_routes.value(head.split(' ').value(1), Route{404, "<html>Not found</html>"});
                QByteArray reply = "HTTP/1.1 " + QByteArray::number(route.status) + " X\r\nConnection: close\r\n";
                if (route.announceLength)
                    reply += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
                socket->write(reply + "\r\n");
                send(socket, route, 0);
            });
        }
    });
}

void LoopbackHttpServer::send(QTcpSocket* socket, const Route& route, qint64 sent)
{
    const qint64 end = route.stallAfter >= 0 ? qMin<qint64>(route.stallAfter, route.body.size()) : route.body.size();
    const qint64 n = route.chunkSize > 0 ? qMin<qint64>(route.chunkSize, end - sent) : end - sent;
    socket->write(route.body.mid(sent, n));
    sent += n;
    if (sent < end)
        QTimer::singleShot(route.chunkDelayMs, socket, [=, this] { send(socket, route, sent); });
    else if (route.stallAfter < 0)
        socket->disconnectFromHost(); // flushes first; ends a body without a length
}

QString LoopbackHttpServer::url(const QByteArray& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(QString::fromLatin1(path));
}

int LoopbackHttpServer::requestCount(const QByteArray& path) const
{
    int n = 0;
    for (const QByteArray& head : m_requests)
        n += head.split(' ').value(1) == path ? 1 : 0;
    return n;
}

int LoopbackHttpServer::openConnections() const
{
    int n = 0;
    for (const QTcpSocket* s : m_server.findChildren<QTcpSocket*>())
        n += s->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return n;
}

quint16 LoopbackHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed when probe goes
}
