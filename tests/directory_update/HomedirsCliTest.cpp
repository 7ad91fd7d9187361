// corvane-homedirs against the fixture's domain, as a script runs it: from a
// copy in a temporary application folder, standard input not a terminal.
#include "LdapTool.h"
#include "SambaDc.h"
#include "TempAppFolder.h"
#include "directory_update/Directory.h"
#include "directory_update/HomePathUpdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

class HomedirsCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
        ASSERT_TRUE(QFile::copy(CORVANE_APP_DIR "/corvane-homedirs", app.path() + "/corvane-homedirs"));
        ASSERT_TRUE(app.writeFile("settings/corvane.ini",
                                  "[SETTINGS]\r\nAdmGrp=School Admins\r\nUserPath=\\\\files\\homes\\\r\n"));
    }
    CliRun cli(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(app.path() + "/corvane-homedirs", args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    QStringList undoFiles() const { return QDir(app.path() + "/logs").entryList({"LDAP_undo_*.csv"}); }
    // The undo file that running step made.
    template <class Step> QString newUndoFile(Step step)
    {
        const QStringList old = undoFiles();
        step();
        QStringList made;
        for (const QString& f : undoFiles())
            if (!old.contains(f))
                made << f;
        EXPECT_EQ(made.size(), 1);
        return app.path() + "/logs/" + made.value(0);
    }
    QString logText() const { return QString::fromUtf8(app.readFile("logs/" + HomePathUpdate::logNameNow() + ".txt")); }

    SambaDc dc = SambaDc::load();
    TestOus ous{dc.baseDn};
    TempAppFolder app;
};

// One CSV line of the plan, split at the commas outside quotes (a doubled quote
// is dropped: no field the test reads holds one).
QStringList fields(const QString& line)
{
    QStringList f{""};
    bool quoted = false;
    for (const QChar c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            f << "";
        else
            f.last() += c;
    }
    return f;
}

} // namespace

TEST_F(HomedirsCli, refusesWithoutTerminalUnknownOuEmptyPathOrAMalformedUndoLineAndWritesNothing)
{
    const QString ou = ous.add("CliRefuse");
    const QString u = addUser(ou, "cr.one", "\\\\old\\cr.one");
    const QString header = "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory,ou\r\n";
    // The third line is bad: the first good one must not be restored either.
    ASSERT_TRUE(app.writeFile(
        "bad.csv",
        (header + "\"" + u + "\",cr.one,,\\\\old\\cr.one,\"" + ou + "\"\r\n\"" + u + "\",cr.one,\\\\x\r\n").toUtf8()));
    ASSERT_TRUE(app.writeFile(
        "good.csv", (header + "\"" + u + "\",cr.one,\\\\older\\cr.one,\\\\old\\cr.one,\"" + ou + "\"\r\n").toUtf8()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(app.path() + "/fifo.csv").constData(), 0600), 0);
    const QList<std::pair<QStringList, QString>> refused{
        {{"run", "--ou", ou, "--no-fix-permissions"}, "not a terminal: give --yes"},
        {{"run", "--yes", "--ou", "OU=NoSuch," + dc.baseDn}, "cannot read OU=NoSuch," + dc.baseDn + ": No such object"},
        // The option wins over the file's path.
        {{"plan", "--ou", ou, "--user-path", ""},
         "the user path is empty: set UserPath in " + app.iniFile() + " or give --user-path"},
        {{"undo", app.path() + "/bad.csv", "--yes"}, "line 3: 3 fields, an undo line has 5; nothing was written"},
        // An undo asks as a run does: without a terminal only --yes goes ahead.
        {{"undo", app.path() + "/good.csv"}, "not a terminal: give --yes"},
        {{"undo", "/dev/null"}, "not a regular file"},
        {{"undo", app.path() + "/fifo.csv"}, "not a regular file"}, // would block a plain open for ever
    };
    for (const auto& [args, why] : refused) {
        const CliRun r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(why)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    // On a terminal it asks; anything but yes writes nothing. (script gives it a terminal.)
    QProcess tty;
    tty.start("script",
              {"-qec", app.path() + "/corvane-homedirs run --no-fix-permissions --skip-folder-check --ou '" + ou + "'",
               "/dev/null"});
    tty.write("n\n");
    tty.closeWriteChannel();
    ASSERT_TRUE(tty.waitForFinished(60000));
    const QString shown = QString::fromUtf8(tty.readAll());
    EXPECT_TRUE(shown.contains("Update the home folder path of 1 accounts below " + ou + "? [y/N]"))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains("not confirmed; nothing was written")) << shown.toStdString();

    EXPECT_EQ(homes({u}), QStringList{"\\\\old\\cr.one"});
    EXPECT_TRUE(logText().isEmpty());
    EXPECT_TRUE(undoFiles().isEmpty());
}

