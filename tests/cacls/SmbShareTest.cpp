#include "SambaDc.h"
#include "ToolRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
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
        ASSERT_FALSE(dc.smbServer.isEmpty() || dc.homesDir.isEmpty() || dc.nssWrapperSo.isEmpty())
            << "the fixture's env file lacks the SMB keys";
        ASSERT_TRUE(m_tmp.isValid());
        folder = QString("cacls-%1").arg(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // Left by an earlier run against the same server.
        ASSERT_TRUE(QDir(dc.homesDir + "/" + folder).removeRecursively());
    }

    // The server's name resolves only through nss_wrapper: preloaded for these children only.
    ToolOptions smbOptions() const
    {
        ToolOptions options;
        options.env.insert("LD_PRELOAD", dc.nssWrapperSo);
        options.env.insert("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts);
        const QString asan = options.env.value("ASAN_OPTIONS");
        options.env.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0");
        return options;
    }

    QStringList smbArgs() const { return {"-s", dc.smbConf, "--use-kerberos=required", "-N"}; }

    void smbclient(const QString& commands)
    {
        const ToolRun run = runProgram("smbclient", smbArgs() + QStringList{dc.smbShare, "-c", commands}, smbOptions());
        ASSERT_EQ(run.exitCode, 0) << commands.toStdString() << ": " << run.out.toStdString() << run.err.toStdString();
    }

    void smbcacls(const QStringList& args, const QString& path)
    {
        const ToolRun run = runProgram("smbcacls", smbArgs() + args + QStringList{dc.smbShare, path}, smbOptions());
        ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    }

    // The object's security descriptor as smbcacls prints it, one line per field or entry.
    QStringList aclOverSmb(const QString& path) const
    {
        const ToolRun run = runProgram("smbcacls", smbArgs() + QStringList{dc.smbShare, path}, smbOptions());
        EXPECT_EQ(run.exitCode, 0) << path.toStdString() << ": " << run.out.toStdString() << run.err.toStdString();
        return run.out.split('\n', Qt::SkipEmptyParts);
    }

    // Every object below the folder with its descriptor (numeric: SIDs, no name lookups),
    // for "the grant is already there" checks.
    QString treeOverSmb(const QString& top) const
    {
        QStringList paths{top};
        QDirIterator it(dc.homesDir + "/" + top, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << top + "/" + QDir(dc.homesDir + "/" + top).relativeFilePath(it.next());
        paths.sort();
        QString tree;
        for (const QString& path : paths) {
            const ToolRun run =
                runProgram("smbcacls", smbArgs() + QStringList{"--numeric", dc.smbShare, path}, smbOptions());
            EXPECT_EQ(run.exitCode, 0) << path.toStdString() << ": " << run.err.toStdString();
            tree += "== " + path + "\n" + run.out;
        }
        return tree;
    }

    // What the server stores for every object below the folder: the NT descriptor and the
    // POSIX lists it maps to. Any write by a failed run would show here.
    QString storedAcls(const QString& top) const
    {
        const ToolRun run =
            runProgram("getfattr", {"-R", "-d", "-e", "hex", "--absolute-names", "-m",
                                    "^(security[.]NTACL|system[.]posix_acl_.*)$", dc.homesDir + "/" + top});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("security.NTACL")) << "no NT descriptors stored";
        return run.out;
    }

    // A home folder as a migration leaves it: folders and files made over SMB, one
    // folder written straight to disk (no NT ACL of its own), one protected folder.
    void seedHome(const QString& name)
    {
        QFile essay(m_tmp.path() + "/essay.txt");
        ASSERT_TRUE(essay.open(QIODevice::WriteOnly));
        essay.write("essay\n");
        essay.close();
        const QString local = essay.fileName();
        smbclient(QString("mkdir %1; cd %1; mkdir Documents; mkdir Documents\\Year7; mkdir Locked; "
                          "put %2 readme.txt; put %2 Documents\\essay.txt; put %2 Documents\\Year7\\notes.txt; "
                          "put %2 Locked\\private.txt")
                      .arg(name, local));
        ASSERT_TRUE(QDir().mkpath(dc.homesDir + "/" + name + "/FromDisk"));
        QFile photo(dc.homesDir + "/" + name + "/FromDisk/photo.jpg");
        ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
        photo.write("img");
        photo.close();
        // Locked keeps only its own entries and is protected from inheritance.
        smbcacls({"-I", "copy"}, name + "/Locked");
    }

    ToolRun runTool(const QStringList& args, ToolOptions options) { return runCacls(args, options); }
    QString unc(const QString& below) const { return dc.homesUnc + "\\" + below; }

    SambaDc dc;
    QString folder;

private:
    QTemporaryDir m_tmp;
};

QStringList entriesOf(const QStringList& acl)
{
    QStringList entries;
    for (const QString& line : acl) {
        if (line.startsWith("ACL:"))
            entries << line;
    }
    return entries;
}

QString lineStarting(const QStringList& acl, const QString& prefix)
{
    for (const QString& line : acl) {
        if (line.startsWith(prefix))
            return line;
    }
    return {};
}

} // namespace

