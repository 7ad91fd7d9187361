#include "liveupdate/Downloader.h"
#include "LoopbackHttpServer.h"

#include <QTest>

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
};

// Runs one download to its completion and records what it reported.
Fetch fetch(const QString& url)
{
    Downloader d;
    Fetch f;
    QObject::connect(&d, &Downloader::progress, [&f](qint64 r, qint64 t, const QString& tag) {
        EXPECT_EQ(tag, "/desk/setup.exe");
        f.progress << qMakePair(r, t);
    });
    QObject::connect(&d, &Downloader::completed, [&f](qint64 t, const QByteArray& b, const QString& tag) {
        EXPECT_EQ(tag, "/desk/setup.exe");
        ++f.completions;
        f.total = t;
        f.body = b;
    });
    EXPECT_TRUE(d.begin(QUrl(url), "/desk/setup.exe"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.completions > 0; }, 20000));
    QTest::qWait(20); // a second completion would show here
    EXPECT_EQ(f.completions, 1);
    return f;
}

} // namespace

TEST(Downloader, deliversTheWholeFreshBodyWithProgressAgainstTheSizeIfAnnounced)
{
    LoopbackHttpServer server;
    const QByteArray body = pattern(300000);
    server.setRoute("/setup.exe", {200, body, true, 32768, 5});
    const Fetch f = fetch(server.url("/setup.exe"));
    EXPECT_EQ(f.total, body.size());
    EXPECT_TRUE(f.body == body);
    ASSERT_GT(f.progress.size(), 1);
    for (qsizetype i = 0; i < f.progress.size(); ++i) {
        EXPECT_EQ(f.progress[i].second, body.size());
        EXPECT_GE(f.progress[i].first, i > 0 ? f.progress[i - 1].first : 0);
    }
    EXPECT_EQ(f.progress.last().first, body.size());

    server.setRoute("/setup.exe", {200, "changed"});
    EXPECT_EQ(fetch(server.url("/setup.exe")).body, "changed");
    EXPECT_TRUE(server.requests().last().toLower().contains("cache-control: no-cache"));

    server.setRoute("/nolength", {200, body, false, 16384, 5}); // unannounced: 0, then the body's length
    const Fetch u = fetch(server.url("/nolength"));
    for (const auto& p : u.progress)
        EXPECT_EQ(p.second, 0) << "bytes read " << p.first;
    EXPECT_EQ(u.total, body.size());
    EXPECT_TRUE(u.body == body);
}

TEST(Downloader, errorPagesClosedPortsAndEmptyBodiesCompleteWithZero)
{
    LoopbackHttpServer server;
    server.setRoute("/oops", {500, "server trouble"});
    server.setRoute("/empty", {200, ""});
    const Fetch missing = fetch(server.url("/missing"));
    EXPECT_EQ(missing.total, 0);
    EXPECT_TRUE(missing.body.isEmpty());
    EXPECT_TRUE(missing.progress.isEmpty());
    EXPECT_EQ(fetch(server.url("/oops")).total, 0);
    EXPECT_EQ(fetch(server.url("/empty")).total, 0);
    EXPECT_EQ(fetch(QString("http://127.0.0.1:%1/c.txt").arg(LoopbackHttpServer::closedPort())).total, 0);
    EXPECT_FALSE(Downloader().begin(QUrl("ftp://127.0.0.1/setup.exe"), "t")); // refused at once
}
