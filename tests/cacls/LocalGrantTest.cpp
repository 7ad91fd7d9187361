#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// daemon (uid 1, also a group of gid 1), nogroup (gid 65534) and nobody exist on every Debian machine.
constexpr const char* DaemonUserEntry = "user:1:rwx";

void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {})
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
    file.close();
    ASSERT_TRUE(file.setPermissions(permissions | QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
}

void expectFailure(const ToolRun& run, int exitCode, const QString& message)
{
    EXPECT_EQ(run.exitCode, exitCode) << message.toStdString();
    EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
}

// home/ Documents/ Documents/Year7/ Documents/essay.txt (0640) run.sh (0750), as a migration leaves it.
class CaclsLocal : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        ASSERT_TRUE(QDir().mkpath(home + "/Documents/Year7"));
        writeFile(home + "/Documents/essay.txt", "essay");
        writeFile(home + "/run.sh", "#!/bin/sh\n", QFile::ExeOwner | QFile::ExeGroup);
    }

    QTemporaryDir m_tmp;
    const QString tmp = m_tmp.path();
    const QString home = tmp + "/home";
};

} // namespace

TEST_F(CaclsLocal, grantsTheTreeAndDefaultsKeepingOtherEntriesAndASecondRunWritesNothing)
{
    ASSERT_EQ(runProgram("setfacl", {"-m", "u:nobody:r-x,g:users:r--,m::r-x,d:u:nobody:r-x", home}).exitCode, 0);
    const QStringList before = aclOf(home);

    // "daemon" is a user and a group: the user wins, as on Windows.
    const ToolRun run = runCacls({home, "/e", "/g", "SCHOOL\\daemon:F", "nogroup@SCHOOL.LOCAL:F"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("3 folders and 2 files")) << run.out.toStdString();
    const QStringList top = aclOf(home);
    for (const QString& entry : before) {
        EXPECT_TRUE(entry.contains("mask::") || top.contains(entry)) << "lost " << entry.toStdString();
    }
    EXPECT_FALSE(top.contains("group:1:rwx"));
    for (const QString& folder : {home, home + "/Documents/Year7"}) {
        const QStringList acl = aclOf(folder);
        for (const char* entry : {DaemonUserEntry, "group:65534:rwx", "mask::rwx", "default:user:1:rwx",
                                  "default:group::r-x", "default:mask::rwx"})
            EXPECT_TRUE(acl.contains(entry)) << folder.toStdString() << " lacks " << entry;
    }
    const QStringList essay = aclOf(home + "/Documents/essay.txt");
    EXPECT_TRUE(essay.contains("user:1:rw-") && essay.contains("mask::rw-")) << essay.join(' ').toStdString();
    EXPECT_TRUE(aclOf(home + "/run.sh").contains(DaemonUserEntry));

    const QString tree = aclTreeOf(home);
    struct stat statBefore {};
    struct stat statAfter {};
    ASSERT_EQ(stat(QFile::encodeName(home + "/run.sh").constData(), &statBefore), 0);
    const ToolRun again = runCacls({home, "/e", "/g", "daemon:F", "nogroup:F"});
    EXPECT_TRUE(again.out.contains("0 changed")) << again.out.toStdString();
    EXPECT_EQ(aclTreeOf(home).toStdString(), tree.toStdString());
    ASSERT_EQ(stat(QFile::encodeName(home + "/run.sh").constData(), &statAfter), 0);
    EXPECT_EQ(statBefore.st_ctim.tv_nsec, statAfter.st_ctim.tv_nsec) << "metadata rewritten";
    // Files created afterwards inherit the entry from the default list.
    writeFile(home + "/Documents/Year7/new.txt", "new");
    EXPECT_TRUE(aclOf(home + "/Documents/Year7/new.txt").join(' ').contains("user:1:"));
}

TEST_F(CaclsLocal, unknownAccountsMissingFoldersAndUsageErrorsFailAndChangeNothing)
{
    const QString before = aclTreeOf(home);
    expectFailure(runCacls({home, "/e", "/g", "daemon:F", "corvane-no-such-account:F"}), 1,
                  "unknown account \"corvane-no-such-account\"");
    expectFailure(runCacls({tmp + "/nohome", "/e", "/g", "daemon:F"}), 1, "folder not found");
    expectFailure(runCacls({home, "/g", "daemon:F"}), 2, "usage: cacls");
    expectFailure(runCacls({R"(\\fs01)", "/e", "/g", "daemon:F"}), 2, "\\\\server\\share\\folder");
    EXPECT_EQ(aclTreeOf(home), before);
}

TEST_F(CaclsLocal, aFolderNamedLikeASwitchIsAFolder)
{
    ASSERT_TRUE(QDir().mkdir(tmp + "/-e"));
    ToolOptions options;
    options.workingDirectory = tmp;
    const ToolRun run = runCacls({"-e", "/e", "/g", "daemon:F"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(aclOf(tmp + "/-e").contains(DaemonUserEntry));
    if (!QFileInfo::exists("/g"))
        expectFailure(runCacls({"/g", "/e", "/g", "daemon:F"}), 1, "folder not found: /g");
}

TEST_F(CaclsLocal, symbolicLinksAreNeverFollowed)
{
    const QString outside = tmp + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside + "/deep"));
    writeFile(outside + "/secret.txt", "s");
    ASSERT_TRUE(QFile::link(outside, home + "/linkdir"));
    ASSERT_TRUE(QFile::link(outside + "/secret.txt", home + "/Documents/linkfile"));
    ASSERT_TRUE(QFile::link(outside, tmp + "/homelink"));
    const QString outsideBefore = aclTreeOf(outside);

    const ToolRun run = runCacls({home, "/e", "/g", "daemon:F"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("2 symbolic links left alone")) << run.out.toStdString();
    expectFailure(runCacls({tmp + "/homelink/", "/e", "/g", "daemon:F"}), 1, "symbolic link");
    EXPECT_EQ(aclTreeOf(outside), outsideBefore);
}

TEST_F(CaclsLocal, anObjectTheFileSystemRefusesIsReportedAndTheRestStillGranted)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the tree to another user (CI runs as root)";
    // The tool runs as nobody: it may change what nobody owns, not the root-owned file.
    ASSERT_EQ(runProgram("chown", {"-R", "nobody:nogroup", home}).exitCode, 0);
    ASSERT_EQ(runProgram("chown", {"root:root", home + "/Documents/essay.txt"}).exitCode, 0);
    ASSERT_EQ(runProgram("chmod", {"755", tmp}).exitCode, 0);
    const QStringList essayBefore = aclOf(home + "/Documents/essay.txt");
    ToolOptions options;
    options.asNobody = true;
    const ToolRun run = runCacls({home, "/e", "/g", "daemon:F"}, options);
    expectFailure(run, 1, "not permitted");
    EXPECT_TRUE(run.err.contains(home + "/Documents/essay.txt")) << run.err.toStdString();
    EXPECT_EQ(aclOf(home + "/Documents/essay.txt"), essayBefore);
    EXPECT_TRUE(aclOf(home + "/Documents/Year7").contains(DaemonUserEntry));
}

TEST_F(CaclsLocal, namesWithBlanksResolveThroughNss)
{
    // A private group database (nss_wrapper) with a domain-style group name, for the tool only.
    QFile group("/etc/group");
    ASSERT_TRUE(group.open(QIODevice::ReadOnly));
    writeFile(tmp + "/group", group.readAll() + "School Admins:x:4242:\n");
    ToolOptions options;
    options.env = withNssWrapper(options.env);
    options.env.insert("NSS_WRAPPER_PASSWD", "/etc/passwd");
    options.env.insert("NSS_WRAPPER_GROUP", tmp + "/group");

    const ToolRun run = runCacls({home, "/e", "/g", "SCHOOL\\School Admins:F"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(aclOf(home + "/Documents").contains("group:4242:rwx"));
    // Without the private database the same name is unknown: the lookup really went through NSS.
    EXPECT_EQ(runCacls({home, "/e", "/g", "School Admins:F"}).exitCode, 1);
}
