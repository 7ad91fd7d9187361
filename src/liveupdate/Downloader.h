#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches whole bodies into memory over HTTP, always from the server (never a
// cache), and reports on the caller's thread with the caller's tag attached.
// Any failure, an HTTP status outside 2xx included, completes with a total of 0,
// so an error page is never taken for content. So does a body over the caller's
// cap (the body held never exceeds it) and a redirect to another host, scheme or
// port. Destroying the downloader abandons its transfers without a word:
// nothing is reported afterwards.
class Downloader : public QObject {
    Q_OBJECT
public:
    struct StartError {
        int number = 0;
        QString description;
    };

    explicit Downloader(QObject* parent = nullptr);
    ~Downloader() override;

    // Starts one download of at most maxBytes and returns at once. False (with
    // the reason) when the address cannot be fetched at all; no notification
    // follows then.
    bool begin(const QUrl& address, const QString& tag, qint64 maxBytes, StartError* error = nullptr);

    // Transfers that stall for this long fail (milliseconds); applies to the
    // downloads begun afterwards.
    static constexpr int kTransferTimeoutMs = 30000;
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }

signals:
    // total is 0 while the server has not announced the size.
    void progress(qint64 bytesRead, qint64 total, const QString& tag);
    // total is 0 on failure, otherwise the body's length.
    void completed(qint64 total, const QByteArray& body, const QString& tag);

private:
    struct Transfer;
    void watch(QNetworkReply* reply, const QString& tag, qint64 maxBytes);

    QNetworkAccessManager* m_manager;
    int m_transferTimeoutMs = kTransferTimeoutMs;
};
