// Whether an existing target already holds a source file: the one rule every caller asks.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>

namespace fileop {

// How a file system keeps modification times. grainNs: the clock it cuts
// every time to (1 for nanoseconds, 2 s for FAT). looseNs: a coarser clock
// that other systems writing the same kind of file system may have used,
// rounding either way (Windows on FAT and exFAT: two seconds, rounded up);
// only a copy accepts it, never a move.
struct TargetClock {
    long long grainNs = 1;
    long long looseNs = 0;
    bool operator==(const TargetClock&) const = default;
};

// The clock of the file systems known by statfs f_type to keep coarse
// times (FAT, exFAT), or at least 100 ns (SMB, NTFS); nullopt for the rest.
std::optional<TargetClock> knownClock(long fsType);

// The clock of the file system holding the folder dirFd: FAT and exFAT from
// their type; any other by one probe write (an unnamed file whose time is set
// to nanoseconds and read back), no coarser than its type says. Exact where
// neither tells: a clock taken as too fine only copies again.
TargetClock probeClock(int dirFd);

// The clock that a probe reading back `got` for a time set to `set` shows:
// the grain that cuts set to got, or nullopt for any other answer.
std::optional<long long> grainShown(const timespec& set, const timespec& got);

// For tests where no FAT can be mounted: every probe answers as a file
// system of this statfs type would. nullopt ends it.
void overrideFsTypeForTesting(std::optional<long> fsType);

// Whether a target's modification time stands for the source's on that
// clock: equal, or the source's cut to the target's grain. A copy also
// takes the loose clock's rounding either way. A move (it deletes the source
// after) takes nothing looser than the target's real grain.
bool sameModificationTime(const timespec& source, const timespec& target, const TargetClock& clock, bool deletesSource);

enum class TargetState {
    Copy,         // the target holds other data, or may: copy
    MetadataOnly, // same data; owner, mode, attributes and times to check and bring in line
    UpToDate,     // the two stats settle it: nothing to do
};

// The quick check of a second pass, from the source's and target's stats:
// regular files both, the same size and time (on the target's clock). Up to
// date when also mode and owner (as root) match, the source has one name
// (more go the long way, which keeps them linked), and the source's metadata
// has not changed since the target's was last written (its change time is
// older), so their extended attributes cannot differ either.
TargetState quickCheck(const struct stat& src, const struct stat& dst, const TargetClock& clock, bool deletesSource);

// The metadata half of the check, for folders too: time, mode, owner (as
// root), and the source's change time older than the target's.
bool attributesUnchanged(const struct stat& src, const struct stat& dst, const TargetClock& clock);

// The clocks of the file systems a run writes to, each worked out once.
class TargetClocks {
public:
    // The clock of the file system of the folder dirFd, whose device is dev.
    TargetClock of(int dirFd, dev_t dev);

private:
    std::mutex m_mutex;
    std::map<dev_t, TargetClock> m_clocks;
};

} // namespace fileop
