// The engine on real folders: where the copy goes, what collisions do under
// each flag, moves, cancel, errors and the metadata a copy keeps.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstring>

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace fileop;

namespace {

int run(int operation, const QString& src, const QString& dst, int flags, FileOpQuestions* q, int workers = 0)
{
    FileOperationEngine engine;
    Request r;
    r.operation = operation;
    r.source = src;
    r.destination = dst;
    r.flags = flags;
    r.workers = workers;
    return engine.run(r, q);
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_ino : 0;
}

// A small home-folder-like tree: S/{a.txt, docs/b.txt, docs/deep/c.txt}.
void makeSource(const TempTree& t, const QString& s = QStringLiteral("S"))
{
    t.write(s + QStringLiteral("/a.txt"), "alpha");
    t.write(s + QStringLiteral("/docs/b.txt"), "bravo");
    t.write(s + QStringLiteral("/docs/deep/c.txt"), "charlie");
}

const QStringList kSourceFiles{QStringLiteral("a.txt"), QStringLiteral("docs/b.txt"),
                               QStringLiteral("docs/deep/c.txt")};

} // namespace

// --- where the copy goes -------------------------------------------------

TEST(EngineResolution, copyIntoExistingFolderPutsTheSourceInsideIt)
{
    TempTree t;
    makeSource(t);
    t.mkdirs(QStringLiteral("D"));
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, nullptr), Success);
    EXPECT_EQ(t.files("D/S"), kSourceFiles);
    EXPECT_EQ(t.read("D/S/docs/deep/c.txt"), "charlie");
    EXPECT_EQ(t.files("S"), kSourceFiles) << "a copy leaves the source alone";
}

TEST(EngineResolution, missingDestinationIsAskedForAndBecomesTheCopy)
{
    TempTree t;
    makeSource(t);
    ScriptedQuestions q;
    q.createAnswers = {true};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("new/parent/D"), 0, &q), Success);
    ASSERT_EQ(q.createAsked.size(), 1);
    EXPECT_EQ(q.createAsked[0], t.path("new/parent/D"));
    EXPECT_EQ(t.files("new/parent/D"), kSourceFiles) << "the contents land directly in D";
}

TEST(EngineResolution, missingDestinationAnsweredNoChangesNothing)
{
    TempTree t;
    makeSource(t);
    ScriptedQuestions q;
    q.createAnswers = {false};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("new/D"), 0, &q), Cancelled);
    EXPECT_FALSE(t.exists("new"));
}

TEST(EngineResolution, missingDestinationIsCreatedSilentlyWithEitherFlag)
{
    for (int flag : {int(FOF_NOCONFIRMMKDIR), int(FOF_NOCONFIRMATION)}) {
        TempTree t;
        makeSource(t);
        ScriptedQuestions q; // no answers: any question fails the test
        EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("x/D"), flag | FOF_SILENT, &q), Success) << flag;
        EXPECT_EQ(t.files("x/D"), kSourceFiles) << flag;
    }
}

TEST(EngineResolution, missingDestinationWithNobodyToAskIsNotCreated)
{
    TempTree t;
    makeSource(t);
    EXPECT_NE(run(FO_COPY, t.path("S"), t.path("x/D"), 0, nullptr), Success);
    EXPECT_FALSE(t.exists("x"));
}

