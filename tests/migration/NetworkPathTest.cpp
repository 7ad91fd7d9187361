// Network paths mapped to mounted shares from mountinfo fixtures, and the
// names Windows clients cannot use.
#include "EngineTestSupport.h"
#include "MountInfoFixture.h"

#include "migration/fileop/FileOperationEngine.h"
#include "migration/fileop/NetworkPath.h"
#include "migration/fileop/WindowsNames.h"

#include <QRegularExpression>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace fileop;

namespace {

// Runs body in a child process with its own private mount namespace, so no
// mount it makes reaches this computer's; what body returns comes back as
// text. nullopt where such mounts are not allowed.
std::optional<QString> inPrivateMounts(const std::function<QString()>& body)
{
    int out[2];
    if (::pipe(out) != 0)
        return QStringLiteral("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        const QByteArray text = body().toUtf8();
        const bool written = ::write(out[1], text.constData(), size_t(text.size())) == text.size();
        ::_exit(written ? 0 : 1);
    }
    ::close(out[1]);
    QByteArray text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("the child process failed with status %1").arg(status);
    return QString::fromUtf8(text);
}

// Swaps the share shown at mnt/homes for the folder "elsewhere": another file
// system mounted over the mount point ("bind over"), or a link in its place
// ("link"); "none" leaves it. False when the link could not be made.
bool swapShare(const TempTree& t, const std::string& swap)
{
    const QByteArray shownAt = t.bytes("mnt/homes");
    if (swap == "bind over")
        ::mount(t.bytes("elsewhere").constData(), shownAt.constData(), nullptr, MS_BIND, nullptr);
    return swap != "link" || (::umount2(shownAt.constData(), MNT_DETACH) == 0 && ::rmdir(shownAt.constData()) == 0 &&
                              ::symlink(t.bytes("elsewhere").constData(), shownAt.constData()) == 0);
}

} // namespace

TEST(NetworkPath, bothSpellingsMapToTheMountedShareWithServerNamesComparedAsWindowsDoes)
{
    TempTree t;
    const QString mountinfo = MountInfo(t)
                                  .share("//dc1/homes$", "mnt/homes")
                                  .share("//fs2.school.local/Staff", "mnt/staff", "smb3")
                                  .other("30 1 0:55 / /mnt/nfs rw - nfs4 fs2.school.local:/Staff rw") // not SMB
                                  .write();

    for (const QString& typed :
         {QStringLiteral("\\\\dc1.school.local\\homes$\\y7a.moss"), QStringLiteral("//DC1/HOMES$/y7a.moss"),
          QStringLiteral("\\\\dc1/homes$\\\\y7a.moss\\")}) {
        SCOPED_TRACE(typed.toStdString());
        const MappedPath m = mapNetworkPath(typed, mountinfo);
        ASSERT_TRUE(m.ok()) << m.refusal.toStdString();
        EXPECT_EQ(m.path, t.path("mnt/homes/y7a.moss"));
        EXPECT_EQ(m.share, "\\\\" + typed.mid(2).section(QRegularExpression("[\\\\/]+"), 0, 1).replace(u'/', u'\\'));
    }
    EXPECT_EQ(mapNetworkPath("\\\\fs2\\staff\\", mountinfo).path, t.path("mnt/staff")) << "a short name finds the full";
    EXPECT_EQ(mapNetworkPath("\\\\FS2.School.Local\\STAFF\\a\\b", mountinfo).path, t.path("mnt/staff/a/b"));

    EXPECT_TRUE(sameServer("dc1", "DC1.school.local"));
    EXPECT_FALSE(sameServer("dc1.school.local", "dc1.other.local")) << "two full names must agree";
    EXPECT_FALSE(sameServer("dc1", "dc2.school.local"));
    EXPECT_FALSE(sameServer("10", "10.0.0.1")) << "an address is no full name";
    EXPECT_TRUE(sameServer("10.0.0.1", "10.0.0.1"));

    // Any other path passes untouched: the run resolves it.
    EXPECT_EQ(mapNetworkPath("relative/dir", mountinfo).path, "relative/dir");
    EXPECT_EQ(mapNetworkPath("/srv/homes", mountinfo).path, "/srv/homes");
}

TEST(NetworkPath, aShareMountedAtOneOfItsFoldersHoldsOnlyWhatIsBelowThatFolder)
{
    TempTree t;
    const QString mountinfo = MountInfo(t)
                                  .share("//fs1/homes/Year7", "mnt/y7")
                                  .share("//fs1/homes", "mnt/all")
                                  .share("//fs1/homes", "mnt/bind", "cifs", "/Year9/Set A") // a folder below
                                  .write();
    EXPECT_EQ(mapNetworkPath("\\\\fs1\\homes\\year7\\u1", mountinfo).path, t.path("mnt/y7/u1")) << "the deepest wins";
    EXPECT_EQ(mapNetworkPath("\\\\fs1\\homes\\Year8\\u1", mountinfo).path, t.path("mnt/all/Year8/u1"));
    EXPECT_EQ(mapNetworkPath("\\\\fs1\\homes\\Year9\\Set A\\u2", mountinfo).path, t.path("mnt/bind/u2"));
}

