#pragma once

#include "ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

// A small HTTP/1.1 server on 127.0.0.1, run from the test's own event loop.
// Each path answers with a scripted response; unknown paths get a 404 page.
class LoopbackHttpServer : public QObject {
public:
    struct Route {
        int status = 200;
        QByteArray body;
        qint64 stopAfter = -1;      // send this many body bytes, then stop
        bool closeAtStop = false;   // at the stop: close (a cut transfer) or hold the connection open (a stall)
        QByteArray headers = {};    // more header lines, each ended by CR LF
        bool announceLength = true; // without Content-Length the body ends when the connection closes
    };

    LoopbackHttpServer()
    {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            qFatal("loopback HTTP server cannot listen");
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { answer(s); });
            }
        });
    }
    void setRoute(const QByteArray& path, const Route& route) { m_routes[path] = route; }
    QString url(const QByteArray& path, const QString& host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("http://%1:%2%3").arg(host).arg(m_server.serverPort()).arg(QString::fromLatin1(path));
    }
    // Sockets delete themselves once disconnected, so those left are the open ones.
    qsizetype openConnections() const { return m_server.findChildren<QTcpSocket*>().size(); }

    QList<QByteArray> requests; // the request heads as received

private:
    void answer(QTcpSocket* s)
    {
        const QByteArray head = s->property("head").toByteArray() + s->readAll();
        s->setProperty("head", head);
        if (!head.contains("\r\n\r\n"))
            return;
        disconnect(s, &QTcpSocket::readyRead, this, nullptr); // one request per connection
        requests << head;
        const Route r = m_routes.value(head.split(' ').value(1), Route{404, "<html>Not found</html>"});
        s->write("HTTP/1.1 " + QByteArray::number(r.status) + " X\r\nConnection: close\r\n" + r.headers +
                 (r.announceLength ? "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n" : QByteArray()) +
                 "\r\n");
        send(s, r, 0);
    }
    void send(QTcpSocket* s, const Route& r, qint64 sent)
    {
        const qint64 end = r.stopAfter >= 0 ? qMin(r.stopAfter, r.body.size()) : r.body.size();
        const qint64 n = qMin<qint64>(8192, end - sent); // chunks 5 ms apart, so progress can be seen
        s->write(r.body.mid(sent, n));
        if (sent + n < end)
            QTimer::singleShot(5, s, [=, this] { send(s, r, sent + n); });
        else if (r.stopAfter < 0 || r.closeAtStop)
            s->disconnectFromHost(); // flushes first
    }

    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
};

// Points "TEMP" and the XDG desktop folder (through a private XDG_CONFIG_HOME)
// at throw-away folders for one scope.
struct LiveUpdateEnvironment {
    LiveUpdateEnvironment()
    {
        for (const char* folder : {"temp", "config", "Desktop"})
            QDir(root()).mkpath(folder);
        QFile dirs(root() + "/config/user-dirs.dirs");
        if (dirs.open(QIODevice::WriteOnly))
            dirs.write("XDG_DESKTOP_DIR=\"" + QFile::encodeName(desktopFolder()) + "\"\n");
        env.set("TEMP", QFile::encodeName(root() + "/temp"));
        env.set("XDG_CONFIG_HOME", QFile::encodeName(root() + "/config"));
    }
    QString root() const { return dir.path(); }
    QString tempFolder() const { return root() + "/temp/"; }
    QString desktopFolder() const { return root() + "/Desktop/"; }

    QTemporaryDir dir;
    ScopedEnv env;
};

inline QByteArray pattern(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return b;
}

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot); // dangling links too
}
