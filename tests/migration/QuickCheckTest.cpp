// The quick check against the clock of the target's file system: a nanosecond
// clock compares exactly, a FAT clock within its two seconds, a move never on a tolerance.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"
#include "migration/fileop/QuickCheck.h"
#include "migration/fileop/UniqueFd.h"

#include <QProcess>

#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace fileop;

namespace {

constexpr long kMsdos = 0x4d44;

int runOp(int op, const QString& src, const QString& dst)
{
    return FileOperationEngine().run(Request{op, src, dst, FOF_NOCONFIRMATION, 2}, nullptr);
}

// Every probe answers as FAT while it lives.
struct FatSeam {
    FatSeam() { overrideFsTypeForTesting(kMsdos); }
    ~FatSeam() { overrideFsTypeForTesting(std::nullopt); }
    FatSeam(const FatSeam&) = delete;
    FatSeam& operator=(const FatSeam&) = delete;
};

} // namespace

TEST(QuickCheck, eachClockTakesItsOwnCutAndAMoveNoTolerance)
{
    const timespec src{1700000001, 123456789};
    const TargetClock exact{};
    const TargetClock smb{100, 0};
    const TargetClock fat = *knownClock(kMsdos);
    const TargetClock exfat = *knownClock(0x2011BAB0);
    // The target's time, the clock, and whether it stands for the source's for a copy and for a move.
    for (const auto& [target, clock, copy, move] : std::vector<std::tuple<timespec, TargetClock, bool, bool>>{
             {{1700000001, 123456789}, exact, true, true},
             {{1700000001, 123000000}, exact, false, false}, // cut to the ms on a ns clock: other data
             {{1700000001, 0}, exact, false, false},         // whole seconds on a ns clock
             {{1700000000, 0}, exact, false, false},         // an even second on a ns clock
             {{1700000001, 123456700}, smb, true, true},
             {{1700000001, 123456000}, smb, false, false}, // coarser than the clock keeps
             {{1700000001, 123456788}, smb, false, false},
             {{1700000000, 0}, fat, true, true},  // cut down to the even second, as Linux writes FAT
             {{1700000002, 0}, fat, true, false}, // rounded up, as Windows writes it: not for a move
             {{1699999998, 0}, fat, false, false},
             {{1700000001, 0}, fat, false, false}, // FAT has no odd seconds
             {{1700000001, 120000000}, exfat, true, true},
             {{1700000000, 0}, exfat, true, false},
             {{1700000001, 123456789}, fat, true, true}}) {
        EXPECT_EQ(sameModificationTime(src, target, clock, false), copy)
            << target.tv_sec << "." << target.tv_nsec << " grain " << clock.grainNs;
        EXPECT_EQ(sameModificationTime(src, target, clock, true), move)
            << target.tv_sec << "." << target.tv_nsec << " grain " << clock.grainNs;
    }
    // A probe's answer names the grain that cut it; any other answer names none.
    const timespec set{1700000001, 123456789};
    EXPECT_EQ(grainShown(set, set), 1);
    EXPECT_EQ(grainShown(set, {1700000001, 123456700}), 100);
    EXPECT_EQ(grainShown(set, {1700000001, 0}), 1000000000);
    EXPECT_EQ(grainShown(set, {1700000000, 0}), 2000000000);
    EXPECT_EQ(grainShown(set, {1700000002, 0}), std::nullopt);
    EXPECT_FALSE(knownClock(0xEF53).has_value()) << "ext4's clock depends on its inode size: probed";
}

TEST(QuickCheck, aNanosecondFileSystemIsProbedAsExact)
{
    TempTree t;
    QDir().mkpath(t.path("D"));
    UniqueFd dir(::open(t.bytes("D").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dir.valid());
    EXPECT_EQ(probeClock(dir.get()).grainNs, 1);
    EXPECT_TRUE(QDir(t.path("D")).isEmpty()) << "the probe left a file behind";
    const Tmpfs mnt(t.path("mnt"));
    if (mnt.ok()) {
        UniqueFd m(::open(t.bytes("mnt").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        EXPECT_EQ(probeClock(m.get()).grainNs, 1);
    }
    const FatSeam fat;
    EXPECT_EQ(probeClock(dir.get()).grainNs, 2000000000);
}

// The first reproduction: a file saved again 1.5 s later with the same size,
// on a file system that keeps nanoseconds, is not kept stale.
TEST(QuickCheck, aSameSizeFileSavedAgainIsCopiedOnANanosecondTarget)
{
    TempTree t;
    t.write("S/f", "AAAA");
    t.setMtime("S/f", 1700000000, 0);
    QDir().mkpath(t.path("D"));
    ASSERT_EQ(runOp(FO_COPY, t.path("S"), t.path("D")), Success);
    t.write("S/f", "BBBB");
    t.setMtime("S/f", 1700000001, 500000000);
    FileOperationEngine engine;
    ASSERT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMATION, 2}, nullptr), Success);
    EXPECT_EQ(t.read("D/S/f"), "BBBB");
    EXPECT_EQ(engine.lastProgress().filesUpToDate, 0);
    EXPECT_EQ(t.lstat("D/S/f").st_mtim.tv_nsec, 500000000);
}

