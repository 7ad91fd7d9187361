// corvane-fileop as a script would run it: exit status, the "result: N" line,
// and questions answered No when standard input is not a terminal.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperation.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <unistd.h>

// The help must not drift from the parser: every option it lists is accepted.
TEST(FileOpCli, everyOptionTheHelpListsIsAcceptedAndBadUsageTouchesNothing)
{
    QString help;
    const CliRun helpRun = runCli({"--help"}, {}, false, &help);
    EXPECT_EQ(helpRun.exitCode, 0);
    EXPECT_TRUE(helpRun.err.isEmpty()) << helpRun.err.toStdString();
    TempTree t;
    t.write("S/a.txt", "alpha");
    const QRegularExpression listed("^  (--[a-z-]+)( N)? ", QRegularExpression::MultilineOption);
    int options = 0;
    for (auto m = listed.globalMatch(help); m.hasNext();) {
        const auto option = m.next();
        if (option.captured(1) == "--help")
            continue;
        QStringList args{"copy", "--silent", "--no-confirm-mkdir", option.captured(1)};
        if (!option.captured(2).isEmpty())
            args << "2";
        const QString target = t.path("O" + QString::number(++options));
        const CliRun r = runCli(args + QStringList{t.path("S"), target});
        EXPECT_EQ(r.exitCode, 0) << option.captured(1).toStdString() << ": " << r.err.toStdString();
        // A dry run writes nothing, not even the missing destination.
        EXPECT_EQ(QFile::exists(target + "/a.txt"), option.captured(1) != "--dry-run")
            << option.captured(1).toStdString();
    }
    EXPECT_GE(options, 5) << help.toStdString();
    for (int code : fileop::resultCodes()) // every code the engine returns, with its meaning
        EXPECT_TRUE(help.contains(QStringLiteral("\n  %1 ").arg(code)) && help.contains(fileop::resultText(code)))
            << code;
    EXPECT_EQ(runCli({"copy", t.path("S")}).exitCode, 1);
    EXPECT_EQ(runCli({"copy", "--bogus", t.path("S"), t.path("D")}).exitCode, 1);
    EXPECT_FALSE(t.exists("D"));
}

TEST(FileOpCli, withoutATerminalQuestionsAreAnsweredNoTheFlagsAnswerThemAndErrorsAreSkipped)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    EXPECT_EQ(runCli({"move", t.path("S"), t.path("new/D")}).summary(), "1, result: 1223");
    EXPECT_FALSE(t.exists("new")) << "a missing destination is not created";
    EXPECT_EQ(runCli({"copy", "--no-confirm-mkdir", t.path("S"), t.path("D/S")}).summary(), "0, result: 0");
    t.write("D/S/a.txt", "old");
    EXPECT_EQ(runCli({"copy", "--silent", t.path("S"), t.path("D")}).summary(), "1, result: 1223");
    EXPECT_EQ(t.read("D/S/a.txt"), "old") << "a collision is kept";
    // The same rules on the temporary-name path, which must leave no temporary file behind.
    EXPECT_EQ(runCli({"copy", "--rename-on-collision", "--yes-to-all", t.path("S"), t.path("D")}, {}, true).exitCode,
              0);
    EXPECT_EQ(t.read("D/Copy of S/a.txt"), "alpha");
    EXPECT_EQ(runCli({"copy", "--yes-to-all", t.path("S"), t.path("D")}, {}, true).exitCode, 0);
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.files("D"), QStringList({"Copy of S/a.txt", "S/a.txt"}));

    // An unreadable file is skipped and reported; run as "nobody" when root, since root reads everything.
    t.write("S/secret.txt", "secret");
    ASSERT_EQ(::chmod(t.bytes("S/secret.txt").constData(), 0), 0);
    QStringList nobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    const CliRun r =
        runCli({"copy", "--no-confirm-mkdir", t.path("S"), t.path("E")}, ::geteuid() ? QStringList() : nobody);
    EXPECT_EQ(r.summary(), "1, result: 5");
    EXPECT_TRUE(r.err.contains(t.path("S/secret.txt")));
    EXPECT_EQ(t.files("E"), QStringList{"a.txt"});
}

