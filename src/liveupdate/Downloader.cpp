#include "Downloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

bool isSuccessStatus(const QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true; // no status yet: headers not in
    const int code = status.toInt();
    return code >= 200 && code <= 299;
}

} // namespace

Downloader::Downloader(QObject* parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
    // Proxies from the environment are honoured as any other client would.
    m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

Downloader::~Downloader()
{
    // Silence every transfer before aborting it: abort() finishes a reply
    // synchronously, and its owner may already be half destroyed.
    const auto replies = m_manager->findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->disconnect();
        reply->abort();
    }
}

bool Downloader::begin(const QUrl& address, const QString& tag, StartError* error)
{
    const QString scheme = address.scheme().toLower();
    StartError refused;
    if (!address.isValid() || address.isRelative() || address.host().isEmpty()) {
        refused = {QNetworkReply::ProtocolInvalidOperationError,
                   QStringLiteral("The address \"%1\" is not a complete web address.").arg(address.toString())};
    } else if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        refused = {QNetworkReply::ProtocolUnknownError,
                   QStringLiteral("The protocol \"%1\" is not supported.").arg(address.scheme())};
    }
    if (refused.number != 0) {
        if (error)
            *error = refused;
        return false;
    }

    QNetworkRequest request(address);
    // A changed configuration file on the server must always be seen.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(m_transferTimeoutMs);

    QNetworkReply* reply = m_manager->get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply, tag](qint64 received, qint64 total) {
        if (!isSuccessStatus(reply))
            return; // an error page's progress is not the file's
        // Without a Content-Length the size is not known, whatever the reply guesses at the end.
        const bool announced = reply->header(QNetworkRequest::ContentLengthHeader).isValid();
        emit progress(received, announced && total > 0 ? total : 0, tag);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, tag] { finish(reply, tag); });
    return true;
}

void Downloader::finish(QNetworkReply* reply, const QString& tag)
{
    reply->disconnect(this);
    reply->deleteLater();
    const bool ok = reply->error() == QNetworkReply::NoError && isSuccessStatus(reply);
    const QByteArray body = ok ? reply->readAll() : QByteArray();
    emit completed(body.size(), body, tag);
}
