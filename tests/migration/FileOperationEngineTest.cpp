// The engine on real folders: where the copy goes, what collisions do under
// each flag, moves, cancel, errors and the metadata a copy keeps.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
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
    return engine.run(Request{operation, src, dst, flags, workers}, q);
}

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_ino : 0;
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

QByteArray xattrOf(const QString& path, const char* name)
{
    char buf[1024];
    const ssize_t n = ::lgetxattr(path.toLocal8Bit().constData(), name, buf, sizeof buf);
    return n < 0 ? QByteArray("<none>") : QByteArray(buf, n);
}

} // namespace

TEST(EngineResolution, anExistingFolderReceivesTheSourceAndAMissingOneBecomesTheCopy)
{
    TempTree t;
    makeSource(t);
    QDir().mkpath(t.path("D"));
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, nullptr), Success);
    EXPECT_EQ(t.files("D/S"), kSourceFiles);
    EXPECT_EQ(t.files("S"), kSourceFiles) << "a copy leaves the source alone";

    ScriptedQuestions yes;
    yes.createAnswers = {true};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("new/parent/D"), 0, &yes), Success);
    EXPECT_EQ(yes.createAsked, QStringList{t.path("new/parent/D")});
    EXPECT_EQ(t.files("new/parent/D"), kSourceFiles) << "the contents land directly in D";

    ScriptedQuestions no;
    no.createAnswers = {false};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("no/D"), 0, &no), Cancelled);
    EXPECT_NE(run(FO_COPY, t.path("S"), t.path("no/D"), 0, nullptr), Success) << "nobody to ask";
    EXPECT_FALSE(t.exists("no"));

    for (int flag : {int(FOF_NOCONFIRMMKDIR), int(FOF_NOCONFIRMATION)}) {
        ScriptedQuestions none; // any question fails the test
        const QString dst = QStringLiteral("x%1/D").arg(flag);
        EXPECT_EQ(run(FO_COPY, t.path("S"), t.path(dst), flag | FOF_SILENT, &none), Success) << flag;
        EXPECT_EQ(t.files(dst), kSourceFiles) << flag;
    }
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
    EXPECT_EQ(t.files("S"), kSourceFiles);
    EXPECT_FALSE(t.exists("S/docs/new"));
    EXPECT_FALSE(t.exists("D"));
}

TEST(EngineCollision, eachAnswerToTheMergeAndReplaceQuestionsIsObeyed)
{
    struct Case {
        std::vector<ReplaceAnswer> answers;
        int result;
        QByteArray a; // D/S/a.txt afterwards
        bool restCopied;
    };
    const std::vector<Case> cases{
        {{ReplaceAnswer::No}, Cancelled, "old alpha", false}, // no merge: a skip is no success
        {{ReplaceAnswer::Cancel}, Cancelled, "old alpha", false},
        {{ReplaceAnswer::Yes, ReplaceAnswer::Yes}, Success, "alpha", true},
        {{ReplaceAnswer::Yes, ReplaceAnswer::No}, Cancelled, "old alpha", true},
    };
    for (const Case& c : cases) {
        TempTree t;
        makeSource(t, true);
        ScriptedQuestions q;
        q.replaceAnswers = c.answers;
        EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), c.result);
        ASSERT_EQ(q.conflicts.size(), c.answers.size());
        EXPECT_EQ(q.conflicts[0].kind, Conflict::Kind::Folder);
        EXPECT_EQ(q.conflicts[0].target, t.path("D/S"));
        EXPECT_EQ(q.conflicts.back().source, t.path(c.answers.size() > 1 ? "S/a.txt" : "S"));
        EXPECT_EQ(t.read("D/S/a.txt"), c.a);
        EXPECT_EQ(t.read("D/S/keep.txt"), "only in target");
        EXPECT_EQ(t.exists("D/S/docs/deep/c.txt"), c.restCopied);
    }
}