// The second: a target holding other data whose time is the source's cut to
// the millisecond, or to the second, does not pass for the copy on a
// nanosecond file system, so the move across file systems copies before it
// deletes the source.
TEST(QuickCheck, aMoveDoesNotTakeACoarserMatchForItsCopy)
{
    TempTree t;
    const Tmpfs mnt(t.path("mnt"));
    if (!mnt.ok())
        GTEST_SKIP() << "cannot mount a tmpfs here: no second file system for a move that copies";
    for (const long targetNs : {123000000L, 0L}) {
        t.write("S/f", "good");
        t.setMtime("S/f", 1700000001, 123456789);
        t.write("mnt/D/S/f", "XXXX");
        t.setMtime("mnt/D/S/f", 1700000001, targetNs);
        ASSERT_EQ(runOp(FO_MOVE, t.path("S"), t.path("mnt/D")), Success) << targetNs;
        EXPECT_EQ(t.read("mnt/D/S/f"), "good") << targetNs;
        EXPECT_FALSE(t.exists("S")) << targetNs;
    }
}

// Where no FAT can be mounted, the type seam stands in for its statfs answer:
// a copy takes a target within the two seconds as up to date, a move only
// the cut Linux itself writes.
TEST(QuickCheck, aFatTargetStillMatchesWithinItsTwoSeconds)
{
    TempTree t;
    t.write("S/down", "same");
    t.write("S/up", "same");
    t.setMtime("S/down", 1700000001, 500000000);
    t.setMtime("S/up", 1700000001, 500000000);
    t.write("D/S/down", "same");
    t.write("D/S/up", "same");
    t.setMtime("D/S/down", 1700000000, 0);
    t.setMtime("D/S/up", 1700000002, 0);
    const FatSeam fat;
    FileOperationEngine engine;
    ASSERT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMATION, 2}, nullptr), Success);
    EXPECT_EQ(engine.lastProgress().filesUpToDate, 2);

    const Tmpfs mnt(t.path("mnt"));
    if (!mnt.ok())
        return;
    t.write("mnt/D/S/down", "XXXX");
    t.write("mnt/D/S/up", "XXXX");
    t.setMtime("mnt/D/S/down", 1700000000, 0);
    t.setMtime("mnt/D/S/up", 1700000002, 0);
    ASSERT_EQ(engine.run(Request{FO_MOVE, t.path("S"), t.path("mnt/D"), FOF_NOCONFIRMATION, 2}, nullptr), Success);
    EXPECT_EQ(engine.lastProgress().filesUpToDate, 1) << "the even second below is FAT's own cut";
    EXPECT_EQ(t.read("mnt/D/S/up"), "same") << "a rounded-up time is no reason to delete a source";
}

// The same on a real FAT file system, where the machine can make one.
TEST(QuickCheck, aRealVfatTargetMatchesWithinItsTwoSeconds)
{
    TempTree t;
    if (::geteuid() != 0)
        GTEST_SKIP() << "a vfat image needs root to mount";
    const QString img = t.path("fat.img");
    QFile(img).open(QIODevice::WriteOnly);
    ASSERT_EQ(::truncate(t.bytes("fat.img").constData(), 16 << 20), 0);
    if (QProcess::execute(QStringLiteral("mkfs.vfat"), {QStringLiteral("-q"), img}) != 0)
        GTEST_SKIP() << "mkfs.vfat (dosfstools) is not installed";
    QDir().mkpath(t.path("fat"));
    if (QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-o"), QStringLiteral("loop,quiet"), img, t.path("fat")}) != 0)
        GTEST_SKIP() << "this kernel cannot mount a vfat loop image here (no loop device or no vfat)";
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
    } unmount{t.path("fat")};
    UniqueFd dir(::open(t.bytes("fat").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(probeClock(dir.get()).grainNs, 2000000000);

    t.write("S/f", "same");
    t.setMtime("S/f", 1700000001, 500000000);
    ASSERT_EQ(runOp(FO_COPY, t.path("S"), t.path("fat")), Success);
    EXPECT_EQ(t.lstat("fat/S/f").st_mtim.tv_sec, 1700000000);
    FileOperationEngine engine;
    ASSERT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("fat"), FOF_NOCONFIRMATION, 2}, nullptr), Success);
    EXPECT_EQ(engine.lastProgress().filesUpToDate, 1);
    t.write("S/f", "more");
    t.setMtime("S/f", 1700000005, 0);
    ASSERT_EQ(engine.run(Request{FO_COPY, t.path("S"), t.path("fat"), FOF_NOCONFIRMATION, 2}, nullptr), Success);
    EXPECT_EQ(t.read("fat/S/f"), "more");
}
