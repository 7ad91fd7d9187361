// corvane-fileop as a script would run it: exit status, the "result: N" line,
// and questions answered No when standard input is not a terminal.
#include "EngineTestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
    QString lastErrLine() const { return err.trimmed().section(u'\n', -1); }
};

// asNobody drops to "nobody" (root reads everything); namedTemp forces the
// temporary-name path used where O_TMPFILE is missing; fileLimit caps the
// open files, hard and soft.
CliRun runCli(QStringList args, bool asNobody = false, bool namedTemp = false, int fileLimit = 0)
{
    QString program = QStringLiteral(CORVANE_APP_DIR "/corvane-fileop");
    if (asNobody) {
        args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--", program} + args;
        program = QStringLiteral("setpriv");
    }
    if (fileLimit > 0) {
        args = QStringList{QStringLiteral("--nofile=%1:%1").arg(fileLimit), "--", program} + args;
        program = QStringLiteral("prlimit");
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (namedTemp)
        env.insert(QStringLiteral("CORVANE_FILEOP_NO_TMPFILE"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice()); // not a terminal
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()), QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

TEST(FileOpCli, helpExplainsTheCommandAndBadUsageTouchesNothing)
{
    const CliRun r = runCli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* word : {"copy|move", "--silent", "--no-confirm-mkdir", "--yes-to-all", "--rename-on-collision",
                             "result: N", "not a terminal"})
        EXPECT_TRUE(r.out.contains(QLatin1String(word))) << word;
    TempTree t;
    t.write("S/a.txt", "alpha");
    EXPECT_EQ(runCli({"copy", t.path("S")}).exitCode, 1);
    EXPECT_EQ(runCli({"clone", t.path("S"), t.path("D")}).exitCode, 1);
    EXPECT_EQ(runCli({"copy", "--bogus", t.path("S"), t.path("D")}).exitCode, 1);
    EXPECT_FALSE(t.exists("D"));
}

TEST(FileOpCli, withoutATerminalQuestionsAreAnsweredNoAndTheFlagsAnswerThem)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    CliRun r = runCli({"move", t.path("S"), t.path("new/D")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lastErrLine(), "result: 1223");
    EXPECT_FALSE(t.exists("new")) << "a missing destination is not created";
    r = runCli({"copy", "--no-confirm-mkdir", t.path("S"), t.path("D/S")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.lastErrLine(), "result: 0");
    t.write("D/S/a.txt", "old");
    r = runCli({"copy", "--silent", t.path("S"), t.path("D")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lastErrLine(), "result: 1223");
    EXPECT_EQ(t.read("D/S/a.txt"), "old") << "a collision is kept";
    // The same rules on the temporary-name path, which must leave no temporary file behind.
    EXPECT_EQ(runCli({"copy", "--rename-on-collision", "--yes-to-all", t.path("S"), t.path("D")}, false, true).exitCode,
              0);
    EXPECT_EQ(t.read("D/Copy of S/a.txt"), "alpha");
    EXPECT_EQ(runCli({"copy", "--yes-to-all", t.path("S"), t.path("D")}, false, true).exitCode, 0);
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.files("D"), QStringList({"Copy of S/a.txt", "S/a.txt"}));
}

TEST(FileOpCli, anUnreadableFileIsSkippedAndReported)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    t.write("S/secret.txt", "secret");
    ASSERT_EQ(::chmod(t.bytes("S/secret.txt").constData(), 0), 0);
    const CliRun r = runCli({"copy", "--no-confirm-mkdir", t.path("S"), t.path("D")}, ::geteuid() == 0);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(r.lastErrLine(), "result: 5");
    EXPECT_TRUE(r.err.contains(t.path("S/secret.txt")));
    EXPECT_EQ(t.read("D/a.txt"), "alpha");
    EXPECT_FALSE(t.exists("D/secret.txt"));
}

// Folders are listed while files are copied; with few descriptors the walk
// must wait for the workers rather than fail or reuse a closed folder.
TEST(FileOpCli, aTreeWithMoreFoldersThanDescriptorsIsCopiedWhole)
{
    TempTree t;
    // One worker busy with a big file first, so the walk gets far ahead of it.
    t.write("S/big.bin", QByteArray(96 << 20, 'x'));
    QStringList expected{"big.bin"};
    for (int user = 0; user < 40; ++user)
        for (const char* sub : {"Documents", "Desktop", "Pictures/2023"}) {
            for (int f = 0; f < 3; ++f) {
                const QString rel = QStringLiteral("u%1/%2/f%3.txt").arg(user).arg(QLatin1String(sub)).arg(f);
                t.write("S/" + rel, rel.toUtf8());
                expected << rel;
            }
        }
    expected.sort();
    const CliRun r = runCli({"copy", "--silent", "--no-confirm-mkdir", "--workers", "1", t.path("S"), t.path("D")},
                            false, false, 160);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(t.files("D"), expected);
    for (const QString& rel : expected.mid(1))
        EXPECT_EQ(t.read("D/" + rel), rel.toUtf8()) << rel.toStdString();
    EXPECT_EQ(t.read("D/big.bin").size(), 96 << 20);
}
