#include "FileCopy.h"

#include "FileOperation.h"
#include "FileOperationEngine.h"
#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

namespace fileop {

namespace {

constexpr size_t kChunk = 16 << 20;     // between cancel checks on big files
constexpr size_t kBufferSize = 1 << 20; // read/write fallback

std::atomic<unsigned> g_tempCounter{0};

bool runningAsRoot()
{
    static const bool root = ::geteuid() == 0;
    return root;
}

// O_TMPFILE needs a file system that has it and a way to link the file in:
// AT_EMPTY_PATH as root, /proc/self/fd otherwise. CORVANE_FILEOP_NO_TMPFILE
// forces the temporary-name path that other file systems (vfat, SMB) take.
std::atomic<bool>& tmpfileUsable()
{
    static std::atomic<bool> usable{!::getenv("CORVANE_FILEOP_NO_TMPFILE") &&
                                    (runningAsRoot() || ::access("/proc/self/fd", X_OK) == 0)};
    return usable;
}

QByteArray tempName()
{
    return ".corvane-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(g_tempCounter.fetch_add(1)) + ".tmp";
}

using Create = std::function<int(const char*)>;

// Makes the item under its final name with create(), which must fail with
// EEXIST when the name is taken. A replacement is made under a temporary name
// first and renamed over the old item, so the old one stays until the new is whole.
int placeAtomically(int dfd, const QByteArray& name, bool replace, bool rename, const Create& create,
                    QByteArray* placedAs)
{
    if (rename) {
        for (int n = 1; n <= kMaxRenameAttempts; ++n) {
            const QByteArray candidate = collisionName(name, n, false);
            const int e = create(candidate.constData());
            if (e != EEXIST) {
                *placedAs = candidate;
                return e;
            }
        }
        return EEXIST;
    }
    if (!replace) {
        *placedAs = name;
        return create(name.constData());
    }
    QByteArray tmp;
    int e = EEXIST;
    for (int n = 0; n < kMaxRenameAttempts && e == EEXIST; ++n) {
        tmp = tempName();
        e = create(tmp.constData());
    }
    if (e != 0)
        return e;
    if (::renameat(dfd, tmp.constData(), dfd, name.constData()) != 0) {
        e = errno;
        ::unlinkat(dfd, tmp.constData(), 0);
        return e;
    }
    *placedAs = name;
    return 0;
}

bool fallbackErrno(int e)
{
    return e == EXDEV || e == EINVAL || e == EOPNOTSUPP || e == ENOSYS || e == EBADF || e == ETXTBSY;
}

bool targetErrno(int e)
{
    return e == ENOSPC || e == EDQUOT || e == EROFS || e == EFBIG;
}

// Copies [off, off + len) by copy_file_range (reflink or server-side copy where
// the file system offers it), falling back to read/write. 0 or errno.
// The state one file's data copy carries through its ranges.
struct DataCopy {
    int in = -1;
    int out = -1;
    const FileOperationEngine& engine;
    std::atomic<qint64>& bytesDone;
    std::atomic<bool>* rangeCopy = nullptr; // shared by the run, see PlaceRequest
    bool onTarget = false;                  // the failure, if any, was the target's
};

int copyRange(DataCopy& c, off_t off, off_t len)
{
    const int in = c.in;
    const int out = c.out;
    std::atomic<bool>* rangeCopy = c.rangeCopy;
    loff_t ioff = off;
    loff_t ooff = off;
    bool useCfr = !rangeCopy || rangeCopy->load(std::memory_order_relaxed);
    while (len > 0) {
        if (c.engine.isCancelled())
            return ECANCELED;
        const size_t want = static_cast<size_t>(std::min<off_t>(len, kChunk));
        ssize_t n = -1;
        if (useCfr) {
            n = ::copy_file_range(in, &ioff, out, &ooff, want, 0);
            if (n < 0 && fallbackErrno(errno)) {
                // Across file systems, or without the call at all, it fails for every file alike.
                if (rangeCopy && (errno == EXDEV || errno == ENOSYS))
                    rangeCopy->store(false, std::memory_order_relaxed);
                useCfr = false;
                continue;
            }
            if (n < 0) {
                c.onTarget = targetErrno(errno);
                return errno;
            }
        } else {
            thread_local std::vector<char> buffer(kBufferSize);
            n = ::pread(in, buffer.data(), std::min(want, buffer.size()), ioff);
            if (n < 0)
                return errno;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::pwrite(out, buffer.data() + done, static_cast<size_t>(n - done), ooff + done);
                if (w < 0) {
                    c.onTarget = true;
                    return errno;
                }
                done += w;
            }
            ioff += n;
            ooff += n;
        }
        if (n == 0)
            break; // the file shrank while we copied: take what is there
        len -= n;
        c.bytesDone += n;
    }
    return 0;
}

int copyData(DataCopy& c, const struct stat& st)
{
    const int in = c.in;
    const bool sparse = st.st_size > 0 && st.st_blocks * 512 < st.st_size;
    if (!sparse)
        return copyRange(c, 0, st.st_size);
    // Only the data extents are copied; the holes stay holes.
    off_t pos = 0;
    qint64 copied = 0;
    while (pos < st.st_size) {
        const off_t data = ::lseek(in, pos, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                break;
            return errno;
        }
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0)
            hole = st.st_size;
        hole = std::min(hole, st.st_size);
        if (const int e = copyRange(c, data, hole - data))
            return e;
        copied += hole - data;
        pos = hole;
    }
    c.bytesDone += st.st_size - copied; // the holes count as done for the progress
    if (::ftruncate(c.out, st.st_size) != 0) {
        c.onTarget = true;
        return errno;
    }
    return 0;
}

