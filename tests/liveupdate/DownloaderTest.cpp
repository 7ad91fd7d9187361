#include "liveupdate/Downloader.h"
#include "LoopbackHttpServer.h"

#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

namespace {

QByteArray pattern(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return b;
}

struct Fetch {
    QList<QPair<qint64, qint64>> progress;
    int completions = 0;
    qint64 total = -1;
    QByteArray body;
    QString tag;
};

// Runs one download to its completion and records everything it reported.
Fetch fetch(Downloader& d, const QString& url, const QString& tag = "tag")
{
    Fetch f;
    QObject::connect(&d, &Downloader::progress, &d, [&f, tag](qint64 r, qint64 t, const QString& gotTag) {
        EXPECT_EQ(gotTag, tag);
        f.progress << qMakePair(r, t);
    });
    QObject::connect(&d, &Downloader::completed, &d, [&f](qint64 t, const QByteArray& b, const QString& gotTag) {
        ++f.completions;
        f.total = t;
        f.body = b;
        f.tag = gotTag;
    });
    EXPECT_TRUE(d.begin(QUrl(url), tag));
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.completions > 0; }, 20000));
    QObject::disconnect(&d, nullptr, &d, nullptr);
    return f;
}

} // namespace

TEST(Downloader, deliversTheWholeBodyWithProgressAgainstTheAnnouncedSize)
{
    LoopbackHttpServer server;
    const QByteArray body = pattern(300000);
    server.setRoute("/files/setup.exe", {200, body, true, 32768, 5});
    Downloader d;
    const Fetch f = fetch(d, server.url("/files/setup.exe"), "/desk/setup.exe");
    EXPECT_EQ(f.completions, 1);
    EXPECT_EQ(f.total, body.size());
    EXPECT_TRUE(f.body == body);
    EXPECT_EQ(f.tag, "/desk/setup.exe");
    ASSERT_FALSE(f.progress.isEmpty());
    qint64 last = -1;
    for (const auto& [read, total] : f.progress) {
        EXPECT_EQ(total, body.size());
        EXPECT_GE(read, last);
        last = read;
    }
    EXPECT_EQ(f.progress.last().first, body.size());
    EXPECT_GT(f.progress.size(), 1); // the chunks arrive as several notifications
}

TEST(Downloader, alwaysAsksTheServerAndSeesAChangedFile)
{
    LoopbackHttpServer server;
    server.setRoute("/corvane/corvane.txt", {200, "first"});
    Downloader d;
    EXPECT_EQ(fetch(d, server.url("/corvane/corvane.txt")).body, "first");
    server.setRoute("/corvane/corvane.txt", {200, "second"});
    EXPECT_EQ(fetch(d, server.url("/corvane/corvane.txt")).body, "second");
    ASSERT_EQ(server.requestCount("/corvane/corvane.txt"), 2);
    EXPECT_EQ(server.requests().last().headers.value("cache-control"), "no-cache");
}

TEST(Downloader, unannouncedSizeGivesZeroTotalsThenTheBodyLength)
{
    LoopbackHttpServer server;
    const QByteArray body = pattern(100000);
    server.setRoute("/nolength/setup.exe", {200, body, false, 16384, 5});
    Downloader d;
    const Fetch f = fetch(d, server.url("/nolength/setup.exe"));
    for (const auto& p : f.progress)
        EXPECT_EQ(p.second, 0) << "bytes read " << p.first;
    EXPECT_EQ(f.total, body.size());
    EXPECT_TRUE(f.body == body);
}

TEST(Downloader, errorPageIsAFailureWithoutProgress)
{
    LoopbackHttpServer server;
    server.setRoute("/missing.txt", {404, QByteArray(5000, 'e')});
    Downloader d;
    const Fetch f = fetch(d, server.url("/missing.txt"));
    EXPECT_EQ(f.total, 0);
    EXPECT_TRUE(f.body.isEmpty());
    EXPECT_TRUE(f.progress.isEmpty());
    server.setRoute("/oops.txt", {500, "server trouble"});
    EXPECT_EQ(fetch(d, server.url("/oops.txt")).total, 0);
}

TEST(Downloader, closedPortAndEmptyBodyCompleteWithZero)
{
    Downloader d;
    const Fetch closed =
        fetch(d, QString("http://127.0.0.1:%1/corvane/corvane.txt").arg(LoopbackHttpServer::closedPort()));
    EXPECT_EQ(closed.completions, 1);
    EXPECT_EQ(closed.total, 0);
    LoopbackHttpServer server;
    server.setRoute("/empty.txt", {200, ""});
    EXPECT_EQ(fetch(d, server.url("/empty.txt")).total, 0);
}

TEST(Downloader, refusesAddressesItCannotFetchAtOnce)
{
    Downloader d;
    QSignalSpy completed(&d, &Downloader::completed);
    Downloader::StartError e;
    EXPECT_FALSE(d.begin(QUrl("ftp://127.0.0.1/setup.exe"), "t", &e));
    EXPECT_EQ(e.number, QNetworkReply::ProtocolUnknownError);
    EXPECT_TRUE(e.description.contains("ftp"));
    e = {};
    EXPECT_FALSE(d.begin(QUrl("setup.exe"), "t", &e));
    EXPECT_EQ(e.number, QNetworkReply::ProtocolInvalidOperationError);
    EXPECT_TRUE(e.description.contains("setup.exe"));
    EXPECT_FALSE(d.begin(QUrl(""), "t", &e));
    QCoreApplication::processEvents();
    EXPECT_EQ(completed.count(), 0);
}

TEST(Downloader, destroyedMidTransferReportsNothingAndDropsTheConnection)
{
    LoopbackHttpServer server;
    server.setRoute("/stall.bin", {200, pattern(200000), true, 8192, 0, 50000});
    auto d = std::make_unique<Downloader>();
    int notifications = 0;
    qint64 seen = 0;
    QObject receiver;
    QObject::connect(d.get(), &Downloader::progress, &receiver, [&](qint64 r, qint64) {
        ++notifications;
        seen = r;
    });
    QObject::connect(d.get(), &Downloader::completed, &receiver, [&] { ++notifications; });
    ASSERT_TRUE(d->begin(QUrl(server.url("/stall.bin")), "t"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen >= 16384; }, 20000)) << "seen " << seen;
    const int before = notifications;
    d.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }, 20000));
    EXPECT_EQ(notifications, before);
}