TEST(EngineCollision, yesToAllAndTheNoConfirmationFlagReplaceWithoutFurtherQuestions)
{
    TempTree t;
    makeSource(t, true);
    t.write("D/S/docs/b.txt", "old bravo");
    t.write("D/S/docs/deep/c.txt", "old charlie");
    ScriptedQuestions q;
    q.replaceAnswers = {ReplaceAnswer::Yes, ReplaceAnswer::YesToAll, ReplaceAnswer::YesToAll};
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), 0, &q), Success);
    EXPECT_EQ(std::count_if(q.conflicts.begin(), q.conflicts.end(),
                            [](const Conflict& c) { return c.kind == Conflict::Kind::File; }),
              1);
    EXPECT_EQ(t.read("D/S/docs/b.txt"), "bravo");
    EXPECT_EQ(t.read("D/S/docs/deep/c.txt"), "charlie");

    TempTree ro;
    makeSource(ro, true);
    ASSERT_EQ(::chmod(ro.bytes("D/S/a.txt").constData(), 0444), 0);
    ScriptedQuestions none;
    EXPECT_EQ(run(FO_COPY, ro.path("S"), ro.path("D"), FOF_NOCONFIRMATION, &none), Success);
    EXPECT_EQ(ro.read("D/S/a.txt"), "alpha") << "a read-only target is replaced too";
    EXPECT_EQ(ro.read("D/S/keep.txt"), "only in target");
}

TEST(EngineCollision, renameGivesCopyOfNamesInTurnAndWinsOverYesToAll)
{
    TempTree t;
    makeSource(t, true);
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.files("D/Copy of S"), kSourceFiles);
    ScriptedQuestions none;
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_RENAMEONCOLLISION | FOF_NOCONFIRMATION, &none), Success);
    EXPECT_EQ(t.files("D/Copy (2) of S"), kSourceFiles);
    EXPECT_EQ(t.read("D/S/a.txt"), "old alpha") << "nothing replaced";
    EXPECT_EQ(run(FO_COPY, t.path("S"), t.path(), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.files("Copy of S"), kSourceFiles) << "into its own parent: a sibling";

    t.write("f.txt", "new");
    t.write("D/f.txt", "old");
    t.write("D/Copy of f.txt", "taken");
    EXPECT_EQ(run(FO_COPY, t.path("f.txt"), t.path("D"), FOF_RENAMEONCOLLISION, nullptr), Success);
    EXPECT_EQ(t.read("D/f.txt"), "old");
    EXPECT_EQ(t.read("D/Copy of f.txt"), "taken");
    EXPECT_EQ(t.read("D/Copy (2) of f.txt"), "new");

    const QByteArray renamed = collisionName(QByteArray(250, 'x') + ".docx", 3, false);
    EXPECT_LE(renamed.size(), 255);
    EXPECT_TRUE(renamed.startsWith("Copy (3) of xxx") && renamed.endsWith(".docx"));
    const QByteArray cut = collisionName(QString(127, QChar(0xE4)).toUtf8(), 1, true);
    EXPECT_LE(cut.size(), 255);
    EXPECT_FALSE(QString::fromUtf8(cut).contains(QChar::ReplacementCharacter)) << "no character split";
}

TEST(EngineMove, aMoveOnOneFileSystemRenamesTheTreeAndKeepsInodes)
{
    TempTree t;
    makeSource(t);
    QDir().mkpath(t.path("D"));
    const ino_t dirIno = inodeOf(t.path("S"));
    const ino_t fileIno = inodeOf(t.path("S/docs/deep/c.txt"));
    EXPECT_EQ(run(FO_MOVE, t.path("S"), t.path("D"), 0, nullptr), Success);
    EXPECT_FALSE(t.exists("S"));
    EXPECT_EQ(inodeOf(t.path("D/S")), dirIno);
    EXPECT_EQ(inodeOf(t.path("D/S/docs/deep/c.txt")), fileIno);
}

TEST(EngineMove, acrossFileSystemsASourceGoesOnlyAfterItsCopyExists)
{
    TempTree t;
    QDir().mkpath(t.path("mnt"));
    if (::mount("corvane-test", t.bytes("mnt").constData(), "tmpfs", 0, "size=32m") != 0)
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
    ::umount2(t.bytes("mnt").constData(), MNT_DETACH);
}

