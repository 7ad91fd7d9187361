#include "smbacl/GrantPool.h"
#include "ToolRun.h"
#include "cacls/SmbGrant.h"
#include "smbacl/PermissionBatch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace smbacl;
using namespace std::chrono_literals;

namespace {

// A stand-in helper: a shell script that speaks (or breaks) the protocol.
QString script(const QTemporaryDir& dir, const QString& name, const QString& body)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("#!/bin/bash\n" + body).toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

GrantRequest request(const QString& folder, const std::string& sid = "S-1-5-21-1-2-3-1000")
{
    return {folder.toStdString(), {{"SCHOOL\\jbloggs", sid}, {"SCHOOL\\School Admins", "S-1-5-21-1-2-3-1001"}}};
}

PoolOptions options(const QString& helper)
{
    PoolOptions o;
    o.helper = helper.toStdString();
    o.workers = 2;
    o.startTimeout = 5s;
    o.idleTimeout = 5s;
    return o;
}

std::string mainText(const std::string& message)
{
    return message.substr(0, message.find(" ["));
}

} // namespace

// Sound folders reach the helpers as one line each, with the SIDs, two at a time (the
// bound); what cannot be sent is refused with its reason and never reaches them.
TEST(SmbAclPool, sendsOneLinePerSoundFolderWithTheSidsAndKeepsSeveralInFlightUpToTheBound)
{
    QTemporaryDir dir;
    // Each helper notes what it got and answers after a short while, so two are busy at once.
    const QString helper = script(dir, "helper",
                                  QString(R"(echo -e "READY\t1"
while IFS= read -r line; do
  [ "$line" = QUIT ] && exit 0
  echo "$$ $line" >> %1/requests
  sleep 0.2
  echo -e "OK\t13\t12"
done
)")
                                      .arg(dir.path()));
    GrantPool pool(options(helper));
    const std::pair<GrantRequest, std::string> refused[] = {
        {request("\\\\fs1\\homes$\\a", ""),
         "unknown account \"SCHOOL\\jbloggs\": the server knows no such user or group"},
        {request("\\\\fs1\\homes$\\a", "S-1-5-21-1-2-3-x"), "has no usable SID"},
        {request("\\\\fs1\\homes$\\a\tb"), "control characters"},
        {request("\\\\10.0.0.1\\homes$\\a"), "is given as an address"},
    };
    std::vector<GrantRequest> requests{request("\\\\fs1\\homes$\\Year7\\jbloggs"), request("\\\\fs1\\homes$\\asmith"),
                                       request("\\\\fs1\\homes$\\c")};
    for (const auto& r : refused)
        requests.push_back(r.first);
    const auto outcomes = pool.grantAll(requests);
    ASSERT_EQ(outcomes.size(), 7u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(outcomes[i].ok) << outcomes[i].message;
        EXPECT_EQ(outcomes[i].objects, 13u);
        EXPECT_EQ(outcomes[i].written, 12u);
        EXPECT_FALSE(outcomes[i].bySmbcacls);
    }
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_FALSE(outcomes[3 + i].ok);
        EXPECT_NE(outcomes[3 + i].message.find(refused[i].second), std::string::npos) << outcomes[3 + i].message;
    }
    EXPECT_EQ(pool.helpersRunning(), 2u); // the bound, not one per folder
    EXPECT_EQ(pool.fallbackReason(), "");
    QFile log(dir.filePath("requests"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << "only the sound folders reached the helpers";
    QSet<QString> pids;
    for (const QString& l : lines)
        pids.insert(l.section(' ', 0, 0));
    EXPECT_EQ(pids.size(), 2) << "both helpers worked";
    EXPECT_TRUE(
        lines.join('\n').contains("GRANT\tfs1\thomes$\tYear7/jbloggs\tS-1-5-21-1-2-3-1000\tS-1-5-21-1-2-3-1001"))
        << lines.join('\n').toStdString();
}

// Helpers start before the first folder is known, without being waited for, and
// each takes folders as soon as it says it is ready: a slow start holds up no one.
TEST(SmbAclPool, helpersStartAheadAndServeAsSoonAsEachIsReady)
{
    QTemporaryDir dir;
    // The first to start takes 3 s to get ready, the others none.
    const QString helper = script(dir, "helper",
                                  QString(R"(if mkdir %1/first 2>/dev/null; then sleep 3; fi
echo -e "READY\t1"
while IFS= read -r line; do [ "$line" = QUIT ] && exit 0; echo "$$" >> %1/served; echo -e "OK\t1\t1"; done
)")
                                      .arg(dir.path()));
    GrantPool pool(options(helper));
    pool.prestart(5);
    EXPECT_EQ(pool.helpersRunning(), 2u) << "the bound, started at once";
    const auto start = std::chrono::steady_clock::now();
    const auto outcomes = pool.grantAll({request("\\\\fs1\\homes$\\a"), request("\\\\fs1\\homes$\\b")});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "waited for the slow helper";
    for (const GrantOutcome& o : outcomes)
        EXPECT_TRUE(o.ok) << o.message;
    EXPECT_EQ(pool.helpersRunning(), 2u) << "no more started";
}

// A helper that breaks fails only its folder, with a clear message, and is never
// waited for without end; one that is slow but says it works is waited for.
TEST(SmbAclPool, aMisbehavingHelperFailsOnlyItsFolderWithAClearMessage)
{
    QTemporaryDir dir;
    struct Case {
        const char* name;
        QString body;
        std::string expected; // "" when the folder is granted
    } cases[] = {
        {"garbage", R"(echo -e "READY\t1"; read -r line; echo "WHAT IS THIS"; sleep 30)",
         "gave an answer that makes no sense while granting on \\\\fs1\\homes$\\a: \"WHAT IS THIS\""},
        {"dies", R"(echo -e "READY\t1"; read -r line; echo "Traceback: boom" >&2; exit 7)",
         "stopped while granting on \\\\fs1\\homes$\\a: the helper ended (exit status 7): Traceback: boom"},
        {"silent", R"(echo -e "READY\t1"; read -r line; exec sleep 30)",
         "no answer from the server \"fs1\" for 0.3 s while granting on \\\\fs1\\homes$\\a"},
        {"status", R"(echo -e "READY\t1"; read -r line; echo -e "FAIL\tNT_STATUS_ACCESS_DENIED\t0xc0000022\topen\ta")",
         "access denied on \\\\fs1\\homes$\\a: your account may not change its permissions [corvane-smbacl: "
         "NT_STATUS_ACCESS_DENIED opening \\a]"},
        // Three times the silence allowed, but it reports progress.
        {"slow", R"(echo -e "READY\t1"; read -r line
for i in 1 2 3 4 5 6; do sleep 0.15; echo -e "PROGRESS\t$i"; done; echo -e "OK\t6\t6"; read -r line)",
         ""},
    };
    for (const Case& c : cases) {
        PoolOptions o = options(script(dir, c.name, c.body));
        o.workers = 1;
        o.idleTimeout = 300ms;
        GrantPool pool(o);
        const auto start = std::chrono::steady_clock::now();
        const auto outcomes = pool.grantAll({request("\\\\fs1\\homes$\\a"), request("\\\\127.0.0.1\\homes$\\b")});
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << c.name << ": waited for a stuck helper";
        ASSERT_EQ(outcomes.size(), 2u);
        EXPECT_EQ(outcomes[0].ok, c.expected.empty()) << c.name << ": " << outcomes[0].message;
        EXPECT_NE(outcomes[0].message.find(c.expected), std::string::npos) << c.name << ": " << outcomes[0].message;
        if (c.expected.empty()) {
            EXPECT_EQ(outcomes[0].objects, 6u);
        }
        // The next folder is still done: by the same helper when it is sound, else the old way.
        EXPECT_FALSE(outcomes[1].ok);
        EXPECT_NE(outcomes[1].message.find("is given as an address"), std::string::npos) << outcomes[1].message;
    }
}

