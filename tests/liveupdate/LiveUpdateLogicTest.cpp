#include "Version.h"
#include "liveupdate/ByteCounts.h"
#include "liveupdate/ConfigFile.h"
#include "liveupdate/SafeFileWriter.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

using namespace liveupdate;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Restores the default locale however a test ends.
struct LocaleGuard {
    explicit LocaleGuard(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleGuard() { QLocale::setDefault(QLocale::c()); }
};

} // namespace

TEST(ConfigFileLines, endAtCrLfAndAtLoneCrButNotAtLoneLf)
{
    EXPECT_EQ(SplitConfigLines("a\r\nb\r\nc"), QStringList({"a", "b", "c"}));
    EXPECT_EQ(SplitConfigLines("a\rb\rc\r"), QStringList({"a", "b", "c"}));
    EXPECT_EQ(SplitConfigLines("a\nb\nc\n"), QStringList({"a\nb\nc\n"}));
    EXPECT_EQ(SplitConfigLines("a\n\r\nb"), QStringList({"a\n", "b"}));
    // CR then CR LF: an empty line between.
    EXPECT_EQ(SplitConfigLines("a\r\r\nb"), QStringList({"a", "", "b"}));
}

TEST(ConfigFileLines, finalLineEndOpensNoLineAndEmptyFileHasNone)
{
    EXPECT_EQ(SplitConfigLines("only\r\n"), QStringList({"only"}));
    EXPECT_EQ(SplitConfigLines("only"), QStringList({"only"}));
    EXPECT_TRUE(SplitConfigLines("").isEmpty());
    EXPECT_EQ(SplitConfigLines("\r\n"), QStringList({""}));
}

TEST(ConfigFileParse, takesThreeLinesExactlyWithSpacesAndIgnoresTheRest)
{
    const ConfigFile c = ParseConfigFile(" Tool 1.1 \r\n1.0.122 \r\nhttp://h/x/setup.exe\r\nfour\r\nfive\r\nsix\r\n");
    EXPECT_EQ(c.updateName, " Tool 1.1 ");
    EXPECT_EQ(c.webVersion, "1.0.122 ");
    EXPECT_EQ(c.downloadURL, "http://h/x/setup.exe");
    EXPECT_TRUE(c.hasDownloadLine);
}

TEST(ConfigFileParse, missingLinesStayEmpty)
{
    const ConfigFile one = ParseConfigFile("Tool\r\n");
    EXPECT_EQ(one.updateName, "Tool");
    EXPECT_TRUE(one.webVersion.isEmpty());
    EXPECT_TRUE(one.downloadURL.isEmpty());
    EXPECT_FALSE(one.hasDownloadLine);
    const ConfigFile lf = ParseConfigFile("Tool\n1.0.121\nhttp://h/setup.exe\n");
    EXPECT_EQ(lf.updateName, "Tool\n1.0.121\nhttp://h/setup.exe\n");
    EXPECT_TRUE(lf.webVersion.isEmpty());
}

TEST(ConfigFileParse, decodesTheLocaleEncoding)
{
    const ConfigFile c = ParseConfigFile(QString("Outil d’été\r\n1.0.123").toLocal8Bit());
    EXPECT_EQ(c.updateName, "Outil d’été");
}

TEST(UpdateFileName, isTheTextAfterTheLastSlash)
{
    EXPECT_EQ(FileNameFromUrl("http://h/a/b/setup.exe"), "setup.exe");
    EXPECT_EQ(FileNameFromUrl("setup.exe"), "setup.exe");
    EXPECT_EQ(FileNameFromUrl("http://h/a/"), "");
    EXPECT_EQ(FileNameFromUrl("http://h/get?f=a.zip"), "get?f=a.zip");
}

TEST(UpdateFileName, onlyPlainNamesAreSafe)
{
    EXPECT_TRUE(IsSafeFileName("setup.exe"));
    EXPECT_TRUE(IsSafeFileName("corvane 1.1.tar.gz"));
    EXPECT_TRUE(IsSafeFileName("..setup"));
    EXPECT_FALSE(IsSafeFileName(""));
    EXPECT_FALSE(IsSafeFileName("."));
    EXPECT_FALSE(IsSafeFileName(".."));
    EXPECT_FALSE(IsSafeFileName("..\\..\\evil.exe"));
    EXPECT_FALSE(IsSafeFileName("a/b"));
    EXPECT_FALSE(IsSafeFileName(QString("a") + QChar(0) + "b"));
}

