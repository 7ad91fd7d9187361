#include "ScopedEnv.h"
#include "WizardFixture.h"

#include "Screenshot.h"
#include "directory_update/HomePathUpdate.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>

namespace {

// The permission tool's stand-in where the test checks how it is called, not
// what it does: it records its arguments and fails for folders ending in failFor.
void writeToolStandIn(const QString& appDir, const QString& record, const QString& failFor = "#none#")
{
    QFile f(appDir + "/resources/cacls");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QString("#!/bin/sh\n"
                    "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n"
                    "printf -- '--\\n' >> '%1'\n"
                    "case \"$1\" in *%2) echo 'Access is denied.'; exit 5;; esac\n"
                    "exit 0\n")
                .arg(record, failFor)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QList<QStringList> toolCalls(const QString& record)
{
    QFile f(record);
    QList<QStringList> calls;
    if (!f.open(QIODevice::ReadOnly))
        return calls;
    QStringList args;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        if (line == "--") {
            calls << args;
            args.clear();
        } else {
            args << line;
        }
    }
    return calls;
}

} // namespace

class UpdateTest : public WizardTest {
protected:
    void SetUp() override
    {
        WizardTest::SetUp();
        if (HasFatalFailure())
            return;
        record = app.path() + "/tool-calls.txt";
        writeToolStandIn(app.path(), record);
    }
    void TearDown() override
    {
        for (const QString& ou : made)
            LdapTool::deleteTree(ou);
        WizardTest::TearDown();
    }
    // A test OU below the domain root, fresh for each test.
    QString makeOu(const QString& name, const QString& parent = {})
    {
        const QString p = parent.isEmpty() ? dc.baseDn : parent;
        const QString ou = "OU=" + name + "," + p;
        if (parent.isEmpty()) {
            LdapTool::deleteTree(ou);
            made << ou;
        }
        EXPECT_TRUE(LdapTool::addOu(p, name));
        return ou;
    }
    QString makeUser(const QString& ou, const QString& sam)
    {
        EXPECT_TRUE(LdapTool::addUser(ou, "User " + sam, sam));
        return "CN=User " + sam + "," + ou;
    }
    QString home(const QString& userDn) { return LdapTool::values(userDn, "homeDirectory").value(0); }
    // The logon names of an OU's users in the order the server enumerates them.
    static QStringList samsInServerOrder(const QString& ou)
    {
        QStringList sams;
        for (const QString& userDn : LdapTool::dns(ou, "one", DirectorySession::userFilter()))
            sams << LdapTool::values(userDn, "sAMAccountName").value(0);
        return sams;
    }
    QStringList logLines()
    {
        QStringList out;
        const QString log = QString::fromUtf8(app.readFile("logs/" + HomePathUpdate::LogNameNow() + ".txt"));
        for (const QString& line : log.split("\r\n", Qt::SkipEmptyParts))
            out << line.section(" : ", 1).chopped(1); // the message between the time stamp and the quote
        return out;
    }
    // Steps 1 to 3 as the operator goes through them; returns the boxes shown.
    void runWizard(const QString& ou, bool subtree, ScriptedMsgBox& boxes)
    {
        frmLDAPUpdate* w = openWizard();
        if (!subtree)
            clickCheckBox(w->chkSubTree);
        setTick(w->nodeByKey(ou), true);
        click(w->cmdCheckOU);
        ASSERT_TRUE(w->cmdGo->isEnabled()) << w->lblStep2MemberCount->text().toStdString();
        boxes.push(MsgBoxAnswer::Yes);
        click(w->cmdGo);
    }

    QString record;
    QStringList made;
};

