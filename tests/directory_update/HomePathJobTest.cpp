// The update job's rules against an in-memory directory: which accounts, in
// which order, and what a failure on the way does to the rest of the run.
#include "FakeDirectory.h"
#include "LdapTool.h"
#include "ScopedEnv.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "directory_update/HomeFolderCheck.h"
#include "directory_update/HomePath.h"
#include "directory_update/HomePathCsv.h"
#include "directory_update/HomePathUpdateJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

using namespace HomePathUpdate;

namespace {

const QString base = "DC=school,DC=local";
QString dn(const QString& rdns)
{
    return rdns + "," + base;
}

class Job : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.container(base);
        dir.container(dn("OU=S"));
        // The permission tool: a script that records what it was asked to do.
        ASSERT_TRUE(app.writeFile("resources/cacls", "#!/bin/sh\necho \"$1 $4\" >> \"$(dirname \"$0\")/calls\"\n"));
        ASSERT_TRUE(QFile::setPermissions(app.path() + "/resources/cacls",
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        job.setLog([this](const QString& line) { log << line; });
        // These cases are about the directory; the folder check has cases of its own.
        job.setSkipFolderCheck(true);
    }
    int plan(bool deep = true, const QString& ou = dn("OU=S"), const QString& userPath = "/srv/homes/")
    {
        DirectoryError err;
        EXPECT_TRUE(job.plan(ou, deep, userPath, err)) << err.text.toStdString();
        return int(job.currentPlan().accounts.size());
    }
    // Accounts without a home path directly in OU=S, named CN=<sam>.
    void users(std::initializer_list<const char*> sams)
    {
        for (const char* sam : sams)
            dir.user(dn(QString("CN=%1,OU=S").arg(sam)), sam);
    }
    QStringList plannedSams() const
    {
        QStringList out;
        for (const PlannedAccount& a : job.currentPlan().accounts)
            out << a.sam;
        return out;
    }
    int run(bool fix = false, const QString& userPath = "/srv/homes/", const QString& group = "Admins")
    {
        job.setSettings({group, userPath, fix});
        return job.run();
    }
    QStringList toolCalls() const
    {
        return QString::fromUtf8(app.readFile("resources/calls")).split('\n', Qt::SkipEmptyParts);
    }

    TempAppFolder app;
    FakeDirectory dir;
    HomePathUpdateJob job{[this](DirectoryError&) {
        return dir.open();
    }};
    QStringList log;
};

} // namespace

// Users in CN= containers below the OU were counted and never written; the plan
// now holds every account the count sees, parent first and depth first.
TEST_F(Job, plansEveryContainerParentFirstDepthFirstAndRunsExactlyThePlan)
{
    dir.user(dn("CN=s1,OU=S"), "s1");
    dir.container(dn("OU=A,OU=S"));
    dir.container(dn("CN=Extra,OU=S"));
    dir.user(dn("CN=x1,CN=Extra,OU=S"), "x1");
    dir.user(dn("CN=a1,OU=A,OU=S"), "a1");
    dir.container(dn("OU=AA,OU=A,OU=S"));
    dir.user(dn("CN=aa1,OU=AA,OU=A,OU=S"), "aa1", "\\\\old\\aa1");
    dir.container(dn("OU=Empty,OU=S"));
    dir.user(dn("CN=s2,OU=S"), "s2");
    dir.user(dn("CN=out,DC=school,DC=local"), "out");

    EXPECT_EQ(plan(false), 2);
    EXPECT_EQ(plannedSams(), QStringList({"s1", "s2"}));
    EXPECT_EQ(plan(), 5);
    EXPECT_EQ(plannedSams(), QStringList({"s1", "s2", "a1", "aa1", "x1"}));
    EXPECT_EQ(job.currentPlan().accounts[3].currentHome, "\\\\old\\aa1");
    EXPECT_TRUE(dir.writes.isEmpty()) << "planning writes nothing";

    // Added after the plan was taken: left alone, and the log says so.
    dir.user(dn("CN=late,OU=A,OU=S"), "late");
    QSignalSpy progress(&job, &HomePathUpdateJob::progress);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(dir.writes,
              QStringList({dn("CN=s1,OU=S") + "=/srv/homes/s1", dn("CN=s2,OU=S") + "=/srv/homes/s2",
                           dn("CN=a1,OU=A,OU=S") + "=/srv/homes/a1", dn("CN=aa1,OU=AA,OU=A,OU=S") + "=/srv/homes/aa1",
                           dn("CN=x1,CN=Extra,OU=S") + "=/srv/homes/x1"}));
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], dn("CN=late,OU=A,OU=S") + " Not Updated: added after the plan was taken");
    EXPECT_EQ(log.last(), dn("OU=S") + " Summary: 5 updated, 0 unchanged, 0 not updated, 0 permission fixes failed");
    ASSERT_EQ(progress.size(), 5);
    EXPECT_EQ(progress.last(), QVariantList({5, 5, "x1"}));
    const QStringList undo = QDir(app.path() + "/logs").entryList({"LDAP_undo_*.csv"});
    ASSERT_EQ(undo.size(), 1);
    EXPECT_TRUE(app.readFile("logs/" + undo[0])
                    .contains("\"CN=aa1,OU=AA,OU=A,OU=S,DC=school,DC=local\",aa1,\\\\old\\aa1,/srv/homes/aa1,"
                              "\"OU=S,DC=school,DC=local\"\r\n"));
}

