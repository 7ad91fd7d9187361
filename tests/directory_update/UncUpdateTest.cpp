#include "ScopedEnv.h"
#include "WizardFixture.h"

#include "directory_update/HomePathUpdate.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// The whole update through the wizard with the user path on the fixture's SMB
// share (\\<server>\homes$\) and the real permission tool: home folders seeded
// over SMB, every result read back over SMB with smbcacls, as a Windows admin
// would check it, and from the server's own store on disk.
namespace {

struct ChildRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ChildRun runProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    ChildRun run;
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "could not run " << program.toStdString() << ": " << process.errorString().toStdString();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

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

// Every object of a seeded home folder, relative to it ("" is the folder itself).
const QStringList seededFolders{"", "Documents", "Documents/Year7", "FromDisk"};
const QStringList seededFiles{"readme.txt", "Documents/essay.txt", "Documents/Year7/notes.txt", "FromDisk/photo.jpg"};

const QString noTicket = "cacls: no valid Kerberos ticket: log on to the domain or run kinit first";

} // namespace

class UncUpdate : public WizardTest {
protected:
    void SetUp() override
    {
        WizardTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_FALSE(dc.smbServer.isEmpty() || dc.homesDir.isEmpty() || dc.homesUnc.isEmpty() ||
                     dc.nssWrapperSo.isEmpty())
            << "the fixture's env file lacks the SMB keys";
        ASSERT_TRUE(m_tmp.isValid());
        const QString tool = QStringLiteral(CORVANE_APP_DIR "/resources/cacls");
        ASSERT_TRUE(QFile::exists(tool)) << "the permission tool is built with the program";
        QFile::remove(app.path() + "/resources/cacls");
        ASSERT_TRUE(QFile::copy(tool, app.path() + "/resources/cacls"));
        userPath = dc.homesUnc + "\\";
    }
    void TearDown() override
    {
        for (const QString& ou : made)
            LdapTool::deleteTree(ou);
        for (const QString& sam : homes)
            QDir(dc.homesDir + "/" + sam).removeRecursively();
        WizardTest::TearDown();
    }

    // The server's name resolves only through nss_wrapper, preloaded for children only.
    QProcessEnvironment smbEnv() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", dc.nssWrapperSo);
        env.insert("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts);
        const QString asan = env.value("ASAN_OPTIONS");
        env.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0");
        return env;
    }
    QStringList smbArgs() const { return {"-s", dc.smbConf, "--use-kerberos=required", "-N"}; }

