#include "common/modMain.h"

#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

TEST(AppCaption, isComposedFromTheVersionWithBetaSuffix)
{
    EXPECT_EQ(modMain::VersionMajor(), 1);
    EXPECT_EQ(modMain::VersionMinor(), 0);
    EXPECT_EQ(modMain::VersionRevision(), 122);
    modMain::ComposeAppCaption();
    EXPECT_EQ(modMain::AppCaption(), "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(modMain::CaptionWithoutBeta(), "Corvane - File Migration Tool v1.0");
}

TEST(ApplicationFolder, dropsTrailingSeparatorAndRestoresDefault)
{
    modMain::SetApplicationFolder("/tmp/somewhere/");
    EXPECT_EQ(modMain::ApplicationFolder(), "/tmp/somewhere");
    modMain::SetApplicationFolder(QString());
    EXPECT_FALSE(modMain::ApplicationFolder().endsWith('/'));
    EXPECT_FALSE(modMain::ApplicationFolder().isEmpty());
}

TEST(WriteLog, formatsQuotedTimestampedLinesWithCrLf)
{
    const QDateTime when(QDate(2026, 12, 5), QTime(6, 4, 18));
    EXPECT_EQ(modMain::FormatLogLine("Done", when), QByteArray("\"05/12/2026 06:04:18 : Done\"\r\n"));
    EXPECT_EQ(modMain::FormatLogLine("", when), QByteArray("\"05/12/2026 06:04:18 : \"\r\n"));
    EXPECT_EQ(modMain::FormatLogLine("say \"hi\"", when), QByteArray("\"05/12/2026 06:04:18 : say \"hi\"\"\r\n"));
    EXPECT_EQ(modMain::FormatLogLine("x", QDateTime(QDate(2026, 1, 2), QTime(23, 5, 9))),
              QByteArray("\"02/01/2026 23:05:09 : x\"\r\n"));
}

TEST(WriteLog, appendsLinesInCallOrderKeepingEarlierContent)
{
    TempAppFolder app;
    {
        QFile f(app.logFile("error"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier\r\n");
    }
    modMain::WriteLog("first", "error");
    modMain::WriteLog("second", "error");
    const QByteArray data = app.readFile("logs/error.txt");
    ASSERT_TRUE(data.startsWith("earlier\r\n"));
    const QList<QByteArray> lines = data.mid(9).split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty tail after the last LF
    EXPECT_TRUE(lines[0].endsWith(" : first\"\r"));
    EXPECT_TRUE(lines[1].endsWith(" : second\"\r"));
    EXPECT_TRUE(lines[0].startsWith('"'));
}

TEST(WriteLog, missingLogsFolderShowsErrorBoxAndCreatesNothing)
{
    TempAppFolder app(false);
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    modMain::WriteLog("lost", "error");
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, QString("Error: 2 - ") + QString::fromLocal8Bit(strerror(2)));
    EXPECT_EQ(boxes.calls()[0].title, "Corvane");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly);
    EXPECT_FALSE(QFile::exists(app.path() + "/logs"));
}

TEST(WriteLog, unwritableTargetIsReportedNotSilentlyDropped)
{
    TempAppFolder app;
    // A folder where the file should be cannot be opened for appending, even by root.
    ASSERT_TRUE(QDir(app.path() + "/logs").mkdir("error.txt"));
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    modMain::WriteLog("x", "error");
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(boxes.calls()[0].text.startsWith("Error: 21 - "));
}

TEST(ShellWait, returnsOnceAQuickProgramEnded)
{
    QTemporaryDir dir;
    const QString marker = dir.filePath("ran");
    modMain::ShellWait("/bin/sh", {"-c", "sleep 0.2; touch \"$0\"", marker}, 0);
    EXPECT_TRUE(QFile::exists(marker)); // it waited for the end
}

TEST(ShellWait, missingProgramReturnsAtOnceSilently)
{
    ScriptedMsgBox boxes; // any box fails the test
    QElapsedTimer t;
    t.start();
    const modMain::ShellResult r = modMain::ShellWaitFor("/nonexistent/tool", {"a"}, 0);
    EXPECT_FALSE(r.started);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST(ShellWait, passesArgumentsWithBlanksQuotesAndSemicolonsAsOneEach)
{
    const QStringList args{"a b", "say \"x\"", "one;two", "$(touch /tmp/no)", ""};
    const modMain::ShellResult r = modMain::ShellWaitFor(
        "/bin/sh", QStringList{"-c", "for a in \"$@\"; do printf '[%s]' \"$a\"; done", "sh"} + args, 0);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "[a b][say \"x\"][one;two][$(touch /tmp/no)][]");
}

TEST(ShellWait, reportsExitCodeAndKeepsTheWindowsServed)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const modMain::ShellResult r = modMain::ShellWaitFor("/bin/sh", {"-c", "sleep 0.5; echo oops >&2; exit 3"}, 0);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output.trimmed(), "oops");
    EXPECT_GE(ticks, 5); // events kept flowing while it waited
}

TEST(StripPrefix, cutsEachMarkerCharacterAtItsFirstOccurrence)
{
    EXPECT_EQ(modMain::StripPrefix("LDAP://", "LDAP://OU=Staff,DC=school,DC=local"), "OU=Staff,DC=school,DC=local");
    EXPECT_EQ(modMain::StripPrefix("ab", "a-b-ab"), "-ab");
    EXPECT_EQ(modMain::StripPrefix("", "text"), "text");
    EXPECT_EQ(modMain::StripPrefix("xyz", "text"), "text");
    EXPECT_EQ(modMain::StripPrefix("LDAP://", "LDAP://"), "");
}
