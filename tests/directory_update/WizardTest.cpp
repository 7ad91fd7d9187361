#include "LdapTool.h"
#include "SambaDc.h"
#include "ScopedEnv.h"
#include "Screenshot.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "directory_update/HomePathUpdate.h"
#include "directory_update/frmLDAPUpdate.h"
#include "directory_update/frmPreview.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

// A wizard against the fixture's domain, in a temporary application folder
// whose settings file the test writes; the main menu is a counter.
class Wizard : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
        modMain::ComposeAppCaption();
        FormKit::InstallFontSubstitutes(); // as the program's main does
        modMain::SetMainMenuHandler([this] { ++menuShown; });
    }
    void TearDown() override
    {
        delete form.data(); // also when Finish left it to a deferred delete
        modMain::SetMainMenuHandler({});
    }
    void writeSettings(const QString& admGrp, const QString& userPath)
    {
        ASSERT_TRUE(app.writeFile("settings/corvane.ini",
                                  QString("[SETTINGS]\nAdmGrp=%1\nUserPath=%2\n").arg(admGrp, userPath).toUtf8()));
    }
    void openWizard()
    {
        delete form.data();
        form = new frmLDAPUpdate;
        form->show();
        waitIdle(); // the OU tree loads off the window's thread
    }
    // The server's name resolves only through nss_wrapper, preloaded for the children (smbclient, smbcacls).
    void reachSmbServer()
    {
        childEnv.set("LD_PRELOAD", dc.nssWrapperSo.toUtf8());
        childEnv.set("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts.toUtf8());
        childEnv.set("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    }
    // The day's log, each line reduced to the message between the time stamp and the quote.
    // smbcacls's own words, which vary, are cut off.
    QStringList logLines() const
    {
        QStringList out = QString::fromUtf8(app.readFile("logs/" + HomePathUpdate::logNameNow() + ".txt"))
                              .split("\r\n", Qt::SkipEmptyParts);
        for (QString& line : out)
            line = line.section(" : ", 1).chopped(1).section(" [smbcacls:", 0, 0);
        return out;
    }
    // Ticks or unticks a node as the operator does, through its check box.
    void tick(const QString& key)
    {
        QTreeWidgetItem* node = form->nodeByKey(key);
        ASSERT_NE(node, nullptr) << key.toStdString();
        node->setCheckState(0, Qt::Checked);
    }
    // The wizard's controls, found as an operator would name them.
    template <class T> T* control(const char* name) const
    {
        T* w = form ? form->findChild<T*>(QString::fromLatin1(name)) : nullptr;
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }
    QLabel* label(const char* name) const { return control<QLabel>(name); }
    QCheckBox* check(const char* name) const { return control<QCheckBox>(name); }
    QTreeWidget* tree() const { return control<QTreeWidget>("TreeView1"); }
    // The job works off the window's thread; the form reports its end in a slot.
    void waitIdle()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return form && !form->isBusy(); }, 60000));
    }
    void checkOu(const QString& key)
    {
        tick(key);
        button("cmdCheckOU")->click();
        waitIdle();
    }
    QString dn(const QString& rdns) const { return rdns + "," + dc.baseDn; }

    SambaDc dc = SambaDc::load();
    TestOus ous{dc.baseDn};
    TempAppFolder app;
    ScopedEnv childEnv;
    QPointer<frmLDAPUpdate> form;
    int menuShown = 0;
};

// The tree below a node, as "text=key" lines indented by depth.
void collect(QTreeWidgetItem* node, int depth, QStringList& out)
{
    out << QString(depth * 2, ' ') + node->text(0) + "=" + node->data(0, Qt::UserRole).toString();
    for (int i = 0; i < node->childCount(); ++i)
        collect(node->child(i), depth + 1, out);
}

// The same from ldapsearch: each OU's children in the server's order.
void expected(const QString& dn, const QString& text, const QString& key, int depth, QStringList& out)
{
    out << QString(depth * 2, ' ') + text + "=" + key;
    for (const QString& child : ldapValues(dn, "one", "(objectClass=organizationalUnit)"))
        expected(child, child.section(',', 0, 0).mid(3), child, depth + 1, out);
}