TEST(NetworkPath, withoutItsShareMountedAPathIsRefusedWithTheShareAndHowToMountIt)
{
    TempTree t;
    const QString mountinfo = MountInfo(t)
                                  .share("//dc1.school.local/homes$", "mnt/homes")
                                  .share("//fs1/data", "mnt/covered", "cifs", "/", false) // now covered
                                  .share("//fs1/homes/Year7", "mnt/y7")
                                  .write();

    MappedPath m = mapNetworkPath("\\\\dc1.other.local\\homes$\\x", mountinfo);
    EXPECT_FALSE(m.ok());
    EXPECT_TRUE(m.path.isEmpty());
    EXPECT_TRUE(m.refusal.contains("\\\\dc1.other.local\\homes$, which is not mounted")) << m.refusal.toStdString();
    EXPECT_TRUE(m.refusal.endsWith("mount -t cifs '//dc1.other.local/homes$' /mnt/homes -o sec=krb5,cifsacl"))
        << m.refusal.toStdString();
    EXPECT_FALSE(mapNetworkPath("\\\\fs1\\homes\\Year8", mountinfo).ok()) << "a folder mount holds no sibling";
    m = mapNetworkPath("//fs1/data/x", mountinfo);
    EXPECT_TRUE(m.refusal.contains("another file system now covers " + t.path("mnt/covered")))
        << m.refusal.toStdString();

    for (const char* bad : {"\\\\server", "//", "\\\\dc1.school.local\\homes$\\..\\etc", "C:\\Users\\x", "d:/x"}) {
        SCOPED_TRACE(bad);
        m = mapNetworkPath(QString::fromUtf8(bad), mountinfo);
        EXPECT_FALSE(m.ok());
        EXPECT_TRUE(m.path.isEmpty());
    }
    m = mapNetworkPath("\\\\dc1\\homes$", t.path("no-such-mountinfo"));
    EXPECT_TRUE(m.refusal.contains("cannot read")) << m.refusal.toStdString();
    EXPECT_EQ(mountCommand("fs1", "Staff Files"),
              "mount -t cifs '//fs1/Staff Files' /mnt/stafffiles -o sec=krb5,cifsacl");
}

TEST(NetworkPath, theEngineRefusesANetworkPathGivenAsItStandsAndWritesNothing)
{
    TempTree t;
    t.write("S/a.txt", "alpha");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(t.path()));
    for (const QString& dst : {QStringLiteral("\\\\fs1\\homes$\\y7"), QStringLiteral("//fs1/homes$/y7")}) {
        Operator q;
        FileOperationEngine engine;
        EXPECT_EQ(engine.run({.source = t.path("S"), .destination = dst, .flags = FOF_NOCONFIRMMKDIR}, &q),
                  NetworkPathNotFound);
        EXPECT_TRUE(engine.failures().join("").contains(dst));
    }
    QDir::setCurrent(before);
    EXPECT_EQ(QDir(t.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"S"});
    EXPECT_FALSE(QFileInfo::exists("/fs1"));
}

// The share (a tmpfs) is shown at mnt/homes; between the mapping the operator
// saw and the run, another folder is bind-mounted over it, or the mount point
// becomes a link to that folder. The copy lands on the share or nowhere.
TEST(NetworkPath, aShareSwappedAfterItWasMappedIsNeverWrittenPast)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount";
    const struct {
        const char* destination;
        bool contents;
        const char* copied; // where S/a.txt lands on the share
    } places[] = {{"\\\\fs1\\homes\\y7", false, "y7/S/a.txt"},
                  {"//fs1/homes/new/y7", false, "new/y7/a.txt"}, // the run makes the missing folders
                  {"\\\\fs1\\homes", true, "a.txt"}};            // into the mount point itself
    for (const auto& place : places) {
        for (const char* swap : {"none", "bind over", "link"}) {
            SCOPED_TRACE(place.destination + std::string(", swap: ") + swap);
            TempTree t;
            t.write("S/a.txt", "alpha");
            t.write("elsewhere/.keep", "");
            const auto report = inPrivateMounts([&] {
                const Tmpfs store(t.path("store"));
                const Mount shown(t.path("mnt/homes"), t.bytes("store"), nullptr, MS_BIND);
                if (!store.ok() || !shown.ok())
                    ::_exit(77);
                t.write("store/y7/.keep", "");
                const QString mountinfo = MountInfo(t).share("//fs1/homes", "mnt/homes").write();
                const MappedPath mapped = mapNetworkPath(QString::fromUtf8(place.destination), mountinfo);
                if (!swapShare(t, swap))
                    return QStringLiteral("the link was not made");
                Operator q;
                FileOperationEngine engine;
                const int rc = engine.run({.source = t.path("S"),
                                           .destination = mapped.path,
                                           .flags = FOF_NOCONFIRMMKDIR,
                                           .contents = place.contents,
                                           .destinationMount = mapped.mount},
                                          &q);
                return QStringLiteral("%1|%2|%3")
                    .arg(rc)
                    .arg(engine.failures().join(u';'), t.files("store").join(u','));
            });
            if (!report)
                GTEST_SKIP() << "mounts are not allowed here";
            QStringList stored{".keep", "y7/.keep"};
            if (swap == std::string("none"))
                stored << QString::fromUtf8(place.copied);
            stored.sort();
            const QString expected = swap == std::string("none")
                                         ? "0||" + stored.join(u',')
                                         : QStringLiteral("%1|Cannot open %2: it changed during the run|%3")
                                               .arg(GeneralFailure)
                                               .arg(t.path("mnt/homes"), stored.join(u','));
            EXPECT_EQ(report->toStdString(), expected.toStdString());
            EXPECT_EQ(t.files("elsewhere").join(u',').toStdString(), ".keep") << "nothing is written past the share";
        }
    }
}