    void smbclient(const QString& commands)
    {
        const ChildRun run = runProgram("smbclient", smbArgs() + QStringList{dc.smbShare, "-c", commands}, smbEnv());
        ASSERT_EQ(run.exitCode, 0) << commands.toStdString() << ": " << run.out.toStdString() << run.err.toStdString();
    }
    void smbcacls(const QStringList& args, const QString& path)
    {
        const ChildRun run = runProgram("smbcacls", smbArgs() + args + QStringList{dc.smbShare, path}, smbEnv());
        ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    }
    // The object's security descriptor as smbcacls prints it, one line per field or entry.
    QStringList aclOverSmb(const QString& path) const
    {
        const ChildRun run = runProgram("smbcacls", smbArgs() + QStringList{dc.smbShare, path}, smbEnv());
        EXPECT_EQ(run.exitCode, 0) << path.toStdString() << ": " << run.out.toStdString() << run.err.toStdString();
        return run.out.split('\n', Qt::SkipEmptyParts);
    }
    // What the server stores for a whole home folder: NT descriptors and POSIX lists.
    // Any write, even one smbcacls would print the same, shows here.
    QString storedAcls(const QString& sam) const
    {
        const ChildRun run = runProgram("getfattr",
                                        {"-R", "-d", "-e", "hex", "--absolute-names", "-m",
                                         "^(security[.]NTACL|system[.]posix_acl_.*)$", dc.homesDir + "/" + sam},
                                        QProcessEnvironment::systemEnvironment());
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("security.NTACL")) << "no NT descriptors stored";
        return run.out;
    }

    // A home folder as a migration leaves it: folders and files made over SMB, one
    // folder written straight to disk (no NT descriptor of its own), one protected folder.
    void seedHome(const QString& sam)
    {
        QDir(dc.homesDir + "/" + sam).removeRecursively(); // left by an earlier run
        homes << sam;
        QFile essay(m_tmp.path() + "/essay.txt");
        ASSERT_TRUE(essay.open(QIODevice::WriteOnly));
        essay.write("essay\n");
        essay.close();
        smbclient(QString("mkdir %1; cd %1; mkdir Documents; mkdir Documents\\Year7; mkdir Locked; "
                          "put %2 readme.txt; put %2 Documents\\essay.txt; put %2 Documents\\Year7\\notes.txt; "
                          "put %2 Locked\\private.txt")
                      .arg(sam, essay.fileName()));
        ASSERT_TRUE(QDir().mkpath(dc.homesDir + "/" + sam + "/FromDisk"));
        QFile photo(dc.homesDir + "/" + sam + "/FromDisk/photo.jpg");
        ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
        photo.write("img");
        photo.close();
        // Locked keeps only its own entries and is protected from inheritance.
        smbcacls({"-I", "copy"}, sam + "/Locked");
    }

    QString makeOu(const QString& name)
    {
        const QString ou = "OU=" + name + "," + dc.baseDn;
        LdapTool::deleteTree(ou);
        made << ou;
        EXPECT_TRUE(LdapTool::addOu(dc.baseDn, name));
        return ou;
    }
    QString makeUser(const QString& ou, const QString& sam)
    {
        EXPECT_TRUE(LdapTool::addUser(ou, "User " + sam, sam));
        return "CN=User " + sam + "," + ou;
    }
    static QStringList samsInServerOrder(const QString& ou)
    {
        QStringList sams;
        for (const QString& userDn : LdapTool::dns(ou, "one", DirectorySession::userFilter()))
            sams << LdapTool::values(userDn, "sAMAccountName").value(0);
        return sams;
    }
    QString log() const { return QString::fromUtf8(app.readFile("logs/" + HomePathUpdate::LogNameNow() + ".txt")); }
    QStringList logLines() const
    {
        QStringList out;
        for (const QString& line : log().split("\r\n", Qt::SkipEmptyParts))
            out << line.section(" : ", 1).chopped(1); // the message between the time stamp and the quote
        return out;
    }

    // Tick the OU, Check OU, Confirm, Yes; the permission fix stays on as the wizard opens.
    void runWizard(const QString& ou)
    {
        ScopedEnv env; // the tool and its smbcacls need the server's name resolved
        env.set("LD_PRELOAD", dc.nssWrapperSo.toUtf8());
        env.set("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts.toUtf8());
        env.set("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        ScriptedMsgBox boxes;
        frmLDAPUpdate* w = openWizard();
        ASSERT_TRUE(w->chkFixPerms->isChecked());
        setTick(w->nodeByKey(ou), true);
        click(w->cmdCheckOU);
        ASSERT_TRUE(w->cmdGo->isEnabled()) << w->lblStep2MemberCount->text().toStdString();
        EXPECT_EQ(w->lblHomePath2->text(), userPath);
        boxes.push(MsgBoxAnswer::Yes);
        click(w->cmdGo);
        EXPECT_EQ(boxes.calls().size(), 1u);
        EXPECT_TRUE(w->cmdFinish->isEnabled());
    }

    QString userPath;
    QStringList made;
    QStringList homes;

private:
    QTemporaryDir m_tmp;
};

TEST_F(UncUpdate, grantsUserAndGroupOnEveryHomeFolderOverSmbAndKeepsWhatWasThere)
{
    writeSettings(dc.adminGroup, userPath);
    const QString ou = makeOu("UncRun");
    const QString ann = makeUser(ou, "unc.ann");
    const QString ben = makeUser(ou, "unc.ben");
    seedHome("unc.ann");
    seedHome("unc.ben");
    // Entries of others that must survive, one of them a deny (canonical order puts it first).
    smbcacls({"-a", "ACL:" + dc.domain + "\\s.green:ALLOWED/0x0/READ," + "ACL:" + dc.domain + "\\k.white:DENIED/0x0/D"},
             "unc.ann");
    QMap<QString, QStringList> before, lockedBefore;
    for (const QString& sam : {QString("unc.ann"), QString("unc.ben")}) {
        before[sam] = aclOverSmb(sam);
        lockedBefore[sam] = aclOverSmb(sam + "/Locked");
        ASSERT_TRUE(lineStarting(lockedBefore[sam], "CONTROL:").contains("PD"));
    }

    runWizard(ou);

    EXPECT_EQ(form->lblPROGRESS->text(), "Updates complete.") << log().toStdString();
    QStringList expected;
    for (const QString& sam : samsInServerOrder(ou))
        expected << sam + " Updated Home Path" << sam + " Fixed Home Drive Permissions";
    ASSERT_EQ(expected.size(), 4);
    EXPECT_EQ(logLines(), expected);
    // What Windows clients map as the home drive.
    EXPECT_EQ(LdapTool::values(ann, "homeDirectory"), QStringList{dc.homesUnc + "\\unc.ann"});
    EXPECT_EQ(LdapTool::values(ben, "homeDirectory"), QStringList{dc.homesUnc + "\\unc.ben"});

    const QString group = dc.domain + "\\" + dc.adminGroup;
    for (const QString& sam : {QString("unc.ann"), QString("unc.ben")}) {
        SCOPED_TRACE(sam.toStdString());
        const QString user = dc.domain + "\\" + sam;
        const QStringList after = aclOverSmb(sam);
        EXPECT_TRUE(after.contains("ACL:" + user + ":ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
        EXPECT_TRUE(after.contains("ACL:" + group + ":ALLOWED/OI|CI/FULL")) << after.join('\n').toStdString();
        for (const QString& entry : entriesOf(before[sam]))
            EXPECT_TRUE(after.contains(entry)) << "lost " << entry.toStdString();
        EXPECT_EQ(entriesOf(after).size(), entriesOf(before[sam]).size() + 2) << after.join('\n').toStdString();
        EXPECT_EQ(lineStarting(after, "OWNER:"), lineStarting(before[sam], "OWNER:"));
        EXPECT_EQ(lineStarting(after, "CONTROL:"), lineStarting(before[sam], "CONTROL:"));
        EXPECT_FALSE(after.join('\n').contains(sam == "unc.ann" ? "unc.ben" : "unc.ann"))
            << "each user on their own folder only";

        for (const QString& child : seededFolders.mid(1)) {
            const QStringList acl = aclOverSmb(sam + "/" + child);
            EXPECT_TRUE(acl.contains("ACL:" + user + ":ALLOWED/OI|CI|I/FULL")) << child.toStdString();
            EXPECT_TRUE(acl.contains("ACL:" + group + ":ALLOWED/OI|CI|I/FULL")) << child.toStdString();
        }
        for (const QString& file : seededFiles) {
            const QStringList acl = aclOverSmb(sam + "/" + file);
            EXPECT_TRUE(acl.contains("ACL:" + user + ":ALLOWED/I/FULL")) << file.toStdString();
            EXPECT_TRUE(acl.contains("ACL:" + group + ":ALLOWED/I/FULL")) << file.toStdString();
        }
        // The protected child is skipped by the propagation and stays protected.
        EXPECT_EQ(aclOverSmb(sam + "/Locked"), lockedBefore[sam]);
        EXPECT_FALSE(aclOverSmb(sam + "/Locked/private.txt").join('\n').contains(sam));
    }
    EXPECT_TRUE(entriesOf(aclOverSmb("unc.ann")).first().contains(":DENIED/")) << "deny entry no longer first";
}

// Each call of the tool is all or nothing: the user's call grants, the call for a
// group the server does not know changes nothing, and the user is logged as failed.
TEST_F(UncUpdate, anUnknownAdminGroupGrantsItNothingAndIsLoggedAsAFailure)
{
    const QString badGroup = "Corvane No Such Group";
    writeSettings(badGroup, userPath);
    const QString ou = makeOu("UncBadGroup");
    const QString cat = makeUser(ou, "unc.cat");
    seedHome("unc.cat");
    // The same home folder granted to the user alone, by the tool directly: what the
    // wizard's first call must leave, and the failed second call must not touch.
    seedHome("unc.cat.ref");
    const ChildRun ref =
        runProgram(app.path() + "/resources/cacls", {dc.homesUnc + "\\unc.cat.ref", "/e", "/g", "unc.cat:F"}, smbEnv());
    ASSERT_EQ(ref.exitCode, 0) << ref.out.toStdString() << ref.err.toStdString();
    QStringList objects;
    for (const QString& path : seededFolders + seededFiles + QStringList{"Locked", "Locked/private.txt"})
        objects << (path.isEmpty() ? QString() : "/" + path);
    QMap<QString, QStringList> before;
    for (const QString& object : objects)
        before[object] = aclOverSmb("unc.cat" + object);

    runWizard(ou);

    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2) << log().toStdString();
    EXPECT_EQ(lines[0], "unc.cat Updated Home Path");
    const QString failed = "unc.cat Fix Home Drive Permissions Failed: cacls: unknown account \"" + badGroup +
                           "\": the server knows no such user or group";
    EXPECT_TRUE(lines[1].startsWith(failed)) << lines[1].toStdString();
    EXPECT_FALSE(lines[1].contains("; cacls:")) << "only the group's call failed: " << lines[1].toStdString();
    EXPECT_EQ(form->lblPROGRESS->text(),
              "Updates complete with 1 errors - see the log " + HomePathUpdate::LogNameNow() + ".txt.");
    EXPECT_EQ(LdapTool::values(cat, "homeDirectory"), QStringList{dc.homesUnc + "\\unc.cat"});

    for (const QString& object : objects) {
        SCOPED_TRACE(object.toStdString());
        const QStringList after = aclOverSmb("unc.cat" + object);
        EXPECT_FALSE(after.join('\n').contains(badGroup));
        EXPECT_EQ(after, aclOverSmb("unc.cat.ref" + object));
        for (const QString& entry : entriesOf(before[object]))
            EXPECT_TRUE(after.contains(entry)) << "lost " << entry.toStdString();
        EXPECT_EQ(lineStarting(after, "OWNER:"), lineStarting(before[object], "OWNER:"));
    }
    EXPECT_TRUE(aclOverSmb("unc.cat").contains("ACL:" + dc.domain + "\\unc.cat:ALLOWED/OI|CI/FULL"));
}

TEST_F(UncUpdate, withoutATicketNothingOnTheShareChangesAndEveryUserIsLoggedAsFailed)
{
    writeSettings(dc.adminGroup, userPath);
    // The tool runs with a credential cache that holds no ticket; the wizard's own
    // directory session keeps the operator's.
    const QString tool = app.path() + "/resources/cacls";
    ASSERT_TRUE(QFile::rename(tool, app.path() + "/resources/cacls.real"));
    QFile wrapper(tool);
    ASSERT_TRUE(wrapper.open(QIODevice::WriteOnly));
    wrapper.write(QString("#!/bin/sh\nKRB5CCNAME=MEMORY:corvane-empty exec '%1.real' \"$@\"\n").arg(tool).toUtf8());
    wrapper.close();
    wrapper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString ou = makeOu("UncNoTicket");
    const QString dan = makeUser(ou, "unc.dan");
    makeUser(ou, "unc.eve");
    QMap<QString, QString> stored;
    for (const QString& sam : {QString("unc.dan"), QString("unc.eve")}) {
        seedHome(sam);
        stored[sam] = storedAcls(sam);
    }

    runWizard(ou);

    QStringList expected;
    for (const QString& sam : samsInServerOrder(ou))
        expected << sam + " Updated Home Path"
                 << sam + " Fix Home Drive Permissions Failed: " + noTicket + "; " + noTicket;
    ASSERT_EQ(expected.size(), 4);
    EXPECT_EQ(logLines(), expected);
    EXPECT_EQ(form->lblPROGRESS->text(),
              "Updates complete with 2 errors - see the log " + HomePathUpdate::LogNameNow() + ".txt.");
    EXPECT_EQ(LdapTool::values(dan, "homeDirectory"), QStringList{dc.homesUnc + "\\unc.dan"});
    for (const QString& sam : {QString("unc.dan"), QString("unc.eve")})
        EXPECT_EQ(storedAcls(sam), stored[sam]) << sam.toStdString();
}
