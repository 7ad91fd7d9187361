// The numbers at the end of a run, checked against the disk, and the dry run
// that lists every item's fate and changes nothing.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"
#include "migration/fileop/RunSummary.h"

#include <QCryptographicHash>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fileop;

namespace {

// A first pass done, then the source changed as a week of use changes it:
// one file edited, one given another mode, two left alone, one new file with a
// name Windows clients cannot use, and a folder of the target standing where
// a file of the source goes (that item fails).
void makeSecondPass(TempTree& t)
{
    for (const char* f : {"S/same1.txt", "S/same2.txt", "S/edited.txt", "S/chmod.txt", "S/blocked.txt"})
        t.write(f, QByteArray(f).repeated(3));
    ASSERT_EQ(FileOperationEngine().run(
                  {.source = t.path("S"), .destination = t.path("D"), .flags = FOF_NOCONFIRMMKDIR}, nullptr),
              Success);
    t.write("S/edited.txt", "a longer text than before");
    ASSERT_EQ(::chmod(t.bytes("S/chmod.txt").constData(), 0600), 0);
    t.write("S/a:b.txt", "new");
    ASSERT_TRUE(QFile::remove(t.path("D/blocked.txt")));
    ASSERT_TRUE(QDir().mkpath(t.path("D/blocked.txt/in the way")));
}

// Every item below root with its type, size, mode, times and content digest:
// what a dry run must leave exactly as it was.
QStringList snapshot(const TempTree& t, const QString& root)
{
    QStringList out;
    QDirIterator it(t.path(root), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList paths{t.path(root)};
    while (it.hasNext())
        paths << it.next();
    for (const QString& p : paths) {
        struct stat st {};
        ::lstat(p.toLocal8Bit().constData(), &st);
        QFile f(p);
        const QByteArray digest = S_ISREG(st.st_mode) && f.open(QIODevice::ReadOnly)
                                      ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()
                                      : QByteArray();
        out << QStringLiteral("%1 %2 %3 %4.%5 %6.%7 %8")
                   .arg(p)
                   .arg(st.st_mode, 0, 8)
                   .arg(st.st_size)
                   .arg(st.st_mtim.tv_sec)
                   .arg(st.st_mtim.tv_nsec)
                   .arg(st.st_ctim.tv_sec)
                   .arg(st.st_ctim.tv_nsec)
                   .arg(QString::fromLatin1(digest));
    }
    out.sort();
    return out;
}

} // namespace

TEST(RunSummary, theCountsOfASecondPassAreWhatHappenedOnDisk)
{
    TempTree t;
    makeSecondPass(t);
    const ino_t same1 = t.lstat("D/same1.txt").st_ino, chmod = t.lstat("D/chmod.txt").st_ino,
                edited = t.lstat("D/edited.txt").st_ino;
    Operator q; // Yes to All, and Skip at the error
    const Request r{.source = t.path("S"), .destination = t.path("D"), .contents = true};
    FileOperationEngine engine;
    EXPECT_EQ(engine.run(r, &q), FileDestinationIsFolder);
    const RunSummary s = engine.summary();
    // Every count, against the disk: copies are new inodes, the rest kept theirs.
    EXPECT_TRUE(summaryText(s).startsWith("2 files copied (28 bytes), 2 already up to date, 1 metadata only, "
                                          "0 skipped, 1 failed, 1 names Windows clients cannot use, in "))
        << summaryText(s).toStdString();
    EXPECT_FALSE(s.cancelled);
    EXPECT_EQ(t.lstat("D/same1.txt").st_ino, same1);
    EXPECT_EQ(t.lstat("D/chmod.txt").st_ino, chmod);
    EXPECT_EQ(t.lstat("D/chmod.txt").st_mode & 0777, 0600u);
    EXPECT_NE(t.lstat("D/edited.txt").st_ino, edited);
    EXPECT_EQ(t.read("D/edited.txt"), "a longer text than before");
    EXPECT_EQ(t.read("D/a:b.txt"), "new") << "an unusable name is still copied";
    EXPECT_TRUE(QFileInfo(t.path("D/blocked.txt")).isDir());
    EXPECT_EQ(engine.unusableNames(), QStringList{t.path("D/a:b.txt") + ": a name Windows clients cannot use: it "
                                                                        "holds the character ':'"});
    EXPECT_EQ(engine.failures().size(), 1);

    // Kept by an answer: counted as skipped, not failed.
    t.write("S/edited.txt", "edited again, and longer still");
    Operator no;
    no.onReplace = [](const Conflict& c) {
        return c.kind == Conflict::Kind::Folder ? ReplaceAnswer::Yes : ReplaceAnswer::No;
    };
    EXPECT_EQ(engine.run(r, &no), Cancelled);
    EXPECT_EQ(engine.summary().skipped, 6) << "every existing name was kept, the blocked one asked about too";
    EXPECT_EQ(engine.summary().failed, 0);
    EXPECT_EQ(engine.summary().filesCopied, 0);
    EXPECT_EQ(t.read("D/edited.txt"), "a longer text than before");
}

TEST(RunSummary, theLineSaysEveryCountTheRateOnlyForBytesWrittenAndHowToFinishACancelledRun)
{
    RunSummary s;
    s.operation = FO_COPY;
    s.upToDate = 30000;
    s.elapsedMs = 1250;
    EXPECT_EQ(summaryText(s), "0 files copied (0 bytes), 30,000 already up to date, 0 metadata only, 0 skipped, "
                              "0 failed, 0 names Windows clients cannot use, in 1.3 s")
        << "no rate for a pass that copied nothing";
    s.filesCopied = 1234;
    s.bytesCopied = 2110000000;
    s.elapsedMs = 192000;
    EXPECT_TRUE(summaryText(s).endsWith("in 3 min 12 s (11.0 MB/s)")) << summaryText(s).toStdString();
    s.cancelled = true;
    s.filesTotal = 40000;
    s.operation = FO_MOVE;
    EXPECT_EQ(finishHint(s, "--yes-to-all"), "Stopped after 31,234 of 40,000 files. To finish, run the same move "
                                             "again with --yes-to-all: what is already there is found up to date "
                                             "and not copied again.");
    EXPECT_EQ(durationText(3600 * 1000 * 2 + 61000), "2 h 1 min");
}

// Every kind of item, once with the questions left to ask and once answered
// by the flags; both trees stay byte for byte and time for time as they were.
TEST(DryRun, listsTheFateOfEveryItemAndChangesNothing)
{
    TempTree t;
    makeSecondPass(t);
    t.write("S/newdir/inner.txt", "inner");
    ASSERT_EQ(::symlink("same1.txt", t.bytes("S/link").constData()), 0);
    const QStringList before = snapshot(t, "S") + snapshot(t, "D");

    auto dry = [&](int op, int flags, bool contents, const QString& dst) {
        const Request r{.operation = op,
                        .source = t.path("S"),
                        .destination = t.path(dst),
                        .flags = flags,
                        .contents = contents,
                        .dryRun = true};
        FileOperationEngine engine;
        QStringList lines;
        std::mutex m;
        engine.setDryRunSink([&](const QString& line) {
            std::lock_guard lock(m);
            lines << line;
        });
        EXPECT_EQ(engine.run(r, nullptr), Success) << "no question is asked";
        lines.sort();
        lines << engine.dryRunTotals();
        return lines;
    };
    const QString d = t.path("D");
    EXPECT_EQ(dry(FO_COPY, 0, true, "D"),
              QStringList({"ask replace: " + d + "/chmod.txt (a Yes would: metadata only)",
                           "ask replace: " + d + "/edited.txt (a Yes would: replace) (25 bytes over 36 bytes)",
                           "ask replace: " + d + "/same1.txt (a Yes would: up to date)",
                           "ask replace: " + d + "/same2.txt (a Yes would: up to date)",
                           "create folder: " + d + "/newdir", "create link: " + d + "/link",
                           "create: " + d +
                               "/a:b.txt (3 bytes); a name Windows clients cannot use: it holds the "
                               "character ':'",
                           "create: " + d + "/newdir/inner.txt (5 bytes)",
                           "fail: " + d + "/blocked.txt (a folder stands where the file goes)", "merge: " + d,
                           "Would create 1 folders and 3 files (8 bytes), replace 1 files (25 bytes), leave 2 up to "
                           "date, bring 1 in line (metadata only), merge 1 folders, ask 4 questions, rename 0 items, "
                           "delete 0 sources; 1 items would fail; 1 names Windows clients cannot use. Nothing was "
                           "written."}));
    const QStringList move = dry(FO_MOVE, FOF_NOCONFIRMATION, true, "D");
    EXPECT_TRUE(move.contains("up to date: " + d + "/same1.txt; delete the source")) << move.join("\n").toStdString();
    EXPECT_TRUE(move.contains("replace: " + d + "/edited.txt (25 bytes over 36 bytes); delete the source"));
    EXPECT_TRUE(move.last().contains("delete 7 sources")) << move.last().toStdString();
    const QStringList renamed = dry(FO_COPY, FOF_RENAMEONCOLLISION, true, "D");
    EXPECT_TRUE(renamed.contains("rename: " + d + "/same1.txt (exists: the copy becomes Copy of same1.txt)"));
    const QStringList nested = dry(FO_COPY, FOF_RENAMEONCOLLISION, false, "D");
    EXPECT_TRUE(nested.contains("create folder: " + d + "/S")) << nested.join("\n").toStdString();
    const QStringList missing = dry(FO_COPY, 0, false, "new/deeper");
    EXPECT_TRUE(missing.contains("create folder: " + t.path("new/deeper")));
    EXPECT_TRUE(missing.contains("create: " + t.path("new/deeper/edited.txt") + " (25 bytes)"));

    EXPECT_EQ(snapshot(t, "S") + snapshot(t, "D"), before) << "a dry run writes nothing";
    EXPECT_FALSE(t.exists("new")) << "not even a missing destination";
}

// A folder swapped after the dry run listed it (for another folder, or a link)
// is not described as if it were the one listed: it fails as the run would.
TEST(DryRun, aFolderSwappedAfterItWasListedIsReportedAsChangedNotDescribed)
{
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "link" : "folder");
        TempTree t;
        t.write("S/docs/mine.txt", "mine");
        t.write("other/theirs.txt", "theirs");
        FileOperationEngine engine;
        QStringList lines;
        engine.setDryRunSink([&](const QString& line) {
            lines << line;
            if (!line.startsWith("create folder: " + t.path("D/docs")))
                return;
            // One lister (workers = 1): docs is listed only after this line.
            EXPECT_TRUE(QDir().rename(t.path("S/docs"), t.path("S/docs-was")));
            EXPECT_TRUE(link ? QFile::link(t.path("other"), t.path("S/docs"))
                             : QDir().rename(t.path("other"), t.path("S/docs")));
        });
        EXPECT_EQ(
            engine.run({.source = t.path("S"), .destination = t.path("D"), .workers = 1, .dryRun = true}, nullptr),
            GeneralFailure);
        EXPECT_TRUE(lines.contains("fail: " + t.path("D/docs") + " (cannot read " + t.path("S/docs") +
                                   ": it changed during the run)"))
            << lines.join("\n").toStdString();
        EXPECT_FALSE(lines.join("\n").contains("theirs.txt")) << "another folder's files are not described";
        EXPECT_TRUE(engine.dryRunTotals().contains("1 items would fail")) << engine.dryRunTotals().toStdString();
    }
}

