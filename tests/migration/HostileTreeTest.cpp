// The engine runs as root over trees whose owners may still be logged on. Each
// test lands one attack or change at a chosen moment, through the question the
// engine asks, and checks that nothing outside the request is read, written or
// deleted, that nothing inside it is lost, and that the result says so.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fileop;

namespace {

// Few descriptors, so the walk closes the folders it finished and must reach
// them again later. Only root can give the limit back afterwards.
class LowFileLimit {
public:
    explicit LowFileLimit(rlim_t n)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        const rlimit low{n, n};
        m_ok = ::geteuid() == 0 && ::setrlimit(RLIMIT_NOFILE, &low) == 0;
    }
    ~LowFileLimit()
    {
        if (m_ok)
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_saved{};
    bool m_ok = false;
};

// S/top/l1/l2/.../l59, each level with a file "f": listed breadth first, the
// levels come in order, so the deepest file is the last one copied and by
// then the first levels were closed long ago.
constexpr int kLevels = 60;
QString level(int n)
{
    QString rel = "S/top";
    for (int i = 1; i <= n; ++i)
        rel += QStringLiteral("/l%1").arg(i);
    return rel;
}

void makeChain(const TempTree& t)
{
    for (int i = 0; i < kLevels; ++i) {
        t.write(level(i) + "/f", QByteArray("level ") + QByteArray::number(i));
        ASSERT_EQ(::chmod(t.bytes(level(i)).constData(), 0755), 0);
    }
}

// A root-only folder holding a file of the same name as the swapped folder's.
void makeVictim(const TempTree& t)
{
    t.write("victim/f", "precious");
    ASSERT_EQ(::chmod(t.bytes("victim").constData(), 0700), 0);
}

void swapForLink(const TempTree& t, const QString& rel)
{
    ASSERT_EQ(::rename(t.bytes(rel).constData(), t.bytes(rel + ".moved").constData()), 0);
    ASSERT_EQ(::symlink(t.bytes("victim").constData(), t.bytes(rel).constData()), 0);
}

} // namespace

TEST(HostileTree, aFolderSwappedForALinkAfterItWasClosedIsNeverFollowed)
{
    LowFileLimit limit(160);
    if (!limit.ok())
        GTEST_SKIP() << "needs root to lower the descriptor limit and restore it";

    // A move across file systems: the deletions must not go through the link.
    {
        TempTree t;
        Tmpfs mnt(t.path("mnt"));
        if (!mnt.ok())
            GTEST_SKIP() << "cannot mount a tmpfs here: no second file system";
        makeChain(t);
        makeVictim(t);
        t.write("mnt/D/S/top/" + level(kLevels - 1).mid(6) + "/f", "older");
        Operator op;
        op.onReplace = [&](const Conflict& c) {
            if (c.kind == Conflict::Kind::File)
                swapForLink(t, level(1));
            return ReplaceAnswer::YesToAll;
        };
        FileOperationEngine engine;
        EXPECT_NE(engine.run(Request{FO_MOVE, t.path("S"), t.path("mnt/D"), 0, 1}, &op), Success);
        EXPECT_EQ(t.read("victim/f"), "precious") << "a deletion went through the link";
        EXPECT_TRUE(engine.failures().join('\n').contains("changed during the run"))
            << engine.failures().join('\n').toStdString();
        EXPECT_EQ(t.read(level(1) + ".moved/f"), "level 1") << "the real folder's file was not deleted";
        EXPECT_EQ(t.read("mnt/D/" + level(kLevels - 1) + "/f"), "level 59");
    }
    // A copy merged into a target whose owner swaps one of the new folders: the
    // folder metadata set at the end must not land on the link's target.
    {
        TempTree t;
        makeChain(t);
        makeVictim(t);
        struct stat before {};
        ASSERT_EQ(::stat(t.bytes("victim").constData(), &before), 0);
        t.write("D/" + level(kLevels - 1) + "/f", "older");
        Operator op;
        op.onReplace = [&](const Conflict& c) {
            if (c.kind == Conflict::Kind::File)
                swapForLink(t, "D/" + level(1));
            return ReplaceAnswer::YesToAll;
        };
        FileOperationEngine engine;
        EXPECT_NE(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), 0, 1}, &op), Success);
        struct stat after {};
        ASSERT_EQ(::stat(t.bytes("victim").constData(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, 0700u) << "the victim folder got the source's mode";
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(t.read("D/" + level(kLevels - 1).replace("/l1/", "/l1.moved/") + "/f"), "level 59");
    }
}