using Xattrs = std::vector<std::pair<QByteArray, QByteArray>>;

// Every extended attribute of fd, name and value. 0 or errno; a file system
// without them has none.
int readXattrs(int fd, Xattrs& out)
{
    thread_local std::vector<char> names(4096);
    thread_local std::vector<char> value(4096);
    ssize_t n;
    while ((n = ::flistxattr(fd, names.data(), names.size())) < 0 && errno == ERANGE) {
        const ssize_t need = ::flistxattr(fd, nullptr, 0);
        names.resize(static_cast<size_t>(std::max<ssize_t>(need, 0)) + 1024);
    }
    if (n < 0)
        return (errno == ENOTSUP || errno == EOPNOTSUPP) ? 0 : errno;
    for (const char* name = names.data(); name < names.data() + n; name += std::strlen(name) + 1) {
        ssize_t v;
        while ((v = ::fgetxattr(fd, name, value.data(), value.size())) < 0 && errno == ERANGE) {
            const ssize_t need = ::fgetxattr(fd, name, nullptr, 0);
            value.resize(static_cast<size_t>(std::max<ssize_t>(need, 0)) + 1024);
        }
        if (v < 0) {
            if (errno == ENODATA)
                continue;
            return errno;
        }
        out.emplace_back(QByteArray(name), QByteArray(value.data(), static_cast<qsizetype>(v)));
    }
    return 0;
}

int copyXattrs(int in, int out)
{
    Xattrs attrs;
    if (const int e = readXattrs(in, attrs))
        return e;
    for (const auto& [name, value] : attrs) {
        if (::fsetxattr(out, name.constData(), value.constData(), static_cast<size_t>(value.size()), 0) != 0) {
            const int e = errno;
            // A target file system without extended attributes cannot hold them;
            // trusted.* and security.* need privileges we may not have.
            if (e == ENOTSUP || e == EOPNOTSUPP)
                continue;
            if (e == EPERM && (name.startsWith("trusted.") || name.startsWith("security.")))
                continue;
            return e;
        }
    }
    return 0;
}

bool ignorableChownError(int e)
{
    return e == EPERM || e == EINVAL || e == EOPNOTSUPP;
}