// A move on one file system renames: the summary says so instead of counting
// a whole folder as one file copied.
TEST(RunSummary, aMoveOnOneFileSystemIsCountedAsRenamedNotCopied)
{
    TempTree t;
    t.write("S/a.txt", "a");
    t.write("S/sub/b.txt", "b");
    Request r{.operation = FO_MOVE, .source = t.path("S"), .destination = t.path("D"), .flags = FOF_NOCONFIRMMKDIR};
    FileOperationEngine engine;
    ASSERT_EQ(engine.run(r, nullptr), Success);
    EXPECT_EQ(t.read("D/sub/b.txt"), "b");
    EXPECT_EQ(engine.summary().renamed, 1) << "the whole tree in one rename";
    EXPECT_EQ(engine.summary().filesCopied, 0);
    EXPECT_TRUE(summaryText(engine.summary()).startsWith("1 item moved by renaming (no data copied), 0 files copied"))
        << summaryText(engine.summary()).toStdString();

    // Merged into an existing folder: each entry that could be renamed is counted once.
    t.write("S/c.txt", "c");
    t.write("S/sub/d.txt", "d");
    ASSERT_EQ(engine.run(r, nullptr), Success);
    EXPECT_EQ(t.read("D/S/c.txt"), "c");
    EXPECT_EQ(engine.summary().renamed, 1) << "S did not exist in D: renamed whole again";

    // Into a copy that exists: the folders merge, and each file that moves is one rename.
    t.write("S/e.txt", "e");
    t.write("S/sub/f.txt", "f");
    r.flags |= FOF_NOCONFIRMATION;
    ASSERT_EQ(engine.run(r, nullptr), Success);
    EXPECT_EQ(t.read("D/S/sub/f.txt"), "f");
    EXPECT_EQ(engine.summary().renamed, 2) << "e.txt and sub/f.txt";
    EXPECT_EQ(engine.summary().filesCopied, 0);
}
