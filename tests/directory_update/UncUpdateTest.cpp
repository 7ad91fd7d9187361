#include "ScopedEnv.h"
#include "WizardFixture.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>

// The whole update through the wizard with the user path on the fixture's SMB share
// (\\<server>\homes$\) and the real permission tool, read back over SMB as a Windows
// admin would check it. What the tool keeps and refuses is tested with the tool itself.
class UncUpdate : public WizardTest {
protected:
    void SetUp() override
    {
        WizardTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_FALSE(dc.homesDir.isEmpty() || dc.homesUnc.isEmpty() || dc.nssWrapperSo.isEmpty());
        QFile::remove(app.path() + "/resources/cacls");
        ASSERT_TRUE(QFile::copy(CORVANE_APP_DIR "/resources/cacls", app.path() + "/resources/cacls"));
    }
    void TearDown() override
    {
        for (const QString& sam : homes)
            QDir(dc.homesDir + "/" + sam).removeRecursively();
        WizardTest::TearDown();
    }
    // An SMB client; the server's name resolves only through nss_wrapper, preloaded for children.
    QString smb(const QString& program, const QStringList& args) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", dc.nssWrapperSo);
        env.insert("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts);
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, QStringList{"-s", dc.smbConf, "--use-kerberos=required", "-N", dc.smbShare} + args);
        const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(ok) << args.join(' ').toStdString() << ": " << out.toStdString()
                        << p.readAllStandardError().toStdString();
        return out;
    }
    QString acl(const QString& path) const { return smb("smbcacls", {path}); }
    // A user and a home folder with a sub-folder and a file, made over SMB.
    void seedUser(const QString& ou, const QString& sam)
    {
        makeUser(ou, sam);
        QDir(dc.homesDir + "/" + sam).removeRecursively(); // left by an earlier run
        homes << sam;
        smb("smbclient", {"-c", QString("mkdir %1; mkdir %1\\Documents; put %2 %1\\Documents\\essay.txt")
                                    .arg(sam, app.path() + "/resources/cacls")});
    }
    // Tick the OU, Check OU, Confirm, Yes; the permission fix is on as the wizard opens.
    void runWizard(const QString& ou, const QString& group)
    {
        writeSettings(group, dc.homesUnc + "\\");
        ScopedEnv env; // the tool and its smbcacls need the server's name resolved
        env.set("LD_PRELOAD", dc.nssWrapperSo.toUtf8());
        env.set("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts.toUtf8());
        env.set("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        ScriptedMsgBox boxes{MsgBoxAnswer::Yes};
        frmLDAPUpdate* w = openWizard();
        ASSERT_TRUE(w->chkFixPerms->isChecked());
        setTick(w->nodeByKey(ou), true);
        click(w->cmdCheckOU);
        click(w->cmdGo);
        EXPECT_EQ(boxes.calls().size(), 1u);
    }

    QStringList homes;
};

TEST_F(UncUpdate, grantsUserAndGroupFullControlOnEachHomeFolderAndItsContentOverSmb)
{
    const QString ou = makeOu("UncRun");
    seedUser(ou, "unc.ann");
    seedUser(ou, "unc.ben");

    runWizard(ou, dc.adminGroup);

    QStringList expected;
    for (const QString& sam : samsInServerOrder(ou))
        expected << sam + " Updated Home Path" << sam + " Fixed Home Drive Permissions";
    EXPECT_EQ(logLines(), expected);
    EXPECT_EQ(form->lblPROGRESS->text(), "Updates complete.");
    EXPECT_EQ(LdapTool::values("CN=User unc.ann," + ou, "homeDirectory"), QStringList{dc.homesUnc + "\\unc.ann"});
    for (const QString& sam : homes) {
        const QString other = sam == "unc.ann" ? "unc.ben" : "unc.ann";
        for (const QString& account : {dc.domain + "\\" + sam, dc.domain + "\\" + dc.adminGroup}) {
            EXPECT_TRUE(acl(sam).contains("ACL:" + account + ":ALLOWED/OI|CI/FULL\n")) << acl(sam).toStdString();
            EXPECT_TRUE(acl(sam + "/Documents").contains("ACL:" + account + ":ALLOWED/OI|CI|I/FULL\n"));
            EXPECT_TRUE(acl(sam + "/Documents/essay.txt").contains("ACL:" + account + ":ALLOWED/I/FULL\n"));
        }
        EXPECT_FALSE(acl(sam).contains(other)) << "each user on their own folder only";
    }
}

// The user's call grants; the call for a group the server does not know changes
// nothing, and the user is logged as failed.
TEST_F(UncUpdate, anUnknownAdminGroupGetsNothingAndIsLoggedAsAFailure)
{
    const QString badGroup = "Corvane No Such Group";
    const QString ou = makeOu("UncBadGroup");
    seedUser(ou, "unc.cat");

    runWizard(ou, badGroup);

    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "unc.cat Updated Home Path");
    EXPECT_TRUE(lines[1].startsWith("unc.cat Fix Home Drive Permissions Failed: cacls: unknown account \"" + badGroup +
                                    "\": the server knows no such user or group"))
        << lines[1].toStdString();
    EXPECT_FALSE(lines[1].contains("; cacls:")) << "only the group's call failed";
    EXPECT_EQ(form->lblPROGRESS->text(),
              "Updates complete with 1 errors - see the log " + HomePathUpdate::LogNameNow() + ".txt.");
    EXPECT_TRUE(acl("unc.cat").contains("ACL:" + dc.domain + "\\unc.cat:ALLOWED/OI|CI/FULL\n"));
    EXPECT_FALSE(acl("unc.cat/Documents/essay.txt").contains(badGroup));
}
