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

void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
    file.close();
    ASSERT_TRUE(file.setPermissions(permissions));
}

void setfacl(const QStringList& args)
{
    const ToolRun run = runProgram("setfacl", args);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
}

// home/ Documents/ Documents/Year7/ Documents/essay.txt (0644) run.sh (0755), as a migration leaves it.
class CaclsLocal : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        home = m_tmp.path() + "/home";
        ASSERT_TRUE(QDir().mkpath(home + "/Documents/Year7"));
        writeFile(home + "/Documents/essay.txt", "essay",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        writeFile(home + "/run.sh", "#!/bin/sh\n",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                      QFile::ReadOther | QFile::ExeOther);
    }
    QString tmp() const { return m_tmp.path(); }

    QString home;

private:
    QTemporaryDir m_tmp;
};

} // namespace

TEST_F(CaclsLocal, grantsFoldersFilesAndDefaultsSoNewFilesInheritTheGrant)
{
    const ToolRun run = runCacls({home, "/e", "/g", "daemon:F"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("3 folders and 2 files")) << run.out.toStdString();

    for (const QString& folder : {home, home + "/Documents", home + "/Documents/Year7"}) {
        const QStringList acl = aclOf(folder);
        EXPECT_TRUE(acl.contains(DaemonUserEntry)) << folder.toStdString();
        EXPECT_TRUE(acl.contains("mask::rwx")) << folder.toStdString();
        // A default list started from the folder's own owner/group/other entries.
        for (const char* entry : {"default:user::rwx", "default:user:1:rwx", "default:group::r-x", "default:mask::rwx",
                                  "default:other::r-x"})
            EXPECT_TRUE(acl.contains(entry)) << folder.toStdString() << " lacks " << entry;
    }
    const QStringList essay = aclOf(home + "/Documents/essay.txt");
    EXPECT_TRUE(essay.contains("user:1:rw-")) << essay.join(' ').toStdString();
    EXPECT_TRUE(essay.contains("mask::rw-")) << essay.join(' ').toStdString();
    EXPECT_FALSE(essay.join(' ').contains("default:"));
    EXPECT_TRUE(aclOf(home + "/run.sh").contains(DaemonUserEntry));

    // Files created afterwards inherit the entry from the default list.
    writeFile(home + "/Documents/Year7/new.txt", "new", QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(QDir().mkdir(home + "/Documents/Year7/NewFolder"));
    EXPECT_TRUE(aclOf(home + "/Documents/Year7/new.txt").join(' ').contains("user:1:"));
    EXPECT_TRUE(aclOf(home + "/Documents/Year7/NewFolder").contains("default:user:1:rwx"));
}

TEST_F(CaclsLocal, editsTheListKeepingOtherEntriesAndRecomputingTheMask)
{
    setfacl({"-m", "u:nobody:r-x,g:users:r--,m::r-x,d:u:nobody:r-x", home});
    setfacl({"-m", "u:nobody:r--", home + "/Documents/essay.txt"});
    const QStringList before = aclOf(home);

    const ToolRun run = runCacls({home, "/e", "/g", "nogroup:F"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QStringList after = aclOf(home);
    for (const QString& entry : before) {
        if (!entry.contains("mask::")) {
            EXPECT_TRUE(after.contains(entry)) << "lost " << entry.toStdString();
        }
    }
    EXPECT_TRUE(after.contains("group:65534:rwx"));
    EXPECT_TRUE(after.contains("default:group:65534:rwx"));
    EXPECT_TRUE(after.contains("mask::rwx")) << "mask not recomputed: " << after.join(' ').toStdString();
    const QStringList essay = aclOf(home + "/Documents/essay.txt");
    EXPECT_TRUE(essay.contains("user:65534:r--"));
    EXPECT_TRUE(essay.contains("group:65534:rw-"));
}

TEST_F(CaclsLocal, aSecondRunWritesNothing)
{
    ASSERT_EQ(runCacls({home, "/e", "/g", "daemon:F", "nogroup:F"}).exitCode, 0);
    const QString acls = aclTreeOf(home);
    struct stat before {};
    ASSERT_EQ(stat(QFile::encodeName(home + "/Documents/essay.txt").constData(), &before), 0);

    const ToolRun again = runCacls({home, "/e", "/g", "daemon:F", "nogroup:F"});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains("0 changed")) << again.out.toStdString();
    EXPECT_EQ(aclTreeOf(home), acls);
    struct stat after {};
    ASSERT_EQ(stat(QFile::encodeName(home + "/Documents/essay.txt").constData(), &after), 0);
    EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec); // no metadata write at all
    EXPECT_EQ(before.st_ctim.tv_sec, after.st_ctim.tv_sec);
}

TEST_F(CaclsLocal, resolvesUserBeforeGroupAndAcceptsDomainForms)
{
    // "daemon" is a user (uid 1) and a group (gid 1): the user wins, as on Windows.
    ASSERT_EQ(runCacls({home, "/e", "/g", "SCHOOL\\daemon:F"}).exitCode, 0);
    QStringList acl = aclOf(home);
    EXPECT_TRUE(acl.contains(DaemonUserEntry));
    EXPECT_FALSE(acl.contains("group:1:rwx"));

    ASSERT_EQ(runCacls({home + "/Documents", "/e", "/g", "nogroup@SCHOOL.LOCAL:F"}).exitCode, 0);
    EXPECT_TRUE(aclOf(home + "/Documents").contains("group:65534:rwx"));
}

TEST_F(CaclsLocal, anUnknownAccountChangesNothingEvenBesideAKnownOne)
{
    setfacl({"-m", "u:nobody:r-x", home + "/Documents"});
    const QString before = aclTreeOf(home);
    const ToolRun run = runCacls({home, "/e", "/g", "daemon:F", "corvane-no-such-account:F"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("unknown account \"corvane-no-such-account\"")) << run.err.toStdString();
    EXPECT_EQ(aclTreeOf(home), before);
}

TEST_F(CaclsLocal, missingFolderAndUsageErrorsFailWithAMessage)
{
    ToolRun run = runCacls({tmp() + "/nohome", "/e", "/g", "daemon:F"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("folder not found")) << run.err.toStdString();

    const QString before = aclTreeOf(home);
    for (const QStringList& args : {QStringList{home, "/g", "daemon:F"}, QStringList{home, "/e", "/g", "daemon:R"},
                                    QStringList{home, "/e", "/p", "daemon:F"}, QStringList{home}}) {
        run = runCacls(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage: cacls")) << run.err.toStdString();
    }
    EXPECT_EQ(aclTreeOf(home), before);
}

TEST_F(CaclsLocal, aFolderNamedLikeASwitchIsAFolder)
{
    ASSERT_TRUE(QDir().mkdir(tmp() + "/-e"));
    ToolOptions options;
    options.workingDirectory = tmp();
    const ToolRun run = runCacls({"-e", "/e", "/g", "daemon:F"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(aclOf(tmp() + "/-e").contains(DaemonUserEntry));

    if (!QFileInfo::exists("/g")) {
        const ToolRun slash = runCacls({"/g", "/e", "/g", "daemon:F"});
        EXPECT_EQ(slash.exitCode, 1);
        EXPECT_TRUE(slash.err.contains("folder not found: /g")) << slash.err.toStdString();
    }
}

TEST_F(CaclsLocal, symbolicLinksAreNeverFollowed)
{
    const QString outside = tmp() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside + "/deep"));
    writeFile(outside + "/secret.txt", "s", QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_EQ(symlink(QFile::encodeName(outside).constData(), QFile::encodeName(home + "/linkdir").constData()), 0);
    ASSERT_EQ(symlink(QFile::encodeName(outside + "/secret.txt").constData(),
                      QFile::encodeName(home + "/Documents/linkfile").constData()),
              0);
    const QString outsideBefore = aclTreeOf(outside);

    const ToolRun run = runCacls({home, "/e", "/g", "daemon:F"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("2 symbolic links left alone")) << run.out.toStdString();
    EXPECT_EQ(aclTreeOf(outside), outsideBefore);

    // The folder itself given as a link: refused, nothing changed.
    ASSERT_EQ(symlink(QFile::encodeName(outside).constData(), QFile::encodeName(tmp() + "/homelink").constData()), 0);
    const ToolRun viaLink = runCacls({tmp() + "/homelink/", "/e", "/g", "daemon:F"});
    EXPECT_EQ(viaLink.exitCode, 1);
    EXPECT_TRUE(viaLink.err.contains("symbolic link")) << viaLink.err.toStdString();
    EXPECT_EQ(aclTreeOf(outside), outsideBefore);
}

TEST_F(CaclsLocal, anObjectTheFileSystemRefusesIsReportedAndTheRestStillGranted)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the tree to another user (CI runs as root)";
    // The tool runs as nobody: it may change what nobody owns, not the root-owned file.
    const ToolRun chown = runProgram("chown", {"-R", "nobody:nogroup", home});
    ASSERT_EQ(chown.exitCode, 0) << chown.err.toStdString();
    ASSERT_EQ(runProgram("chown", {"root:root", home + "/Documents/essay.txt"}).exitCode, 0);
    ASSERT_EQ(runProgram("chmod", {"755", tmp()}).exitCode, 0);
    const QStringList essayBefore = aclOf(home + "/Documents/essay.txt");

    ToolOptions options;
    options.asNobody = true;
    const ToolRun run = runCacls({home, "/e", "/g", "daemon:F"}, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(home + "/Documents/essay.txt")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("not permitted")) << run.err.toStdString();
    EXPECT_EQ(aclOf(home + "/Documents/essay.txt"), essayBefore);
    EXPECT_TRUE(aclOf(home + "/run.sh").contains(DaemonUserEntry));
    EXPECT_TRUE(aclOf(home + "/Documents/Year7").contains(DaemonUserEntry));

    // A folder that refuses at the top: one message, nothing below tried.
    ASSERT_EQ(runProgram("chown", {"root:root", home}).exitCode, 0);
    const QString before = aclTreeOf(home);
    const ToolRun top = runCacls({home, "/e", "/g", "nogroup:F"}, options);
    EXPECT_EQ(top.exitCode, 1);
    EXPECT_TRUE(top.err.contains("nothing changed")) << top.err.toStdString();
    EXPECT_EQ(aclTreeOf(home), before);
}

TEST_F(CaclsLocal, namesWithBlanksResolveThroughNss)
{
    const QString nss = nssWrapperLibrary();
    ASSERT_FALSE(nss.isEmpty()) << "libnss_wrapper.so missing: scripts/install-deps.sh installs libnss-wrapper";
    // A private group database (nss_wrapper) with a domain-style group name, for the tool only.
    QFile passwd("/etc/passwd"), group("/etc/group");
    ASSERT_TRUE(passwd.open(QIODevice::ReadOnly) && group.open(QIODevice::ReadOnly));
    writeFile(tmp() + "/passwd", passwd.readAll(), QFile::ReadOwner | QFile::WriteOwner);
    writeFile(tmp() + "/group", group.readAll() + "School Admins:x:4242:\n", QFile::ReadOwner | QFile::WriteOwner);
    ToolOptions options;
    options.env = withNssWrapper(options.env, tmp() + "/passwd", tmp() + "/group");

    ToolRun run = runCacls({home, "/e", "/g", "School Admins:F"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(aclOf(home + "/Documents").contains("group:4242:rwx"));
    run = runCacls({home + "/run.sh", "/e", "/g", "SCHOOL\\School Admins:F"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(aclOf(home + "/run.sh").contains("group:4242:rwx"));
    // Without the private database the same name is unknown: the lookup really went through NSS.
    EXPECT_EQ(runCacls({home, "/e", "/g", "School Admins:F"}).exitCode, 1);
}