// Whether copyMetadata would change anything on out: mode, owner (as root),
// modification time (as precise as the target keeps it), or an attribute of the source it lacks. Attributes only
// the target has are not ours to remove.
bool metadataDiffers(int in, int out, const struct stat& src, const struct stat& dst)
{
    if ((src.st_mode & 07777) != (dst.st_mode & 07777) || !sameModificationTime(src.st_mtim, dst.st_mtim))
        return true;
    if (runningAsRoot() && (src.st_uid != dst.st_uid || src.st_gid != dst.st_gid))
        return true;
    Xattrs have;
    Xattrs want;
    if (readXattrs(in, want) != 0 || readXattrs(out, have) != 0)
        return true;
    return std::ranges::any_of(want, [&](const auto& attr) { return std::ranges::find(have, attr) == have.end(); });
}

// The quick check of a second pass, from the two stats alone: the target holds
// this file (same size and time), with its mode and owner, and the source's
// metadata has not changed since the target was last written (its change time
// is older), so its attributes cannot differ either. Files with more names go
// the long way, which keeps them linked.
bool unchangedSinceCopied(const struct stat& src, const struct stat& dst)
{
    return S_ISREG(src.st_mode) && S_ISREG(dst.st_mode) && src.st_nlink == 1 && src.st_size == dst.st_size &&
           attributesUnchanged(src, dst);
}