// The directory failing to list one OU part way through the walk (Samba hides
// what cannot be listed instead of failing, so the failure is staged).
class FailingWizard : public frmLDAPUpdate {
public:
    QString failAt;

protected:
    QList<DirectoryChild> EnumerateOUs(DirectorySession& s, const QString& container, DirectoryError& err) override
    {
        if (container != failAt)
            return frmLDAPUpdate::EnumerateOUs(s, container, err);
        err.code = 80;
        err.text = "simulated";
        return {};
    }
};

} // namespace

TEST_F(Wizard, showsEveryOuOnceTicksOneAtATimeCountsUsersOnStepTwoAndRefusesAnEmptyPath)
{
    writeSettings("School Admins", "\\\\files.school.local\\homes$\\");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    openWizard();
    ASSERT_EQ(tree()->topLevelItemCount(), 1);
    QStringList got, want;
    collect(tree()->topLevelItem(0), 0, got);
    expected(dc.baseDn, dc.baseDn, "root", 0, want);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(got.contains("    Year7=" + dn("OU=Year7,OU=Staff")) &&
                got.contains("    Year7=" + dn("OU=Year7,OU=Students")))
        << "two OUs of the same name, both shown";
    button("cmdCheckOU")->click();
    EXPECT_EQ(boxes.texts(), QStringList{"You must select an OU to update before you can continue."});

    for (const QString& key :
         {dn("OU=Staff"), QString("root"), dn("OU=Year7,OU=Students"), dn("OU=Form7A,OU=Year7,OU=Students")}) {
        tick(key);
        EXPECT_EQ(form->selectedOU(), key == "root" ? dc.baseDn : key);
        QStringList ticked;
        for (QTreeWidgetItemIterator it(tree()); *it; ++it)
            if ((*it)->checkState(0) == Qt::Checked)
                ticked << (*it)->data(0, Qt::UserRole).toString();
        EXPECT_EQ(ticked, QStringList{key}) << "one tick at a time";
    }
    tree()->expandAll();
    tick(dn("OU=Staff"));
    const QImage step1 = renderWindow(form, "frmLDAPUpdate_step1");
    button("cmdCheckOU")->click();
    waitIdle();
    EXPECT_NE(step1, renderWindow(form, "frmLDAPUpdate_step2"));
    EXPECT_EQ(label("lblStep2MemberCount")->text(), "4") << "three staff and the tutor below; not the contact";
    EXPECT_TRUE(button("cmdGo")->isEnabled());

    // Back: a fresh tree without a choice and the settings read again.
    writeSettings("School Admins", "\\\\newfiles\\homes\\");
    button("cmdBack")->click();
    waitIdle();
    EXPECT_EQ(form->checkedNode(), nullptr);
    EXPECT_EQ(label("lblHomePath2")->text(), "\\\\newfiles\\homes\\");
    check("chkSubTree")->click();
    checkOu(dn("OU=Year7,OU=Students"));
    EXPECT_EQ(label("lblIncSubTrees2")->text(), "No");
    EXPECT_EQ(label("lblStep2MemberCount")->text(), "3") << "the computer is not a user";
    // A user path that breaks a rule is refused in the plan: there is nothing sound to confirm.
    // (Each rule, and that the job itself writes nothing with one, is tested without a server.)
    writeSettings("School Admins", "\\\\newfiles\\homes");
    button("cmdBack")->click();
    waitIdle();
    checkOu(dn("OU=Year7,OU=Students"));
    EXPECT_EQ(label("lblStep2MemberCount")->text(),
              "The User Folder Path setting cannot be used: the user path must end with \\, or each logon name is "
              "glued to its last folder's name. Correct it in the settings.");
    EXPECT_FALSE(button("cmdGo")->isEnabled());
    // The domain root holds no user directly: only Back leads on.
    writeSettings("School Admins", "\\\\newfiles\\homes\\");
    button("cmdBack")->click();
    waitIdle();
    checkOu("root");
    EXPECT_EQ(label("lblStep2MemberCount")->text(), "There are no users to update");
    EXPECT_FALSE(button("cmdGo")->isEnabled());
}

