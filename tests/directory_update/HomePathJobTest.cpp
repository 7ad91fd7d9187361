// The update job's rules against an in-memory directory: which accounts, in
// which order, and what a failure on the way does to the rest of the run.
#include "FakeDirectory.h"
#include "LdapTool.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "directory_update/HomeFolderCheck.h"
#include "directory_update/HomePathUpdateJob.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

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
    }
    int plan(bool deep = true, const QString& ou = dn("OU=S"))
    {
        DirectoryError err;
        EXPECT_TRUE(job.plan(ou, deep, "/srv/homes/", err)) << err.text.toStdString();
        return int(job.currentPlan().accounts.size());
    }
    QStringList plannedSams() const
    {
        QStringList out;
        for (const PlannedAccount& a : job.currentPlan().accounts)
            out << a.sam;
        return out;
    }
    int run(bool fix = false, const QString& userPath = "/srv/homes/")
    {
        job.setSettings({"Admins", userPath, fix});
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
    EXPECT_EQ(log.last(), dn("CN=late,OU=A,OU=S") + " Not Updated: added after the plan was taken");
    ASSERT_EQ(progress.size(), 5);
    EXPECT_EQ(progress.last(), QVariantList({5, 5, "x1"}));
    const QStringList undo = QDir(app.path() + "/logs").entryList({"LDAP_undo_*.csv"});
    ASSERT_EQ(undo.size(), 1);
    EXPECT_TRUE(app.readFile("logs/" + undo[0])
                    .contains("\"CN=aa1,OU=AA,OU=A,OU=S,DC=school,DC=local\",aa1,\\\\old\\aa1,/srv/homes/aa1\r\n"));
}

TEST_F(Job, aRefusedWriteOrAnUnreadableChildIsLoggedAndTheRunGoesOn)
{
    dir.user(dn("CN=s1,OU=S"), "s1");
    dir.user(dn("CN=s2,OU=S"), "s2");
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
                                "s1 Update Failed: Insufficient access", "s2 Updated Home Path",
                                "s2 Fixed Home Drive Permissions", "g1 Updated Home Path",
                                "g1 Fixed Home Drive Permissions"}));
    EXPECT_EQ(toolCalls(), QStringList({"/srv/homes/s2 s2:F", "/srv/homes/s2 Admins:F", "/srv/homes/g1 g1:F",
                                        "/srv/homes/g1 Admins:F"}));
    EXPECT_EQ(dir.home(dn("CN=b1,OU=Bad,OU=S")), "");
}

// The default log with its folder gone: every account is still written, the job
// shows nothing, and it keeps the first failure for its caller to show once.
TEST_F(Job, aLogThatCannotBeWrittenIsKeptForTheCallerAndTheRunGoesOn)
{
    dir.user(dn("CN=s1,OU=S"), "s1");
    dir.user(dn("CN=s2,OU=S"), "s2");
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
    EXPECT_EQ(log, QStringList{dn("OU=S") + " Update Failed: the User Folder Path setting is empty"});
    EXPECT_TRUE(dir.writes.isEmpty());
    EXPECT_EQ(dir.opened, 1) << "not even a session for the run";

    log.clear();
    EXPECT_EQ(run(true), 6);
    EXPECT_EQ(dir.writes, QStringList{dn("CN=ok,OU=S") + "=/srv/homes/ok"});
    EXPECT_EQ(toolCalls(), QStringList({"/srv/homes/ok ok:F", "/srv/homes/ok Admins:F"}));
    ASSERT_EQ(log.size(), 8);
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
    restore.accounts << PlannedAccount{dn("CN=s1,OU=S"), "s1", "\\\\new\\s1", "\\\\old\\s1", {}};
    job.setPlan(restore);
    job.setWriteMode(WriteMode::ForceRestore);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(dir.home(dn("CN=s1,OU=S")), "\\\\new\\s1");
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("s1 Restore Failed: ")) << log[0].toStdString();
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