TEST(SmbAclPool, withoutTheHelperOrSambasBindingsEveryFolderGoesTheOldWayAndSaysWhy)
{
    QTemporaryDir dir;
    // A folder given by address: smbcacls' path refuses it before starting anything,
    // so the test shows which path answered without needing a server.
    const GrantRequest byAddress = request("\\\\127.0.0.1\\homes$\\a");
    const std::pair<QString, std::string> cases[] = {
        {dir.filePath("no-such-helper"), "is not installed"},
        // The real helper without Python's site packages: no samba module.
        {script(dir, "nosamba", QString("exec /usr/bin/python3 -S -I %1 \"$@\"").arg(SMBACL_HELPER)), "python3-samba"},
    };
    for (const auto& [helper, why] : cases) {
        GrantPool pool(options(helper));
        const auto outcomes = pool.grantAll({byAddress, byAddress});
        EXPECT_NE(pool.fallbackReason().find(why), std::string::npos) << pool.fallbackReason();
        for (const GrantOutcome& o : outcomes) {
            EXPECT_TRUE(o.bySmbcacls);
            EXPECT_EQ(o.message, cacls::grantOverSmb(byAddress.folder, {"127.0.0.1", "homes$", "a"}, {"x"}).message);
        }
    }
}

// The same cause gives the same message whichever way the grant went: the helper's
// status against what smbcacls prints for it (texts as smbcacls 4.17 writes them).
TEST(SmbAclPool, helperFailuresReadLikeSmbcaclsFailures)
{
    const cacls::UncPath path{"dc1.school.local", "homes$", "asmith"};
    const std::string folder = "\\\\dc1.school.local\\homes$\\asmith";
    struct Case {
        const char* status;
        const char* stage;
        const char* out;
        const char* err;
    } cases[] = {
        {"NT_STATUS_INVALID_PARAMETER", "connect", "",
         "gensec_spnego_client_negTokenInit_step: Could not find a suitable mechtype in NEG_TOKEN_INIT\n"
         "cli_full_connection failed! (NT_STATUS_INVALID_PARAMETER)"},
        {"NT_STATUS_BAD_NETWORK_NAME", "connect", "", "cli_full_connection failed! (NT_STATUS_BAD_NETWORK_NAME)"},
        {"NT_STATUS_OBJECT_NAME_NOT_FOUND", "open", "Failed to open \\asmith: NT_STATUS_OBJECT_NAME_NOT_FOUND", ""},
        {"NT_STATUS_ACCESS_DENIED", "open", "Failed to open \\asmith: NT_STATUS_ACCESS_DENIED",
         "Failed to open \\asmith: NT_STATUS_ACCESS_DENIED"},
        {"NT_STATUS_UNSUCCESSFUL", "connect", "", "cli_full_connection failed! (NT_STATUS_UNSUCCESSFUL)"},
        {"NT_STATUS_CONNECTION_REFUSED", "connect", "", "cli_full_connection failed! (NT_STATUS_CONNECTION_REFUSED)"},
    };
    for (const Case& c : cases) {
        const cacls::ChildResult run{true, 0, 1, c.out, c.err};
        EXPECT_EQ(mainText(explainHelperFailure(c.status, c.stage, "asmith", path, folder)),
                  mainText(cacls::explainSmbcaclsFailure(run, path, folder)))
            << c.status;
    }
}

