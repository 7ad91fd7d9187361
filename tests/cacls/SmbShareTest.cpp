#include "SambaDc.h"
#include "ToolRun.h"

#include <QDir>

// The built tool against the fixture's Samba DC serving homes$ over SMB, with the
// domain Administrator's Kerberos ticket; every check reads the folder's NT access
// list back over SMB with smbcacls.
TEST(CaclsSmb, grantsUserAndGroupInheritablyKeepingEverythingElseAndEachFailureChangesNothing)
{
    const SambaDc dc = SambaDc::load();
    ASSERT_TRUE(dc.ok) << dc.error.toStdString(); // the fixture runs before these tests
    // The server's name resolves only through nss_wrapper: preloaded for these children only.
    QProcessEnvironment env = withNssWrapper(dc.nssWrapperSo);
    env.insert("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts);
    const auto smb = [&](const QString& program, const QStringList& args) {
        const ToolRun run = runProgram(
            program, QStringList{"-s", dc.smbConf, "--use-kerberos=required", "-N", dc.smbShare} + args, env);
        EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString() << ": " << run.out.toStdString()
                                   << run.err.toStdString();
        return run.out.split('\n', Qt::SkipEmptyParts);
    };
    // A home folder as a migration leaves it: made over SMB, one folder written straight to
    // disk (no NT ACL of its own), one protected from inheritance, and entries of others,
    // one a deny (which canonical order puts first).
    const QString folder = "cacls-home", unc = dc.homesUnc + "\\" + folder, disk = dc.homesDir + "/" + folder;
    ASSERT_TRUE(QDir(disk).removeRecursively()); // left by an earlier run
    smb("smbclient", {"-c", QString("mkdir %1; cd %1; mkdir Documents; mkdir Documents\\Year7; mkdir Locked; "
                                    "put %2 readme.txt; put %2 Documents\\Year7\\notes.txt; put %2 Locked\\private.txt")
                                .arg(folder, dc.smbConf)});
    ASSERT_TRUE(QDir().mkpath(disk + "/FromDisk"));
    ASSERT_TRUE(QFile::copy(dc.smbConf, disk + "/FromDisk/photo.jpg"));
    smb("smbcacls", {folder + "/Locked", "-I", "copy"});
    smb("smbcacls", {folder, "-a", "ACL:SCHOOL\\s.green:ALLOWED/0x0/READ,ACL:SCHOOL\\k.white:DENIED/0x0/D"});
    ASSERT_FALSE(HasFailure());

    // What the server stores: NT descriptors and the POSIX lists they map to.
    const auto stored = [&] {
        return runProgram("getfattr", {"-R", "-d", "-e", "hex", "--absolute-names", "-m",
                                       "^(security[.]NTACL|system[.]posix_acl_.*)$", disk})
            .out;
    };
    const QString storedBefore = stored();
    ASSERT_TRUE(storedBefore.contains("security.NTACL"));
    const auto fails = [&](const QString& path, const QString& account, const QString& message,
                           const QString& ccache = {}) {
        QProcessEnvironment how = env;
        if (!ccache.isEmpty())
            how.insert("KRB5CCNAME", ccache);
        const ToolRun run = runProgram(CACLS_TOOL, {path, "/e", "/g", account + ":F"}, how);
        EXPECT_EQ(run.exitCode, 1) << message.toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
    };
    fails(unc, "corvane-nosuchuser", "unknown account \"corvane-nosuchuser\"");
    fails(unc + "\\NoSuchFolder", "jbloggs", "folder not found");
    fails("\\\\" + dc.address + "\\homes$\\" + folder, "jbloggs", "given as an address");
    fails(unc, "t.brown", "access denied", dc.staffCcname); // t.brown may not change permissions
    fails(unc, "jbloggs", "no valid Kerberos ticket", "FILE:/nonexistent/krb5cc_none");
    EXPECT_EQ(stored().toStdString(), storedBefore.toStdString());

    const QStringList before = smb("smbcacls", {folder}), lockedBefore = smb("smbcacls", {folder + "/Locked"});
    ASSERT_TRUE(lockedBefore.filter("CONTROL:").value(0).contains("PD")) << lockedBefore.join('\n').toStdString();
    // As the update runs it: the user, then the administrators' group.
    for (const QString& account : {QString("SCHOOL\\jbloggs"), dc.adminGroup}) {
        const ToolRun run = runProgram(CACLS_TOOL, {unc, "/e", "/g", account + ":F"}, env);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    }
    const QStringList after = smb("smbcacls", {folder});
    EXPECT_TRUE(after.contains("ACL:SCHOOL\\jbloggs:ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
    EXPECT_TRUE(after.contains("ACL:SCHOOL\\School Admins:ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
    for (const QString& entry : before.filter("ACL:"))
        EXPECT_TRUE(after.contains(entry)) << "lost " << entry.toStdString();
    EXPECT_EQ(after.filter("ACL:").size(), before.filter("ACL:").size() + 2);
    EXPECT_EQ(after.filter("OWNER:"), before.filter("OWNER:"));
    EXPECT_EQ(after.filter("CONTROL:"), before.filter("CONTROL:"));
    EXPECT_TRUE(after.filter("ACL:").value(0).contains(":DENIED/")) << "deny entry no longer first";
    for (const QString below :
         {"Documents/Year7", "FromDisk", "readme.txt", "Documents/Year7/notes.txt", "FromDisk/photo.jpg"}) {
        const QString flags = below.contains('.') ? "I" : "OI|CI|I";
        const QStringList acl = smb("smbcacls", {folder + "/" + below});
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\jbloggs:ALLOWED/" + flags + "/FULL")) << below.toStdString();
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\School Admins:ALLOWED/" + flags + "/FULL")) << below.toStdString();
    }
    // The protected child is skipped by the propagation and stays protected.
    EXPECT_EQ(smb("smbcacls", {folder + "/Locked"}), lockedBefore);
    EXPECT_FALSE(smb("smbcacls", {folder + "/Locked/private.txt"}).join('\n').contains("jbloggs"));
}
