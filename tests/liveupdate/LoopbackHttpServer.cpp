#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer()
{
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("loopback HTTP server cannot listen: %s", qPrintable(m_server.errorString()));
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // The sockets go before the bookkeeping they report to.
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>()) {
        socket->disconnect(this);
        delete socket;
    }
    m_server.close();
}

QString LoopbackHttpServer::url(const QByteArray& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(QString::fromLatin1(path));
}

int LoopbackHttpServer::requestCount(const QByteArray& path) const
{
    int n = 0;
    for (const Request& r : m_requests)
        n += r.path == path ? 1 : 0;
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
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(&m_server);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray& buffer = m_pending[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    buffer.clear();
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    m_requests << request;
    respond(socket, request);
}

void LoopbackHttpServer::respond(QTcpSocket* socket, const Request& request)
{
    Route route;
    if (m_routes.contains(request.path)) {
        route = m_routes.value(request.path);
    } else {
        route.status = 404;
        route.body = "<html><body>Not found</body></html>";
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reason(route.status) + "\r\n";
    head += "Content-Type: application/octet-stream\r\n";
    if (route.announceLength)
        head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    sendChunk(socket, route.body, route, 0);
}

void LoopbackHttpServer::sendChunk(QTcpSocket* socket, QByteArray remaining, const Route& route, qint64 sent)
{
    if (route.stallAfter >= 0 && sent >= route.stallAfter)
        return; // hold the connection: the client decides what happens next
    qsizetype n = route.chunkSize > 0 ? route.chunkSize : remaining.size();
    if (route.stallAfter >= 0)
        n = qMin<qsizetype>(n, route.stallAfter - sent);
    socket->write(remaining.left(n));
    remaining.remove(0, n);
    sent += n;
    if (remaining.isEmpty() && (route.stallAfter < 0 || sent < route.stallAfter)) {
        socket->disconnectFromHost(); // flushes first; the end of a body without a length
        return;
    }
    QTimer::singleShot(route.chunkDelayMs, socket,
                       [this, socket, remaining, route, sent] { sendChunk(socket, remaining, route, sent); });
}
