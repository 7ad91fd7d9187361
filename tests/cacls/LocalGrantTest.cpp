#include "ToolRun.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {})
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
    ASSERT_TRUE(file.setPermissions(permissions | QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
}

} // namespace

// A home folder as a migration leaves it: home/ Documents/ Documents/Year7/ Documents/essay.txt (0640)
// run.sh (0750), links out of it, and entries of others. daemon (uid 1, also a group of gid 1), nogroup
// (gid 65534) and nobody exist on every Debian machine; "School Admins" (gid 4242) only in a private
// group database.
TEST(CaclsLocal, grantsTheTreeAndDefaultsKeepingOtherEntriesNeverFollowingLinksAndChangesNothingWhenItFails)
{
    QTemporaryDir tmpDir;
    const QString tmp = tmpDir.path(), home = tmp + "/home", outside = tmp + "/outside";
    ASSERT_TRUE(QDir().mkpath(home + "/Documents/Year7") && QDir().mkpath(outside + "/deep"));
    writeFile(home + "/Documents/essay.txt", "essay");
    writeFile(home + "/run.sh", "#!/bin/sh\n", QFile::ExeOwner | QFile::ExeGroup);
    writeFile(outside + "/secret.txt", "s");
    ASSERT_TRUE(QFile::link(outside, home + "/linkdir") && QFile::link(outside, tmp + "/homelink") &&
                QFile::link(outside + "/secret.txt", home + "/Documents/linkfile"));
    ASSERT_EQ(runProgram("setfacl", {"-m", "u:nobody:r-x,g:users:r--,m::r-x,d:u:nobody:r-x", home}).exitCode, 0);
    const QStringList before = aclOf(home);
    const QString homeBefore = aclTreeOf(home), outsideBefore = aclTreeOf(outside);

    const auto fails = [](const QStringList& args, int exitCode, const QString& message) {
        const ToolRun run = runProgram(CACLS_TOOL, args);
        EXPECT_EQ(run.exitCode, exitCode) << message.toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
    };
    fails({home, "/e", "/g", "daemon:F", "corvane-no-such-account:F"}, 1,
          "unknown account \"corvane-no-such-account\"");
    fails({home, "/g", "daemon:F"}, 2, "usage: cacls");
    fails({tmp + "/homelink/", "/e", "/g", "daemon:F"}, 1, "symbolic link");
    if (!QFileInfo::exists("/g")) // a folder named like a switch is a folder
        fails({"/g", "/e", "/g", "daemon:F"}, 1, "folder not found: /g");
    // Without the private database the name is unknown: the lookup really goes through NSS.
    fails({home, "/e", "/g", "SCHOOL\\School Admins:F"}, 1, "no such user or group in the domain \"SCHOOL\"");
    EXPECT_EQ(aclTreeOf(home), homeBefore);

    QFile group("/etc/group");
    ASSERT_TRUE(group.open(QIODevice::ReadOnly));
    writeFile(tmp + "/group",
              group.readAll() + "SCHOOL\\School Admins:x:4242:\n"); // a domain group, as winbind names it
    QProcessEnvironment env = withNssWrapper(QFile::exists("/usr/lib/x86_64-linux-gnu/libnss_wrapper.so")
                                                 ? "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so"
                                                 : "/usr/lib/aarch64-linux-gnu/libnss_wrapper.so");
    env.insert("NSS_WRAPPER_PASSWD", "/etc/passwd");
    env.insert("NSS_WRAPPER_GROUP", tmp + "/group");
    // "daemon" is a user and a group: the user wins, as on Windows. This machine's name qualifies a local account.
    const QString host = QSysInfo::machineHostName();
    const ToolRun run = runProgram(
        CACLS_TOOL, {home, "/e", "/g", host + "\\daemon:F", "nogroup@" + host + ":F", "SCHOOL\\School Admins:F"}, env);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("3 folders and 2 files") && run.out.contains("2 symbolic links left alone"))
        << run.out.toStdString();
    EXPECT_EQ(aclTreeOf(outside), outsideBefore);
    const QStringList top = aclOf(home);
    for (const QString& entry : before)
        EXPECT_TRUE(entry.contains("mask::") || top.contains(entry)) << "lost " << entry.toStdString();
    EXPECT_FALSE(top.contains("group:1:rwx"));
    for (const QString& folder : {home, home + "/Documents/Year7"}) {
        const QStringList acl = aclOf(folder);
        for (const char* entry : {"user:1:rwx", "group:65534:rwx", "group:4242:rwx", "mask::rwx", "default:user:1:rwx",
                                  "default:group::r-x", "default:mask::rwx"})
            EXPECT_TRUE(acl.contains(entry)) << folder.toStdString() << " lacks " << entry;
    }
    const QStringList essay = aclOf(home + "/Documents/essay.txt");
    EXPECT_TRUE(essay.contains("user:1:rw-") && essay.contains("mask::rw-")) << essay.join(' ').toStdString();
    EXPECT_TRUE(aclOf(home + "/run.sh").contains("user:1:rwx"));

    const QString tree = aclTreeOf(home);
    const ToolRun again = runProgram(CACLS_TOOL, {home, "/e", "/g", "daemon:F", "nogroup:F"});
    EXPECT_TRUE(again.out.contains("0 changed")) << again.out.toStdString();
    EXPECT_EQ(aclTreeOf(home).toStdString(), tree.toStdString());
}

