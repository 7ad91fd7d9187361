#include "SambaDc.h"
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The built tool against the fixture's Samba DC serving homes$ over SMB, with the
// domain Administrator's Kerberos ticket; every check reads the folder's NT access
// list back over SMB with smbcacls.
namespace {

class CaclsSmb : public ::testing::Test {
protected:
    void SetUp() override
    {
        dc = SambaDc::load();
        // A missing fixture is a failure: the fixture runs before these tests.
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
        ASSERT_TRUE(m_tmp.isValid());
        // The server's name resolves only through nss_wrapper: preloaded for these children only.
        options.env = withNssWrapper(QProcessEnvironment::systemEnvironment(), dc.nssWrapperSo);
        options.env.insert("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts);
        folder = QString("cacls-%1").arg(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(QDir(dc.homesDir + "/" + folder).removeRecursively()); // left by an earlier run
        seedHome();
    }

    ToolRun smb(const QString& program, const QStringList& args) const
    {
        return runProgram(program, QStringList{"-s", dc.smbConf, "--use-kerberos=required", "-N", dc.smbShare} + args,
                          options);
    }

    // The object's security descriptor as smbcacls prints it, one line per field or entry.
    QStringList aclOverSmb(const QString& path) const
    {
        const ToolRun run = smb("smbcacls", {path});
        EXPECT_EQ(run.exitCode, 0) << path.toStdString() << ": " << run.out.toStdString() << run.err.toStdString();
        return run.out.split('\n', Qt::SkipEmptyParts);
    }

    // What the server stores below the folder: NT descriptors and the POSIX lists they map to.
    QString storedAcls() const
    {
        const ToolRun run =
            runProgram("getfattr", {"-R", "-d", "-e", "hex", "--absolute-names", "-m",
                                    "^(security[.]NTACL|system[.]posix_acl_.*)$", dc.homesDir + "/" + folder});
        EXPECT_TRUE(run.out.contains("security.NTACL")) << "no NT descriptors stored" << run.err.toStdString();
        return run.out;
    }

    // A home folder as a migration leaves it: folders and files made over SMB, one
    // folder written straight to disk (no NT ACL of its own), one protected folder.
    void seedHome()
    {
        QFile essay(m_tmp.path() + "/essay.txt");
        ASSERT_TRUE(essay.open(QIODevice::WriteOnly) && essay.write("essay\n") == 6);
        essay.close();
        const ToolRun made =
            smb("smbclient", {"-c", QString("mkdir %1; cd %1; mkdir Documents; mkdir Documents\\Year7; "
                                            "mkdir Locked; put %2 readme.txt; put %2 "
                                            "Documents\\Year7\\notes.txt; put %2 Locked\\private.txt")
                                        .arg(folder, essay.fileName())});
        ASSERT_EQ(made.exitCode, 0) << made.out.toStdString() << made.err.toStdString();
        ASSERT_TRUE(QDir().mkpath(dc.homesDir + "/" + folder + "/FromDisk"));
        ASSERT_TRUE(QFile::copy(essay.fileName(), dc.homesDir + "/" + folder + "/FromDisk/photo.jpg"));
        // Locked keeps only its own entries and is protected from inheritance.
        ASSERT_EQ(smb("smbcacls", {folder + "/Locked", "-I", "copy"}).exitCode, 0);
    }

    void expectFailure(const QString& path, const QString& account, const ToolOptions& how, const QString& message)
    {
        const ToolRun run = runCacls({path, "/e", "/g", account + ":F"}, how);
        EXPECT_EQ(run.exitCode, 1) << message.toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
    }

    SambaDc dc;
    ToolOptions options;
    QString folder;
    QTemporaryDir m_tmp;
};

QStringList entriesOf(const QStringList& acl)
{
    return acl.filter(QRegularExpression("^ACL:"));
}

QString lineStarting(const QStringList& acl, const QString& prefix)
{
    return acl.filter(QRegularExpression("^" + prefix)).value(0);
}

} // namespace

TEST_F(CaclsSmb, grantsUserAndGroupInheritablyAndPropagatesToExistingContent)
{
    // Entries of others that must survive, one of them a deny (canonical order puts it first).
    ASSERT_EQ(smb("smbcacls", {folder, "-a", "ACL:SCHOOL\\s.green:ALLOWED/0x0/READ,ACL:SCHOOL\\k.white:DENIED/0x0/D"})
                  .exitCode,
              0);
    const QStringList before = aclOverSmb(folder);
    const QStringList lockedBefore = aclOverSmb(folder + "/Locked");
    ASSERT_TRUE(lineStarting(lockedBefore, "CONTROL:").contains("PD")) << lockedBefore.join('\n').toStdString();

    // As the update runs it: the user, then the administrators' group.
    const QString unc = dc.homesUnc + "\\" + folder;
    for (const QString& account : {QString("SCHOOL\\jbloggs"), dc.adminGroup}) {
        const ToolRun run = runCacls({unc, "/e", "/g", account + ":F"}, options);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    }
    const QStringList after = aclOverSmb(folder);
    EXPECT_TRUE(after.contains("ACL:SCHOOL\\jbloggs:ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
    EXPECT_TRUE(after.contains("ACL:SCHOOL\\School Admins:ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
    for (const QString& entry : entriesOf(before))
        EXPECT_TRUE(after.contains(entry)) << "lost " << entry.toStdString();
    EXPECT_EQ(entriesOf(after).size(), entriesOf(before).size() + 2);
    EXPECT_EQ(lineStarting(after, "OWNER:"), lineStarting(before, "OWNER:"));
    EXPECT_EQ(lineStarting(after, "CONTROL:"), lineStarting(before, "CONTROL:"));
    EXPECT_TRUE(entriesOf(after).first().contains(":DENIED/")) << "deny entry no longer first";

    for (const QString below :
         {"Documents/Year7", "FromDisk", "readme.txt", "Documents/Year7/notes.txt", "FromDisk/photo.jpg"}) {
        const QString flags = below.contains('.') ? "I" : "OI|CI|I";
        const QStringList acl = aclOverSmb(folder + "/" + below);
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\jbloggs:ALLOWED/" + flags + "/FULL")) << below.toStdString();
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\School Admins:ALLOWED/" + flags + "/FULL")) << below.toStdString();
    }
    // The protected child is skipped by the propagation and stays protected.
    EXPECT_EQ(aclOverSmb(folder + "/Locked"), lockedBefore);
    EXPECT_FALSE(aclOverSmb(folder + "/Locked/private.txt").join('\n').contains("jbloggs"));

    // A second run, the account named by its realm, finds the grant already there and adds no entry.
    const QStringList file = aclOverSmb(folder + "/FromDisk/photo.jpg");
    const ToolRun again = runCacls({unc, "/e", "/g", "jbloggs@school.local:F"}, options);
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(aclOverSmb(folder), after);
    EXPECT_EQ(aclOverSmb(folder + "/FromDisk/photo.jpg"), file);
}

TEST_F(CaclsSmb, eachFailureSaysWhatIsWrongAndChangesNothing)
{
    const QString stored = storedAcls();
    const QString unc = dc.homesUnc + "\\" + folder;
    expectFailure(unc, "corvane-nosuchuser", options, "unknown account \"corvane-nosuchuser\"");
    expectFailure(unc + "\\NoSuchFolder", "jbloggs", options, "folder not found");
    expectFailure("\\\\" + dc.smbServer + "\\nosuchshare$\\" + folder, "jbloggs", options, "share not found");
    expectFailure("\\\\nosuchserver." + dc.realm.toLower() + "\\homes$\\" + folder, "jbloggs", options,
                  "cannot reach the server");
    expectFailure("\\\\" + dc.address + "\\homes$\\" + folder, "jbloggs", options, "given as an address");

    ToolOptions staff = options; // t.brown may not change the permissions
    staff.env.insert("KRB5CCNAME", dc.staffCcname);
    expectFailure(unc, "t.brown", staff, "access denied");
    ToolOptions noTicket = options;
    noTicket.env.insert("KRB5CCNAME", "FILE:" + m_tmp.path() + "/no-such-ccache");
    expectFailure(unc, "jbloggs", noTicket, "no valid Kerberos ticket");

    EXPECT_EQ(storedAcls().toStdString(), stored.toStdString());
}