TEST_F(Job, aRefusedWriteOrAnUnreadableChildIsLoggedAndTheRunGoesOn)
{
    users({"s1", "s2"});
    dir.container(dn("OU=Bad,OU=S"));
    dir.user(dn("CN=b1,OU=Bad,OU=S"), "b1");
    dir.container(dn("OU=Good,OU=S"));
    dir.user(dn("CN=g1,OU=Good,OU=S"), "g1");
    dir.failSearch << dn("OU=Bad,OU=S");
    dir.failWrite << dn("CN=s1,OU=S");
    // Found by the search, but its container is not among the OU's children.
    dir.user(dn("CN=h1,OU=Hidden,OU=S"), "h1");

    EXPECT_EQ(plan(), 3) << "the unreadable OU's user is not in the plan";
    ASSERT_EQ(job.currentPlan().failures.size(), 2) << "b1 is told by its OU's failure, h1 on its own";
    EXPECT_EQ(run(true), 3);
    EXPECT_EQ(log, QStringList({dn("OU=Bad,OU=S") + " Update Failed: staged failure",
                                dn("CN=h1,OU=Hidden,OU=S") +
                                    " Update Failed: found below the OU but not reached through its containers",
                                "s1 Update Failed: Insufficient access", "s2 Updated Home Path", "g1 Updated Home Path",
                                // The fixes are made for several accounts at once, after their writes.
                                "s2 Fixed Home Drive Permissions", "g1 Fixed Home Drive Permissions",
                                dn("OU=S") + " Summary: 2 updated, 0 unchanged, 1 not updated (1 refused by the "
                                             "directory), 0 permission fixes failed, 2 containers could not be read"}));
    // The tool gets qualified names: a local account of the same name is never meant.
    // Accounts' folders are fixed side by side: the order holds within each folder.
    EXPECT_EQ(toolCalls().filter("/srv/homes/s2 "),
              QStringList({"/srv/homes/s2 SCHOOL\\s2:F", "/srv/homes/s2 SCHOOL\\Admins:F"}));
    EXPECT_EQ(toolCalls().filter("/srv/homes/g1 "),
              QStringList({"/srv/homes/g1 SCHOOL\\g1:F", "/srv/homes/g1 SCHOOL\\Admins:F"}));
    EXPECT_EQ(toolCalls().size(), 4);
    EXPECT_EQ(dir.home(dn("CN=b1,OU=Bad,OU=S")), "");
}

// The default log with its folder gone: every account is still written, the job
// shows nothing, and it keeps the first failure for its caller to show once.
TEST_F(Job, aLogThatCannotBeWrittenIsKeptForTheCallerAndTheRunGoesOn)
{
    users({"s1", "s2"});
    ASSERT_TRUE(QDir(app.path() + "/logs").removeRecursively());
    job.setLog({});
    ScriptedMsgBox boxes; // a box from the job fails the test
    plan();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(dir.writes.size(), 2);
    EXPECT_EQ(job.logFailure().code, ENOENT);
    EXPECT_EQ(job.logFailure().message(), "Error: 2 - " + QString::fromLocal8Bit(strerror(ENOENT)));
    EXPECT_TRUE(boxes.calls().empty());

    ASSERT_TRUE(QDir(app.path()).mkdir("logs")); // the next run starts clean
    dir.user(dn("CN=s3,OU=S"), "s3");
    plan();
    run();
    EXPECT_TRUE(job.logFailure().ok()) << job.logFailure().message().toStdString();
    EXPECT_TRUE(app.readFile("logs/" + logNameNow() + ".txt").contains("s3 Updated Home Path"));
}