TEST_F(Wizard, logsAnEnumerationFailureGoingOnWithTheRestAndSaysWhyItCannotLoadWithoutATicket)
{
    ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::OK};
    auto* w = new FailingWizard;
    form = w;
    waitIdle(); // the first load, before the directory starts failing
    w->failAt = dn("OU=Students");
    form->findChild<QPushButton*>("cmdBack")->click(); // reloads the tree
    waitIdle();
    EXPECT_EQ(boxes.texts(),
              QStringList{"An error has occured, please check the error log for more detailed information"});
    const QByteArray log = app.readFile("logs/error.txt");
    EXPECT_TRUE(log.contains(": RecurseOUs - Error: 80 - simulated\"\r\n")) << log.toStdString();
    EXPECT_EQ(w->nodeByKey(dn("OU=Students"))->childCount(), 0);
    EXPECT_NE(w->nodeByKey(dn("OU=Year7,OU=Staff")), nullptr) << "the walk goes on";

    qputenv("KRB5CCNAME", "FILE:/nonexistent/krb5cc_none");
    openWizard();
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_TRUE(boxes.texts()[1].startsWith("Unable to read the directory: ") &&
                boxes.texts()[1].contains("No Kerberos credentials available"))
        << boxes.texts()[1].toStdString();
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
}

// The whole run with the user path on the fixture's SMB share (\\<server>\homes$\...) and
// the real permission tool, read back over SMB as a Windows admin would check it.
TEST_F(Wizard, oneLevelRunUpdatesExactlyTheOusUsersGrantsOverSmbAndLogsEachFailureWithoutStopping)
{
    const QString path = dc.homesUnc + "\\Home Dirs\\"; // a blank in the path and in the group's name
    writeSettings(dc.adminGroup, path);
    QFile::remove(app.path() + "/resources/cacls");
    ASSERT_TRUE(QFile::copy(CORVANE_APP_DIR "/resources/cacls", app.path() + "/resources/cacls"));
    const QString ou = ous.add("RunOne");
    const QString a = addUser(ou, "r.a"), b = addUser(ou, "r.b"), c = addUser(ou, "r.c");
    addUser(ou, "r.d");
    const QString s = addUser(ous.add("Sub", ou), "r.s");
    // Nobody, the domain's administrators included, may write r.b's attributes.
    QProcess acl;
    acl.start("samba-tool", {"dsacl", "set", "-H", dc.ldapUri, "-U", "Administrator%" + dc.adminPassword,
                             "--use-kerberos=off", "--objectdn=" + b, "--sddl=(D;;WP;;;WD)"});
    ASSERT_TRUE(acl.waitForFinished(60000));
    ASSERT_EQ(acl.exitCode(), 0) << acl.readAllStandardError().toStdString();

    reachSmbServer();
    const auto smb = [this](const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, QStringList{"-s", dc.smbConf, "--use-kerberos=required", "-N", dc.smbShare} + args);
        EXPECT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    // Home folders for r.a, r.b and r.d; none for r.c, which the operator chooses to skip.
    QDir(dc.homesDir + "/Home Dirs").removeRecursively(); // left by an earlier run
    smb("smbclient", {"-c", "mkdir \"Home Dirs\"; cd \"Home Dirs\"; mkdir r.d; mkdir r.a; mkdir r.b"});

    QList<bool> closed; // the window will not close while the run goes on
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (form && form->isUpdating() && closed.isEmpty())
            closed << form->close();
    });
    sampler.start(0);
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::No};
    openWizard();
    check("chkSubTree")->click();
    checkOu(ou);
    button("cmdGo")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return button("cmdFinish")->isEnabled(); }, 120000));
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.texts()[1], "1 of the 4 home folders do not exist yet (for example " + path +
                                    "r.c).\r\n\r\nYes: create them, then update those users.\r\nNo: leave those "
                                    "users as they are and update the others.\r\nCancel: go back without updating "
                                    "anyone.");
    EXPECT_EQ(boxes.calls()[1].buttons(), vbYesNoCancel);
    EXPECT_EQ(closed, QList<bool>{false});

    EXPECT_EQ(homes({a, b, c, s}), QStringList({path + "r.a", "<none>", "<none>", "<none>"}))
        << "r.b's write refused; r.c's folder missing; one level: the child OU's r.s left alone";
    QStringList lines, fixes, undoRows;
    for (const QString& sam : ldapValues(ou, "one", DirectorySession::userFilter(), "sAMAccountName")) {
        if (sam == "r.b") {
            lines << "r.b Update Failed: Insufficient access: 00002098: Object " + b + " has no write property access";
            continue;
        }
        if (sam == "r.c") {
            lines << "r.c Not Updated: folder missing: " + path + "r.c";
            continue;
        }
        lines << sam + " Updated Home Path";
        fixes << sam + " Fixed Home Drive Permissions";
        undoRows << "\"CN=" + sam + "," + ou + "\"," + sam + ",," + path + sam + ",\"" + ou + "\"\r\n";
    }
    const QString summary = "2 updated, 0 unchanged, 2 not updated (" +
                            QString(lines.indexOf("r.c Not Updated: folder missing: " + path + "r.c") <
                                            lines.indexOf("r.b Update Failed: Insufficient access: 00002098: Object " +
                                                          b + " has no write property access")
                                        ? "1 folder missing, 1 refused by the directory"
                                        : "1 refused by the directory, 1 folder missing") +
                            "), 0 permission fixes failed";
    // The fixes are made for several accounts at once, after their writes; this
    // program folder has no SMB helper, and the log says why the tool did the work.
    lines << ou +
                 " Permission Fix: network home folders are fixed with smbcacls, one account at a time, because "
                 "the permission helper could not be used: the permission helper " +
                 app.path() + "/resources/corvane-smbacl is not installed"
          << fixes << ou + " Summary: " + summary;
    EXPECT_EQ(logLines(), lines);
    // The day's log name carries day and month without leading zeros.
    EXPECT_EQ(HomePathUpdate::logName(QDate(2027, 1, 1)) + HomePathUpdate::logName(QDate(2026, 12, 31)),
              "LDAP_1_1_2027LDAP_31_12_2026");
    const QStringList undo = QDir(app.path() + "/logs").entryList({"LDAP_undo_*.csv"});
    ASSERT_EQ(undo.size(), 1);
    EXPECT_EQ(label("lblPROGRESS")->text(), "Updates complete.");
    // The final page gives the log's counts and names the two files.
    const auto* runSummary = form->findChild<QLabel*>("lblRunSummary");
    ASSERT_NE(runSummary, nullptr);
    EXPECT_EQ(runSummary->text(), summary + ".\nLog: " + HomePathUpdate::logNameNow() + ".txt\nUndo file: " + undo[0]);
    EXPECT_EQ(QString::fromUtf8(app.readFile("logs/" + undo[0])),
              "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory,ou\r\n" + undoRows.join(""));

    // Full control for the user and the group on the folder (how it reaches the folder's
    // content is the permission tool's own test).
    const QString folder = smb("smbcacls", {"Home Dirs/r.a"});
    for (const QString& account : {dc.domain + "\\r.a", dc.domain + "\\" + dc.adminGroup})
        EXPECT_TRUE(folder.contains("ACL:" + account + ":ALLOWED/OI|CI/FULL\n")) << folder.toStdString();
    EXPECT_FALSE(folder.contains("r.d")) << "each user on their own folder only";

    renderWindow(form, "frmLDAPUpdate_step3");
    EXPECT_FALSE(form->close()) << "only Finish leads on";
    button("cmdFinish")->click();
    EXPECT_EQ(menuShown, 1);
}