TEST_F(CaclsSmb, grantsUserAndGroupInheritablyAndPropagatesToExistingContent)
{
    seedHome(folder);
    // Entries of others that must survive, one of them a deny (canonical order puts it first).
    smbcacls({"-a", "ACL:SCHOOL\\s.green:ALLOWED/0x0/READ,ACL:SCHOOL\\k.white:DENIED/0x0/D"}, folder);
    const QStringList before = aclOverSmb(folder);
    const QStringList lockedBefore = aclOverSmb(folder + "/Locked");
    ASSERT_TRUE(lineStarting(lockedBefore, "CONTROL:").contains("PD")) << lockedBefore.join('\n').toStdString();

    // As the update runs it: the user, then the administrators' group.
    ToolRun run = runTool({unc(folder), "/e", "/g", "jbloggs:F"}, smbOptions());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    run = runTool({unc(folder), "/e", "/g", dc.adminGroup + ":F"}, smbOptions());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QStringList after = aclOverSmb(folder);
    EXPECT_TRUE(after.contains("ACL:SCHOOL\\jbloggs:ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
    EXPECT_TRUE(after.contains("ACL:SCHOOL\\School Admins:ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
    for (const QString& entry : entriesOf(before))
        EXPECT_TRUE(after.contains(entry)) << "lost " << entry.toStdString();
    EXPECT_EQ(entriesOf(after).size(), entriesOf(before).size() + 2);
    EXPECT_EQ(lineStarting(after, "OWNER:"), lineStarting(before, "OWNER:"));
    EXPECT_EQ(lineStarting(after, "CONTROL:"), lineStarting(before, "CONTROL:"));
    EXPECT_TRUE(entriesOf(after).first().contains(":DENIED/")) << "deny entry no longer first";

    for (const QString& child : {QString("Documents"), QString("Documents/Year7"), QString("FromDisk")}) {
        const QStringList acl = aclOverSmb(folder + "/" + child);
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\jbloggs:ALLOWED/OI|CI|I/FULL")) << child.toStdString();
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\School Admins:ALLOWED/OI|CI|I/FULL")) << child.toStdString();
    }
    for (const QString& file : {QString("readme.txt"), QString("Documents/essay.txt"),
                                QString("Documents/Year7/notes.txt"), QString("FromDisk/photo.jpg")}) {
        const QStringList acl = aclOverSmb(folder + "/" + file);
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\jbloggs:ALLOWED/I/FULL")) << file.toStdString();
        EXPECT_TRUE(acl.contains("ACL:SCHOOL\\School Admins:ALLOWED/I/FULL")) << file.toStdString();
    }
    // The protected child is skipped by the propagation and stays protected.
    EXPECT_EQ(aclOverSmb(folder + "/Locked"), lockedBefore);
    EXPECT_FALSE(aclOverSmb(folder + "/Locked/private.txt").join('\n').contains("jbloggs"));
}

TEST_F(CaclsSmb, acceptsDomainAndRealmFormsAndASecondRunChangesNothing)
{
    seedHome(folder);
    ToolRun run = runTool({unc(folder), "/e", "/g", "SCHOOL\\asmith:F", "it.support@school.local:F"}, smbOptions());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList acl = aclOverSmb(folder);
    EXPECT_TRUE(acl.contains("ACL:SCHOOL\\asmith:ALLOWED/OI|CI/FULL")) << acl.join('\n').toStdString();
    EXPECT_TRUE(acl.contains("ACL:SCHOOL\\it.support:ALLOWED/OI|CI/FULL")) << acl.join('\n').toStdString();

    const QString tree = treeOverSmb(folder);
    run = runTool({unc(folder), "/e", "/g", "asmith:F"}, smbOptions());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(treeOverSmb(folder), tree);
}

TEST_F(CaclsSmb, anUnknownAccountOrAMissingTicketChangesNothing)
{
    seedHome(folder);
    const QString stored = storedAcls(folder);

    ToolRun run = runTool({unc(folder), "/e", "/g", "jbloggs:F", "corvane-nosuchuser:F"}, smbOptions());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("unknown account \"corvane-nosuchuser\"")) << run.err.toStdString();

    ToolOptions noTicket = smbOptions();
    noTicket.env.insert("KRB5CCNAME", "FILE:" + QDir::tempPath() + "/corvane-cacls-no-such-ccache");
    run = runTool({unc(folder), "/e", "/g", "jbloggs:F"}, noTicket);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no valid Kerberos ticket")) << run.err.toStdString();

    // Where klist is missing, smbcacls' own refusal is recognised as well.
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    ASSERT_TRUE(QFile::link("/usr/bin/smbcacls", bin.path() + "/smbcacls"));
    noTicket.env.insert("PATH", bin.path());
    run = runTool({unc(folder), "/e", "/g", "jbloggs:F"}, noTicket);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no valid Kerberos ticket")) << run.err.toStdString();

    EXPECT_EQ(storedAcls(folder), stored);
}

TEST_F(CaclsSmb, eachFailureSaysWhatIsWrongAndChangesNothing)
{
    seedHome(folder);
    const QString stored = storedAcls(folder);

    ToolRun run = runTool({unc(folder + "\\NoSuchFolder"), "/e", "/g", "jbloggs:F"}, smbOptions());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("folder not found")) << run.err.toStdString();

    run = runTool({"\\\\" + dc.smbServer + "\\nosuchshare$\\" + folder, "/e", "/g", "jbloggs:F"}, smbOptions());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("share not found")) << run.err.toStdString();

    ToolOptions staff = smbOptions(); // t.brown may not change the permissions
    staff.env.insert("KRB5CCNAME", dc.staffCcname);
    run = runTool({unc(folder), "/e", "/g", "t.brown:F"}, staff);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("access denied")) << run.err.toStdString();

    run = runTool({"\\\\nosuchserver." + dc.realm.toLower() + "\\homes$\\" + folder, "/e", "/g", "jbloggs:F"},
                  smbOptions());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot reach the server")) << run.err.toStdString();

    run = runTool({"\\\\" + dc.address + "\\homes$\\" + folder, "/e", "/g", "jbloggs:F"}, smbOptions());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("given as an address")) << run.err.toStdString();

    EXPECT_EQ(storedAcls(folder), stored);
}