// The same swap on the source side: a move from the share shown takes the
// user's folder from that share, or nothing; never another file system's folder
// of the same name (which it would then delete).
TEST(NetworkPath, aSourceShareSwappedAfterItWasMappedIsNeverReadPast)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount";
    for (const char* swap : {"none", "bind over", "link"}) {
        SCOPED_TRACE(std::string("swap: ") + swap);
        TempTree t;
        t.write("elsewhere/S/a.txt", "other");
        const auto report = inPrivateMounts([&] {
            const Tmpfs store(t.path("store"));
            const Mount shown(t.path("mnt/homes"), t.bytes("store"), nullptr, MS_BIND);
            if (!store.ok() || !shown.ok())
                ::_exit(77);
            t.write("store/S/a.txt", "alpha");
            const QString mountinfo = MountInfo(t).share("//fs1/homes", "mnt/homes").write();
            const MappedPath mapped = mapNetworkPath(QStringLiteral("\\\\fs1\\homes\\S"), mountinfo);
            if (!swapShare(t, swap))
                return QStringLiteral("the link was not made");
            Operator q;
            FileOperationEngine engine;
            const int rc = engine.run({.operation = FO_MOVE,
                                       .source = mapped.path,
                                       .destination = t.path("out"),
                                       .flags = FOF_NOCONFIRMMKDIR,
                                       .sourceMount = mapped.mount},
                                      &q);
            return QStringLiteral("%1|%2|%3|%4")
                .arg(rc)
                .arg(engine.failures().join(u';'), t.files("store").join(u','), t.files("out").join(u','));
        });
        if (!report)
            GTEST_SKIP() << "mounts are not allowed here";
        const QString expected = swap == std::string("none")
                                     ? QStringLiteral("0||.keep|a.txt") // S moved to the missing "out"
                                     : QStringLiteral("%1|Cannot open %2: it changed during the run|.keep,S/a.txt|")
                                           .arg(GeneralFailure)
                                           .arg(t.path("mnt/homes"));
        EXPECT_EQ(report->toStdString(), expected.toStdString());
        EXPECT_EQ(t.files("elsewhere").join(u',').toStdString(), "S/a.txt") << "another share's folder is left alone";
    }
}

TEST(WindowsNames, reservedCharactersTrailingDotsAndSpacesDevicesAndControlsAreNamed)
{
    const std::pair<const char*, const char*> table[] = {
        {"a:b.txt", "holds the character ':'"},
        {"what?.txt", "holds the character '?'"},
        {"x<y>|z", "holds the character '<'"},
        {"quote\".txt", "holds the character '\"'"},
        {"back\\slash", "holds the character '\\'"},
        {"star*", "holds the character '*'"},
        {"tab\there", "holds a control character"},
        {"line\nbreak", "holds a control character"},
        {"ends.", "ends in a dot"},
        {"ends ", "ends in a space"},
        {"CON", "is the device name CON"},
        {"con.txt", "is the device name CON"},
        {"Nul .tar.gz", "is the device name NUL"},
        {"COM1", "is the device name COM1"},
        {"lpt9.doc", "is the device name LPT9"},
        {"COM\xc2\xb9", "is the device name COM\xc2\xb9"},
        {"CONOUT$", "is the device name CONOUT$"},
        {"\xff\xfe", "is not valid UTF-8"},
    };
    for (const auto& [name, problem] : table)
        EXPECT_EQ(windowsNameProblem(name), QString::fromUtf8(problem)) << name;
    EXPECT_EQ(windowsNameProblem(QByteArray(256, 'a')), "is longer than 255 characters");
    for (const char* fine : {"a.txt", "CONSOLE", "COM10", "COM", "console.log", "NULL", ".hidden", "a b", "Ünïcödé 字",
                             "x.CON", "..a", "LPT", "AUX_backup", ".", ".."})
        EXPECT_TRUE(windowsNameProblem(fine).isEmpty()) << fine << ": " << windowsNameProblem(fine).toStdString();
}
