#include "liveupdate/Downloader.h"
#include "LiveUpdateTestKit.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Fetch {
    qint64 total = -1;
    QByteArray body;
    QList<QList<QVariant>> progress; // (bytes read, total, tag) as reported
};

// Runs one download to its completion and records what it reported.
Fetch fetch(const QString& url, int waitMs = 20000, int stallMs = Downloader::kTransferTimeoutMs)
{
    Downloader d;
    d.setTransferTimeout(stallMs);
    QSignalSpy progress(&d, &Downloader::progress), completed(&d, &Downloader::completed);
    EXPECT_TRUE(d.begin(QUrl(url), "/desk/setup.exe"));
    EXPECT_TRUE(completed.wait(waitMs));
    QTest::qWait(20); // a second completion would show here
    EXPECT_EQ(completed.count(), 1);
    EXPECT_EQ(completed.value(0).value(2).toString(), "/desk/setup.exe");
    return {completed.value(0).value(0).toLongLong(), completed.value(0).value(1).toByteArray(), progress};
}

} // namespace

TEST(Downloader, deliversTheWholeFreshBodyWithProgressAgainstTheSizeIfAnnounced)
{
    LoopbackHttpServer server;
    const QByteArray body = pattern(300000);
    server.setRoute("/setup.exe", {200, body, true, 32768});
    const Fetch f = fetch(server.url("/setup.exe"));
    EXPECT_EQ(f.total, body.size());
    EXPECT_TRUE(f.body == body);
    ASSERT_GT(f.progress.size(), 1);
    EXPECT_EQ(f.progress.last().mid(0, 2), QVariantList({body.size(), body.size()}));

    server.setRoute("/setup.exe", {200, "changed"});
    EXPECT_EQ(fetch(server.url("/setup.exe")).body, "changed");
    EXPECT_TRUE(server.requests.last().toLower().contains("cache-control: no-cache"));

    server.setRoute("/nolength", {200, body, false, 65536}); // unannounced: 0, then the body's length
    const Fetch u = fetch(server.url("/nolength"));
    for (const auto& p : u.progress)
        EXPECT_EQ(p.value(1).toLongLong(), 0) << "bytes read " << p.value(0).toLongLong();
    EXPECT_EQ(u.total, body.size());
    EXPECT_TRUE(u.body == body);
}

TEST(Downloader, everyKindOfFailureCompletesWithZero)
{
    LoopbackHttpServer server;
    server.setRoute("/oops", {500, "server trouble"});
    server.setRoute("/empty", {200, ""});
    server.setRoute("/cut", {200, pattern(50000), true, 8192, 20000, true}); // closed before the announced end
    const Fetch missing = fetch(server.url("/missing"));
    EXPECT_EQ(missing.total, 0);
    EXPECT_TRUE(missing.body.isEmpty());
    for (const QByteArray path : {"/oops", "/empty", "/cut"})
        EXPECT_EQ(fetch(server.url(path)).total, 0) << path.constData();
    EXPECT_EQ(fetch(QString("http://127.0.0.1:%1/c.txt").arg(LoopbackHttpServer::closedPort())).total, 0);
    EXPECT_FALSE(Downloader().begin(QUrl("ftp://127.0.0.1/setup.exe"), "t")); // refused at once
}

TEST(Downloader, aStalledTransferFailsInsteadOfWaitingForever)
{
    LoopbackHttpServer server;
    server.setRoute("/stall", {200, pattern(50000), true, 0, 1000}); // then silence, connection kept open
    const Fetch f = fetch(server.url("/stall"), 15000, 500);
    EXPECT_EQ(f.total, 0);
    EXPECT_TRUE(f.body.isEmpty());
}