TEST(EngineResolution, impossibleRequestsAreRefusedBeforeAnythingIsTouched)
{
    TempTree t;
    makeSource(t);
    t.write("file", "f");
    EXPECT_EQ(run(FO_COPY, t.path("missing"), t.path("D"), FOF_NOCONFIRMMKDIR, nullptr), SourceMissing);
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("file"), 0, nullptr), DestinationIsFile);
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("S"), 0, nullptr), DestinationInsideSource);
    EXPECT_EQ(run(FO_MOVE, t.path("S"), t.path("S/docs"), 0, nullptr), DestinationInsideSource);
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("S/docs/new"), FOF_NOCONFIRMMKDIR, nullptr), DestinationInsideSource);
    EXPECT_EQ(run(FO_MOVE, t.path("S/docs"), t.path("S"), FOF_NOCONFIRMATION, nullptr), SameFile);
    EXPECT_NE(run(FO_COPY, QString(), t.path("D"), 0, nullptr), Success);
    EXPECT_NE(run(FO_COPY, t.path("S"), QString(), 0, nullptr), Success);
    EXPECT_EQ(t.files("S"), kSourceFiles);
    EXPECT_FALSE(t.exists("S/S"));
    EXPECT_FALSE(t.exists("S/docs/new"));
    EXPECT_FALSE(t.exists("D"));
}

TEST(EngineResolution, relativePathsAreTakenFromTheWorkingFolder)
{
    TempTree t;
    makeSource(t);
    const QString old = QDir::currentPath();
    QDir::setCurrent(t.path());
    const int rc = run(FO_COPY, "S", "rel/D", FOF_NOCONFIRMMKDIR, nullptr);
    QDir::setCurrent(old);
    EXPECT_EQ(rc, Success);
    EXPECT_EQ(t.files("rel/D"), kSourceFiles);
}

// --- collisions ------------------------------------------------------------

class EngineCollision : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeSource(t);
        t.write("D/S/a.txt", "old alpha");
        t.write("D/S/keep.txt", "only in target");
    }
    TempTree t;
};

TEST_F(EngineCollision, existingFolderAsksToMergeAndNoChangesNothing)
{
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::No};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), Cancelled) << "a skipped item is not a success";
    ASSERT_EQ(q.conflicts.size(), 1u);
    EXPECT_EQ(q.conflicts[0].kind, Conflict::Kind::Folder);
    EXPECT_EQ(q.conflicts[0].target, t.path("D/S"));
    EXPECT_EQ(t.files("D/S"), QStringList({"a.txt", "keep.txt"}));
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
}

TEST_F(EngineCollision, mergeThenYesReplacesTheCollidingFileAndKeepsTheRest)
{
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::Yes};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), Success);
    ASSERT_EQ(q.conflicts.size(), 2u);
    EXPECT_EQ(q.conflicts[1].kind, Conflict::Kind::File);
    EXPECT_EQ(q.conflicts[1].source, t.path("S/a.txt"));
    EXPECT_EQ(q.conflicts[1].target, t.path("D/S/a.txt"));
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.read("D/S/keep.txt"), "only in target");
    EXPECT_EQ(t.files("D/S"), QStringList({"a.txt", "docs/b.txt", "docs/deep/c.txt", "keep.txt"}));
}

TEST_F(EngineCollision, noOnAFileKeepsItCopiesTheRestAndReportsFailure)
{
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), Cancelled);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
    EXPECT_EQ(t.read("D/S/docs/deep/c.txt"), "charlie");
}

TEST_F(EngineCollision, yesToAllIsRememberedForLaterConflicts)
{
    t.write("D/S/docs/b.txt", "old bravo");
    t.write("D/S/docs/deep/c.txt", "old charlie");
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::YesToAll, ReplaceAnswer::YesToAll};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), Success);
    // One merge question for S, one for docs, one file question answered Yes to All.
    size_t fileQuestions = 0;
    for (const Conflict& c : q.conflicts)
        fileQuestions += c.kind == Conflict::Kind::File;
    EXPECT_EQ(fileQuestions, 1u);
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.read("D/S/docs/b.txt"), "bravo");
    EXPECT_EQ(t.read("D/S/docs/deep/c.txt"), "charlie");
}

TEST_F(EngineCollision, cancelStopsWithCancelled)
{
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Cancel};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), Cancelled);
    EXPECT_EQ(t.files("D/S"), QStringList({"a.txt", "keep.txt"}));
}