TEST_F(UpdateTest, oneLevelRunUpdatesExactlyTheOusUserAccountsAndFixesTheirPermissions)
{
    const QString path = "\\\\files\\home dirs\\";
    writeSettings("School Admins", path);
    const QString ou = makeOu("RunOne");
    const QString a = makeUser(ou, "r1.a");
    const QString b = makeUser(ou, "r1.b");
    ASSERT_EQ(LdapTool::modify(QString("dn: CN=Lab PC,%1\nchangetype: add\nobjectClass: computer\n"
                                       "sAMAccountName: LABPC$\n\n")
                                   .arg(ou))
                  .exitCode,
              0);
    ASSERT_EQ(
        LdapTool::modify(QString("dn: CN=A Parent,%1\nchangetype: add\nobjectClass: contact\n\n").arg(ou)).exitCode, 0);
    const QString sub = makeOu("Sub", ou);
    const QString c = makeUser(sub, "r1.c");

    // While it runs: the captions move, and the window will not close.
    QStringList captions;
    QList<bool> closed;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (form && form->lblPROGRESS->text().startsWith("Updating User: ") &&
            !captions.contains(form->lblPROGRESS->text()))
            captions << form->lblPROGRESS->text();
        if (form && form->isUpdating() && closed.isEmpty())
            closed << form->close();
    });
    sampler.start(0);
    ScriptedMsgBox boxes;
    runWizard(ou, false, boxes);
    sampler.stop();
    frmLDAPUpdate* w = form;
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "Are you sure you want to update the selected users?\r\nThis update cannot be "
                                     "stopped once it has been started.");
    EXPECT_EQ(boxes.calls()[0].style, vbYesNo | vbQuestion);
    EXPECT_EQ(closed, QList<bool>{false});
    EXPECT_TRUE(captions.contains("Updating User: r1.a")) << captions.join('|').toStdString();

    EXPECT_EQ(home(a), path + "r1.a");
    EXPECT_EQ(home(b), path + "r1.b");
    EXPECT_EQ(home(c), "") << "one level: the child OU is left alone";
    EXPECT_EQ(home("CN=Lab PC," + ou), "") << "computers get no home folder";

    QStringList lines, undoRows;
    QList<QStringList> calls;
    for (const QString& sam : samsInServerOrder(ou)) {
        lines << sam + " Updated Home Path" << sam + " Fixed Home Drive Permissions";
        // One argument each, blanks and all: user first, then the administrators' group.
        calls << QStringList{path + sam, "/e", "/g", sam + ":F"}
              << QStringList{path + sam, "/e", "/g", "School Admins:F"};
        undoRows << "\"CN=User " + sam + "," + ou + "\"," + sam + ",," + path + sam + "\r\n";
    }
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(logLines(), lines);
    EXPECT_EQ(toolCalls(record), calls);

    EXPECT_TRUE(w->frmeStep3->isVisible());
    EXPECT_EQ(w->lblPROGRESS->text(), "Updates complete.");
    EXPECT_EQ(w->lblProgressPercent->text(), "100%");
    EXPECT_EQ(w->ProgressBar1->value(), 2);
    EXPECT_TRUE(w->cmdFinish->isEnabled());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w->close()) << "only Finish leads on";
    EXPECT_EQ(menuShown, 0);

    const QStringList undo = QDir(app.path() + "/logs").entryList({"LDAP_undo_*.csv"});
    ASSERT_EQ(undo.size(), 1);
    EXPECT_EQ(QString::fromUtf8(app.readFile("logs/" + undo[0])),
              "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory\r\n" + undoRows.join(""));

    renderWindow(w, "frmLDAPUpdate_step3");
    w->setAttribute(Qt::WA_DeleteOnClose, true);
    QPointer<frmLDAPUpdate> guard = w;
    click(w->cmdFinish);
    EXPECT_EQ(menuShown, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(UpdateTest, deepRunGoesParentFirstThenEachChildOuDepthFirst)
{
    writeSettings("School Admins", "/srv/homes/");
    const QString ou = makeOu("RunDeep");
    makeUser(ou, "d.0");
    const QString a = makeOu("A", ou);
    makeUser(a, "a.1");
    const QString aa = makeOu("AA", a);
    makeUser(aa, "aa.1");
    const QString bb = makeOu("B", ou);
    makeUser(bb, "b.1");

    ScriptedMsgBox boxes;
    openWizard();
    clickCheckBox(form->chkFixPerms);
    EXPECT_EQ(form->FixPermissions, 0);
    setTick(form->nodeByKey(ou), true);
    click(form->cmdCheckOU);
    EXPECT_EQ(form->lblStep2MemberCount->text(), "4");
    boxes.push(MsgBoxAnswer::Yes);
    click(form->cmdGo);

    // Children in the server's order, each with all of its descendants before the next.
    QStringList order{"d.0"};
    for (const QString& child : LdapTool::dns(ou, "one", "(objectClass=organizationalUnit)"))
        order << (child == a ? QStringList{"a.1", "aa.1"} : QStringList{"b.1"});
    QStringList expected;
    for (const QString& sam : order)
        expected << sam + " Updated Home Path";
    EXPECT_EQ(logLines(), expected);
    EXPECT_TRUE(toolCalls(record).isEmpty()) << "no permission fix asked for";
    EXPECT_EQ(LdapTool::values("CN=User aa.1," + aa, "homeDirectory"), QStringList{"/srv/homes/aa.1"});
    EXPECT_EQ(form->lblPROGRESS->text(), "Updates complete.");
    EXPECT_EQ(form->lblProgressPercent->text(), "100%");
    EXPECT_EQ(form->ProgressBar1->maximum(), 4);
}

TEST_F(UpdateTest, aRefusedWriteOrAFailingToolIsLoggedAndTheRunGoesOn)
{
    writeSettings("School Admins", "/srv/homes/");
    writeToolStandIn(app.path(), record, "m.3");
    const QString ou = makeOu("RunDeny");
    const QString m1 = makeUser(ou, "m.1");
    const QString m2 = makeUser(ou, "m.2");
    const QString m3 = makeUser(ou, "m.3");
    // Nobody, the domain's administrators included, may write m.2's attributes.
    QProcess acl;
    acl.start("samba-tool", {"dsacl", "set", "-H", dc.ldapUri, "-U", "Administrator%" + dc.adminPassword,
                             "--use-kerberos=off", "--objectdn=" + m2, "--sddl=(D;;WP;;;WD)"});
    ASSERT_TRUE(acl.waitForFinished(60000));
    ASSERT_EQ(acl.exitCode(), 0) << acl.readAllStandardError().toStdString();

    ScriptedMsgBox boxes;
    runWizard(ou, false, boxes);
    EXPECT_EQ(home(m1), "/srv/homes/m.1");
    EXPECT_EQ(home(m2), "");
    EXPECT_EQ(home(m3), "/srv/homes/m.3");
    const QStringList lines = logLines();
    QStringList expected;
    for (const QString& sam : samsInServerOrder(ou)) {
        if (sam == "m.2")
            expected << "m.2 Update Failed: Insufficient access: 00002098: Object " + m2 +
                            " has no write property access";
        else if (sam == "m.3")
            expected << "m.3 Updated Home Path"
                     << "m.3 Fix Home Drive Permissions Failed: Access is denied.; Access is denied.";
        else
            expected << sam + " Updated Home Path" << sam + " Fixed Home Drive Permissions";
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(form->lblPROGRESS->text(),
              "Updates complete with 2 errors - see the log " + HomePathUpdate::LogNameNow() + ".txt.");
    EXPECT_EQ(form->lblProgressPercent->text(), "100%");
    EXPECT_TRUE(form->cmdFinish->isEnabled());
}

TEST_F(UpdateTest, anEmptyUserPathStopsBeforeAnyWrite)
{
    writeSettings("School Admins", "");
    const QString ou = makeOu("RunEmpty");
    const QString u = makeUser(ou, "e.1");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    openWizard();
    setTick(form->nodeByKey(ou), true);
    click(form->cmdCheckOU);
    click(form->cmdGo);
    ASSERT_EQ(boxes.calls().size(), 1u) << "no confirmation: there is nothing sound to confirm";
    EXPECT_TRUE(boxes.calls()[0].text.contains("User Folder Path")) << boxes.calls()[0].text.toStdString();
    EXPECT_TRUE(form->frmeStep2->isVisible());
    EXPECT_FALSE(form->isUpdating());
    EXPECT_EQ(home(u), "");
    EXPECT_TRUE(toolCalls(record).isEmpty());
    EXPECT_TRUE(form->close());
}

TEST_F(UpdateTest, answeringNoLeavesStepTwoAsItWas)
{
    writeSettings("School Admins", "/srv/homes/");
    const QString ou = makeOu("RunNo");
    const QString u = makeUser(ou, "n.1");
    ScriptedMsgBox boxes{MsgBoxAnswer::No};
    openWizard();
    setTick(form->nodeByKey(ou), true);
    click(form->cmdCheckOU);
    click(form->cmdGo);
    EXPECT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(form->frmeStep2->isVisible());
    EXPECT_TRUE(form->cmdGo->isEnabled());
    EXPECT_EQ(home(u), "");
    EXPECT_TRUE(form->close());
    EXPECT_EQ(menuShown, 1);
}

TEST_F(UpdateTest, usersAddedAfterTheCountGrowTheProgressBarInsteadOfEndingTheRun)
{
    writeSettings("School Admins", "/srv/homes/");
    const QString ou = makeOu("RunGrow");
    const QString g1 = makeUser(ou, "g.1");
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes};
    openWizard();
    clickCheckBox(form->chkFixPerms);
    setTick(form->nodeByKey(ou), true);
    click(form->cmdCheckOU);
    EXPECT_EQ(form->UserCount, 1);
    const QString g2 = makeUser(ou, "g.2");
    click(form->cmdGo);
    EXPECT_EQ(home(g1), "/srv/homes/g.1");
    EXPECT_EQ(home(g2), "/srv/homes/g.2");
    EXPECT_EQ(form->ProgressBar1->maximum(), 2);
    EXPECT_EQ(form->ProgressBar1->value(), 2);
    EXPECT_EQ(form->lblProgressPercent->text(), "100%");
    EXPECT_EQ(form->lblPROGRESS->text(), "Updates complete.");
}

namespace {

QString getfacl(const QString& path)
{
    QProcess p;
    p.start("getfacl", {"-n", "-p", "-c", path});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

void writeFile(const QString& path, const QByteArray& data, QFile::Permissions perms)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    f.setPermissions(perms);
}

} // namespace

// The permission tool itself: the accounts resolve through NSS (nss_wrapper's
// passwd and group files stand in for winbind), the folders are real.
TEST_F(UpdateTest, theFixGrantsTheUserAndTheAdminGroupFullControlOnTheWholeHomeFolder)
{
    const QString tool = QStringLiteral(CORVANE_APP_DIR "/resources/cacls");
    ASSERT_TRUE(QFile::exists(tool)) << "the permission tool is built with the program";
    QFile::remove(app.path() + "/resources/cacls");
    ASSERT_TRUE(QFile::copy(tool, app.path() + "/resources/cacls"));

    const QString homes = app.path() + "/home dirs/";
    writeSettings("School Admins", homes);
    QFile passwd("/etc/passwd"), group("/etc/group");
    ASSERT_TRUE(passwd.open(QIODevice::ReadOnly) && group.open(QIODevice::ReadOnly));
    writeFile(app.path() + "/passwd",
              passwd.readAll() + "f.one:x:3100001:3100001::/nonexistent:/usr/sbin/nologin\n"
                                 "f.two:x:3100002:3100001::/nonexistent:/usr/sbin/nologin\n",
              QFile::ReadOwner | QFile::WriteOwner);
    writeFile(app.path() + "/group", group.readAll() + "School Admins:x:3100100:\n",
              QFile::ReadOwner | QFile::WriteOwner);
    for (const QString sam : {"f.one", "f.two"}) {
        ASSERT_TRUE(QDir().mkpath(homes + sam + "/Documents/Year7"));
        writeFile(homes + sam + "/Documents/essay.txt", "essay\n", QFile::ReadOwner | QFile::WriteOwner);
        writeFile(homes + sam + "/run.sh", "#!/bin/sh\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // An entry someone else made before: an edit keeps it.
    ASSERT_EQ(QProcess::execute("setfacl", {"-m", "u:4242:r-x", homes + "f.one"}), 0);

    const QString ou = makeOu("RunFix");
    makeUser(ou, "f.one");
    makeUser(ou, "f.two");
    {
        ScopedEnv env; // for the tool only: this process has long been loaded
        env.set("LD_PRELOAD", dc.nssWrapperSo.toUtf8());
        env.set("NSS_WRAPPER_PASSWD", (app.path() + "/passwd").toUtf8());
        env.set("NSS_WRAPPER_GROUP", (app.path() + "/group").toUtf8());
        env.set("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        ScriptedMsgBox boxes;
        runWizard(ou, true, boxes);
    }
    EXPECT_EQ(form->lblPROGRESS->text(), "Updates complete.")
        << QString::fromUtf8(app.readFile("logs/" + HomePathUpdate::LogNameNow() + ".txt")).toStdString();
    const QStringList lines = logLines();
    EXPECT_TRUE(lines.contains("f.one Fixed Home Drive Permissions")) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains("f.two Fixed Home Drive Permissions"));

    for (const auto& [sam, uid] : {std::pair<QString, QString>{"f.one", "3100001"}, {"f.two", "3100002"}}) {
        for (const QString& folder : {homes + sam, homes + sam + "/Documents", homes + sam + "/Documents/Year7"}) {
            const QString acl = getfacl(folder);
            for (const QString& entry : QStringList{"user:" + uid + ":rwx", "group:3100100:rwx",
                                                    "default:user:" + uid + ":rwx", "default:group:3100100:rwx"})
                EXPECT_TRUE(acl.contains(entry + "\n"))
                    << folder.toStdString() << " lacks " << entry.toStdString() << "\n"
                    << acl.toStdString();
        }
        const QString essay = getfacl(homes + sam + "/Documents/essay.txt");
        EXPECT_TRUE(essay.contains("user:" + uid + ":rw-\n")) << essay.toStdString();
        EXPECT_TRUE(essay.contains("group:3100100:rw-\n")) << essay.toStdString();
        EXPECT_FALSE(essay.contains("default:")) << "files have no default entries";
        EXPECT_TRUE(getfacl(homes + sam + "/run.sh").contains("user:" + uid + ":rwx\n"));
    }
    EXPECT_TRUE(getfacl(homes + "f.one").contains("user:4242:r-x\n")) << "other entries are kept";
    EXPECT_FALSE(getfacl(homes + "f.two").contains("user:3100001:")) << "each user on their own folder only";
}
