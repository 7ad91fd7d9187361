// The engine on real folders: where the copy goes, what collisions do under
// each flag, moves, cancel and the metadata a copy keeps.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"

#include <QDateTime>
#include <QProcess>

#include <algorithm>
#include <cstring>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace fileop;

namespace {

int run(int operation, const TempTree& t, const QString& dst, int flags, FileOpQuestions* q = nullptr,
        const QString& src = "S")
{
    FileOperationEngine engine;
    return engine.run(Request{operation, t.path(src), t.path(dst), flags, 0}, q);
}

// S/{a.txt, docs/b.txt, docs/deep/c.txt}, and optionally a target D/S that
// already holds an older a.txt and a file of its own.
void makeSource(const TempTree& t, bool withTarget = false)
{
    t.write("S/a.txt", "alpha");
    t.write("S/docs/b.txt", "bravo");
    t.write("S/docs/deep/c.txt", "charlie");
    if (withTarget) {
        t.write("D/S/a.txt", "old alpha");
        t.write("D/S/keep.txt", "only in target");
    }
}

const QStringList kSourceFiles{"a.txt", "docs/b.txt", "docs/deep/c.txt"};

QByteArray xattrOf(const TempTree& t, const QString& rel, const char* name)
{
    char buf[1024];
    const ssize_t n = ::lgetxattr(t.bytes(rel).constData(), name, buf, sizeof buf);
    return n < 0 ? QByteArray("<none>") : QByteArray(buf, n);
}

} // namespace

TEST(EngineResolution, refusalsTouchNothingThenEachDestinationRowAndASameFileSystemMove)
{
    TempTree t;
    makeSource(t);
    t.write("file", "f");
    EXPECT_EQ(run(FO_COPY, t, "D", FOF_NOCONFIRMMKDIR, nullptr, "missing"), SourceMissing);
    EXPECT_EQ(run(FO_COPY, t, "file", 0), DestinationIsFile);
    EXPECT_EQ(run(FO_COPY, t, "S", 0), DestinationInsideSource);
    EXPECT_EQ(run(FO_MOVE, t, "S/docs", 0), DestinationInsideSource);
    EXPECT_EQ(run(FO_COPY, t, "S/docs/new", FOF_NOCONFIRMMKDIR), DestinationInsideSource);
    EXPECT_EQ(run(FO_MOVE, t, "S", FOF_NOCONFIRMATION, nullptr, "S/docs"), SameFile);
    EXPECT_EQ(t.files("S"), kSourceFiles);
    EXPECT_FALSE(t.exists("S/docs/new") || t.exists("D"));

    QDir().mkpath(t.path("D"));
    EXPECT_EQ(run(FO_COPY, t, "D", 0), Success);
    EXPECT_EQ(t.files("D/S"), kSourceFiles) << "an existing folder receives the source";
    EXPECT_EQ(t.files("S"), kSourceFiles) << "a copy leaves the source alone";
    ScriptedQuestions yes;
    yes.createAnswers = {true};
    EXPECT_EQ(run(FO_COPY, t, "new/parent/D", 0, &yes), Success);
    EXPECT_EQ(yes.createAsked, QStringList{t.path("new/parent/D")});
    EXPECT_EQ(t.files("new/parent/D"), kSourceFiles) << "a missing one becomes the copy";
    ScriptedQuestions no;
    no.createAnswers = {false};
    EXPECT_EQ(run(FO_COPY, t, "no/D", 0, &no), Cancelled);
    EXPECT_NE(run(FO_COPY, t, "no/D", 0), Success) << "nobody to ask";
    EXPECT_FALSE(t.exists("no"));
    for (int flag : {int(FOF_NOCONFIRMMKDIR), int(FOF_NOCONFIRMATION)}) {
        const QString dst = QStringLiteral("x%1/D").arg(flag); // nobody to ask: the flag must answer
        EXPECT_EQ(run(FO_COPY, t, dst, flag | FOF_SILENT), Success) << flag;
        EXPECT_EQ(t.files(dst), kSourceFiles) << flag;
    }

    // A move on one file system renames the tree: the inodes stay.
    QDir().mkpath(t.path("M"));
    const ino_t dirIno = t.lstat("S").st_ino;
    const ino_t fileIno = t.lstat("S/docs/deep/c.txt").st_ino;
    EXPECT_EQ(run(FO_MOVE, t, "M", 0), Success);
    EXPECT_FALSE(t.exists("S"));
    EXPECT_EQ(t.lstat("M/S").st_ino, dirIno);
    EXPECT_EQ(t.lstat("M/S/docs/deep/c.txt").st_ino, fileIno);
}

