#include "TempAppFolder.h"
#include "ToolRun.h"
#include "directory_update/PermissionFixer.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

void makeHome(const QString& home)
{
    ASSERT_TRUE(QDir().mkpath(home + "/Documents/Year7"));
    for (const char* file : {"/readme.txt", "/Documents/essay.txt", "/Documents/Year7/notes.txt"}) {
        QFile f(home + QString::fromLatin1(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    ASSERT_EQ(runProgram("setfacl", {"-m", "u:nobody:r-x,d:u:nobody:r-x", home}).exitCode, 0);
}

} // namespace

// Local home folders fixed several accounts at a time get, folder by folder, the ACLs
// and the messages that the tool run for one account after another (today's way, on
// this thread) gives: a failing account is told in the tool's words, in its place,
// and the others are still done.
TEST(LocalFix, severalAtATimeGiveWhatOneAfterAnotherGives)
{
    TempAppFolder app;
    ASSERT_TRUE(QFile::copy(CACLS_TOOL, app.path() + "/resources/cacls"));
    const QStringList users{"daemon", "bin", "sys", "games", "man", "corvane-nosuchuser", "lp", "mail", "news"};
    const QString missing = "corvane-missing"; // the folder of the last one is not there
    QList<PermissionFixer::Result> alone;
    QList<PermissionFixer::Grant> grants;
    CaclsPermissionFixer oneByOne;
    for (int i = 0; i < users.size(); ++i) {
        const QString sub = i == users.size() - 1 ? missing : QString::number(i);
        if (sub != missing) {
            makeHome(app.path() + "/alone/" + sub);
            makeHome(app.path() + "/batch/" + sub);
        }
        alone << oneByOne.fix(users[i], "adm", app.path() + "/alone/" + sub);
        grants.append({.account = users[i],
                       .accountSid = {},
                       .adminGroup = "adm",
                       .adminSid = {},
                       .folder = app.path() + "/batch/" + sub});
    }
    ASSERT_FALSE(HasFailure());
    PooledPermissionFixer fixer;
    const QList<PermissionFixer::Result> results = fixer.fixAll(grants);
    ASSERT_EQ(results.size(), grants.size());
    for (int i = 0; i < users.size() - 1; ++i) {
        const QString one = app.path() + "/alone/" + QString::number(i),
                      many = app.path() + "/batch/" + QString::number(i);
        EXPECT_EQ(aclTreeOf(many).replace(many, "HOME").toStdString(),
                  aclTreeOf(one).replace(one, "HOME").toStdString())
            << users[i].toStdString();
    }
    for (int i = 0; i < users.size(); ++i) {
        EXPECT_EQ(results[i].ok, alone[i].ok) << users[i].toStdString();
        EXPECT_EQ(QString(results[i].message).replace("/batch/", "/alone/").toStdString(),
                  alone[i].message.toStdString())
            << users[i].toStdString();
    }
    EXPECT_TRUE(alone[0].ok);
    EXPECT_TRUE(alone[5].message.contains("corvane-nosuchuser")) << alone[5].message.toStdString();
    EXPECT_TRUE(alone[8].message.contains(";"))
        << "both runs fail on a missing folder: " << alone[8].message.toStdString();
    // The group's grant still reached the folder whose user is unknown.
    EXPECT_TRUE(aclOf(app.path() + "/batch/5").join(' ').contains("group:4:rwx"));
    EXPECT_EQ(fixer.fallbackReason(), "") << "no network folder: no helper started";
}

// The tool runs side by side, a few at a time, never more than the bound; a tool that
// cannot be started is told as today, for every account.
TEST(LocalFix, atMostFourRunsAtOnceAndAMissingToolIsToldAsToday)
{
    TempAppFolder app;
    // A stand-in tool that notes how many of its kind run while it does.
    ASSERT_TRUE(app.writeFile("resources/cacls", QString(R"(#!/bin/bash
mkdir -p %1/running && touch %1/running/$$
ls %1/running | wc -l >> %1/counts
sleep 0.2
rm %1/running/$$
)")
                                                     .arg(app.path())
                                                     .toUtf8()));
    ASSERT_TRUE(
        QFile::setPermissions(app.path() + "/resources/cacls", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QList<PermissionFixer::Grant> grants;
    for (int i = 0; i < 12; ++i)
        grants.append({.account = "daemon",
                       .accountSid = {},
                       .adminGroup = "adm",
                       .adminSid = {},
                       .folder = QString("/srv/homes/u%1").arg(i)});
    PooledPermissionFixer fixer;
    for (const PermissionFixer::Result& r : fixer.fixAll(grants))
        EXPECT_TRUE(r.ok) << r.message.toStdString();
    int most = 0, runs = 0;
    for (const QByteArray& count : app.readFile("counts").split('\n'))
        if (!count.trimmed().isEmpty()) {
            most = std::max(most, count.trimmed().toInt());
            ++runs;
        }
    EXPECT_EQ(runs, 24) << "the tool for the user, then for the group, on every folder";
    EXPECT_GE(most, 2) << "the folders were done one after another";
    EXPECT_LE(most, 4);

    ASSERT_TRUE(QFile::remove(app.path() + "/resources/cacls"));
    const PermissionFixer::Result today = CaclsPermissionFixer().fix("daemon", "adm", "/srv/homes/u0");
    EXPECT_FALSE(today.ok);
    for (const PermissionFixer::Result& r : fixer.fixAll(grants.mid(0, 3)))
        EXPECT_EQ(r.message.toStdString(), today.message.toStdString());
}
