// Network paths mapped to mounted shares from mountinfo fixtures, and the
// names Windows clients cannot use.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"
#include "migration/fileop/NetworkPath.h"
#include "migration/fileop/WindowsNames.h"

#include <QRegularExpression>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

using namespace fileop;

namespace {

// A mountinfo file whose shares are "mounted" on real temporary folders: the
// line carries the folder's own device, as the kernel's would.
class MountInfo {
public:
    explicit MountInfo(const TempTree& t)
        : m_t(t)
    {}
    // source: //server/share[/prefix]; root: the mount's root field.
    void share(const QString& source, const QString& mountRel, const QString& type = QStringLiteral("cifs"),
               const QString& root = QStringLiteral("/"), bool rightDevice = true)
    {
        m_t.write(mountRel + "/.keep", "");
        const struct stat st = m_t.lstat(mountRel);
        QString mountPoint = m_t.path(mountRel);
        mountPoint.replace(u' ', QStringLiteral("\\040"));
        m_lines << QStringLiteral("%1 1 %2:%3 %4 %5 rw,relatime shared:1 - %6 %7 rw,vers=3.1.1,sec=krb5,cifsacl")
                       .arg(m_lines.size() + 40)
                       .arg(major(st.st_dev))
                       .arg(minor(st.st_dev) + (rightDevice ? 0 : 1))
                       .arg(QString(root).replace(u' ', QStringLiteral("\\040")), mountPoint, type, source);
    }
    void other(const QString& line) { m_lines << line; }
    QString write() const
    {
        m_t.write("mountinfo", (m_lines.join(u'\n') + u'\n').toUtf8());
        return m_t.path("mountinfo");
    }

private:
    const TempTree& m_t;
    QStringList m_lines{QStringLiteral("22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw")};
};

} // namespace

TEST(NetworkPath, bothSpellingsMapToTheMountedShareWithServerNamesComparedAsWindowsDoes)
{
    TempTree t;
    MountInfo info(t);
    info.share("//dc1/homes$", "mnt/homes");
    info.share("//fs2.school.local/Staff", "mnt/staff", "smb3");
    info.other("30 1 0:55 / /mnt/nfs rw - nfs4 fs2.school.local:/Staff rw"); // not SMB: ignored
    const QString mountinfo = info.write();

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
    MountInfo info(t);
    info.share("//fs1/homes/Year7", "mnt/y7");
    info.share("//fs1/homes", "mnt/all");
    info.share("//fs1/homes", "mnt/bind", "cifs", "/Year9/Set A"); // a bind mount of a folder below
    const QString mountinfo = info.write();
    EXPECT_EQ(mapNetworkPath("\\\\fs1\\homes\\year7\\u1", mountinfo).path, t.path("mnt/y7/u1")) << "the deepest wins";
    EXPECT_EQ(mapNetworkPath("\\\\fs1\\homes\\Year8\\u1", mountinfo).path, t.path("mnt/all/Year8/u1"));
    EXPECT_EQ(mapNetworkPath("\\\\fs1\\homes\\Year9\\Set A\\u2", mountinfo).path, t.path("mnt/bind/u2"));
}

TEST(NetworkPath, withoutItsShareMountedAPathIsRefusedWithTheShareAndHowToMountIt)
{
    TempTree t;
    MountInfo info(t);
    info.share("//dc1.school.local/homes$", "mnt/homes");
    info.share("//fs1/data", "mnt/covered", "cifs", "/", false); // listed, but another file system is there now
    info.share("//fs1/homes/Year7", "mnt/y7");
    const QString mountinfo = info.write();

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
        Request r;
        r.source = t.path("S");
        r.destination = dst;
        r.flags = FOF_NOCONFIRMMKDIR;
        FileOperationEngine engine;
        EXPECT_EQ(engine.run(r, &q), NetworkPathNotFound);
        EXPECT_TRUE(engine.failures().join("").contains(dst));
    }
    QDir::setCurrent(before);
    EXPECT_EQ(QDir(t.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"S"});
    EXPECT_FALSE(QFileInfo::exists("/fs1"));
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