// A same-file-system move merging into an existing folder: the source folder
// swapped, while the merge question waits, for a link to a root-only folder
// or for another folder, is not merged, and the refusal names the source.
TEST(HostileTree, aFolderSwappedBeforeARenameMergeIsRefusedAsChanged)
{
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link" : "another folder");
        TempTree t;
        t.write("S/f", "mine");
        t.write("D/S/g", "there");
        makeVictim(t);
        Operator op;
        op.onReplace = [&](const Conflict&) {
            if (link)
                swapForLink(t, "S");
            else
                EXPECT_TRUE(QDir().rename(t.path("S"), t.path("S.moved")) && QDir().mkdir(t.path("S")));
            return ReplaceAnswer::Yes;
        };
        FileOperationEngine engine;
        EXPECT_NE(engine.run(Request{FO_MOVE, t.path("S"), t.path("D"), 0, 0}, &op), Success);
        const QString failures = engine.failures().join('\n');
        EXPECT_TRUE(failures.contains("Cannot open " + t.path("S") + ": it changed during the run"))
            << failures.toStdString();
        EXPECT_EQ(t.read("victim/f"), "precious");
        EXPECT_EQ(t.read("S.moved/f"), "mine") << "the folder it was swapped for kept its file";
        EXPECT_EQ(t.files("D/S"), QStringList{"g"}) << "nothing was merged";
    }
}

TEST(HostileTree, aTargetHoldingTheSourceAndALinkAsTheSourceAreHandledWithoutLoss)
{
    TempTree t;
    t.write("d/S/S/f", "inner");
    t.write("d/S/g", "outer");
    for (int op : {int(FO_MOVE), int(FO_COPY)}) {
        FileOperationEngine engine;
        EXPECT_EQ(engine.run(Request{op, t.path("d/S/S"), t.path("d"), FOF_NOCONFIRMATION, 0}, nullptr),
                  SourceInsideDestination);
        EXPECT_EQ(t.read("d/S/S/f") + t.read("d/S/g"), "innerouter");
    }

    // A link given as the source is the item itself: a move moves the link, a
    // copy copies it, and the folder it points to stays where it is.
    t.write("data/f", "data");
    ASSERT_EQ(::symlink(t.bytes("data").constData(), t.bytes("L").constData()), 0);
    QDir().mkpath(t.path("C"));
    QDir().mkpath(t.path("M"));
    EXPECT_EQ(FileOperationEngine().run(Request{FO_COPY, t.path("L"), t.path("C"), 0, 0}, nullptr), Success);
    EXPECT_EQ(QFileInfo(t.path("C/L")).symLinkTarget(), t.path("data"));
    EXPECT_EQ(FileOperationEngine().run(Request{FO_MOVE, t.path("L"), t.path("M"), 0, 0}, nullptr), Success);
    EXPECT_TRUE(QFileInfo(t.path("M/L")).isSymLink());
    EXPECT_FALSE(t.exists("L"));
    EXPECT_EQ(t.read("data/f"), "data") << "the link's target stayed in place";
}

TEST(HostileTree, aMoveLeavesWhatChangedOrAppearedDuringTheRunInTheSource)
{
    TempTree t;
    Tmpfs mnt(t.path("mnt"));
    if (!mnt.ok())
        GTEST_SKIP() << "cannot mount a tmpfs here: no second file system";
    makeChain(t);
    t.write("S/top/l1/notes.txt", "line 1\n");
    t.write("mnt/D/" + level(kLevels - 1) + "/f", "older");
    Operator op;
    op.onReplace = [&](const Conflict& c) {
        if (c.kind == Conflict::Kind::File) { // everything before the last file is copied by now
            QFile f(t.path("S/top/l1/notes.txt"));
            EXPECT_TRUE(f.open(QIODevice::Append) && f.write("line 2\n") == 7);
            f.close();
            t.write("S/top/l2.txt", "new");
        }
        return ReplaceAnswer::YesToAll;
    };
    FileOperationEngine engine;
    EXPECT_NE(engine.run(Request{FO_MOVE, t.path("S"), t.path("mnt/D"), 0, 1}, &op), Success);
    EXPECT_EQ(t.read("S/top/l1/notes.txt"), "line 1\nline 2\n") << "a file written to after its copy was deleted";
    EXPECT_EQ(t.read("S/top/l2.txt"), "new") << "a file added during the run was lost";
    EXPECT_EQ(t.files("S"), QStringList({"top/l1/notes.txt", "top/l2.txt"})) << "the rest moved";
    const QString failures = engine.failures().join('\n');
    EXPECT_TRUE(failures.contains(t.path("S/top/l1/notes.txt")) && failures.contains(t.path("S/top")))
        << failures.toStdString();
}