TEST(EngineCollision, eachAnswerToTheMergeAndReplaceQuestionsIsObeyed)
{
    using A = ReplaceAnswer;
    // The answers, the result, D/S/a.txt afterwards, whether the rest was copied.
    for (const auto& [answers, result, a, restCopied] : std::vector<std::tuple<std::vector<A>, int, QByteArray, bool>>{
             {{A::No}, Cancelled, "old alpha", false}, // no merge: no success
             {{A::Cancel}, Cancelled, "old alpha", false},
             {{A::Yes, A::Yes}, Success, "alpha", true},
             {{A::Yes, A::No}, Cancelled, "old alpha", true}}) {
        TempTree t;
        makeSource(t, true);
        ScriptedQuestions q;
        q.replaceAnswers = answers;
        EXPECT_EQ(run(FO_COPY, t, "D", 0, &q), result);
        ASSERT_EQ(q.conflicts.size(), answers.size());
        EXPECT_EQ(q.conflicts[0].kind, Conflict::Kind::Folder);
        EXPECT_EQ(q.conflicts[0].target, t.path("D/S"));
        EXPECT_EQ(q.conflicts.back().source, t.path(answers.size() > 1 ? "S/a.txt" : "S"));
        EXPECT_EQ(t.read("D/S/a.txt"), a);
        EXPECT_EQ(t.read("D/S/keep.txt"), "only in target");
        EXPECT_EQ(t.exists("D/S/docs/deep/c.txt"), restCopied);
    }
}

TEST(EngineCollision, renameGivesCopyOfNamesAndWinsOverYesToAllWhichOtherwiseReplacesEvenReadOnlyFiles)
{
    TempTree t;
    makeSource(t, true);
    EXPECT_EQ(run(FO_COPY, t, "D", FOF_RENAMEONCOLLISION), Success);
    EXPECT_EQ(t.files("D/Copy of S"), kSourceFiles);
    EXPECT_EQ(run(FO_COPY, t, "D", FOF_RENAMEONCOLLISION | FOF_NOCONFIRMATION), Success); // asks nothing
    EXPECT_EQ(t.files("D/Copy (2) of S"), kSourceFiles);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha") << "nothing replaced";
    EXPECT_EQ(run(FO_COPY, t, "", FOF_RENAMEONCOLLISION), Success);
    EXPECT_EQ(t.files("Copy of S"), kSourceFiles) << "into its own parent: a sibling";

    t.write("D/S/docs/b.txt", "old bravo");
    t.write("D/S/docs/deep/c.txt", "old charlie");
    ScriptedQuestions q; // merge S, then Yes to All: only one of the three files is asked about
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::YesToAll, ReplaceAnswer::YesToAll};
    EXPECT_EQ(run(FO_COPY, t, "D", 0, &q), Success);
    EXPECT_EQ(std::count_if(q.conflicts.begin(), q.conflicts.end(),
                            [](const Conflict& c) { return c.kind == Conflict::Kind::File; }),
              1);
    EXPECT_EQ(t.read("D/S/a.txt") + t.read("D/S/docs/b.txt") + t.read("D/S/docs/deep/c.txt"), "alphabravocharlie");
    ASSERT_EQ(::chmod(t.bytes("D/S/a.txt").constData(), 0444), 0);
    t.write("S/a.txt", "alpha 2");
    EXPECT_EQ(run(FO_COPY, t, "D", FOF_NOCONFIRMATION), Success);
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha 2") << "the flag replaces a read-only target too";

    t.write("f.txt", "new");
    t.write("D/f.txt", "old");
    t.write("D/Copy of f.txt", "taken");
    EXPECT_EQ(run(FO_COPY, t, "D", FOF_RENAMEONCOLLISION, nullptr, "f.txt"), Success);
    EXPECT_EQ(t.read("D/f.txt") + t.read("D/Copy of f.txt") + t.read("D/Copy (2) of f.txt"), "oldtakennew");

    const QByteArray renamed = collisionName(QByteArray(250, 'x') + ".docx", 3, false);
    EXPECT_TRUE(renamed.size() <= 255 && renamed.startsWith("Copy (3) of xxx") && renamed.endsWith(".docx"))
        << renamed.constData();
    const QByteArray cut = collisionName(QString(127, QChar(0xE4)).toUtf8(), 1, true);
    EXPECT_TRUE(cut.size() <= 255 && !QString::fromUtf8(cut).contains(QChar::ReplacementCharacter))
        << "within the limit, no character split: " << cut.constData();
}