// Names that are not a plain folder name never become a path: each is logged by
// its DN and the next account is done. The permission tool never sees them.
TEST_F(Job, anEmptyUserPathWritesNothingAndUnsafeOrMissingAccountNamesAreRefusedOneByOne)
{
    dir.user(dn("CN=dotdot,OU=S"), "..");
    dir.user(dn("CN=nosam,OU=S"), QString());
    dir.user(dn("CN=slash,OU=S"), "a/b");
    dir.user(dn("CN=back,OU=S"), "a\\b");
    dir.user(dn("CN=dot,OU=S"), ".");
    dir.user(dn("CN=ctl,OU=S"), "ev\r\nil");
    dir.user(dn("CN=ok,OU=S"), "ok");
    EXPECT_EQ(plan(), 7);

    EXPECT_EQ(run(true, ""), 7);
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0], dn("OU=S") + " Update Failed: the user path is empty; nothing was written");
    EXPECT_TRUE(dir.writes.isEmpty());
    EXPECT_EQ(dir.opened, 1) << "not even a session for the run";

    log.clear();
    EXPECT_EQ(run(true), 6);
    EXPECT_EQ(dir.writes, QStringList{dn("CN=ok,OU=S") + "=/srv/homes/ok"});
    EXPECT_EQ(toolCalls(), QStringList({"/srv/homes/ok SCHOOL\\ok:F", "/srv/homes/ok SCHOOL\\Admins:F"}));
    ASSERT_EQ(log.size(), 9);
    EXPECT_EQ(log[0], dn("CN=dotdot,OU=S") +
                          " Update Failed: the account name \"..\" would name a folder above the home folders");
    EXPECT_EQ(log[1], dn("CN=nosam,OU=S") + " Update Failed: the account has no sAMAccountName");
    EXPECT_EQ(log[2], dn("CN=slash,OU=S") + " Update Failed: the account name \"a/b\" holds a path separator");
    EXPECT_TRUE(log[3].endsWith("\"a\\b\" holds a path separator"));
    EXPECT_TRUE(log[4].contains("\".\""));
    EXPECT_EQ(log[5], dn("CN=ctl,OU=S") + " Update Failed: the account name \"ev\\r\\nil\" holds a control character");
}

TEST_F(Job, aValueChangedSinceThePlanIsNotOverwritten)
{
    dir.user(dn("CN=s1,OU=S"), "s1", "\\\\old\\s1");
    dir.user(dn("CN=s2,OU=S"), "s2");
    plan();
    dir.find(dn("CN=s1,OU=S"))->attributes["homedirectory"] = "\\\\someone\\else";
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(dir.home(dn("CN=s1,OU=S")), "\\\\someone\\else");
    EXPECT_EQ(log[0], "s1 Update Failed: changed since (now \"\\\\someone\\else\", expected \"\\\\old\\s1\")");
    EXPECT_EQ(dir.home(dn("CN=s2,OU=S")), "/srv/homes/s2");
}

// A forced restore records the value it replaces: when that cannot be read it
// writes nothing, or undoing the restore would delete the value.
TEST_F(Job, aForcedRestoreThatCannotReadTheValueItReplacesWritesNothing)
{
    dir.user(dn("CN=s1,OU=S"), "s1", "\\\\new\\s1");
    dir.failSearch << dn("CN=s1,OU=S");
    HomePathPlan restore;
    restore.ou = dn("OU=S");
    restore.accounts << PlannedAccount{dn("CN=s1,OU=S"), "s1", "\\\\new\\s1", "\\\\old\\s1", {}, {}, {}, {}};
    job.setPlan(restore);
    job.setWriteMode(WriteMode::ForceRestore);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(dir.home(dn("CN=s1,OU=S")), "\\\\new\\s1");
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].startsWith(dn("CN=s1,OU=S") + " Restore Failed: ")) << log[0].toStdString();
}

// The preview's local check: the permission fix never follows a link, so a link
// where the folder should be is as good as no folder.
TEST(HomeFolderCheck, tellsALocalFolderFromAMissingOneALinkOrAFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("here"));
    ASSERT_TRUE(QFile::link(dir.path() + "/here", dir.path() + "/link"));
    QFile f(dir.path() + "/file");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QStringList texts;
    for (const auto& r : HomeFolderCheck::check({dir.path() + "/here", dir.path() + "/gone", dir.path() + "/link",
                                                 dir.path() + "/file", "relative/x", "\\\\server-only"}))
        texts << r.text;
    EXPECT_EQ(texts,
              QStringList({"yes", "missing", "not a folder: a symbolic link", "not a folder",
                           "not checked: not a local or network path", "not checked: not a local or network path"}));
}

namespace {

// Records what the job asks of the permission fix; fails for the folders named.
class RecordingFixer : public PermissionFixer {
public:
    QStringList* calls;
    QSet<QString> failFor;
    explicit RecordingFixer(QStringList* c, QSet<QString> fail = {})
        : calls(c)
        , failFor(std::move(fail))
    {}
    Result fix(const QString& account, const QString& group, const QString& folder) override
    {
        *calls << account + "|" + group + "|" + folder;
        return failFor.contains(folder) ? Result{false, "access denied"} : Result{true, {}};
    }
};

} // namespace