// The real helper on its own: its protocol, whatever it is sent.
TEST(SmbAclHelper, answersEveryLineAndRefusesMalformedRequests)
{
    QProcess quiet; // no input at all: it says it is ready and ends
    quiet.start(SMBACL_HELPER, {});
    quiet.closeWriteChannel();
    ASSERT_TRUE(quiet.waitForFinished(30000));
    EXPECT_EQ(quiet.exitCode(), 0) << quiet.readAllStandardError().toStdString();
    EXPECT_EQ(quiet.readAllStandardOutput(), "READY\t1\n");

    QProcess p;
    p.start(SMBACL_HELPER, {});
    ASSERT_TRUE(p.waitForStarted());
    p.write("PING\nBOGUS\nGRANT\tfs1\thomes$\ta\tnot-a-sid\nGRANT\tfs1\n"
            "GRANT\tfs1\thomes$\ta\\..\\b\tS-1-5-21-1-2-3-4\nPING\nQUIT\nPING\n");
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7) << lines.join('\n').toStdString(); // nothing after QUIT
    EXPECT_EQ(lines[0], "READY\t1");
    EXPECT_EQ(lines[1], "PONG");
    for (int i : {2, 3, 4, 5}) // a path out of the folder ("..") included
        EXPECT_TRUE(lines[i].startsWith("ERROR\t")) << lines[i].toStdString();
    EXPECT_EQ(lines[6], "PONG");
}

// The update hands each folder over as soon as its account is written: it reaches a
// helper before its outcome is asked for, and the batch that asks for it (in any
// order, with a folder not sent early) sends nothing twice.
TEST(SmbAclPool, aFolderSubmittedEarlyIsUnderWayBeforeItIsAskedForAndIsSentOnce)
{
    QTemporaryDir dir;
    const QString requests = dir.filePath("requests");
    const QString helper = script(dir, "helper",
                                  QString(R"(echo -e "READY\t1"
while IFS= read -r line; do
  [ "$line" = QUIT ] && exit 0
  echo "$line" >> %1
  echo -e "OK\t13\t12"
done
)")
                                      .arg(requests));
    BatchOptions o;
    o.smb = options(helper);
    PermissionBatch batch(o);
    const GrantRequest a = request("\\\\fs1\\homes$\\a"), b = request("\\\\fs1\\homes$\\b"),
                       c = request("\\\\fs1\\homes$\\c");
    batch.pool().prestart(3, a.folder);
    batch.submitEarly(a);
    batch.submitEarly(b);
    EXPECT_TRUE(batch.submittedEarly(b));
    EXPECT_FALSE(batch.submittedEarly(c));
    const auto sent = [&] {
        QFile f(requests);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).count(u'\n') : 0;
    };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (sent() < 2 && std::chrono::steady_clock::now() < deadline) {
        batch.pool().serve();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(sent(), 2) << "the early folders did not reach the helpers before they were asked for";

    const auto outcomes = batch.fixAll({b, c, a});
    ASSERT_EQ(outcomes.size(), 3u);
    for (const GrantOutcome& outcome : outcomes)
        EXPECT_TRUE(outcome.ok) << outcome.message;
    QFile f(requests);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString lines = QString::fromUtf8(f.readAll());
    EXPECT_EQ(lines.count(u'\n'), 3) << qPrintable(lines);
    for (const char* name : {"\ta\t", "\tb\t", "\tc\t"})
        EXPECT_EQ(lines.count(QString::fromLatin1(name)), 1) << name << " in " << qPrintable(lines);
    EXPECT_FALSE(batch.submittedEarly(a));
}
