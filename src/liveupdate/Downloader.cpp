#include "Downloader.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace {

// The reply buffers no more than this ahead of us, so a body is never held
// twice over, nor a large answer in full before the cap is checked.
constexpr qint64 kReadBufferBytes = 64 * 1024;

bool isSuccessStatus(const QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true; // no status yet: headers not in
    const int code = status.toInt();
    return code >= 200 && code <= 299;
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto port = [](const QUrl& u) {
        return u.port(u.scheme().toLower() == QLatin1String("https") ? 443 : 80);
    };
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

} // namespace

struct Downloader::Transfer {
    QByteArray body;
    qint64 maxBytes = 0;
    bool failed = false;

    // Moves what the reply holds into the body; false when that would pass the cap.
    bool take(QNetworkReply* reply)
    {
        const qint64 available = reply->bytesAvailable();
        if (available <= 0)
            return true;
        if (body.size() + available > maxBytes)
            return false;
        // Grow by doubling as usual, but never past the cap.
        if (body.size() + available > body.capacity())
            body.reserve(qMin(maxBytes, qMax(body.size() + available, 2 * body.capacity())));
        const qsizetype old = body.size();
        body.resize(old + available);
        const qint64 got = reply->read(body.data() + old, available);
        body.resize(old + qMax<qint64>(got, 0));
        return true;
    }
};

Downloader::Downloader(QObject* parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
    // Proxies from the environment are honoured as any other client would.
    // Each redirect is checked before it is followed (see watch()).
    m_manager->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
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

bool Downloader::begin(const QUrl& address, const QString& tag, qint64 maxBytes, StartError* error)
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
    watch(m_manager->get(request), tag, maxBytes);
    return true;
}

void Downloader::watch(QNetworkReply* reply, const QString& tag, qint64 maxBytes)
{
    reply->setReadBufferSize(kReadBufferBytes);
    auto transfer = std::make_shared<Transfer>();
    transfer->maxBytes = maxBytes;
    // Giving up finishes the reply with an error, which completes with 0.
    const auto giveUp = [reply, transfer] {
        transfer->failed = true;
        reply->abort();
    };

    // Plain HTTP: whoever is on the path may answer with a redirect. Only the
    // server asked may serve the file, never a host reachable from here alone.
    connect(reply, &QNetworkReply::redirected, this, [reply, origin = reply->url(), giveUp](const QUrl& to) {
        if (sameOrigin(origin, to))
            emit reply->redirectAllowed();
        else
            giveUp();
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, transfer, giveUp] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (isSuccessStatus(reply) && length.isValid() && length.toLongLong() > transfer->maxBytes)
            giveUp(); // announced too large: not one byte of it is fetched
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, transfer, giveUp] {
        if (transfer->failed)
            return;
        if (!isSuccessStatus(reply)) {
            reply->readAll(); // an error page or a redirect's own text: dropped, never kept
            return;
        }
        if (!transfer->take(reply))
            giveUp();
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply, tag](qint64 received, qint64 total) {
        if (!isSuccessStatus(reply))
            return; // an error page's progress is not the file's
        // Without a Content-Length the size is not known, whatever the reply guesses at the end.
        const bool announced = reply->header(QNetworkRequest::ContentLengthHeader).isValid();
        emit progress(received, announced && total > 0 ? total : 0, tag);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, transfer, tag] {
        reply->disconnect(this);
        reply->deleteLater();
        const bool ok = !transfer->failed && reply->error() == QNetworkReply::NoError && isSuccessStatus(reply) &&
                        transfer->take(reply);
        const QByteArray body = ok ? std::move(transfer->body) : QByteArray();
        emit completed(body.size(), body, tag);
    });
}