// Rights on a device node or a FIFO reach the device or the program behind it, and a local
// "daemon" is not the account OTHERDOM\daemon: neither may be granted.
TEST(CaclsLocal, grantsOnlyFoldersAndRegularFilesAndAQualifiedAccountOnlyInItsDomain)
{
    QTemporaryDir tmpDir;
    const QString home = tmpDir.path() + "/home";
    ASSERT_TRUE(QDir().mkpath(home + "/Documents"));
    writeFile(home + "/Documents/essay.txt", "essay");
    QStringList specials{home + "/fifo"};
    ASSERT_EQ(::mkfifo(QFile::encodeName(specials[0]).constData(), 0660), 0);
    if (::geteuid() == 0) { // a copy of /dev/null's node: only root may make one
        specials << home + "/Documents/null";
        ASSERT_EQ(::mknod(QFile::encodeName(specials[1]).constData(), S_IFCHR | 0660, makedev(1, 3)), 0);
    }
    const QString tree = aclTreeOf(home);
    for (const QString account : {"OTHERDOM\\daemon", "daemon@OTHER.REALM"}) {
        const ToolRun run = runProgram(CACLS_TOOL, {home, "/e", "/g", account + ":F"});
        EXPECT_EQ(run.exitCode, 1) << account.toStdString();
        EXPECT_TRUE(run.err.contains("no such user or group in the domain") && run.err.contains("never used"))
            << run.err.toStdString();
    }
    EXPECT_EQ(aclTreeOf(home).toStdString(), tree.toStdString());

    const ToolRun run = runProgram(CACLS_TOOL, {home, "/e", "/g", "daemon:F"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QString("2 folders and 1 files"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QString("%1 device").arg(specials.size()))) << run.out.toStdString();
    EXPECT_TRUE(aclOf(home + "/Documents/essay.txt").contains("user:1:rw-"));
    for (const QString& special : specials) {
        EXPECT_FALSE(aclOf(special).join(' ').contains("user:1:")) << special.toStdString();
        const ToolRun direct = runProgram(CACLS_TOOL, {special, "/e", "/g", "daemon:F"});
        EXPECT_EQ(direct.exitCode, 1);
        EXPECT_TRUE(direct.err.contains("not a folder or a file")) << direct.err.toStdString();
        EXPECT_FALSE(aclOf(special).join(' ').contains("user:1:")) << special.toStdString();
    }
}