TEST_F(EngineCollision, noConfirmationMergesAndReplacesReadOnlyTargetsWithoutAsking)
{
    ASSERT_EQ(::chmod(t.bytes("D/S/a.txt").constData(), 0444), 0);
    ScriptedQuestions q;
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMATION, &q), Success);
    EXPECT_TRUE(q.conflicts.empty());
    EXPECT_EQ(t.read("D/S/a.txt"), "alpha");
    EXPECT_EQ(t.read("D/S/keep.txt"), "only in target");
}

TEST_F(EngineCollision, nobodyToAskMeansTheFileIsKeptAndTheRunFails)
{
    EXPECT_NE(run(FO_COPY, t.path("S"), t.path("D"), 0, nullptr), Success);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
}

TEST_F(EngineCollision, renameGivesTheTopFolderCopyOfNamesInTurn)
{
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.files("D/Copy of S"), kSourceFiles);
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.files("D/Copy (2) of S"), kSourceFiles);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha") << "nothing replaced";
}

TEST_F(EngineCollision, renameWinsOverYesToAll)
{
    ScriptedQuestions q;
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_RENAMEONCOLLISION | FOF_NOCONFIRMATION, &q), Success);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
    EXPECT_EQ(t.files("D/Copy of S"), kSourceFiles);
}

TEST(EngineRename, aCollidingFileGetsCopyOfNameWithItsExtension)
{
    TempTree t;
    t.write("f.txt", "new");
    t.write("D/f.txt", "old");
    t.write("D/Copy of f.txt", "taken");
    EXPECT_EQ(run(FO_COPY, t.path("f.txt"), t.path("D"), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.read("D/f.txt"), "old");
    EXPECT_EQ(t.read("D/Copy of f.txt"), "taken");
    EXPECT_EQ(t.read("D/Copy (2) of f.txt"), "new");
}

TEST(EngineRename, copyingIntoItsOwnParentWithRenameMakesASibling)
{
    TempTree t;
    makeSource(t);
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path(), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.files("Copy of S"), kSourceFiles);
}

TEST(EngineRename, namesFollowTheSchemeAndStayWithinTheNameLimit)
{
    EXPECT_EQ(collisionName("a.txt", 1, false), "Copy of a.txt");
    EXPECT_EQ(collisionName("a.txt", 2, false), "Copy (2) of a.txt");
    EXPECT_EQ(collisionName("home", 12, true), "Copy (12) of home");
    const QByteArray longName = QByteArray(250, 'x') + ".docx";
    const QByteArray renamed = collisionName(longName, 3, false);
    EXPECT_LE(renamed.size(), 255);
    EXPECT_TRUE(renamed.startsWith("Copy (3) of xxx"));
    EXPECT_TRUE(renamed.endsWith(".docx"));
    // 127 two-byte characters: the cut must not split one.
    const QByteArray umlauts = QString(127, QChar(0xE4)).toUtf8();
    const QByteArray cut = collisionName(umlauts, 1, true);
    EXPECT_LE(cut.size(), 255);
    EXPECT_FALSE(QString::fromUtf8(cut).contains(QChar::ReplacementCharacter));
}

// --- moves -------------------------------------------------------------------

TEST(EngineMove, moveOnOneFileSystemRenamesTheTreeAndKeepsInodes)
{
    TempTree t;
    makeSource(t);
    t.mkdirs("D");
    const ino_t dirIno = inodeOf(t.path("S"));
    const ino_t fileIno = inodeOf(t.path("S/docs/deep/c.txt"));
    EXPECT_EQ(run(FO_MOVE, t.path("S"), t.path("D"), 0, nullptr), Success);
    EXPECT_FALSE(t.exists("S"));
    EXPECT_EQ(inodeOf(t.path("D/S")), dirIno);
    EXPECT_EQ(inodeOf(t.path("D/S/docs/deep/c.txt")), fileIno);
}