// What plan prints is what run writes, account for account, in the same order.
// Then undo, and undo the undo; then change one account by hand and undo again:
// the changed one is left alone unless --force.
TEST_F(HomedirsCli, planPrintsWhatRunWritesAndUndoRestoresItByteForByteSkippingAChangedOneUnlessForced)
{
    const QString ou = ous.add("CliPlan");
    addUser(ou, "cp.a", "\\\\Old Server\\homes\\cp.a");
    addUser(ou, "cp.b", "/srv/h/cp.b");      // already right
    addUser(ou, "cp.q", "\\\\old\\\"q\",x"); // a quote and a comma in the undo file
    addUser(addEntry("CN=Box", ou, "container"), "cp.c");
    addUser(ous.add("Sub", ou), "cp.d");

    const CliRun plan = cli({"plan", "--ou", ou, "--user-path", "/srv/h/"}); // the option wins over the file
    ASSERT_EQ(plan.exitCode, 0) << plan.err.toStdString();
    QStringList lines = plan.out.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst(), "dn,sAMAccountName,currentHomeDirectory,newHomeDirectory,unchanged,problem");
    QStringList dns, newHomes, sams;
    for (const QString& line : lines) {
        const QStringList f = fields(line);
        ASSERT_EQ(f.size(), 6) << line.toStdString();
        dns << f[0];
        sams << f[1];
        newHomes << f[3];
        EXPECT_EQ(f[4], f[1] == "cp.b" ? "yes" : "no");
    }
    // The OU's own accounts, then each container's, in the server's order.
    QStringList order = ldapValues(ou, "one", DirectorySession::userFilter(), "sAMAccountName");
    for (const QString& child : ldapValues(ou, "one", "(|(objectClass=organizationalUnit)(objectClass=container))"))
        order << ldapValues(child, "one", DirectorySession::userFilter(), "sAMAccountName");
    EXPECT_EQ(sams, order);
    EXPECT_EQ(newHomes.value(sams.indexOf("cp.a")), "/srv/h/cp.a");
    const QStringList before = homes(dns);
    EXPECT_EQ(before.value(sams.indexOf("cp.a")), "\\\\Old Server\\homes\\cp.a") << "plan wrote nothing";
    EXPECT_EQ(before.count("<none>"), 2);

    const QString runUndo = newUndoFile([&] {
        const CliRun run =
            cli({"run", "--ou", ou, "--yes", "--no-fix-permissions", "--skip-folder-check", "--user-path", "/srv/h/"});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    });
    EXPECT_EQ(homes(dns), newHomes);
    QStringList logged;
    for (const QString& line : logText().split("\r\n", Qt::SkipEmptyParts))
        if (line.contains(" Updated Home Path") || line.contains(" Home Path Unchanged"))
            logged << line.section(" : ", 1).section(' ', 0, 0);
    EXPECT_EQ(logged, sams);

    const QString undoUndo = newUndoFile([&] { EXPECT_EQ(cli({"undo", runUndo, "--yes"}).exitCode, 0); });
    EXPECT_EQ(homes(dns), before);
    EXPECT_TRUE(logText().contains("cp.a Restored Home Path \"\\\\Old Server\\homes\\cp.a\""))
        << logText().toStdString();
    newUndoFile([&] { EXPECT_EQ(cli({"undo", undoUndo, "--yes"}).exitCode, 0); });
    EXPECT_EQ(homes(dns), newHomes);

    const qsizetype q = sams.indexOf("cp.q");
    ASSERT_TRUE(
        ldapModify("dn: " + dns.value(q) + "\nchangetype: modify\nreplace: homeDirectory\nhomeDirectory: hand\n"));
    CliRun r = cli({"undo", runUndo, "--yes"});
    EXPECT_EQ(r.exitCode, 1);
    QStringList handKept = before;
    handKept[q] = "hand";
    EXPECT_EQ(homes(dns), handKept);
    EXPECT_TRUE(logText().contains("cp.q Restore Failed: changed since (now \"hand\", expected \"/srv/h/cp.q\")"))
        << logText().toStdString();
    r = cli({"undo", runUndo, "--force", "--yes"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(homes(dns), before);
}

// What the last line says is what ldapsearch shows: a re-run writes nothing it
// need not (uSNChanged stays), a missing folder leaves its account alone until
// --create-missing makes it, and a user path that breaks a rule writes nothing.
TEST_F(HomedirsCli, theLastLineMatchesTheDirectoryAndMissingFoldersOrBadPathsWriteNothing)
{
    const QString ou = ous.add("CliFolders");
    const QString root = app.path() + "/homes/";
    ASSERT_TRUE(QDir().mkpath(root + "cf.here"));
    const QString here = addUser(ou, "cf.here"), gone = addUser(ou, "cf.gone");
    for (const QString& bad :
         {QString("\\\\srv\\homes$\\..\\"), QString("homes/"), root.chopped(1), QString("/srv/x\ny/")}) {
        const CliRun r = cli({"run", "--yes", "--no-fix-permissions", "--ou", ou, "--user-path", bad});
        EXPECT_EQ(r.exitCode, 2) << bad.toStdString();
        EXPECT_TRUE(r.err.contains("the user path") && r.err.contains("nothing was written")) << r.err.toStdString();
    }
    EXPECT_EQ(homes({here, gone}), QStringList({"<none>", "<none>"}));

    CliRun r = cli({"run", "--yes", "--no-fix-permissions", "--ou", ou, "--user-path", root});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith("1 updated, 0 unchanged, 1 not updated (1 folder missing), 0 permission fixes "
                               "failed\n"))
        << r.err.toStdString();
    EXPECT_EQ(homes({here, gone}), QStringList({root + "cf.here", "<none>"}));
    EXPECT_TRUE(logText().contains("cf.gone Not Updated: folder missing: " + root + "cf.gone"));
    const QString usn = ldapValues(here, "base", "(objectClass=*)", "uSNChanged").value(0);
    ASSERT_FALSE(usn.isEmpty());

    r = cli({"run", "--yes", "--no-fix-permissions", "--create-missing", "--ou", ou, "--user-path", root});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith("1 updated, 1 unchanged, 0 not updated, 0 permission fixes failed\n"))
        << r.err.toStdString();
    EXPECT_EQ(homes({here, gone}), QStringList({root + "cf.here", root + "cf.gone"}));
    EXPECT_TRUE(QFileInfo(root + "cf.gone").isDir());
    EXPECT_EQ(ldapValues(here, "base", "(objectClass=*)", "uSNChanged").value(0), usn) << "not written again";
    EXPECT_TRUE(logText().contains(ou + " Summary: 1 updated, 1 unchanged, 0 not updated, 0 permission fixes failed"));
}

