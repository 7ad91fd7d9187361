#include "common/modMain.h"

#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

// A name from a user's tree or the directory ends up in a log line: whatever it
// holds, one message stays one record on one line, and readable.
TEST(WriteLog, controlCharactersInAMessageAreEscapedSoOneMessageIsOneLine)
{
    const QDateTime when(QDate(2026, 1, 2), QTime(23, 4, 5)); // day first, 24-hour clock
    const QByteArray stamp = "\"02/01/2026 23:04:05 : ";
    for (const auto& [message, logged] : std::vector<std::pair<QString, QByteArray>>{
             {"Cannot read /h/a\r\n\"02/01/2026 03:04:06 : forged",
              "Cannot read /h/a\\r\\n\"02/01/2026 03:04:06 : forged"},
             {"tab\there", "tab\\there"},
             {"say \"hi\"", "say \"hi\""}, // quotes stay as they are
             {QString("esc") + QChar(0x1B) + "[2J", "esc\\x1b[2J"},
             {QString("nul") + QChar(0) + "del" + QChar(0x7F) + "c1" + QChar(0x85), "nul\\x00del\\x7fc1\\x85"},
             {QString("line") + QChar(0x2028) + "rtl" + QChar(0x202E), "line\\u2028rtl\\u202e"},
             {"\\\\server\\homes\\j.doe caf\u00e9", "\\\\server\\homes\\j.doe caf\xc3\xa9"}}) {
        const QByteArray line = modMain::FormatLogLine(message, when);
        EXPECT_EQ(line, stamp + logged + "\"\r\n") << message.toStdString();
        EXPECT_EQ(line.count('\n'), 1);
        EXPECT_EQ(line.count('\r'), 1);
    }
}

TEST(WriteLog, appendsQuotedTimestampedCrLfLinesAfterEarlierContent)
{
    TempAppFolder app;
    ASSERT_TRUE(app.writeFile("logs/error.txt", "earlier\r\n"));
    EXPECT_TRUE(modMain::WriteLog("first", "error").ok());
    EXPECT_TRUE(modMain::WriteLog("second", "error").ok());
    const QString stamp = "\"\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d : ";
    const QRegularExpression appended("^earlier\r\n" + stamp + "first\"\r\n" + stamp + "second\"\r\n$");
    const QByteArray data = app.readFile("logs/error.txt");
    EXPECT_TRUE(appended.match(QString::fromUtf8(data)).hasMatch()) << data.constData();
}

// The log writer is logic: it tells its caller what went wrong and shows nothing.
TEST(WriteLog, failuresAreReturnedWithoutABoxAndCreateNothing)
{
    ScriptedMsgBox boxes; // any box fails the test
    {
        TempAppFolder app(false); // no logs folder
        const modMain::LogResult lost = modMain::WriteLog("lost", "error");
        EXPECT_FALSE(lost.ok());
        EXPECT_EQ(lost.code, ENOENT);
        EXPECT_EQ(lost.message(), QString("Error: 2 - ") + QString::fromLocal8Bit(strerror(ENOENT)));
        EXPECT_FALSE(QFile::exists(app.path() + "/logs"));
    }
    TempAppFolder app;
    ASSERT_TRUE(QDir(app.path() + "/logs").mkdir("error.txt")); // cannot be opened for appending, even by root
    const modMain::LogResult folder = modMain::WriteLog("x", "error");
    EXPECT_EQ(folder.code, EISDIR);
    EXPECT_TRUE(folder.message().startsWith("Error: 21 - ")) << folder.message().toStdString();
    EXPECT_TRUE(modMain::WriteLog("y", "other").ok());
    EXPECT_TRUE(boxes.calls().empty());
}

TEST(ShellWait, passesEachArgumentWholeWaitsForTheEndKeepsTheWindowsServedAndSkipsAMissingProgram)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const QStringList args{"a b", "say \"x\"", "one;two", "$(touch /tmp/no)", ""};
    const modMain::ShellResult r = modMain::ShellWaitFor(
        "/bin/sh", QStringList{"-c", "sleep 0.5; for a in \"$@\"; do printf '[%s]' \"$a\"; done; exit 3", "sh"} + args,
        0);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, "[a b][say \"x\"][one;two][$(touch /tmp/no)][]");
    EXPECT_GE(ticks, 5); // events kept flowing while it waited

    QTemporaryDir dir; // the plain form waits too
    modMain::ShellWait("/bin/sh", {"-c", "sleep 0.2; touch \"$0\"", dir.filePath("ran")}, 0);
    EXPECT_TRUE(QFile::exists(dir.filePath("ran")));

    // With no limit (0), a program that never started must not hang: the test's time limit catches that.
    ScriptedMsgBox boxes; // any box fails the test
    EXPECT_FALSE(modMain::ShellWaitFor("/nonexistent/tool", {"a"}, 0).started);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST(StripPrefix, cutsEachMarkerCharacterAtItsFirstOccurrence)
{
    EXPECT_EQ(modMain::StripPrefix("LDAP://", "LDAP://OU=Staff,DC=school,DC=local"), "OU=Staff,DC=school,DC=local");
    EXPECT_EQ(modMain::StripPrefix("ab", "a-b-ab"), "-ab");
    EXPECT_EQ(modMain::StripPrefix("", "text"), "text");
    EXPECT_EQ(modMain::StripPrefix("xyz", "text"), "text");
    EXPECT_EQ(modMain::StripPrefix("LDAP://", "LDAP://"), "");
}