// Step 2 counted the users of CN= containers below the OU and the run then left
// them alone. Now the count is the plan: Preview lists it, with each folder looked
// up over SMB as the permission fix reaches it, saves it as CSV and writes nothing;
// Confirm writes every account of it. The log writer shows nothing itself: with the
// logs folder gone the wizard tells the operator once per run, not once per account.
// (The job's own rules, the "added after the plan" line among them, are tested
// without a server.)
TEST_F(Wizard, theCountIsThePlanPreviewListsItAndADeepRunWritesItShowingALostLogOnce)
{
    const QString path = dc.homesUnc + "\\Prev Homes\\";
    writeSettings(dc.adminGroup, path);
    const QString ou = ous.add("RunPlan");
    const QString here = addUser(ou, "pv.here", path + "pv.here"), gone = addUser(ou, "pv.gone");
    const QString file = addUser(addEntry("CN=Box", ou, "container"), "pv.file");
    const QString deep = addUser(ous.add("Inner", ou), "pv.inner");
    const QString onDisk = dc.homesDir + "/Prev Homes";
    QDir(onDisk).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(onDisk + "/PV.HERE")); // SMB names match without regard to case
    QFile plain(onDisk + "/pv.file");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    reachSmbServer();
    const QString saved = app.path() + "/preview.csv";
    frmPreview::SetSaveFileName([&](QWidget*) { return saved; });
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes, MsgBoxAnswer::Yes, MsgBoxAnswer::OK};
    openWizard();
    check("chkFixPerms")->click();
    checkOu(ou);
    ASSERT_EQ(label("lblStep2MemberCount")->text(), "4");
    ASSERT_TRUE(button("cmdPreview")->isEnabled());

    QMap<QString, QStringList> rows; // account -> DN, current, new, unchanged, folder
    int rowCount = -1;
    // The preview opens once the job has looked for the folders: a timer drives it from inside its own loop.
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* preview = qobject_cast<frmPreview*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        driver.stop();
        auto* grid = preview->findChild<QTableWidget*>("grdPlan");
        ASSERT_NE(grid, nullptr);
        rowCount = grid->rowCount();
        for (int row = 0; row < rowCount; ++row) {
            QStringList cells;
            for (int col : {frmPreview::colDn, frmPreview::colCurrent, frmPreview::colNew, frmPreview::colUnchanged,
                            frmPreview::colFolder})
                cells << grid->item(row, col)->text();
            rows.insert(grid->item(row, 0)->text(), cells);
        }
        renderWindow(preview, "frmPreview");
        preview->findChild<QPushButton*>("cmdSave")->click();
        preview->findChild<QPushButton*>("cmdClose")->click();
    });
    driver.start();
    button("cmdPreview")->click(); // looks for the folders off this thread, then opens the preview
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowCount >= 0 && !QApplication::activeModalWidget(); }, 60000));
    frmPreview::SetSaveFileName({});

    EXPECT_EQ(rowCount, 4) << "one row per account of the count";
    EXPECT_EQ(rows.keys(), QStringList({"pv.file", "pv.gone", "pv.here", "pv.inner"}));
    EXPECT_EQ(rows.value("pv.here"), QStringList({here, path + "pv.here", path + "pv.here", "Yes", "yes"}));
    EXPECT_EQ(rows.value("pv.gone"), QStringList({gone, "", path + "pv.gone", "No", "missing"}));
    EXPECT_EQ(rows.value("pv.file"), QStringList({file, "", path + "pv.file", "No", "not a folder"}));
    EXPECT_EQ(rows.value("pv.inner").value(4), "missing");
    const QString csv = QString::fromUtf8(app.readFile("preview.csv"));
    EXPECT_TRUE(csv.startsWith("dn,sAMAccountName,currentHomeDirectory,newHomeDirectory,unchanged,problem,"
                               "folderExists\r\n"));
    EXPECT_TRUE(csv.contains(",pv.gone,," + path + "pv.gone,no,,missing\r\n")) << csv.toStdString();
    EXPECT_EQ(homes({gone}), QStringList{"<none>"}) << "the preview writes nothing";
    EXPECT_TRUE(boxes.calls().empty());

    // Added after step 2: not part of what the operator confirmed.
    const QString late = addUser(ou, "pv.late");
    ASSERT_TRUE(QDir(app.path() + "/logs").removeRecursively());
    ASSERT_NE(form->job(), nullptr);
    QSet<QThread*> threads; // where the job reports from: not the window's thread
    QObject::connect(
        form->job(), &HomePathUpdateJob::progress, form, [&threads] { threads << QThread::currentThread(); },
        Qt::DirectConnection);
    button("cmdGo")->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return button("cmdFinish")->isEnabled(); }, 120000));
    EXPECT_EQ(threads.size(), 1);
    EXPECT_FALSE(threads.contains(QThread::currentThread()));
    // The operator chose to create the two missing folders; a file where a folder should be stays unwritten,
    // and the account that already holds its path is not written again.
    EXPECT_EQ(homes({here, gone, file, deep, late}),
              QStringList({path + "pv.here", path + "pv.gone", "<none>", path + "pv.inner", "<none>"}));
    EXPECT_TRUE(QFileInfo(onDisk + "/pv.gone").isDir() && QFileInfo(onDisk + "/pv.inner").isDir());
    ASSERT_EQ(boxes.calls().size(), 3u) << boxes.texts().join(" | ").toStdString();
    EXPECT_TRUE(boxes.texts()[1].startsWith("2 of the 4 home folders do not exist yet"))
        << boxes.texts()[1].toStdString();
    EXPECT_EQ(boxes.calls()[2].text, "Error: 2 - " + QString::fromLocal8Bit(strerror(ENOENT)));
    EXPECT_EQ(boxes.calls()[2].title, "Corvane");
    EXPECT_FALSE(QFile::exists(app.path() + "/logs")) << "the logs folder is never created";
    EXPECT_EQ(label("lblPROGRESS")->text(), "Updates complete.");
    EXPECT_EQ(label("lblProgressPercent")->text(), "100%");
}