TEST(EngineMove, mergingMoveRenamesEntriesAndKeepsWhatWasSkipped)
{
    TempTree t;
    makeSource(t);
    t.write("D/S/a.txt", "old alpha");
    const ino_t cIno = inodeOf(t.path("S/docs/deep/c.txt"));
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No}; // merge S, keep the old a.txt
    EXPECT_EQ(run(FO_MOVE, t.path("S"), t.path("D"), 0, &q), Cancelled);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha");
    EXPECT_EQ(t.read("S/a.txt"), "alpha") << "a kept collision leaves its source in place";
    EXPECT_EQ(inodeOf(t.path("D/S/docs/deep/c.txt")), cIno);
    EXPECT_EQ(t.files("S"), QStringList({"a.txt"})) << "moved folders leave the source";
}

TEST(EngineMove, moveToMissingDestinationCreatesParentsAndRenames)
{
    TempTree t;
    makeSource(t);
    EXPECT_EQ(run(FO_MOVE, t.path("S"), t.path("p/q/D"), FOF_NOCONFIRMMKDIR, nullptr), Success);
    EXPECT_EQ(t.files("p/q/D"), kSourceFiles);
    EXPECT_FALSE(t.exists("S"));
}

// A second file system: a small tmpfs mounted for the test (needs root).
class EngineCrossFsMove : public ::testing::Test {
protected:
    void SetUp() override
    {
        t.mkdirs("mnt");
        if (::mount("corvane-test", t.bytes("mnt").constData(), "tmpfs", 0, "size=32m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                         << "): no second file system to move across";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(t.bytes("mnt").constData(), MNT_DETACH);
    }
    TempTree t;
    bool mounted = false;
};

TEST_F(EngineCrossFsMove, sourcesGoOnlyAfterEveryCopyExists)
{
    QStringList names;
    for (int i = 0; i < 60; ++i) {
        const QString rel = QStringLiteral("S/u%1/file%2.bin").arg(i % 6).arg(i);
        t.write(rel, QByteArray(1000 + i * 97, char('a' + i % 26)));
        names << rel.mid(2);
    }
    t.write("mnt/D/S/u0/file0.bin", "older");
    names.sort();
    // At every question and progress report: a source that is gone has its copy.
    bool violated = false;
    auto check = [&] {
        for (const QString& n : names)
            if (!t.exists("S/" + n) && t.read("mnt/D/S/" + n).size() < 1000)
                violated = true;
    };
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::Yes, ReplaceAnswer::Yes};
    q.onQuestion = check;
    FileOperationEngine engine;
    QObject::connect(
        &engine, &FileOperationEngine::progress, &engine, [&](const Progress&) { check(); }, Qt::DirectConnection);
    Request r{FO_MOVE, t.path("S"), t.path("mnt/D"), 0, 2};
    EXPECT_EQ(engine.run(r, &q), Success) << engine.failures().join(u'\n').toStdString();
    EXPECT_FALSE(violated);
    EXPECT_EQ(t.files("mnt/D/S"), names);
    EXPECT_EQ(t.read("mnt/D/S/u3/file9.bin"), QByteArray(1000 + 9 * 97, char('a' + 9)));
    EXPECT_FALSE(t.exists("S")) << "emptied source folders are removed";
}

TEST_F(EngineCrossFsMove, aKeptCollisionKeepsItsSourceAndTheRunFails)
{
    makeSource(t);
    t.write("mnt/S/a.txt", "old");
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::No};
    EXPECT_EQ(run(FO_MOVE, t.path("S"), t.path("mnt"), 0, &q), Cancelled);
    EXPECT_EQ(t.files("S"), QStringList({"a.txt"}));
    EXPECT_EQ(t.read("mnt/S/a.txt"), "old");
    EXPECT_EQ(t.read("mnt/S/docs/deep/c.txt"), "charlie");
}

// --- cancel and errors ----------------------------------------------------------