// Each rule of the user path: refused in the plan, before any account is read or written.
TEST_F(Job, aUserPathThatBreaksARuleIsRefusedInThePlanAndWritesNothing)
{
    dir.user(dn("CN=s1,OU=S"), "s1");
    const QList<std::pair<QString, QString>> refused{
        {"\\\\srv\\homes$\\..\\", "\".\" or \"..\""},
        {"\\\\srv\\homes$\\x\ny\\", "control character"},
        {"\\\\srv\\homes$\\x\u202Ey\\", "control character"},
        {"homes/", "absolute local path"},
        {"/srv/../etc/", "\".\" or \"..\""},
        {"\\\\srv\\homes$\\Year7", "must end with \\"},
        {"/srv/homes", "must end with /"},
        {"\\\\srv\\", "\\\\server\\share\\folder\\"},
        {"\\\\srv\\homes$\\\\x\\", "empty folder name"},
        {"\\\\srv\\homes$\\" + QString(3022, 'a') + "\\", "3036 characters long"},
    };
    for (const auto& [path, rule] : refused) {
        DirectoryError err;
        EXPECT_FALSE(job.plan(dn("OU=S"), true, path, err)) << path.toStdString();
        EXPECT_TRUE(err.text.contains(rule)) << path.toStdString() << ": " << err.text.toStdString();
        EXPECT_EQ(job.state(), HomePathUpdateJob::State::Failed);
        // A caller that runs anyway writes nothing either.
        EXPECT_EQ(run(false, path), 1);
        EXPECT_TRUE(job.summary().text().contains("nothing was written")) << job.summary().text().toStdString();
    }
    EXPECT_TRUE(dir.writes.isEmpty());
    EXPECT_EQ(HomePath::userPathProblem("\\\\srv\\homes$\\Year 7\\"), "");
    EXPECT_EQ(HomePath::userPathProblem("/srv/homes/"), "");

    // A sound root whose home path would pass 260 characters refuses that account only.
    const QString root = "/" + QString(250, 'r') + "/";
    dir.user(dn("CN=longname,OU=S"), "a.very.long.name");
    plan(true, dn("OU=S"), root);
    EXPECT_EQ(run(false, root), 1);
    EXPECT_EQ(dir.writes, QStringList{dn("CN=s1,OU=S") + "=" + root + "s1"});
    EXPECT_TRUE(log.contains(dn("CN=longname,OU=S") +
                             " Update Failed: the home path would be 268 characters long; at most 260 can be mapped"))
        << log.join('\n').toStdString();
}

// A re-run is a permissions-only repair: an account that holds its path is not
// written, is counted unchanged, and its permissions are still fixed. A path
// written whose fix failed is "updated" and a failed fix, never "not updated".
TEST_F(Job, unchangedAccountsAreNotRewrittenAndTheSummaryCountsWhatTheDirectoryHolds)
{
    dir.user(dn("CN=s1,OU=S"), "s1", "/srv/homes/s1");
    dir.user(dn("CN=s2,OU=S"), "s2", "\\\\old\\s2");
    dir.user(dn("CN=s3,OU=S"), "s3");
    QStringList calls;
    job.setPermissionFixer(std::make_unique<RecordingFixer>(&calls, QSet<QString>{"/srv/homes/s3"}));
    plan();
    EXPECT_EQ(run(true, "/srv/homes/", "SCHOOL\\Staff Admins"), 1);
    EXPECT_EQ(dir.writes, QStringList({dn("CN=s2,OU=S") + "=/srv/homes/s2", dn("CN=s3,OU=S") + "=/srv/homes/s3"}));
    EXPECT_EQ(calls, QStringList({"SCHOOL\\s1|SCHOOL\\Staff Admins|/srv/homes/s1",
                                  "SCHOOL\\s2|SCHOOL\\Staff Admins|/srv/homes/s2",
                                  "SCHOOL\\s3|SCHOOL\\Staff Admins|/srv/homes/s3"}))
        << "a group given qualified stays as given";
    EXPECT_EQ(log.first(), "s1 Home Path Unchanged");
    EXPECT_TRUE(log.contains("s3 Fix Home Drive Permissions Failed: access denied"));
    EXPECT_EQ(job.summary().text(), "2 updated, 1 unchanged, 0 not updated, 1 permission fixes failed");
    EXPECT_EQ(log.last(), dn("OU=S") + " Summary: " + job.summary().text());

    // Without the domain's name a bare name could reach a local namesake: no fix, nothing written.
    dir.netbios.clear();
    dir.writes.clear();
    plan();
    EXPECT_GT(run(true, "/srv/homes2/"), 0);
    EXPECT_TRUE(job.summary().refused.contains("NetBIOS")) << job.summary().refused.toStdString();
    EXPECT_TRUE(dir.writes.isEmpty());
}