// SIGINT between two accounts: the run stops there, says so, and the directory,
// the log and the undo file agree on exactly which accounts were written.
TEST_F(HomedirsCli, aSignalStopsTheRunBetweenAccountsWithLogAndUndoFileCoveringWhatWasWritten)
{
    const QString ou = ous.add("CliSignal");
    QString ldif;
    for (int i = 0; i < 60; ++i)
        ldif += QString("dn: CN=sg.%1,%2\nchangetype: add\nobjectClass: user\nsAMAccountName: sg.%1\n\n")
                    .arg(i, 2, 10, QChar('0'))
                    .arg(ou);
    ASSERT_TRUE(ldapModify(ldif));
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(app.path() + "/corvane-homedirs",
            {"run", "--yes", "--no-fix-permissions", "--skip-folder-check", "--ou", ou, "--user-path", "/srv/sig/"});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([this] { return logText().contains(" Updated Home Path"); }, 60000));
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("stopped by SIGINT between two accounts; the log and the undo file cover exactly what "
                             "was written"))
        << err.toStdString();

    QStringList written, logged, recorded;
    const QStringList dns = ldapValues(ou, "one", DirectorySession::userFilter());
    const QStringList now = homes(dns);
    for (qsizetype i = 0; i < dns.size(); ++i)
        if (now[i] != "<none>")
            written << now[i].mid(QString("/srv/sig/").size());
    for (const QString& line : logText().split("\r\n", Qt::SkipEmptyParts))
        if (line.contains(" Updated Home Path"))
            logged << line.section(" : ", 1).section(' ', 0, 0);
    const QStringList undo = undoFiles();
    ASSERT_EQ(undo.size(), 1);
    for (const QString& row :
         QString::fromUtf8(app.readFile("logs/" + undo[0])).split("\r\n", Qt::SkipEmptyParts).mid(1))
        recorded << fields(row).value(1);
    written.sort();
    logged.sort();
    recorded.sort();
    EXPECT_GT(written.size(), 0);
    EXPECT_LT(written.size(), 60) << "the signal came too late to test anything";
    EXPECT_EQ(logged, written);
    EXPECT_EQ(recorded, written);
    EXPECT_TRUE(err.contains(QString("%1 updated, 0 unchanged, %2 not updated (%2 not reached)")
                                 .arg(written.size())
                                 .arg(60 - written.size())))
        << err.toStdString();
}