TEST(EngineCancel, cancelInTheMiddleLeavesOnlyWholeFilesUnderFinalNames)
{
    TempTree t;
    QByteArray data(3 << 20, '\0');
    for (qsizetype i = 0; i < data.size(); i += 4096)
        data[i] = char(i / 4096);
    for (int i = 0; i < 24; ++i)
        t.write(QStringLiteral("S/f%1.bin").arg(i, 2, 10, QLatin1Char('0')), data);
    t.write("D/S/f12.bin", "collides");
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::Cancel};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q, 3), Cancelled);
    int whole = 0;
    for (const QString& name : t.files("D/S")) {
        EXPECT_FALSE(name.startsWith(u'.')) << "temporary file left behind: " << name.toStdString();
        if (name == QLatin1String("f12.bin"))
            EXPECT_EQ(t.read("D/S/f12.bin"), "collides");
        else {
            EXPECT_EQ(t.read("D/S/" + name), data) << name.toStdString();
            ++whole;
        }
    }
    EXPECT_LT(whole, 23) << "the cancel stopped the run";
}

// Runs fn as the unprivileged user "nobody" when we are root (root reads
// everything, so "permission denied" needs a child that dropped its rights).
int runUnprivileged(const std::function<int()>& fn)
{
    if (::geteuid() != 0)
        return fn();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST(EngineErrors, anUnreadableFileAskedAndSkippedMakesTheRunFail)
{
    TempTree t;
    makeSource(t);
    t.write("S/secret.txt", "secret");
    ASSERT_EQ(::chmod(t.bytes("S/secret.txt").constData(), 0), 0);
    const int rc = runUnprivileged([&] {
        ScriptedQuestions q;
        q.errorAnswers = {ErrorAnswer::Skip};
        const int result = run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, &q);
        const bool asked = q.errors.size() == 1 && q.errors[0].path == t.path("S/secret.txt");
        const bool restCopied = t.read("D/docs/deep/c.txt") == "charlie" && !t.exists("D/secret.txt");
        return result == AccessDenied && asked && restCopied ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST(EngineErrors, retryAfterTheCauseIsFixedCopiesTheFile)
{
    TempTree t;
    t.write("S/locked.txt", "locked");
    ASSERT_EQ(::chmod(t.bytes("S/locked.txt").constData(), 0), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(t.bytes("S/locked.txt").constData(), 65534, 65534), 0);
    }
    const int rc = runUnprivileged([&] {
        ScriptedQuestions q;
        q.errorAnswers = {ErrorAnswer::Retry};
        q.onQuestion = [&] {
            ::chmod(t.bytes("S/locked.txt").constData(), 0600);
        };
        const int result = run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, &q);
        return result == Success && q.errors.size() == 1 && t.read("D/locked.txt") == "locked" ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST(EngineErrors, cancelAtAnErrorPromptCancels)
{
    TempTree t;
    makeSource(t);
    t.write("S/secret.txt", "secret");
    ASSERT_EQ(::chmod(t.bytes("S/secret.txt").constData(), 0), 0);
    const int rc = runUnprivileged([&] {
        ScriptedQuestions q;
        q.errorAnswers = {ErrorAnswer::Cancel};
        return run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, &q) == Cancelled ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

// --- faithful copies ------------------------------------------------------------

QByteArray xattrOf(const QString& path, const char* name)
{
    char buf[1024];
    const ssize_t n = ::lgetxattr(path.toLocal8Bit().constData(), name, buf, sizeof buf);
    return n < 0 ? QByteArray("<none>") : QByteArray(buf, n);
}

TEST(EngineMetadata, copyKeepsModeTimesXattrsAclsLinksAndHoles)
{
    TempTree t;
    makeSource(t);
    const QByteArray a = t.bytes("S/a.txt");
    ASSERT_EQ(::chmod(a.constData(), 0640), 0);
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
    {
        QFile sparse(t.path("S/sparse.img"));
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
        ASSERT_TRUE(sparse.resize(64 << 20));
        ASSERT_TRUE(sparse.seek(32 << 20));
        sparse.write("middle");
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown(t.bytes("S/docs/b.txt").constData(), 65534, 65534), 0);
    }

    ASSERT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, nullptr), Success);

    struct stat s {};
    struct stat d {};
    ASSERT_EQ(::stat(t.bytes("S/a.txt").constData(), &s), 0);
    ASSERT_EQ(::stat(t.bytes("D/a.txt").constData(), &d), 0);
    EXPECT_EQ(d.st_mode & 07777, s.st_mode & 07777);
    EXPECT_EQ(s.st_mode & 07707, 0600u) << "the ACL mask shows as the group bits";
    EXPECT_EQ(d.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(d.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(d.st_atim.tv_nsec, 123456789);
    if (userXattrs) {
        EXPECT_EQ(xattrOf(t.path("D/a.txt"), "user.corvane"), "tag");
    }
    EXPECT_EQ(xattrOf(t.path("D/a.txt"), "system.posix_acl_access"),
              xattrOf(t.path("S/a.txt"), "system.posix_acl_access"));
    EXPECT_NE(xattrOf(t.path("D/a.txt"), "system.posix_acl_access"), "<none>");
    EXPECT_EQ(xattrOf(t.path("D/docs"), "system.posix_acl_default"),
              xattrOf(t.path("S/docs"), "system.posix_acl_default"));
    ASSERT_EQ(::stat(t.bytes("D/docs").constData(), &d), 0);
    EXPECT_EQ(d.st_mtim.tv_nsec, 987654321) << "folder times are set after its entries";
    ASSERT_EQ(::stat(t.bytes("D/docs/deep").constData(), &d), 0);
    EXPECT_EQ(d.st_mode & 07777, 0555u);
    EXPECT_EQ(t.read("D/docs/deep/c.txt"), "charlie") << "a read-only source folder is still filled";

    EXPECT_TRUE(QFileInfo(t.path("D/docs/link")).isSymLink());
    EXPECT_EQ(QFile::symLinkTarget(t.path("D/docs/link")), t.path("D/a.txt"));
    char target[64] = {};
    ASSERT_GT(::readlink(t.bytes("D/docs/link").constData(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../a.txt");

    ASSERT_EQ(::stat(t.bytes("S/sparse.img").constData(), &s), 0);
    ASSERT_EQ(::stat(t.bytes("D/sparse.img").constData(), &d), 0);
    EXPECT_EQ(d.st_size, 64 << 20);
    EXPECT_LE(d.st_blocks, s.st_blocks + 64) << "holes stay holes";
    EXPECT_EQ(t.read("D/sparse.img").mid(32 << 20, 6), "middle");

    if (::geteuid() == 0) {
        ASSERT_EQ(::stat(t.bytes("D/docs/b.txt").constData(), &d), 0);
        EXPECT_EQ(d.st_uid, 65534u);
        EXPECT_EQ(d.st_gid, 65534u);
    }
}

TEST(EngineProgress, theLastReportIsFinishedWithTheTotals)
{
    TempTree t;
    makeSource(t);
    FileOperationEngine engine;
    std::vector<Progress> reports;
    QObject::connect(
        &engine, &FileOperationEngine::progress, &engine, [&](const Progress& p) { reports.push_back(p); },
        Qt::DirectConnection);
    Request r{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, 0};
    ASSERT_EQ(engine.run(r, nullptr), Success);
    ASSERT_FALSE(reports.empty());
    const Progress& last = reports.back();
    EXPECT_TRUE(last.finished);
    EXPECT_EQ(last.filesTotal, 3);
    EXPECT_EQ(last.filesDone, 3);
    EXPECT_EQ(last.bytesTotal, 5 + 5 + 7);
    EXPECT_EQ(last.bytesDone, 5 + 5 + 7);
}