// The target already holds this file: only its metadata is brought in line.
// The target folder may belong to the file's owner, who could have put a hard
// link to some other file there: a target with more names than the source, or
// (as root) with another owner, is not changed in place but replaced by a copy
// (nullopt), so no owner or mode lands on a file outside the copy.
std::optional<CopyOutcome> refreshMetadata(int in, const PlaceRequest& r, const struct stat& st,
                                           std::atomic<qint64>& bytesDone)
{
    UniqueFd out(::openat(r.dstDir, r.dstName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat t {};
    if (!out.valid() || ::fstat(out.get(), &t) != 0)
        return CopyOutcome{errno == ELOOP ? kChangedDuringRun : errno, QStringLiteral("open"), true, st.st_size, st};
    if (!S_ISREG(t.st_mode))
        return CopyOutcome{kChangedDuringRun, QStringLiteral("open"), true, st.st_size, st};
    if (t.st_nlink > st.st_nlink || (runningAsRoot() && (t.st_uid != st.st_uid || t.st_gid != st.st_gid)))
        return std::nullopt;
    const bool differs = metadataDiffers(in, out.get(), st, t);
    if (differs)
        if (const int e = copyMetadata(in, out.get(), st))
            return CopyOutcome{e, QStringLiteral("set attributes of"), true, st.st_size, st};
    bytesDone += st.st_size;
    CopyOutcome done{0, {}, false, st.st_size, st, r.dstName, true};
    done.metadataChanged = differs;
    return done;
}

// A later name of a copied inode becomes a hard link to that copy. The link
// shares the copy's data and metadata; a target that already is that inode is
// up to date.
CopyOutcome placeLink(const PlaceRequest& r, const struct stat& st, std::atomic<qint64>& bytesDone)
{
    struct stat from {};
    if (::fstatat(r.linkFromDir, r.linkFromName.constData(), &from, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(from.st_mode))
        return {errno ? errno : kChangedDuringRun, QStringLiteral("link"), true, st.st_size, st};
    struct stat t {};
    if (r.replace && ::fstatat(r.dstDir, r.dstName.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0 &&
        t.st_dev == from.st_dev && t.st_ino == from.st_ino) {
        bytesDone += st.st_size;
        return {0, {}, false, st.st_size, st, r.dstName, true};
    }
    const Create link = [&](const char* name) {
        return ::linkat(r.linkFromDir, r.linkFromName.constData(), r.dstDir, name, 0) == 0 ? 0 : errno;
    };
    QByteArray placed;
    if (const int e = placeAtomically(r.dstDir, r.dstName, r.replace, r.rename, link, &placed))
        return {e, QStringLiteral("create"), true, st.st_size, st};
    bytesDone += st.st_size;
    return {0, {}, false, st.st_size, st, placed};
}

// A regular file whose data was written: all of it counts as copied.
CopyOutcome written(const struct stat& st, const QByteArray& placed)
{
    CopyOutcome done{0, {}, false, st.st_size, st, placed};
    done.bytesWritten = st.st_size;
    return done;
}

CopyOutcome copyRegular(const PlaceRequest& r, const FileOperationEngine& engine, std::atomic<qint64>& bytesDone)
{
    // Listed as a file, it may be a FIFO or a device by now: O_NONBLOCK keeps the
    // open from waiting on a writer, and anything but a regular file is refused.
    UniqueFd in(openSource(r.srcDir, r.srcName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!in.valid())
        return {errno == ELOOP ? kChangedDuringRun : errno, QStringLiteral("read"), false};
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return {errno, QStringLiteral("read"), false};
    if (!S_ISREG(st.st_mode))
        return {kChangedDuringRun, QStringLiteral("read"), false};
    if (r.linkFromDir >= 0 && st.st_ino == r.linkInode)
        return placeLink(r, st, bytesDone);
    if (r.linkFromDir < 0 && st.st_nlink > 1 && r.claimInode && !r.claimInode(st))
        return {0, {}, false, st.st_size, st, {}, false, true};
    // A second pass: a target of the same size and time is taken as this file.
    struct stat t {};
    if (r.replace && !r.rename && ::fstatat(r.dstDir, r.dstName.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(t.st_mode) && t.st_size == st.st_size && sameModificationTime(st.st_mtim, t.st_mtim, !r.deletesSource))
        if (std::optional<CopyOutcome> done = refreshMetadata(in.get(), r, st, bytesDone))
            return *done;

    UniqueFd out;
    QByteArray tmp;
    if (tmpfileUsable().load()) {
        out.reset(::openat(r.dstDir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (!out.valid()) {
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return {errno, QStringLiteral("create"), true, st.st_size, st};
            tmpfileUsable().store(false);
        }
    }
    if (!out.valid()) {
        tmp = tempName();
        out.reset(::openat(r.dstDir, tmp.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
        if (!out.valid())
            return {errno, QStringLiteral("create"), true, st.st_size, st};
    }
    auto fail = [&](int e, const QString& action, bool onTarget) {
        out.reset();
        if (!tmp.isEmpty())
            ::unlinkat(r.dstDir, tmp.constData(), 0);
        return CopyOutcome{e, action, onTarget, st.st_size, st};
    };

    DataCopy data{in.get(), out.get(), engine, bytesDone, r.rangeCopy};
    if (const int e = copyData(data, st))
        return fail(e, data.onTarget ? QStringLiteral("write") : QStringLiteral("read"), data.onTarget);
    if (const int e = copyMetadata(in.get(), out.get(), st))
        return fail(e, QStringLiteral("set attributes of"), true);

    QByteArray placed;
    if (tmp.isEmpty()) {
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out.get());
        const bool root = runningAsRoot();
        const Create link = [&](const char* name) {
            if (root && ::linkat(out.get(), "", r.dstDir, name, AT_EMPTY_PATH) == 0)
                return 0;
            if (root && errno == EEXIST)
                return EEXIST;
            return ::linkat(AT_FDCWD, proc, r.dstDir, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
        };
        if (const int e = placeAtomically(r.dstDir, r.dstName, r.replace, r.rename, link, &placed)) {
            if (e == EPERM || e == ENOENT || e == EOPNOTSUPP) {
                // No way to link an unnamed file here (no /proc, no capability):
                // from now on write under a temporary name instead.
                tmpfileUsable().store(false);
                out.reset();
                return copyRegular(r, engine, bytesDone);
            }
            return fail(e, QStringLiteral("create"), true);
        }
        if (const int e = out.closeChecked()) {
            ::unlinkat(r.dstDir, placed.constData(), 0);
            return fail(e, QStringLiteral("write"), true);
        }
        return written(st, placed);
    }

    if (const int e = out.closeChecked())
        return fail(e, QStringLiteral("write"), true);
    int e = 0;
    if (r.replace && !r.rename) {
        placed = r.dstName;
        if (::renameat(r.dstDir, tmp.constData(), r.dstDir, r.dstName.constData()) != 0)
            e = errno;
    } else {
        const Create move = [&](const char* name) {
            if (::renameat2(r.dstDir, tmp.constData(), r.dstDir, name, RENAME_NOREPLACE) == 0)
                return 0;
            if (errno != EINVAL)
                return errno;
            // No RENAME_NOREPLACE here: a hard link fails on a taken name just the same.
            if (::linkat(r.dstDir, tmp.constData(), r.dstDir, name, 0) != 0)
                return errno;
            ::unlinkat(r.dstDir, tmp.constData(), 0);
            return 0;
        };
        e = placeAtomically(r.dstDir, r.dstName, false, r.rename, move, &placed);
    }
    if (e != 0)
        return fail(e, QStringLiteral("create"), true);
    return written(st, placed);
}

// Links and special files are created in one step, so they never exist half-made.
CopyOutcome copyOther(const PlaceRequest& r)
{
    struct stat st {};
    if (::fstatat(r.srcDir, r.srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {errno, QStringLiteral("read"), false};
    // Made from what was listed: a link swapped for a file would become an empty file.
    if ((st.st_mode & S_IFMT) != r.type)
        return {kChangedDuringRun, QStringLiteral("read"), false};
    Create create;
    QByteArray target;
    if (S_ISLNK(st.st_mode)) {
        target.resize(static_cast<qsizetype>(std::max<off_t>(st.st_size, 255)) + 1);
        const ssize_t n = ::readlinkat(r.srcDir, r.srcName.constData(), target.data(), target.size());
        if (n < 0)
            return {errno, QStringLiteral("read"), false};
        if (n >= target.size())
            return {ENAMETOOLONG, QStringLiteral("read"), false};
        target.truncate(n);
        create = [&](const char* name) {
            return ::symlinkat(target.constData(), r.dstDir, name) == 0 ? 0 : errno;
        };
    } else {
        create = [&](const char* name) {
            return ::mknodat(r.dstDir, name, st.st_mode, st.st_rdev) == 0 ? 0 : errno;
        };
    }
    QByteArray placed;
    if (const int e = placeAtomically(r.dstDir, r.dstName, r.replace, r.rename, create, &placed))
        return {e, QStringLiteral("create"), true};

    // The folder may belong to the item's owner, who could swap the new node for
    // a hard link to another file: the node is held by a descriptor, checked to
    // be the one just made, and its owner and mode are set through it.
    UniqueFd node(::openat(r.dstDir, placed.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat made {};
    if (!node.valid() || ::fstat(node.get(), &made) != 0)
        return {errno, QStringLiteral("set attributes of"), true};
    if ((made.st_mode & S_IFMT) != (st.st_mode & S_IFMT) || made.st_nlink != 1)
        return {kChangedDuringRun, QStringLiteral("set attributes of"), true};
    if (runningAsRoot() && ::fchownat(node.get(), "", st.st_uid, st.st_gid, AT_EMPTY_PATH) != 0 &&
        !ignorableChownError(errno))
        return {errno, QStringLiteral("set attributes of"), true};
    const QByteArray held = "/proc/self/fd/" + QByteArray::number(node.get());
    const timespec times[2] = {st.st_atim, st.st_mtim};
    // A link has no mode of its own, and following it would leave the copy: its
    // times are set by name, which at worst touches another file's times.
    if (S_ISLNK(st.st_mode)) {
        if (::utimensat(r.dstDir, placed.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return {errno, QStringLiteral("set attributes of"), true};
    } else if (::chmod(held.constData(), st.st_mode & 07777) != 0 ||
               ::utimensat(AT_FDCWD, held.constData(), times, 0) != 0) {
        return {errno, QStringLiteral("set attributes of"), true};
    }
    return {0, {}, false, 0, st};
}

} // namespace

CopyOutcome copyItem(const PlaceRequest& request, const FileOperationEngine& engine, std::atomic<qint64>& bytesDone)
{
    if (request.srcDir < 0 || request.dstDir < 0)
        return {errno ? errno : EBADF, QStringLiteral("open"), request.dstDir < 0};
    if (request.type == S_IFREG && request.replace && !request.rename && request.target && request.linkFromDir < 0) {
        struct stat st {};
        if (::fstatat(request.srcDir, request.srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            unchangedSinceCopied(st, *request.target) &&
            sameModificationTime(st.st_mtim, request.target->st_mtim, !request.deletesSource)) {
            bytesDone += st.st_size;
            return {0, {}, false, st.st_size, st, request.dstName, true};
        }
    }
    if (request.type == S_IFREG)
        return copyRegular(request, engine, bytesDone);
    return copyOther(request);
}

bool attributesUnchanged(const struct stat& src, const struct stat& dst)
{
    return sameModificationTime(src.st_mtim, dst.st_mtim) && (src.st_mode & 07777) == (dst.st_mode & 07777) &&
           (!runningAsRoot() || (src.st_uid == dst.st_uid && src.st_gid == dst.st_gid)) &&
           (src.st_ctim.tv_sec < dst.st_ctim.tv_sec ||
            (src.st_ctim.tv_sec == dst.st_ctim.tv_sec && src.st_ctim.tv_nsec < dst.st_ctim.tv_nsec));
}

bool sameModificationTime(const timespec& source, const timespec& target, bool wholeSeconds)
{
    if (source.tv_sec == target.tv_sec) {
        if (source.tv_nsec == target.tv_nsec)
            return true;
        for (long grain : {100L, 1000L, 1000000L, 1000000000L})
            if ((grain < 1000000000L || wholeSeconds) && target.tv_nsec == source.tv_nsec - source.tv_nsec % grain)
                return true;
        return false;
    }
    // FAT keeps even seconds, cut down (Linux) or rounded up (Windows).
    if (!wholeSeconds || target.tv_nsec != 0 || target.tv_sec % 2 != 0)
        return false;
    const long long ns = static_cast<long long>(source.tv_sec - target.tv_sec) * 1000000000LL + source.tv_nsec;
    return ns > -2000000000LL && ns < 2000000000LL;
}

int copyMetadata(int srcFd, int dstFd, const struct stat& st)
{
    if (runningAsRoot() && ::fchown(dstFd, st.st_uid, st.st_gid) != 0 && !ignorableChownError(errno))
        return errno;
    if (const int e = copyXattrs(srcFd, dstFd))
        return e;
    if (::fchmod(dstFd, st.st_mode & 07777) != 0)
        return errno;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(dstFd, times) != 0)
        return errno;
    return 0;
}

// A migration must not rewrite the access time of every source file and folder
// it reads; O_NOATIME is refused (EPERM) on files of other owners unless root.
int openSource(int dirFd, const char* name, int flags)
{
    const int fd = ::openat(dirFd, name, flags | O_NOATIME);
    return fd >= 0 || errno != EPERM ? fd : ::openat(dirFd, name, flags);
}

int listEntries(int dirFd, DirEntries& entries)
{
    // getdents64 on the folder's own descriptor: no stream to set up per folder.
    alignas(dirent64) thread_local char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::getdents64(dirFd, buffer, sizeof buffer);
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        for (ssize_t at = 0; at < n;) {
            const auto* ent = reinterpret_cast<const dirent64*>(buffer + at);
            at += ent->d_reclen;
            const char* name = ent->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            entries.emplace_back(QByteArray(name), ent->d_type);
        }
    }
}

} // namespace fileop