TEST(EngineMove, acrossFileSystemsASourceGoesOnlyAfterItsCopyExists)
{
    TempTree t;
    const Tmpfs mnt(t.path("mnt"));
    if (!mnt.ok())
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "): no second file system";
    QStringList names;
    for (int i = 0; i < 60; ++i) {
        const QString rel = QStringLiteral("S/u%1/file%2.bin").arg(i % 6).arg(i);
        t.write(rel, QByteArray(1000 + i * 97, char('a' + i % 26)));
        names << rel.mid(2);
    }
    t.write("mnt/D/S/u0/file0.bin", "older");
    names.sort();
    bool violated = false; // checked at every question and progress report
    auto check = [&] {
        for (const QString& n : names)
            violated |= !t.exists("S/" + n) && t.read("mnt/D/S/" + n).size() < 1000;
    };
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::Yes, ReplaceAnswer::Yes};
    q.onQuestion = check;
    FileOperationEngine engine;
    QObject::connect(
        &engine, &FileOperationEngine::progress, &engine, [&](const Progress&) { check(); }, Qt::DirectConnection);
    EXPECT_EQ(engine.run(Request{FO_MOVE, t.path("S"), t.path("mnt/D"), 0, 2}, &q), Success)
        << engine.failures().join(u'\n').toStdString();
    EXPECT_FALSE(violated);
    EXPECT_EQ(t.files("mnt/D/S"), names);
    EXPECT_EQ(t.read("mnt/D/S/u3/file9.bin"), QByteArray(1000 + 9 * 97, char('a' + 9)));
    EXPECT_FALSE(t.exists("S")) << "emptied source folders are removed";
}

// Files are copied while the tree is still read, so the totals grow at first;
// once counting stops they must cover everything, and the last report is exact.
TEST(EngineProgress, theTotalsCoverTheTreeOnceCountingStops)
{
    TempTree t;
    qint64 bytes = 0;
    for (int i = 0; i < 300; ++i) {
        t.write(QStringLiteral("S/d%1/f%2").arg(i / 10).arg(i % 10), QByteArray(100 + i, 'x'));
        bytes += 100 + i;
    }
    FileOperationEngine engine;
    std::vector<Progress> reports;
    QObject::connect(
        &engine, &FileOperationEngine::progress, &engine, [&](const Progress& p) { reports.push_back(p); },
        Qt::DirectConnection);
    ASSERT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, 2}, nullptr), Success);
    ASSERT_FALSE(reports.empty());
    for (const Progress& p : reports) {
        EXPECT_LE(p.filesDone, p.filesTotal);
        EXPECT_TRUE(p.counting || (p.filesTotal == 300 && p.bytesTotal == bytes))
            << p.filesTotal << " " << p.bytesTotal;
    }
    const Progress& last = reports.back();
    EXPECT_TRUE(last.finished && !last.counting && last.filesDone == 300 && last.bytesDone == bytes)
        << last.filesDone << " files, " << last.bytesDone << " bytes";
}

// Every file collides, and questions are asked one at a time, so the cancel at the
// third file's question comes while most files wait for theirs, whatever the timing.
TEST(EngineCancel, cancelInTheMiddleLeavesOnlyWholeFilesUnderFinalNames)
{
    TempTree t;
    QByteArray data(3 << 20, '\0');
    for (qsizetype i = 0; i < data.size(); i += 4096)
        data[i] = char(i / 4096);
    for (int i = 0; i < 24; ++i) {
        const QString name = QStringLiteral("f%1.bin").arg(i, 2, 10, QLatin1Char('0'));
        t.write("S/" + name, data);
        t.write("D/S/" + name, "collides");
    }
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::Yes, ReplaceAnswer::Yes,
                        ReplaceAnswer::Cancel}; // merge, 2 files
    EXPECT_EQ(FileOperationEngine().run(Request{FO_COPY, t.path("S"), t.path("D"), 0, 3}, &q), Cancelled);
    int replaced = 0;
    const QStringList names = t.files("D/S");
    EXPECT_EQ(names.size(), 24) << "temporary files left behind: " << names.join(u' ').toStdString();
    for (const QString& name : names) {
        const QByteArray got = t.read("D/S/" + name);
        replaced += got == data;
        EXPECT_TRUE(got == data || got == "collides") << name.toStdString();
    }
    EXPECT_LE(replaced, 2) << "the cancel stopped the run";
}