// The plan keeps each account's SID as the directory gives it, and a run with
// the fix looks the administrators' group up once, by its name in the domain.
TEST_F(Job, thePlanKeepsEachAccountsSidAndARunLooksTheGroupUpOnce)
{
    dir.user(dn("CN=s1,OU=S"), "s1");
    dir.find(dn("CN=s1,OU=S"))->attributes.insert("objectsid", "S-1-5-21-1-2-3-1105");
    dir.user(dn("CN=s2,OU=S"), "s2");
    dir.user(dn("CN=Staff Admins,DC=school,DC=local"), "Staff Admins");
    dir.find(dn("CN=Staff Admins,DC=school,DC=local"))->user = false;
    dir.find(dn("CN=Staff Admins,DC=school,DC=local"))->attributes.insert("objectsid", "S-1-5-21-1-2-3-1200");
    QStringList calls;
    job.setPermissionFixer(std::make_unique<RecordingFixer>(&calls, QSet<QString>{}));
    EXPECT_EQ(plan(), 2);
    EXPECT_EQ(job.currentPlan().accounts[0].sid, "S-1-5-21-1-2-3-1105");
    EXPECT_EQ(job.currentPlan().accounts[1].sid, "") << "an account without one";
    EXPECT_EQ(dir.sidLookups, 0) << "the plan does not know the group yet";
    job.setSettings({"SCHOOL\\Staff Admins", "/srv/homes/", true});
    EXPECT_EQ(job.currentPlan().accounts[0].sid, "S-1-5-21-1-2-3-1105") << "kept when the settings change";
    EXPECT_EQ(job.run(), 0);
    EXPECT_EQ(dir.sidLookups, 1);
    EXPECT_EQ(calls.size(), 2);
    plan();
    EXPECT_EQ(run(false, "/srv/homes/", "Staff Admins"), 0);
    EXPECT_EQ(dir.sidLookups, 1) << "no fix, no lookup";
}