// --create-missing over SMB: the folder is made on the share with the ticket,
// the account written, and the permission fix reaches the new folder.
TEST_F(HomedirsCli, createMissingMakesTheFolderOnTheShareAndTheFixReachesIt)
{
    QFile::remove(app.path() + "/resources/cacls");
    ASSERT_TRUE(QFile::copy(CORVANE_APP_DIR "/resources/cacls", app.path() + "/resources/cacls"));
    // The SMB helper, noting that it was started, so the fix is seen to go its way.
    ASSERT_TRUE(app.writeFile("resources/corvane-smbacl",
                              QString("#!/bin/sh\necho started >> \"$(dirname \"$0\")/helper-runs\"\n"
                                      "exec /usr/bin/python3 '%1' \"$@\"\n")
                                  .arg(CORVANE_APP_DIR "/resources/corvane-smbacl")
                                  .toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(app.path() + "/resources/corvane-smbacl", QFile::ReadOwner | QFile::ExeOwner));
    // The server's name resolves only through nss_wrapper, which a sanitizer build cannot
    // preload: the Samba clients get it from wrappers first on the PATH, the program never.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", dc.nssWrapperSo);
    env.insert("NSS_WRAPPER_HOSTS", dc.nssWrapperHosts);
    ASSERT_TRUE(QDir(app.path()).mkdir("bin"));
    for (const char* tool : {"smbclient", "smbcacls"}) {
        const QString wrapper = QString("bin/") + tool;
        ASSERT_TRUE(app.writeFile(wrapper, QString("#!/bin/sh\nLD_PRELOAD='%1' NSS_WRAPPER_HOSTS='%2' exec /usr/bin/%3 "
                                                   "\"$@\"\n")
                                               .arg(dc.nssWrapperSo, dc.nssWrapperHosts, tool)
                                               .toUtf8()));
        ASSERT_TRUE(QFile::setPermissions(app.path() + "/" + wrapper, QFile::ReadOwner | QFile::ExeOwner));
    }
    QProcessEnvironment cliEnv = QProcessEnvironment::systemEnvironment();
    cliEnv.insert("PATH", app.path() + "/bin:" + cliEnv.value("PATH"));
    const auto smb = [&](const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, QStringList{"-s", dc.smbConf, "--use-kerberos=required", "-N", dc.smbShare} + args);
        EXPECT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    QDir(dc.homesDir + "/Cli New").removeRecursively(); // left by an earlier run
    smb("smbclient", {"-c", "mkdir \"Cli New\""});
    const QString path = dc.homesUnc + "\\Cli New\\";
    const QString ou = ous.add("CliCreate");
    const QString user = addUser(ou, "cn.one");

    CliRun r = cli({"run", "--yes", "--ou", ou, "--user-path", path, "--admin-group", dc.adminGroup}, cliEnv);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(homes({user}), QStringList{"<none>"}) << "no folder, no write";
    EXPECT_TRUE(r.err.contains("1 folder missing")) << r.err.toStdString();
    r = cli({"run", "--yes", "--create-missing", "--ou", ou, "--user-path", path, "--admin-group", dc.adminGroup},
            cliEnv);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith("1 updated, 0 unchanged, 0 not updated, 0 permission fixes failed\n"))
        << r.err.toStdString();
    EXPECT_EQ(homes({user}), QStringList{path + "cn.one"});
    const QString acl = smb("smbcacls", {"Cli New/cn.one"});
    for (const QString& account : {dc.domain + "\\cn.one", dc.domain + "\\" + dc.adminGroup})
        EXPECT_TRUE(acl.contains("ACL:" + account + ":ALLOWED/OI|CI/FULL\n")) << acl.toStdString();
    EXPECT_EQ(app.readFile("resources/helper-runs"), "started\n") << "granted by the helper, by the directory's SIDs";
}