TEST(HostileTree, aFileSwappedForAFifoIsRefusedAndCancelEndsTheRun)
{
    TempTree t;
    for (int i = 0; i < 6; ++i) {
        t.write(QStringLiteral("S/f%1").arg(i), "data");
        t.write(QStringLiteral("D/S/f%1").arg(i), "old");
    }
    Operator op;
    bool swapped = false;
    op.onReplace = [&](const Conflict& c) {
        if (c.kind == Conflict::Kind::File && !swapped) { // the first file; one worker: no other opened yet
            swapped = true;
            for (int i = 0; i < 6; ++i) {
                const QByteArray path = t.bytes(QStringLiteral("S/f%1").arg(i));
                if (path != c.source.toLocal8Bit()) {
                    EXPECT_TRUE(::unlink(path.constData()) == 0 && ::mkfifo(path.constData(), 0644) == 0);
                }
            }
        }
        return ReplaceAnswer::YesToAll;
    };
    op.onError = [](const FileError&) {
        return ErrorAnswer::Cancel;
    };
    FileOperationEngine engine;
    EXPECT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), 0, 1}, &op), Cancelled);
    ASSERT_EQ(op.errors.size(), 1);
    EXPECT_TRUE(op.errors[0].text().contains("changed during the run")) << op.errors[0].text().toStdString();
    int replaced = 0;
    for (int i = 0; i < 6; ++i)
        replaced += t.read(QStringLiteral("D/S/f%1").arg(i)) == "data";
    EXPECT_EQ(replaced, 1);
}

TEST(HostileTree, aBindMountedAliasOfTheSourceIsRefusedUpFront)
{
    TempTree t;
    t.write("S/sub/deeper/f", "f");
    t.write("S/sub/deeper/sub/g", "g");
    const Mount alias(t.path("alias"), t.bytes("S/sub/deeper"), nullptr, MS_BIND);
    if (!alias.ok())
        GTEST_SKIP() << "cannot bind-mount here (" << std::strerror(errno) << ")";
    const Mount alias2(t.path("alias2"), t.bytes("S"), nullptr, MS_BIND);
    const bool second = alias2.ok();
    for (int op : {int(FO_COPY), int(FO_MOVE)}) {
        FileOperationEngine engine;
        EXPECT_EQ(engine.run(Request{op, t.path("S"), t.path("alias"), FOF_NOCONFIRMATION, 0}, nullptr),
                  DestinationInsideSource);
        EXPECT_EQ(engine.run(Request{op, t.path("S"), t.path("alias/new"), FOF_NOCONFIRMATION, 0}, nullptr),
                  DestinationInsideSource);
        // alias2/sub is S/sub, which holds the source: merging into it would replace the source.
        if (second) {
            EXPECT_EQ(
                engine.run(Request{op, t.path("S/sub/deeper/sub"), t.path("alias2"), FOF_NOCONFIRMATION, 0}, nullptr),
                SourceInsideDestination);
        }
    }
    EXPECT_EQ(t.files("S"), QStringList({"sub/deeper/f", "sub/deeper/sub/g"})) << "nothing created or moved";
}

namespace {

// corvane-fileop on a pseudo-terminal, so it asks its questions and waits for
// the answers: a run held at a question of our choosing.
class CliOnTerminal {
public:
    CliOnTerminal()
        : m_master(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        m_proc.setReadChannel(QProcess::StandardError);
    }
    ~CliOnTerminal()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(5000);
        }
        if (m_master >= 0)
            ::close(m_master);
    }
    bool start(const QStringList& args)
    {
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        m_proc.setStandardInputFile(QString::fromLocal8Bit(::ptsname(m_master)));
        m_proc.start(QStringLiteral(CORVANE_APP_DIR "/corvane-fileop"), args);
        return m_proc.waitForStarted(5000);
    }
    bool waitFor(const QString& text)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_err.contains(text) && clock.elapsed() < 20000) {
            m_proc.waitForReadyRead(200);
            m_err += QString::fromLocal8Bit(m_proc.readAllStandardError());
            if (m_proc.state() == QProcess::NotRunning && !m_err.contains(text))
                return false;
        }
        return m_err.contains(text);
    }
    void answer(const char* line) { EXPECT_EQ(::write(m_master, line, std::strlen(line)), ssize_t(std::strlen(line))); }
    void signal(int sig) { ::kill(static_cast<pid_t>(m_proc.processId()), sig); }
    QProcess& process() { return m_proc; }
    QString err() { return m_err += QString::fromLocal8Bit(m_proc.readAllStandardError()); }