TEST(ConfigAddress, isTheMakersServerAtTheFixedPath)
{
    EXPECT_EQ(DefaultConfigFileURL(), QString("http://") + corvane::build::updateServer + "/corvane/corvane.txt");
    EXPECT_TRUE(DefaultConfigFileURL().endsWith(".example/corvane/corvane.txt"));
}

TEST(ByteCounts, configurationProgressIsPlainBytes)
{
    EXPECT_EQ(ConfigProgressText(512, 2048), "512 bytes of 2048 bytes of configuration retreived.");
    EXPECT_EQ(ConfigProgressText(0, 7), "0 bytes of 7 bytes of configuration retreived.");
}

TEST(ByteCounts, fileProgressChoosesTheUnitFromTheTotal)
{
    LocaleGuard c(QLocale::c());
    EXPECT_EQ(FileProgressText(250, 1500), "0.25 KB of 1.50 KB downloaded...");
    EXPECT_EQ(FileProgressText(1200000, 3450000), "1.20 MB of 3.45 MB downloaded...");
    EXPECT_EQ(FileProgressText(999990, 999999), "999.99 KB of 1000.00 KB downloaded...");
    EXPECT_EQ(FileProgressText(500000, 1000000), "0.50 MB of 1.00 MB downloaded...");
    EXPECT_EQ(FileProgressText(0, 1), "0.00 KB of 0.00 KB downloaded...");
}

TEST(ByteCounts, completionUsesTheSameUnits)
{
    LocaleGuard c(QLocale::c());
    EXPECT_EQ(FileCompleteText(2350000), "Download of 2.35 MB complete.");
    EXPECT_EQ(FileCompleteText(1500), "Download of 1.50 KB complete.");
    EXPECT_EQ(FileCompleteText(999999), "Download of 1000.00 KB complete.");
    EXPECT_EQ(FileCompleteText(1000000), "Download of 1.00 MB complete.");
    EXPECT_EQ(FileCompleteText(5000000000LL), "Download of 5000.00 MB complete.");
}

TEST(ByteCounts, roundsHalvesUpWhereBinaryFractionsWouldNot)
{
    LocaleGuard c(QLocale::c());
    EXPECT_EQ(FormatFixed2(125, 1000), "0.13");  // 0.125 is exact in binary: printf gives 0.12
    EXPECT_EQ(FormatFixed2(1005, 1000), "1.01"); // 1.005 is just below in binary
    EXPECT_EQ(FormatFixed2(1004, 1000), "1.00");
    EXPECT_EQ(FormatFixed2(0, 1000000), "0.00");
}

TEST(ByteCounts, useTheLocaleDecimalSeparatorWithoutGrouping)
{
    LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FileProgressText(250, 1500), "0,25 KB of 1,50 KB downloaded...");
    EXPECT_EQ(FileCompleteText(1234567890), "Download of 1234,57 MB complete.");
    EXPECT_EQ(ConfigProgressText(1234, 5678), "1234 bytes of 5678 bytes of configuration retreived.");
}

TEST(SafeFileWriter, writesAndReplacesWholeFiles)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/setup.exe";
    ASSERT_TRUE(WriteFileAtomically(path, QByteArray("first\r\n\0x", 9)));
    EXPECT_EQ(readAll(path), QByteArray("first\r\n\0x", 9));
    ASSERT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(readAll(path), "second");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"setup.exe"}));
}

TEST(SafeFileWriter, failedWriteLeavesTheOldFileAndNoTemporary)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/setup.exe";
    ASSERT_TRUE(WriteFileAtomically(path, "old contents"));

    // A file-size limit makes the write fail even for root (no permission trick needed).
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool ok = WriteFileAtomically(path, QByteArray(64 * 1024, 'n'), &error);
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readAll(path), "old contents");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"setup.exe"}));
}

TEST(SafeFileWriter, missingFolderFailsWithoutCreatingIt)
{
    QTemporaryDir dir;
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/nowhere/setup.exe", "x"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/nowhere"));
}
