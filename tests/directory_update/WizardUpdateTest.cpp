#include "WizardFixture.h"

#include "Screenshot.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>

class UpdateTest : public WizardTest {
protected:
    // The permission tool's stand-in where the test checks how it is called: it records
    // each call as one line of arguments and fails for folders ending in failFor.
    void writeToolStandIn(const QString& failFor = "#none#")
    {
        QFile f(app.path() + "/resources/cacls");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QString("#!/bin/sh\nprintf '%s|' \"$@\" >> '%1'; echo >> '%1'\n"
                        "case \"$1\" in *%2) echo 'Access is denied.'; exit 5;; esac\n")
                    .arg(record, failFor)
                    .toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QStringList toolCalls() const
    {
        QFile f(record);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList{};
    }
    static QString home(const QString& userDn) { return LdapTool::values(userDn, "homeDirectory").value(0); }
    // Steps 1 to 3 as the operator goes through them.
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

    QString record = app.path() + "/tool-calls.txt";
};

TEST_F(UpdateTest, oneLevelRunUpdatesExactlyTheOusUsersAndLogsEachFailureWithoutStopping)
{
    const QString path = "\\\\files\\home dirs\\";
    writeSettings("School Admins", path);
    writeToolStandIn("r.c");
    const QString ou = makeOu("RunOne");
    const QString a = makeUser(ou, "r.a"), b = makeUser(ou, "r.b"), c = makeUser(ou, "r.c");
    ASSERT_EQ(LdapTool::modify(QString("dn: CN=Lab PC,%1\nchangetype: add\nobjectClass: computer\n"
                                       "sAMAccountName: LABPC$\n\n")
                                   .arg(ou))
                  .exitCode,
              0);
    const QString s = makeUser(makeOu("Sub", ou), "r.s");
    // Nobody, the domain's administrators included, may write r.b's attributes.
    QProcess acl;
    acl.start("samba-tool", {"dsacl", "set", "-H", dc.ldapUri, "-U", "Administrator%" + dc.adminPassword,
                             "--use-kerberos=off", "--objectdn=" + b, "--sddl=(D;;WP;;;WD)"});
    ASSERT_TRUE(acl.waitForFinished(60000));
    ASSERT_EQ(acl.exitCode(), 0) << acl.readAllStandardError().toStdString();

    QList<bool> closed; // the window will not close while the run goes on
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (form && form->isUpdating() && closed.isEmpty())
            closed << form->close();
    });
    sampler.start(0);
    ScriptedMsgBox boxes;
    runWizard(ou, false, boxes);
    sampler.stop();
    EXPECT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(closed, QList<bool>{false});

    EXPECT_EQ(home(a), path + "r.a");
    EXPECT_EQ(home(b), "");
    EXPECT_EQ(home(c), path + "r.c");
    EXPECT_EQ(home(s), "") << "one level: the child OU is left alone";
    EXPECT_EQ(home("CN=Lab PC," + ou), "") << "computers get no home folder";
    QStringList lines, calls, undoRows;
    for (const QString& sam : samsInServerOrder(ou)) {
        if (sam == "r.b") {
            lines << "r.b Update Failed: Insufficient access: 00002098: Object " + b + " has no write property access";
            continue;
        }
        lines << sam + " Updated Home Path"
              << (sam == "r.c" ? "r.c Fix Home Drive Permissions Failed: Access is denied.; Access is denied."
                               : sam + " Fixed Home Drive Permissions");
        // One argument each, blanks and all: user first, then the administrators' group.
        calls << path + sam + "|/e|/g|" + sam + ":F|" << path + sam + "|/e|/g|School Admins:F|";
        undoRows << "\"CN=User " + sam + "," + ou + "\"," + sam + ",," + path + sam + "\r\n";
    }
    EXPECT_EQ(logLines(), lines);
    EXPECT_EQ(toolCalls(), calls);
    EXPECT_EQ(form->lblPROGRESS->text(),
              "Updates complete with 2 errors - see the log " + HomePathUpdate::LogNameNow() + ".txt.");
    EXPECT_EQ(form->lblProgressPercent->text(), "100%");
    const QStringList undo = QDir(app.path() + "/logs").entryList({"LDAP_undo_*.csv"});
    ASSERT_EQ(undo.size(), 1);
    EXPECT_EQ(QString::fromUtf8(app.readFile("logs/" + undo[0])),
              "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory\r\n" + undoRows.join(""));

    renderWindow(form, "frmLDAPUpdate_step3");
    EXPECT_FALSE(form->close()) << "only Finish leads on";
    click(form->cmdFinish);
    EXPECT_EQ(menuShown, 1);
}

TEST_F(UpdateTest, deepRunGoesParentFirstThenEachChildDepthFirstAndTakesUsersAddedAfterTheCount)
{
    writeSettings("School Admins", "/srv/homes/");
    writeToolStandIn();
    const QString ou = makeOu("RunDeep");
    makeUser(ou, "d.0");
    const QString a = makeOu("A", ou);
    makeUser(a, "a.1");
    const QString aa = makeOu("AA", a);
    makeUser(aa, "aa.1");
    makeUser(makeOu("B", ou), "b.1");

    ScriptedMsgBox boxes{MsgBoxAnswer::Yes};
    openWizard();
    clickCheckBox(form->chkFixPerms);
    setTick(form->nodeByKey(ou), true);
    click(form->cmdCheckOU);
    EXPECT_EQ(form->lblStep2MemberCount->text(), "4");
    makeUser(ou, "d.1");
    click(form->cmdGo);

    QStringList order = samsInServerOrder(ou);
    for (const QString& child : LdapTool::dns(ou, "one", "(objectClass=organizationalUnit)"))
        order << (child == a ? QStringList{"a.1", "aa.1"} : QStringList{"b.1"});
    QStringList expected;
    for (const QString& sam : order)
        expected << sam + " Updated Home Path";
    EXPECT_EQ(logLines(), expected);
    EXPECT_TRUE(toolCalls().isEmpty()) << "no permission fix asked for";
    EXPECT_EQ(home("CN=User aa.1," + aa), "/srv/homes/aa.1");
    EXPECT_EQ(form->lblPROGRESS->text(), "Updates complete.");
    EXPECT_EQ(form->ProgressBar1->maximum(), 5) << "the bar grows instead of the run ending early";
    EXPECT_EQ(form->ProgressBar1->value(), 5);
}

TEST_F(UpdateTest, anEmptyUserPathOrAnsweringNoChangesNothing)
{
    writeSettings("School Admins", "");
    writeToolStandIn();
    const QString u = makeUser(makeOu("RunNo"), "n.1");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::No};
    openWizard();
    setTick(form->nodeByKey(made[0]), true);
    click(form->cmdCheckOU);
    click(form->cmdGo);
    ASSERT_EQ(boxes.calls().size(), 1u) << "no confirmation: there is nothing sound to confirm";
    EXPECT_TRUE(boxes.calls()[0].text.contains("User Folder Path")) << boxes.calls()[0].text.toStdString();

    writeSettings("School Admins", "/srv/homes/");
    click(form->cmdBack);
    setTick(form->nodeByKey(made[0]), true);
    click(form->cmdCheckOU);
    click(form->cmdGo);
    EXPECT_EQ(boxes.calls().size(), 2u);
    EXPECT_TRUE(form->frmeStep2->isVisible());
    EXPECT_FALSE(form->isUpdating());
    EXPECT_EQ(home(u), "");
    EXPECT_TRUE(toolCalls().isEmpty());
    EXPECT_TRUE(form->close());
    EXPECT_EQ(menuShown, 1);
}
