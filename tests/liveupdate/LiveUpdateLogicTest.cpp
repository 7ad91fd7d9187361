#include "LiveUpdateTestKit.h"
#include "common/SafeFileWriter.h"
#include "liveupdate/ByteCounts.h"
#include "liveupdate/ConfigFile.h"

#include <QLocale>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace liveupdate;

TEST(ByteCounts, followTheExamplesRoundingAndLocale)
{
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(ConfigProgressText(512, 2048), "512 bytes of 2048 bytes of configuration retreived.");
    EXPECT_EQ(FileProgressText(250, 1500), "0.25 KB of 1.50 KB downloaded...");
    EXPECT_EQ(FileProgressText(1200000, 3450000), "1.20 MB of 3.45 MB downloaded...");
    EXPECT_EQ(FileProgressText(999990, 999999), "999.99 KB of 1000.00 KB downloaded..."); // unit from the total
    EXPECT_EQ(FileCompleteText(2350000), "Download of 2.35 MB complete.");
    EXPECT_EQ(FormatFixed2(125, 1000), "0.13");  // 0.125: printf would give 0.12
    EXPECT_EQ(FormatFixed2(1005, 1000), "1.01"); // 1.005 is just below in binary
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FileCompleteText(1234567890), "Download of 1234,57 MB complete.");
    QLocale::setDefault(QLocale::c());
}

TEST(SafeFileWriter, replacesWholeFilesAndAFailedWriteKeepsTheOldOne)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/setup.exe";
    const QByteArray old("old\r\n\0x", 7);
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    // The replaced file's permission bits stay, its set-ID bits do not.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 06750), 0);
    ASSERT_TRUE(writeFileAtomically(path, old));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);

    // A file-size limit makes the write fail even for root.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{4096, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool ok = writeFileAtomically(path, QByteArray(64 * 1024, 'n'), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(ok || error.isEmpty());
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(entries(dir.path()), QStringList({"setup.exe"})); // no temporary file left behind
}

// Lines from the network, each ended by CR: a byte-order mark does not become part of the name
// shown, and a file name that would differ from what the operator is shown
// (a line break, an escape, a separator) is refused.
TEST(ConfigFile, linesEndAtCrABomIsDroppedAndNamesWithControlsOrSeparatorsAreRefused)
{
    const ConfigFile c = ParseConfigFile("\xEF\xBB\xBFTool 1.1\r\n1.1.0\r\nhttp://h/a/setup.exe\r\n");
    EXPECT_EQ(c.updateName, "Tool 1.1");
    // CR ends a line (CR LF once); a lone LF ends none, so the version line is missing.
    EXPECT_EQ(ParseConfigFile("Tool\r1.0.122\rhttp://h/d/setup.exe\r").webVersion, "1.0.122");
    EXPECT_EQ(ParseConfigFile("Tool\n1.0.122\nhttp://h/a\n").webVersion, "");
    EXPECT_EQ(FileNameFromUrl(c.downloadURL), "setup.exe");
    // What the wizard takes as the name from such URLs is refused too.
    for (const char* url :
         {"http://h/files/", "http://h/files/.", "http://h/files/..", "http://h/files/..\\..\\evil.exe"})
        EXPECT_FALSE(IsSafeFileName(FileNameFromUrl(url))) << url;
    EXPECT_TRUE(IsSafeFileName("setup 1.1.exe"));
    // Hidden names, and names that display otherwise: "setup<RLO>exe.txt" shows as "setuptxt.exe".
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "set\nup.exe", "setup\x1b[2J.exe", "setup.exe\r", ".bashrc",
                            "setup\u202Eexe.txt", "set\u200Bup.exe", "a\u2028b.exe"})
        EXPECT_FALSE(IsSafeFileName(QString::fromUtf8(bad))) << bad;
}
