// The quick check of a second pass and the clocks of the target file systems it compares on.
#include "QuickCheck.h"

#include "UniqueFd.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace fileop {

namespace {

constexpr long long kSecond = 1000000000LL;

constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kNtfsMagic = 0x5346544e;
constexpr long kNtfs3Magic = 0x7366746e;
constexpr long kCifsMagic = static_cast<long>(0xFF534D42U);
constexpr long kSmb2Magic = static_cast<long>(0xFE534D42U);
constexpr long kSmbMagic = 0x517B;

std::atomic<bool> g_overridden{false};
std::atomic<long> g_override{0};

bool runningAsRoot()
{
    static const bool root = ::geteuid() == 0;
    return root;
}

long long nanos(const timespec& t)
{
    return static_cast<long long>(t.tv_sec) * kSecond + t.tv_nsec;
}

// Floor division, so times before 1970 are cut down as well.
long long cutDown(long long ns, long long grain)
{
    const long long q = ns / grain;
    return (ns % grain < 0 ? q - 1 : q) * grain;
}

bool olderThan(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The time that goes into the probe file: every digit a different one, so
// each grain cuts it to a different value.
constexpr timespec kProbeTime{1700000001, 123456789};

std::optional<long long> probeWrite(int dirFd)
{
    UniqueFd file(::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    QByteArray name;
    if (!file.valid()) {
        static std::atomic<unsigned> counter{0};
        for (int n = 0; n < 100 && !file.valid(); ++n) {
            name = ".corvane-clock-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(counter++) + ".tmp";
            file.reset(::openat(dirFd, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!file.valid() && errno != EEXIST)
                break;
        }
        if (!file.valid())
            return std::nullopt;
    }
    const timespec times[2] = {kProbeTime, kProbeTime};
    struct stat st {};
    const bool read = ::futimens(file.get(), times) == 0 && ::fstat(file.get(), &st) == 0;
    if (!name.isEmpty())
        ::unlinkat(dirFd, name.constData(), 0);
    return read ? grainShown(kProbeTime, st.st_mtim) : std::nullopt;
}

} // namespace

std::optional<TargetClock> knownClock(long fsType)
{
    switch (fsType) {
    case kMsdosMagic:
        return TargetClock{2 * kSecond, 2 * kSecond};
    case kExfatMagic:
        // Linux keeps 10 ms; Windows and cameras may leave FAT's two seconds.
        return TargetClock{10000000LL, 2 * kSecond};
    case kNtfsMagic:
    case kNtfs3Magic:
    case kCifsMagic:
    case kSmb2Magic:
    case kSmbMagic:
        return TargetClock{100, 0};
    default:
        return std::nullopt;
    }
}

std::optional<long long> grainShown(const timespec& set, const timespec& got)
{
    const long long want = nanos(set);
    const long long have = nanos(got);
    for (long long grain = 1; grain <= kSecond; grain *= 10)
        if (have == cutDown(want, grain))
            return grain;
    if (have == cutDown(want, 2 * kSecond))
        return 2 * kSecond;
    return std::nullopt;
}

void overrideFsTypeForTesting(std::optional<long> fsType)
{
    g_override.store(fsType.value_or(0));
    g_overridden.store(fsType.has_value());
}

TargetClock probeClock(int dirFd)
{
    std::optional<TargetClock> typed;
    if (g_overridden.load()) {
        typed = knownClock(g_override.load());
        return typed.value_or(TargetClock{});
    }
    struct statfs sf {};
    if (::fstatfs(dirFd, &sf) == 0)
        typed = knownClock(static_cast<long>(sf.f_type));
    // FAT's looser clock cannot be seen in a probe: its type says it all.
    if (typed && typed->looseNs > 0)
        return *typed;
    TargetClock clock = typed.value_or(TargetClock{});
    if (const std::optional<long long> grain = probeWrite(dirFd))
        clock.grainNs = std::max(clock.grainNs, *grain);
    return clock;
}

bool sameModificationTime(const timespec& source, const timespec& target, const TargetClock& clock, bool deletesSource)
{
    const long long src = nanos(source);
    const long long dst = nanos(target);
    if (dst == src || dst == cutDown(src, std::max(clock.grainNs, 1LL)))
        return true;
    if (deletesSource || clock.looseNs <= 0)
        return false;
    const long long down = cutDown(src, clock.looseNs);
    return dst == down || (down != src && dst == down + clock.looseNs);
}

bool attributesUnchanged(const struct stat& src, const struct stat& dst, const TargetClock& clock)
{
    return sameModificationTime(src.st_mtim, dst.st_mtim, clock, false) &&
           (src.st_mode & 07777) == (dst.st_mode & 07777) &&
           (!runningAsRoot() || (src.st_uid == dst.st_uid && src.st_gid == dst.st_gid)) &&
           olderThan(src.st_ctim, dst.st_ctim);
}

TargetState quickCheck(const struct stat& src, const struct stat& dst, const TargetClock& clock, bool deletesSource)
{
    if (!S_ISREG(src.st_mode) || !S_ISREG(dst.st_mode) || src.st_size != dst.st_size ||
        !sameModificationTime(src.st_mtim, dst.st_mtim, clock, deletesSource))
        return TargetState::Copy;
    if (src.st_nlink == 1 && attributesUnchanged(src, dst, clock))
        return TargetState::UpToDate;
    return TargetState::MetadataOnly;
}

TargetClock TargetClocks::of(int dirFd, dev_t dev)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_clocks.find(dev);
    if (found != m_clocks.end())
        return found->second;
    const TargetClock clock = probeClock(dirFd);
    m_clocks.emplace(dev, clock);
    return clock;
}

} // namespace fileop