// Network folders with both SIDs go to the helper, in one line per folder with
// the SIDs; local folders and accounts the directory gave no SID go to the
// permission tool. A helper that cannot start sends everything the tool's way.
TEST_F(Job, thePooledFixerSendsNetworkFoldersWithSidsToTheHelperAndTheRestToTheTool)
{
    ASSERT_TRUE(app.writeFile("resources/corvane-smbacl", "#!/bin/bash\n"
                                                          "printf 'READY\\t1\\n'\n"
                                                          "while IFS= read -r line; do\n"
                                                          "  printf '%s\\n' \"$line\" >> \"$(dirname \"$0\")/grants\"\n"
                                                          "  printf 'OK\\t13\\t13\\n'\n"
                                                          "done\n"));
    ASSERT_TRUE(QFile::setPermissions(app.path() + "/resources/corvane-smbacl",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // The grant of the account sam (SID sid, "" for none) and the administrators on folder.
    const auto grant = [](PooledPermissionFixer& fixer, const QString& sam, const QString& sid, const QString& folder) {
        return fixer.fixGrant({"SCHOOL\\" + sam, sid, "SCHOOL\\Admins", "S-1-5-21-1-2-3-512", folder}).ok;
    };
    {
        PooledPermissionFixer fixer;
        EXPECT_TRUE(grant(fixer, "s1", "S-1-5-21-1-2-3-1105", "\\\\files\\homes\\s1"));
        EXPECT_TRUE(grant(fixer, "s2", "", "\\\\files\\homes\\s2"));
        EXPECT_TRUE(grant(fixer, "s3", "S-1-5-21-1-2-3-1107", "/srv/homes/s3"));
        EXPECT_EQ(fixer.fallbackReason(), "");
    }
    EXPECT_EQ(QString::fromUtf8(app.readFile("resources/grants")),
              "GRANT\tfiles\thomes\ts1\tS-1-5-21-1-2-3-1105\tS-1-5-21-1-2-3-512\nQUIT\n")
        << "one line per folder, and the helper is told to quit when the fixer goes";
    // The recording tool's echo mangles the backslashes of a UNC path: the accounts tell the calls apart.
    const auto accounts = [this] {
        QStringList out;
        for (const QString& call : toolCalls())
            out << call.section(' ', -1);
        return out;
    };
    EXPECT_EQ(accounts(), QStringList({"SCHOOL\\s2:F", "SCHOOL\\Admins:F", "SCHOOL\\s3:F", "SCHOOL\\Admins:F"}));
    EXPECT_TRUE(toolCalls().value(2).startsWith("/srv/homes/s3 "));

    ASSERT_TRUE(app.writeFile("resources/corvane-smbacl",
                              "#!/bin/bash\nprintf 'UNAVAILABLE\\tpython3-samba is not installed\\n'\n"));
    ASSERT_TRUE(QFile::remove(app.path() + "/resources/calls"));
    PooledPermissionFixer fixer;
    // The first folder was tried with smbcacls by the pool; its failure is told as the tool tells it.
    for (const QString sam : {"s1", "s2"})
        EXPECT_TRUE(grant(fixer, sam, "S-1-5-21-1-2-3-1105", "\\\\no-such-server.invalid\\homes\\" + sam));
    EXPECT_EQ(fixer.fallbackReason(), "python3-samba is not installed");
    EXPECT_EQ(fixer.takeNotice(), "network home folders are fixed with smbcacls, one account at a time, because the "
                                  "permission helper could not be used: python3-samba is not installed");
    EXPECT_EQ(fixer.takeNotice(), "") << "said once per run";
    EXPECT_EQ(accounts(), QStringList({"SCHOOL\\s1:F", "SCHOOL\\Admins:F", "SCHOOL\\s2:F", "SCHOOL\\Admins:F"}));
}

// The fixer gets the accounts several at a time (at most 16), each account's
// result is logged under its own name, and the summary counts each failure once.
TEST_F(Job, theFixesGoToTheFixerSeveralAtATimeAndEachResultIsTheAccountsOwn)
{
    struct BatchFixer : RecordingFixer {
        QList<int> sizes;
        using RecordingFixer::RecordingFixer;
        QList<Result> fixAll(const QList<Grant>& grants) override
        {
            sizes << int(grants.size());
            return PermissionFixer::fixAll(grants);
        }
        int notices = 0;
        QString takeNotice() override
        {
            return notices++ == 0 ? QStringLiteral("the helper could not start") : QString();
        }
    };
    for (int i = 0; i < 20; ++i)
        dir.user(dn(QString("CN=u%1,OU=S").arg(i)), QString("u%1").arg(i));
    QStringList calls;
    auto fixer = std::make_unique<BatchFixer>(&calls, QSet<QString>{"/srv/homes/u3", "/srv/homes/u17"});
    BatchFixer* batches = fixer.get();
    job.setPermissionFixer(std::move(fixer));
    EXPECT_EQ(plan(), 20);
    QSignalSpy progress(&job, &HomePathUpdateJob::progress);
    EXPECT_EQ(run(true), 2);
    EXPECT_EQ(batches->sizes, QList<int>({16, 4}));
    EXPECT_EQ(calls.size(), 20);
    EXPECT_EQ(log.filter(" Fixed Home Drive Permissions").size(), 18);
    EXPECT_EQ(log.filter(" Permission Fix: "), QStringList{dn("OU=S") + " Permission Fix: the helper could not start"})
        << "why the run went the slow way, logged once";
    EXPECT_EQ(log.filter(" Fix Home Drive Permissions Failed: access denied"),
              QStringList({"u3 Fix Home Drive Permissions Failed: access denied",
                           "u17 Fix Home Drive Permissions Failed: access denied"}));
    EXPECT_EQ(job.summary().text(), "20 updated, 0 unchanged, 0 not updated, 2 permission fixes failed");
    EXPECT_EQ(log.last(), dn("OU=S") + " Summary: " + job.summary().text());
    ASSERT_EQ(progress.size(), 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(progress[i].value(0).toInt(), i + 1) << "progress still counts up one account at a time";
}

// The folders are looked for before any account is written: a missing one leaves
// its account alone unless the operator asked to create it.
TEST_F(Job, anAccountWhoseFolderIsMissingIsNotWrittenUnlessTheFolderIsCreated)
{
    const QString root = app.path() + "/homes/";
    ASSERT_TRUE(QDir().mkpath(root + "here"));
    ASSERT_TRUE(app.writeFile("homes/afile", "x"));
    users({"here", "gone", "afile"});
    plan(true, dn("OU=S"), root);
    job.setSkipFolderCheck(false);
    job.setSettings({"Admins", root, false});
    EXPECT_TRUE(job.checkFolders());
    EXPECT_EQ(job.missingFolders(), 1);
    EXPECT_EQ(job.run(), 2);
    EXPECT_EQ(dir.writes, QStringList{dn("CN=here,OU=S") + "=" + root + "here"});
    EXPECT_TRUE(log.contains("gone Not Updated: folder missing: " + root + "gone"));
    EXPECT_EQ(job.summary().text(),
              "1 updated, 0 unchanged, 2 not updated (1 folder missing, 1 not a folder), 0 permission fixes failed");

    job.setCreateMissing(true);
    plan(true, dn("OU=S"), root);
    EXPECT_EQ(job.run(), 1);
    EXPECT_TRUE(QFileInfo(root + "gone").isDir());
    EXPECT_EQ(QFileInfo(root + "gone").permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    EXPECT_EQ(dir.home(dn("CN=gone,OU=S")), root + "gone");
    EXPECT_EQ(job.summary().text(),
              "1 updated, 1 unchanged, 1 not updated (1 not a folder), 0 permission fixes failed");

    // A network path whose server cannot be asked: nothing is written, and the reason is given.
    dir.writes.clear();
    plan(true, dn("OU=S"), "\\\\no-such-server.invalid\\homes\\");
    EXPECT_GT(run(false, "\\\\no-such-server.invalid\\homes\\"), 0);
    EXPECT_TRUE(job.summary().refused.startsWith("the home folders could not be checked"))
        << job.summary().refused.toStdString();
    EXPECT_TRUE(dir.writes.isEmpty());
}

// A stop asked for between two accounts ends the run there; the summary says so.
TEST_F(Job, aStopBetweenAccountsEndsTheRunWithTheLogCoveringWhatWasWritten)
{
    users({"s1", "s2", "s3"});
    plan();
    QObject::connect(&job, &HomePathUpdateJob::progress, [this](int done) {
        if (done == 1)
            job.requestStop("SIGTERM");
    });
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(dir.writes, QStringList{dn("CN=s1,OU=S") + "=/srv/homes/s1"});
    EXPECT_EQ(job.summary().text(), "1 updated, 0 unchanged, 2 not updated (2 not reached), 0 permission fixes "
                                    "failed; stopped by SIGTERM between accounts");
    EXPECT_TRUE(log.contains(dn("OU=S") + " Stopped by SIGTERM after 1 of 3 accounts; the log and the undo file cover "
                                          "every account written"));
}

// An undo trusts its file no further than the directory: the entry must still be
// the account named, and an account already back is no failure.
TEST_F(Job, anUndoChecksTheEntrysOwnNameAndCountsAnAlreadyRestoredAccount)
{
    dir.user(dn("CN=Administrator,OU=S"), "Administrator", "/srv/homes/y7.adams");
    dir.user(dn("CN=s2,OU=S"), "s2", "\\\\old\\s2");
    dir.user(dn("CN=s3,OU=S"), "s3", "/srv/homes/s3");
    HomePathPlan restore;
    restore.ou = dn("OU=S");
    for (const auto& [rdn, sam, wrote, old] : QList<std::tuple<QString, QString, QString, QString>>{
             {"CN=Administrator", "y7.adams", "/srv/homes/y7.adams", ""},
             {"CN=s2", "s2", "/srv/homes/s2", "\\\\old\\s2"},
             {"CN=s3", "S3", "/srv/homes/s3", "\\\\old\\s3"}}) {
        PlannedAccount a;
        a.dn = dn(rdn + ",OU=S");
        a.sam = sam;
        a.currentHome = wrote;
        a.newHome = old;
        restore.accounts << a;
    }
    job.setPlan(restore);
    job.setWriteMode(WriteMode::Restore);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(dir.writes, QStringList{dn("CN=s3,OU=S") + "=\\\\old\\s3"});
    EXPECT_EQ(log[0], dn("CN=Administrator,OU=S") +
                          " Restore Failed: the entry's sAMAccountName is \"Administrator\", the undo file names "
                          "\"y7.adams\"");
    EXPECT_EQ(log[1], "s2 Already Restored \"\\\\old\\s2\"");
    EXPECT_EQ(log[2], "s3 Restored Home Path \"\\\\old\\s3\"") << "the log names the account as the directory does";
    EXPECT_EQ(job.summary().text(), "1 restored, 1 already restored, 1 not restored (1 name differs)");
}

// The undo file is read whole and trusted in nothing a line could forge.
TEST(HomePathCsv, anUndoFileWithAControlCharacterOrADnOutsideItsOuIsRefusedWhole)
{
    TempAppFolder app;
    const QString header = "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory,ou\r\n";
    const QString good = "\"CN=a,OU=Y7,DC=s\",a,\\\\old\\a,/new/a,\"OU=Y7,DC=s\"\r\n";
    const auto read = [&](const QByteArray& body) {
        EXPECT_TRUE(app.writeFile("u.csv", header.toUtf8() + good.toUtf8() + body));
        return HomePathCsv::readUndoFile(app.path() + "/u.csv");
    };
    EXPECT_EQ(read("").error, "");
    EXPECT_EQ(read("").plan.ou, "OU=Y7,DC=s");
    const QList<std::pair<QByteArray, QString>> bad{
        {QByteArray("\"CN=Administrator,CN=Users,DC=s") + '\0' + ",OU=Y7,DC=s\",y7.adams,,/x,\"OU=Y7,DC=s\"\r\n",
         "line 3: a field holds a control character"},
        {"\"CN=Administrator,CN=Users,DC=s\",y7.adams,,/x,\"OU=Y7,DC=s\"\r\n", "line 3: the dn is not below the OU"},
        {"\"CN=x\\,OU=Y7,DC=s\",x,,/x,\"OU=Y7,DC=s\"\r\n", "line 3: the dn is not below the OU"},
        {"\"CN=b,OU=Y8,DC=s\",b,,/x,\"OU=Y8,DC=s\"\r\n", "line 3: another OU"},
        {"\"CN=b,OU=Y7,DC=s\",b\x1b[2J,,/x,\"OU=Y7,DC=s\"\r\n", "line 3: a field holds a control character"},
    };
    for (const auto& [line, error] : bad) {
        const HomePathCsv::UndoRead r = read(line);
        EXPECT_TRUE(r.error.startsWith(error)) << r.error.toStdString();
        EXPECT_TRUE(r.plan.accounts.isEmpty());
    }
    // A file without the OU column predates the rule: refused, not guessed.
    ASSERT_TRUE(app.writeFile("old.csv", "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory\r\nCN=a,a,,/x\r\n"));
    EXPECT_TRUE(HomePathCsv::readUndoFile(app.path() + "/old.csv").error.startsWith("line 1: not an undo file"));
}

TEST(HomePathCsv, thePlanEscapesControlCharactersInEveryColumn)
{
    PlannedAccount a;
    a.dn = QString("CN=ev\u202Eil,OU=S");
    a.sam = QString::fromUtf8("x\0y", 3);
    a.currentHome = "\\\\old\r\\x";
    a.problem = "the account name holds a control character";
    const QString line = HomePathCsv::line(HomePathCsv::planFields(a));
    EXPECT_EQ(line, "\"CN=ev\\u202eil,OU=S\",x\\x00y,\\\\old\\r\\x,,no,the account name holds a control character\r\n");
}

// On a local home root a domain account named like a local one (www-data) must
// get the grant, and the local account nothing: the tool is given DOMAIN\name.
// The domain's names come from nss_wrapper files, as winbind would give them.
TEST_F(Job, theRealPermissionToolGrantsTheQualifiedAccountAndNeverItsLocalNamesake)
{
    const QString so = QFile::exists("/usr/lib/x86_64-linux-gnu/libnss_wrapper.so")
                           ? "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so"
                           : "/usr/lib/aarch64-linux-gnu/libnss_wrapper.so";
    ASSERT_TRUE(QFile::exists(so)) << "scripts/install-deps.sh installs libnss-wrapper";
    QFile passwd("/etc/passwd"), group("/etc/group");
    ASSERT_TRUE(passwd.open(QIODevice::ReadOnly) && group.open(QIODevice::ReadOnly));
    ASSERT_TRUE(passwd.readAll().contains("\nwww-data:")) << "the local namesake";
    passwd.seek(0);
    ASSERT_TRUE(app.writeFile("passwd", passwd.readAll() + "SCHOOL\\www-data:x:4243:4243::/nonexistent:/bin/false\n"));
    ASSERT_TRUE(app.writeFile("group", group.readAll() + "SCHOOL\\School Admins:x:4244:\n"));
    ScopedEnv env;
    env.set("LD_PRELOAD", so.toUtf8());
    env.set("NSS_WRAPPER_PASSWD", (app.path() + "/passwd").toUtf8());
    env.set("NSS_WRAPPER_GROUP", (app.path() + "/group").toUtf8());
    env.set("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    QFile::remove(app.path() + "/resources/cacls");
    ASSERT_TRUE(QFile::copy(CORVANE_APP_DIR "/resources/cacls", app.path() + "/resources/cacls"));

    const QString root = app.path() + "/homes/";
    ASSERT_TRUE(QDir().mkpath(root + "www-data"));
    dir.user(dn("CN=www-data,OU=S"), "www-data");
    plan(true, dn("OU=S"), root);
    EXPECT_EQ(run(true, root, "School Admins"), 0) << log.join('\n').toStdString();
    QProcess getfacl;
    getfacl.start("getfacl", {"-c", "-n", root + "www-data"});
    ASSERT_TRUE(getfacl.waitForFinished(30000));
    const QString acl = QString::fromUtf8(getfacl.readAllStandardOutput());
    EXPECT_TRUE(acl.contains("user:4243:rwx") && acl.contains("group:4244:rwx")) << acl.toStdString();
    EXPECT_FALSE(acl.contains("user:33:")) << "the local www-data got nothing: " << acl.toStdString();
}