// Files are copied while the tree is still read, so the totals grow at first;
// once counting stops they must cover everything, and the last report is exact.
TEST(EngineProgress, theTotalsCoverTheTreeOnceCountingStops)
{
    TempTree t;
    qint64 bytes = 0;
    for (int d = 0; d < 30; ++d)
        for (int f = 0; f < 10; ++f) {
            const QByteArray content(100 * (d + 1) + f, 'x');
            t.write(QStringLiteral("S/d%1/f%2").arg(d).arg(f), content);
            bytes += content.size();
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
        if (!p.counting) {
            EXPECT_EQ(p.filesTotal, 300);
            EXPECT_EQ(p.bytesTotal, bytes);
        }
    }
    const Progress& last = reports.back();
    EXPECT_TRUE(last.finished);
    EXPECT_FALSE(last.counting);
    EXPECT_EQ(last.filesDone, 300);
    EXPECT_EQ(last.bytesDone, bytes);
}

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
        if (name != QLatin1String("f12.bin")) {
            EXPECT_EQ(t.read("D/S/" + name), data) << name.toStdString();
            ++whole;
        }
    }
    EXPECT_EQ(t.read("D/S/f12.bin"), "collides");
    EXPECT_LT(whole, 23) << "the cancel stopped the run";
}

TEST(EngineErrors, anUnreadableFileSkippedOrCancelledMakesTheRunFail)
{
    for (ErrorAnswer answer : {ErrorAnswer::Skip, ErrorAnswer::Cancel}) {
        TempTree t;
        makeSource(t);
        t.write("S/secret.txt", "secret");
        ASSERT_EQ(::chmod(t.bytes("S/secret.txt").constData(), 0), 0);
        const int rc = runUnprivileged([&] {
            ScriptedQuestions q;
            q.errorAnswers = {answer};
            const int result = run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, &q);
            if (answer == ErrorAnswer::Cancel)
                return result == Cancelled ? 0 : 1;
            const bool asked = q.errors.size() == 1 && q.errors[0].path == t.path("S/secret.txt");
            const bool restCopied = t.read("D/docs/deep/c.txt") == "charlie" && !t.exists("D/secret.txt");
            return result == AccessDenied && asked && restCopied ? 0 : 1;
        });
        EXPECT_EQ(rc, 0) << int(answer);
    }
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
    {
        QFile sparse(t.path("S/sparse.img"));
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(64 << 20) && sparse.seek(32 << 20));
        sparse.write("middle");
    }
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::lchown(t.bytes("S/docs/b.txt").constData(), 65534, 65534), 0);
    }

    ASSERT_EQ(run(FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, nullptr), Success);

    struct stat s {};
    struct stat d {};
    ASSERT_EQ(::stat(a.constData(), &s), 0);
    ASSERT_EQ(::stat(t.bytes("D/a.txt").constData(), &d), 0);
    EXPECT_EQ(d.st_mode & 07777, s.st_mode & 07777);
    EXPECT_EQ(d.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(d.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(d.st_atim.tv_nsec, 123456789);
    if (userXattrs) {
        EXPECT_EQ(xattrOf(t.path("D/a.txt"), "user.corvane"), "tag");
    }
    EXPECT_EQ(xattrOf(t.path("D/a.txt"), "system.posix_acl_access"),
              xattrOf(t.path("S/a.txt"), "system.posix_acl_access"));
    EXPECT_EQ(xattrOf(t.path("D/docs"), "system.posix_acl_default"),
              xattrOf(t.path("S/docs"), "system.posix_acl_default"));
    ASSERT_EQ(::stat(t.bytes("D/docs").constData(), &d), 0);
    EXPECT_EQ(d.st_mtim.tv_nsec, 987654321) << "folder times are set after its entries";
    ASSERT_EQ(::stat(t.bytes("D/docs/deep").constData(), &d), 0);
    EXPECT_EQ(d.st_mode & 07777, 0555u);
    EXPECT_EQ(t.read("D/docs/deep/c.txt"), "charlie") << "a read-only source folder is still filled";
    char target[16] = {};
    EXPECT_GT(::readlink(t.bytes("D/docs/link").constData(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../a.txt") << "a link stays a link with its own text";
    ASSERT_EQ(::stat(t.bytes("S/sparse.img").constData(), &s), 0);
    ASSERT_EQ(::stat(t.bytes("D/sparse.img").constData(), &d), 0);
    EXPECT_EQ(d.st_size, 64 << 20);
    EXPECT_LE(d.st_blocks, s.st_blocks + 64) << "holes stay holes";
    EXPECT_EQ(t.read("D/sparse.img").mid(32 << 20, 6), "middle");
    ASSERT_EQ(::stat(t.bytes("D/docs/b.txt").constData(), &d), 0);
    if (root) {
        EXPECT_EQ(d.st_uid, 65534u);
    }
}