TEST(EngineMetadata, copyKeepsModeTimesXattrsAclsLinksHolesAndOwners)
{
    TempTree t;
    makeSource(t);
    const QByteArray a = t.bytes("S/a.txt");
    // tmpfs before Linux 6.6 has no user.* attributes: then that one check is left out.
    const bool userXattrs = ::setxattr(a.constData(), "user.corvane", "tag", 3, 0) == 0;
    ASSERT_TRUE(userXattrs || errno == ENOTSUP) << std::strerror(errno);
    ASSERT_EQ(QProcess::execute("setfacl", {"-m", "u:nobody:rw", t.path("S/a.txt")}), 0);
    ASSERT_EQ(QProcess::execute("setfacl", {"-d", "-m", "g:nogroup:rx", t.path("S/docs")}), 0);
    ASSERT_EQ(::chmod(t.bytes("S/docs/deep").constData(), 0555), 0);
    const timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, a.constData(), times, 0), 0);
    ASSERT_EQ(::symlink("../a.txt", t.bytes("S/docs/link").constData()), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, t.bytes("S/docs").constData(), times, 0), 0);
    t.write("S/sparse.img", "start");
    ASSERT_EQ(QProcess::execute("truncate", {"-s", "64M", t.path("S/sparse.img")}), 0);
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::lchown(t.bytes("S/docs/b.txt").constData(), 65534, 65534) == 0);

    ASSERT_EQ(run(FO_COPY, t, "D", FOF_NOCONFIRMMKDIR), Success);

    const struct stat d = t.lstat("D/a.txt");
    EXPECT_EQ(d.st_mode & 07777, t.lstat("S/a.txt").st_mode & 07777);
    EXPECT_EQ(d.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(d.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(d.st_atim.tv_nsec, 123456789);
    EXPECT_TRUE(!userXattrs || xattrOf(t, "D/a.txt", "user.corvane") == "tag");
    EXPECT_EQ(xattrOf(t, "D/a.txt", "system.posix_acl_access"), xattrOf(t, "S/a.txt", "system.posix_acl_access"));
    EXPECT_EQ(xattrOf(t, "D/docs", "system.posix_acl_default"), xattrOf(t, "S/docs", "system.posix_acl_default"));
    EXPECT_EQ(t.lstat("D/docs").st_mtim.tv_nsec, 987654321) << "folder times are set after its entries";
    EXPECT_EQ(t.lstat("D/docs/deep").st_mode & 07777, 0555u);
    EXPECT_EQ(t.read("D/docs/deep/c.txt"), "charlie") << "a read-only source folder is still filled";
    EXPECT_EQ(QFile::symLinkTarget(t.path("D/docs/link")), t.path("D/a.txt")) << "a link stays a link";
    EXPECT_EQ(t.lstat("D/sparse.img").st_size, 64 << 20);
    EXPECT_LE(t.lstat("D/sparse.img").st_blocks, t.lstat("S/sparse.img").st_blocks + 64) << "holes stay holes";
    EXPECT_EQ(t.read("D/sparse.img").left(6), QByteArray("start\0", 6));
    EXPECT_TRUE(!root || t.lstat("D/docs/b.txt").st_uid == 65534u) << "owners kept when running as root";
}

// A file stands where the copy needs the folder docs: the engine asks, and each
// answer is obeyed. Retry after the operator moved the file finishes the copy;
// Skip leaves that folder out and the rest in; Cancel stops with Cancelled.
TEST(EngineErrors, retrySkipAndCancelAtAnErrorQuestionAreEachObeyed)
{
    for (const ErrorAnswer answer : {ErrorAnswer::Retry, ErrorAnswer::Skip, ErrorAnswer::Cancel}) {
        SCOPED_TRACE(int(answer));
        TempTree t;
        makeSource(t);
        t.write("D/S/docs", "a file in the way");
        Operator q;
        q.onError = [&](const FileError&) {
            if (answer != ErrorAnswer::Retry || q.errors.size() > 1)
                return answer == ErrorAnswer::Retry ? ErrorAnswer::Cancel : answer;
            QFile::remove(t.path("D/S/docs")); // the operator clears the way, then retries
            return ErrorAnswer::Retry;
        };
        const int result = run(FO_COPY, t, "D", 0, &q);
        ASSERT_EQ(q.errors.size(), 1u);
        EXPECT_EQ(q.errors[0].path, t.path("D/S/docs"));
        EXPECT_NE(q.errors[0].error, 0);
        if (answer == ErrorAnswer::Retry) {
            EXPECT_EQ(result, Success);
            EXPECT_EQ(t.files("D/S"), kSourceFiles);
        } else if (answer == ErrorAnswer::Skip) {
            EXPECT_NE(result, Success) << "a skipped item is not a success";
            EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
            EXPECT_EQ(t.read("D/S/docs"), "a file in the way") << "the file in the way is left as it was";
            EXPECT_FALSE(t.exists("D/S/docs/b.txt"));
        } else {
            EXPECT_EQ(result, Cancelled);
            EXPECT_EQ(t.read("D/S/docs"), "a file in the way");
        }
        EXPECT_EQ(t.files("S"), kSourceFiles) << "a copy never touches its source";
    }
}

// Skip All at the first error skips the later ones of the run without asking,
// and every one of them is listed.
TEST(EngineErrors, skipAllAsksOnceAndListsEveryItemItLeftOut)
{
    TempTree t;
    for (const char* dir : {"d1", "d2", "d3", "d4"}) {
        t.write(QStringLiteral("S/%1/f.txt").arg(dir), "data");
        t.write(QStringLiteral("D/S/%1").arg(dir), "a file in the way");
    }
    t.write("S/ok.txt", "fine");
    Operator q;
    q.onError = [](const FileError&) {
        return ErrorAnswer::SkipAll;
    };
    Request r;
    r.source = t.path("S");
    r.destination = t.path("D");
    FileOperationEngine engine;
    EXPECT_NE(engine.run(r, &q), Success);
    EXPECT_EQ(q.errors.size(), 1u) << "asked once";
    EXPECT_EQ(engine.failures().size(), 4) << engine.failures().join("\n").toStdString();
    for (const char* dir : {"d1", "d2", "d3", "d4"})
        EXPECT_EQ(engine.failures().filter(t.path("D/S/") + dir).size(), 1) << dir;
    EXPECT_EQ(t.read("D/S/ok.txt"), "fine") << "the rest is copied";
}

// The replace question carries what the operator compares: both sizes and times.
TEST(EngineQuestions, theReplaceQuestionCarriesBothSizesAndModificationTimes)
{
    TempTree t;
    t.write("S/a.txt", "alpha!");
    t.write("D/S/a.txt", "old");
    t.setMtime("D/S/a.txt", 1700000000, 250000000);
    Operator q;
    std::vector<Conflict> asked;
    q.onReplace = [&](const Conflict& c) {
        asked.push_back(c);
        return ReplaceAnswer::Yes;
    };
    Request r;
    r.source = t.path("S");
    r.destination = t.path("D");
    FileOperationEngine engine;
    EXPECT_EQ(engine.run(r, &q), Success);
    ASSERT_EQ(asked.size(), 2u); // the folder, then the file
    EXPECT_EQ(asked[1].sourceSize, 6);
    EXPECT_EQ(asked[1].targetSize, 3);
    EXPECT_EQ(asked[1].targetTimeNs, 1700000000250000000LL);
    EXPECT_EQ(asked[1].sourceTimeNs,
              qint64(t.lstat("S/a.txt").st_mtim.tv_sec) * 1000000000 + t.lstat("S/a.txt").st_mtim.tv_nsec);
    EXPECT_EQ(sizeAndTimeText(asked[1].targetSize, asked[1].targetTimeNs),
              "3 bytes, modified " +
                  QDateTime::fromSecsSinceEpoch(1700000000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}
