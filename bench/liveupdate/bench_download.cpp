// Peak memory of one download through the live update's downloader, against a
// server in this process on 127.0.0.1 that streams the body as it is read.
//   bench_download [BODY_MIB [CAP_MIB [--announce]]]   defaults: 1024 MiB body, 256 MiB cap
// Without --announce the server sends no Content-Length, so only the running
// count can stop the download: the worst case for memory.
#include "liveupdate/Downloader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr qint64 kMiB = 1024 * 1024;

long peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Keeps at most one chunk pending per connection, so the server adds nothing to the peak.
void stream(QTcpSocket* socket, qint64 bodyBytes, bool announce)
{
    const QByteArray chunk(256 * 1024, 'x');
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n" +
                  (announce ? "Content-Length: " + QByteArray::number(bodyBytes) + "\r\n" : QByteArray()) + "\r\n");
    auto sent = std::make_shared<qint64>(0);
    const auto more = [socket, sent, bodyBytes, chunk] {
        if (socket->bytesToWrite() > 0)
            return;
        if (*sent >= bodyBytes) {
            socket->disconnectFromHost();
            return;
        }
        const qint64 n = qMin<qint64>(chunk.size(), bodyBytes - *sent);
        socket->write(chunk.constData(), n);
        *sent += n;
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 bodyBytes = args.value(1, QStringLiteral("1024")).toLongLong() * kMiB;
    const qint64 capBytes = args.value(2, QStringLiteral("256")).toLongLong() * kMiB;
    const bool announce = args.contains(QStringLiteral("--announce"));

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QTcpSocket::readyRead, s, [s, bodyBytes, announce] {
                if (s->readAll().contains("\r\n\r\n") && !s->property("answered").toBool()) {
                    s->setProperty("answered", true);
                    stream(s, bodyBytes, announce);
                }
            });
        }
    });

    const long before = peakRssMiB();
    Downloader downloader;
    QElapsedTimer timer;
    QObject::connect(&downloader, &Downloader::completed, [&](qint64 total, const QByteArray&, const QString&) {
        std::printf("body %lld MiB, cap %lld MiB, %s: %s after %.2f s; peak RSS %ld MiB (%ld MiB before)\n",
                    bodyBytes / kMiB, capBytes / kMiB, announce ? "length announced" : "no length",
                    total > 0 ? "received" : "refused", timer.elapsed() / 1000.0, peakRssMiB(), before);
        app.quit();
    });
    timer.start();
    downloader.begin(QUrl(QStringLiteral("http://127.0.0.1:%1/big").arg(server.serverPort())), QStringLiteral("t"),
                     capBytes);
    return app.exec();
}
