// The migration week: a first pass while users work, a second at cutover that
// copies only what changed, hard links kept as links, and the failures shown.
#include "EngineTestSupport.h"

#include "migration/FileOpRunner.h"
#include "migration/fileop/FileOperationEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fileop;

namespace {

int copyAgain(const TempTree& t, Progress* last = nullptr, int flags = FOF_NOCONFIRMATION)
{
    QDir().mkpath(t.path("D")); // an existing destination receives S as D/S
    FileOperationEngine engine;
    const int rc = engine.run(Request{FO_COPY, t.path("S"), t.path("D"), flags, 2}, nullptr);
    if (last)
        *last = engine.lastProgress();
    return rc;
}

} // namespace

TEST(SecondPass, onlyWhatChangedIsCopiedAndMetadataIsBroughtInLine)
{
    TempTree t;
    for (const char* name : {"same.txt", "grown.txt", "touched.txt", "chmod.txt"})
        t.write(QStringLiteral("S/u/%1").arg(QLatin1String(name)), "first pass");
    ASSERT_EQ(copyAgain(t), Success);
    const struct stat before = t.lstat("D/S/u/same.txt");

    t.write("S/u/grown.txt", "first pass, and more");
    t.setMtime("S/u/touched.txt", 1800000000, 0); // same size, another time: changed
    t.write("D/S/u/touched.txt", "FIRST PASS");   // so a copy shows in the content
    ASSERT_EQ(::chmod(t.bytes("S/u/chmod.txt").constData(), 0600), 0);
    Progress last;
    ASSERT_EQ(copyAgain(t, &last), Success);

    const struct stat after = t.lstat("D/S/u/same.txt");
    EXPECT_EQ(after.st_ino, before.st_ino) << "an unchanged file was replaced";
    EXPECT_EQ(after.st_ctim.tv_sec * 1000000000LL + after.st_ctim.tv_nsec,
              before.st_ctim.tv_sec * 1000000000LL + before.st_ctim.tv_nsec)
        << "an unchanged file was written to";
    EXPECT_EQ(t.read("D/S/u/grown.txt"), "first pass, and more");
    EXPECT_EQ(t.read("D/S/u/touched.txt"), "first pass") << "a new time alone marks a change";
    EXPECT_EQ(t.lstat("D/S/u/touched.txt").st_mtim.tv_sec, 1800000000);
    EXPECT_EQ(t.lstat("D/S/u/chmod.txt").st_mode & 07777, 0600u) << "the new mode was not brought over";
    EXPECT_EQ(t.read("D/S/u/chmod.txt"), "first pass");
    EXPECT_EQ(last.filesUpToDate, 2) << "same and chmod need no data";
    EXPECT_EQ(last.filesDone, 4);

    // Rename on collision never skips: the incoming files get new names.
    ASSERT_EQ(copyAgain(t, &last, FOF_RENAMEONCOLLISION), Success);
    EXPECT_EQ(last.filesUpToDate, 0);
    EXPECT_EQ(t.read("D/Copy of S/u/same.txt"), "first pass");
}

TEST(HardLinks, namesOfOneInodeStayOneInodeAndALinkFromOutsideIsCopiedAsAFile)
{
    TempTree t;
    t.write("S/a/one.txt", "shared");
    QDir().mkpath(t.path("S/b"));
    ASSERT_EQ(::link(t.bytes("S/a/one.txt").constData(), t.bytes("S/b/two.txt").constData()), 0);
    ASSERT_EQ(::link(t.bytes("S/a/one.txt").constData(), t.bytes("S/three.txt").constData()), 0);
    t.write("outside.txt", "not copied");
    ASSERT_EQ(::link(t.bytes("outside.txt").constData(), t.bytes("S/a/inside.txt").constData()), 0);

    for (int pass = 0; pass < 2; ++pass) { // the second pass finds the links in place
        Progress last;
        ASSERT_EQ(copyAgain(t, &last), Success);
        const ino_t ino = t.lstat("D/S/a/one.txt").st_ino;
        EXPECT_EQ(t.lstat("D/S/b/two.txt").st_ino, ino) << pass;
        EXPECT_EQ(t.lstat("D/S/three.txt").st_ino, ino) << pass;
        EXPECT_EQ(t.lstat("D/S/a/one.txt").st_nlink, 3u) << pass;
        EXPECT_EQ(t.lstat("D/S/a/inside.txt").st_nlink, 1u) << "its other name is outside the tree";
        EXPECT_EQ(t.read("D/S/b/two.txt"), "shared");
        EXPECT_EQ(last.filesUpToDate, pass == 0 ? 0 : 4) << pass;
    }
}

// Answered one by one, each name is asked about once: a later name of a linked
// file, left for after the workers, keeps the answer it was given.
TEST(HardLinks, aLinkedNameIsAskedAboutOnce)
{
    TempTree t;
    t.write("S/a/one.txt", "shared");
    QDir().mkpath(t.path("S/b"));
    ASSERT_EQ(::link(t.bytes("S/a/one.txt").constData(), t.bytes("S/b/two.txt").constData()), 0);
    t.write("D/S/a/one.txt", "older");
    t.write("D/S/b/two.txt", "older");
    ScriptedQuestions q;
    q.replaceAnswers = std::vector<ReplaceAnswer>(5, ReplaceAnswer::Yes); // S, a, b, then the two files
    EXPECT_EQ(FileOperationEngine().run(Request{FO_COPY, t.path("S"), t.path("D"), 0, 2}, &q), Success);
    EXPECT_EQ(q.conflicts.size(), 5u);
    EXPECT_EQ(t.lstat("D/S/a/one.txt").st_ino, t.lstat("D/S/b/two.txt").st_ino);
}

TEST(FailureDetails, listTheItemsNotCopiedUpToALimitThenNameTheLog)
{
    FileOpRunner::Outcome outcome;
    outcome.result = Cancelled;
    outcome.logPath = "/opt/corvane/logs/Migration_6_12_2026.txt";
    for (int i = 0; i < 203; ++i)
        outcome.failures << QStringLiteral("Cannot read /h/u%1/f: Permission denied").arg(i);
    outcome.failures << QStringLiteral("/h/x\r\ny: kept, not replaced");
    const QStringList lines = FileOpRunner::failureDetails(outcome).split(u'\n');
    ASSERT_EQ(lines.size(), 202);
    EXPECT_EQ(lines[0], "Cannot read /h/u0/f: Permission denied");
    EXPECT_EQ(lines[199], "Cannot read /h/u199/f: Permission denied");
    EXPECT_EQ(lines[200], "... and 4 more");
    EXPECT_EQ(lines[201], "The migration log /opt/corvane/logs/Migration_6_12_2026.txt lists every item.");
    EXPECT_EQ(FileOpRunner::failureDetails(outcome, 300).split(u'\n')[203], "/h/x\\r\\ny: kept, not replaced")
        << "a name cannot break the list into false lines";
}