private:
    int m_master;
    QProcess m_proc;
    QString m_err;
};

// Twenty users' folders with their own modes, owners and times, and a deep
// chain z/z1/.../z8 whose last file collides in the target, so the run asks
// about it only after every other folder was made.
void makeHomes(const TempTree& t, const QString& target)
{
    const timespec times[2] = {{1500000000, 5}, {1600000000, 7}};
    for (int u = 0; u < 20; ++u)
        for (const char* sub : {"Documents", "Pictures"}) {
            const QString dir = QStringLiteral("S/u%1/%2").arg(u).arg(QLatin1String(sub));
            t.write(dir + "/file.txt", dir.toUtf8());
            for (const QString& d : {dir, dir.section(u'/', 0, 1)}) {
                EXPECT_EQ(::chmod(t.bytes(d).constData(), 0750), 0);
                EXPECT_TRUE(::geteuid() != 0 || ::lchown(t.bytes(d).constData(), 65534, 65534) == 0);
            }
        }
    QString deep = "S/z";
    for (int i = 1; i <= 8; ++i)
        deep += QStringLiteral("/z%1").arg(i);
    t.write(deep + "/last.txt", "last");
    t.write(target + "/" + deep + "/last.txt", "older");
    QDirIterator it(t.path("S"), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        EXPECT_EQ(::utimensat(AT_FDCWD, it.next().toLocal8Bit().constData(), times, 0), 0);
}

// Mode, owner, modification time and content of everything below rel.
QStringList treeState(const TempTree& t, const QString& rel)
{
    QStringList out;
    QDirIterator it(t.path(rel), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        ::lstat(path.toLocal8Bit().constData(), &st);
        out << QStringLiteral("%1 %2 %3:%4 %5.%6 %7")
                   .arg(QDir(t.path(rel)).relativeFilePath(path))
                   .arg(st.st_mode, 0, 8)
                   .arg(st.st_uid)
                   .arg(st.st_gid)
                   .arg(st.st_mtim.tv_sec)
                   .arg(st.st_mtim.tv_nsec)
                   .arg(S_ISREG(st.st_mode) ? t.read(QDir(t.path()).relativeFilePath(path)) : QByteArray());
    }
    out.sort();
    return out;
}

// Starts the command on a terminal, merges every folder, and returns once the
// run waits at the question about its one colliding file.
void holdAtTheLastQuestion(CliOnTerminal& cli, const QStringList& args)
{
    ASSERT_TRUE(cli.start(args));
    ASSERT_TRUE(cli.waitFor("Merge")) << cli.err().toStdString();
    cli.answer("a\n");
    ASSERT_TRUE(cli.waitFor("Replace")) << cli.err().toStdString();
}

} // namespace

TEST(HostileTree, aRunKilledMidwayThenRunAgainLeavesTheTreeOfAnUnbrokenRun)
{
    TempTree t;
    makeHomes(t, "D");
    {
        CliOnTerminal cli;
        ASSERT_NO_FATAL_FAILURE(holdAtTheLastQuestion(cli, {"copy", "--workers", "1", t.path("S"), t.path("D")}));
        cli.signal(SIGKILL);
        cli.process().waitForFinished(10000);
    }
    ASSERT_EQ(t.lstat("D/S/u7/Documents").st_mode & 07777, 0700u) << "the kill did not land in the middle of the run";

    const CliRun again = runCli({"copy", "--yes-to-all", t.path("S"), t.path("D")});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    const CliRun unbroken = runCli({"copy", "--no-confirm-mkdir", t.path("S"), t.path("E/S")});
    ASSERT_EQ(unbroken.exitCode, 0) << unbroken.err.toStdString();
    EXPECT_EQ(treeState(t, "D/S"), treeState(t, "E/S"));
}

