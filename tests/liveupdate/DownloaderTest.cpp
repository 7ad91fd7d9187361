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

// Runs one download to its completion (exactly one) and records what it reported.
Fetch fetch(const QString& url, qint64 maxBytes = 1 << 20)
{
    Downloader d;
    d.setTransferTimeout(2000); // a stall fails quickly, yet a loaded test machine never pauses that long
    QSignalSpy progress(&d, &Downloader::progress), completed(&d, &Downloader::completed);
    EXPECT_TRUE(d.begin(QUrl(url), "/desk/setup.exe", maxBytes));
    EXPECT_TRUE(completed.wait(15000));
    QTest::qWait(20);
    EXPECT_EQ(completed.count(), 1);
    return {completed.value(0).value(0).toLongLong(), completed.value(0).value(1).toByteArray(), progress};
}

} // namespace

TEST(Downloader, deliversTheWholeFreshBodyWithProgress)
{
    LoopbackHttpServer server;
    const QByteArray body = pattern(300000);
    server.setRoute("/setup.exe", {200, body});
    const Fetch f = fetch(server.url("/setup.exe"));
    EXPECT_EQ(f.total, body.size());
    EXPECT_TRUE(f.body == body);
    ASSERT_GT(f.progress.size(), 1);
    EXPECT_EQ(f.progress.last().mid(0, 2), QVariantList({body.size(), body.size()}));
    EXPECT_TRUE(server.requests.last().toLower().contains("cache-control: no-cache"));
}

TEST(Downloader, everyKindOfFailureCompletesWithZeroAndNoBody)
{
    LoopbackHttpServer server;
    server.setRoute("/oops", {500, "server trouble"});
    server.setRoute("/empty", {200, ""});
    server.setRoute("/cut", {200, pattern(50000), 20000, true}); // closed before the announced end
    server.setRoute("/stall", {200, pattern(50000), 1000});      // then silence, connection kept open
    for (const QByteArray path : {"/missing", "/oops", "/empty", "/cut", "/stall"}) {
        const Fetch f = fetch(server.url(path));
        EXPECT_EQ(f.total, 0) << path.constData();
        EXPECT_TRUE(f.body.isEmpty()) << path.constData();
    }
    QTcpServer probe; // a loopback port on which nothing listens
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 closedPort = probe.serverPort();
    probe.close();
    EXPECT_EQ(fetch(QString("http://127.0.0.1:%1/c.txt").arg(closedPort)).total, 0);
    EXPECT_FALSE(Downloader().begin(QUrl("ftp://127.0.0.1/setup.exe"), "t", 100)); // refused at once
}

TEST(Downloader, aBodyOverTheCapFailsAndIsNeverHeldWhole)
{
    LoopbackHttpServer server;
    const qint64 cap = 100000;
    const QByteArray body = pattern(cap);
    server.setRoute("/exact", {200, body});
    server.setRoute("/exact-unannounced", {200, body, -1, false, {}, false});
    server.setRoute("/announced", {200, pattern(2000000)});
    server.setRoute("/unannounced", {200, pattern(2000000), -1, false, {}, false});
    EXPECT_TRUE(fetch(server.url("/exact"), cap).body == body);
    EXPECT_TRUE(fetch(server.url("/exact-unannounced"), cap).body == body);
    for (const QByteArray path : {"/announced", "/unannounced"}) {
        const Fetch f = fetch(server.url(path), cap);
        EXPECT_EQ(f.total, 0) << path.constData();
        EXPECT_TRUE(f.body.isEmpty()) << path.constData();
        // Reading stops at the cap: the reply itself never buffered the 2 MB either.
        for (const QList<QVariant>& p : f.progress)
            EXPECT_LE(p.value(0).toLongLong(), cap + 64 * 1024) << path.constData();
    }
}

TEST(Downloader, followsRedirectsOnlyWithinTheSameHostSchemeAndPort)
{
    LoopbackHttpServer server, elsewhere;
    const QByteArray body = pattern(5000);
    server.setRoute("/setup.exe", {200, body});
    elsewhere.setRoute("/setup.exe", {200, "not the maker's file"});
    const auto redirect = [&](const QByteArray& path, const QString& location) {
        server.setRoute(path, {302, "", -1, false, "Location: " + location.toUtf8() + "\r\n"});
    };
    redirect("/same", server.url("/setup.exe"));
    redirect("/relative", "/setup.exe");
    redirect("/other-host", server.url("/setup.exe", "localhost")); // the same server under another name
    redirect("/other-port", elsewhere.url("/setup.exe"));
    redirect("/other-scheme", server.url("/setup.exe").replace("http:", "https:"));
    EXPECT_TRUE(fetch(server.url("/same")).body == body);
    EXPECT_TRUE(fetch(server.url("/relative")).body == body);
    for (const QByteArray path : {"/other-host", "/other-port", "/other-scheme"}) {
        server.requests.clear();
        const Fetch f = fetch(server.url(path));
        EXPECT_EQ(f.total, 0) << path.constData();
        EXPECT_EQ(server.requests.size(), 1) << path.constData() << ": the redirect was followed";
    }
    EXPECT_TRUE(elsewhere.requests.isEmpty());
}