// Folders are listed while files are copied; with few descriptors the walk
// must wait for the workers rather than fail or reuse a closed folder, and
// several listers must not close a folder another one still reaches through.
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
    for (const QString workers : {"1", "8"}) {
        SCOPED_TRACE(workers.toStdString());
        const QString target = t.path("D" + workers);
        const CliRun r = runCli({"copy", "--silent", "--no-confirm-mkdir", "--workers", workers, t.path("S"), target},
                                {"prlimit", "--nofile=160:160", "--"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        ASSERT_EQ(t.files("D" + workers), expected);
        for (const QString& rel : expected.mid(1))
            EXPECT_EQ(t.read("D" + workers + "/" + rel), rel.toUtf8()) << rel.toStdString();
        EXPECT_EQ(t.read("D" + workers + "/big.bin").size(), 96 << 20);
    }
}

// A network path is refused unless its share is mounted, before anything is
// written anywhere: no folder named after it, in the working folder or at /.
TEST(FileOpCli, aNetworkPathWithoutItsShareMountedIsRefusedAndNothingIsWritten)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    t.write("work/.keep", "");
    for (const QStringList& paths : {QStringList{t.path("S"), "\\\\corvane-nosrv.example\\homes$\\y7a.moss"},
                                     QStringList{t.path("S"), "//corvane-nosrv/homes$/y7a.moss"},
                                     QStringList{"\\\\corvane-nosrv\\old\\Year7", t.path("D")}}) {
        SCOPED_TRACE(paths.join(" ").toStdString());
        const CliRun r = runCli(QStringList{"copy", "--yes-to-all"} + paths, {}, false, nullptr, t.path("work"));
        EXPECT_EQ(r.summary(), "1, result: 53");
        EXPECT_TRUE(r.err.contains("which is not mounted on this computer")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QRegularExpression("\\nmount -t cifs '?//corvane-nosrv"))) << r.err.toStdString();
    }
    // A Windows-style relative path would make one folder named "new\Year7".
    const CliRun r = runCli({"copy", "--yes-to-all", t.path("S"), "new\\Year7"}, {}, false, nullptr, t.path("work"));
    EXPECT_EQ(r.summary(), "1, result: 3");
    EXPECT_TRUE(r.err.contains("would create a folder whose name holds a backslash (new\\Year7)"))
        << r.err.toStdString();
    EXPECT_EQ(t.files("work"), QStringList{".keep"});
    EXPECT_FALSE(t.exists("D"));
    EXPECT_FALSE(QFileInfo::exists("/corvane-nosrv"));
}

// The cutover: --contents makes the same command update one copy; without it
// a destination that looks like an earlier copy is warned of (no terminal to ask).
TEST(FileOpCli, contentsTwiceUpdatesOneCopyAndWithoutItAnEarlierCopyIsWarnedOf)
{
    TempTree t;
    for (const char* user : {"u1", "u2", "u3"})
        t.write(QStringLiteral("Year7/%1/notes.txt").arg(user), user);
    const QStringList contents{"copy", "--contents", "--yes-to-all", t.path("Year7"), t.path("new/Year7")};
    CliRun r = runCli(contents);
    EXPECT_EQ(r.summary(), "0, result: 0") << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("The contents of " + t.path("Year7") + " will be copied into " + t.path("new/Year7") +
                                 ", which is created.\n"))
        << r.err.toStdString();
    t.write("Year7/u2/notes.txt", "changed");
    r = runCli(contents);
    EXPECT_EQ(r.summary(), "0, result: 0") << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("The contents of " + t.path("Year7") + " will be copied into " + t.path("new/Year7") +
                                 ", updating what is there.\n"))
        << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains("\n1 files copied (7 bytes), 2 already up to date, 0 metadata only, 0 skipped, 0 failed, "
                       "0 names Windows clients cannot use, in "))
        << r.err.toStdString();
    EXPECT_EQ(t.files("new/Year7"), QStringList({"u1/notes.txt", "u2/notes.txt", "u3/notes.txt"}));
    EXPECT_EQ(t.read("new/Year7/u2/notes.txt"), "changed");

    // The same pass without --contents: the shell's rule, with the warning.
    r = runCli({"copy", "--yes-to-all", t.path("Year7"), t.path("new/Year7")});
    EXPECT_EQ(r.summary(), "0, result: 0") << r.err.toStdString();
    const QStringList lines = r.err.split(u'\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], t.path("Year7") + " will be copied to " + t.path("new/Year7/Year7") + ".");
    EXPECT_TRUE(lines[1].startsWith("warning: " + t.path("new/Year7") + " looks like an earlier copy of " +
                                    t.path("Year7") + ": 3 of its 3 top-level names"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith("run the same command with --contents."));
    EXPECT_TRUE(t.exists("new/Year7/Year7/u1/notes.txt"));

    // A file has no contents to put into a folder.
    t.write("file.txt", "x");
    EXPECT_EQ(runCli({"copy", "--contents", "--yes-to-all", t.path("file.txt"), t.path("new")}).summary(),
              "1, result: 128");
}