TEST(HostileTree, sigtermEndsARunThatWaitsForAnAnswer)
{
    TempTree t;
    makeHomes(t, "D");
    CliOnTerminal cli;
    ASSERT_NO_FATAL_FAILURE(holdAtTheLastQuestion(cli, {"move", "--workers", "1", t.path("S"), t.path("D")}));
    QElapsedTimer clock;
    clock.start();
    cli.signal(SIGTERM);
    ASSERT_TRUE(cli.process().waitForFinished(10000)) << "the run went on waiting for its answer";
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(cli.process().exitCode(), 1);
    EXPECT_TRUE(cli.err().trimmed().endsWith("result: 1223")) << cli.err().toStdString();
    EXPECT_TRUE(cli.err().contains("To finish, run the same move again with --yes-to-all"))
        << "an interrupted run says how to finish: " << cli.err().toStdString();
    EXPECT_EQ(t.read("S/z/z1/z2/z3/z4/z5/z6/z7/z8/last.txt"), "last") << "a cancelled move deletes nothing";
}

// Past the descriptor budget, folders are reached again name by name: a tree
// deeper than any path the kernel takes in one piece is still copied whole.
TEST(HostileTree, aTreeDeeperThanPathMaxPastTheDescriptorBudgetIsCopiedWhole)
{
    LowFileLimit limit(160);
    if (!limit.ok())
        GTEST_SKIP() << "needs root to lower the descriptor limit and restore it";
    TempTree t;
    const QByteArray name(200, 'd');
    constexpr int kDepth = 40; // 40 * 201 bytes: well past PATH_MAX
    auto walkDown = [&](const QString& top, bool make) {
        int fd = ::open(t.bytes(top).constData(), O_PATH | O_DIRECTORY);
        for (int i = 0; fd >= 0 && i < kDepth; ++i) {
            if (make)
                ::mkdirat(fd, name.constData(), 0755);
            const int next = ::openat(fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW);
            ::close(fd);
            fd = next;
        }
        return fd;
    };
    QDir().mkpath(t.path("S"));
    const int deepest = walkDown("S", true);
    ASSERT_GE(deepest, 0);
    const int file = ::openat(deepest, "bottom.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_TRUE(file >= 0 && ::write(file, "bottom", 6) == 6);
    ::close(file);
    ::close(deepest);

    FileOperationEngine engine;
    EXPECT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMMKDIR, 1}, nullptr), Success)
        << engine.failures().join('\n').toStdString();
    const int copied = walkDown("D", false);
    ASSERT_GE(copied, 0) << "the copy stops short of the bottom";
    struct stat st {};
    EXPECT_EQ(::fstatat(copied, "bottom.txt", &st, 0), 0);
    EXPECT_EQ(st.st_size, 6);
    ::close(copied);
    // Too deep for a removal by path: rm walks it by descriptor.
    EXPECT_EQ(QProcess::execute("rm", {"-rf", t.path("S"), t.path("D")}), 0);
}

// At cutover the target folders belong to their users. One of them puts a hard
// link to a root file where their copy stood, with the source's size and time:
// the second pass must not give that file their owner or mode.
TEST(HostileTree, aHardLinkPlantedInTheTargetGetsNoOwnerOrModeFromTheSecondPass)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "owners are only set by root";
    TempTree t;
    t.write("S/u/notes.txt", "mine!");
    t.write("victim.txt", "root!");
    ASSERT_EQ(::lchown(t.bytes("S/u/notes.txt").constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(t.bytes("victim.txt").constData(), 0600), 0);
    for (const char* rel : {"S/u/notes.txt", "victim.txt"})
        t.setMtime(rel, 1600000000, 0);
    QDir().mkpath(t.path("D"));
    const Request request{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMATION, 0};
    ASSERT_EQ(FileOperationEngine().run(request, nullptr), Success);
    ASSERT_EQ(::unlink(t.bytes("D/S/u/notes.txt").constData()), 0);
    ASSERT_EQ(::link(t.bytes("victim.txt").constData(), t.bytes("D/S/u/notes.txt").constData()), 0);

    EXPECT_EQ(FileOperationEngine().run(request, nullptr), Success);
    const struct stat victim = t.lstat("victim.txt");
    EXPECT_EQ(victim.st_uid, 0u);
    EXPECT_EQ(victim.st_mode & 07777, 0600u);
    EXPECT_EQ(t.read("victim.txt"), "root!");
    EXPECT_EQ(t.read("D/S/u/notes.txt"), "mine!") << "the planted name is replaced by the copy";
    EXPECT_EQ(t.lstat("D/S/u/notes.txt").st_uid, 65534u);
}
