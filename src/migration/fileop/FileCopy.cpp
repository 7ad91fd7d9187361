// Copies one file, link or special file to its target: the decisions around data, metadata and placement.
#include "FileCopy.h"

#include "DataCopy.h"
#include "FileOperation.h"
#include "Metadata.h"
#include "Placement.h"
#include "TreeIdentity.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

namespace fileop {

namespace {

// The clock a target found at the request's name is compared on.
TargetClock clockOf(const PlaceRequest& r, const struct stat& target)
{
    return target.st_dev == r.clockDev ? r.clock : TargetClock{};
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
        return CopyOutcome{Cause::ofOpen(errno), Action::Open, true, st.st_size, st};
    if (!S_ISREG(t.st_mode))
        return CopyOutcome{Cause::changed(), Action::Open, true, st.st_size, st};
    if (t.st_nlink > st.st_nlink || (runningAsRoot() && (t.st_uid != st.st_uid || t.st_gid != st.st_gid)))
        return std::nullopt;
    // The target may have changed since the quick check: it must still hold this file.
    if (quickCheck(st, t, clockOf(r, t), r.deletesSource) == TargetState::Copy)
        return std::nullopt;
    const bool differs = metadataDiffers(in, out.get(), st, t, clockOf(r, t));
    if (differs)
        if (const int e = copyMetadata(in, out.get(), st))
            return CopyOutcome{Cause::system(e), Action::SetAttributes, true, st.st_size, st};
    bytesDone += st.st_size;
    CopyOutcome done{{}, {}, false, st.st_size, st, r.dstName, true};
    done.metadataChanged = differs;
    return done;
}

// A later name of a copied inode becomes a hard link to that copy. The link
// shares the copy's data and metadata; a target that already is that inode is
// up to date.
CopyOutcome placeLink(const PlaceRequest& r, const struct stat& st, std::atomic<qint64>& bytesDone)
{
    // The first copy stands in the target, where its folder's owner may have
    // removed it or swapped it for something else since.
    struct stat from {};
    Cause changed;
    if (::fstatat(r.linkFromDir, r.linkFromName.constData(), &from, AT_SYMLINK_NOFOLLOW) != 0)
        changed = errno == ENOENT ? Cause::changed() : Cause::ofFolderOpen(errno);
    else if (!S_ISREG(from.st_mode))
        changed = Cause::changed();
    if (changed.failed()) {
        CopyOutcome out{changed, Action::Link, true, st.st_size, st};
        out.onLinkSource = true;
        return out;
    }
    struct stat t {};
    if (r.replace && ::fstatat(r.dstDir, r.dstName.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0 &&
        t.st_dev == from.st_dev && t.st_ino == from.st_ino) {
        bytesDone += st.st_size;
        return {{}, {}, false, st.st_size, st, r.dstName, true};
    }
    const Create link = [&](const char* name) {
        return ::linkat(r.linkFromDir, r.linkFromName.constData(), r.dstDir, name, 0) == 0 ? 0 : errno;
    };
    QByteArray placed;
    if (const int e = placeAtomically(r.dstDir, r.dstName, r.replace, r.rename, link, &placed))
        return {Cause::system(e), Action::Create, true, st.st_size, st};
    bytesDone += st.st_size;
    return {{}, {}, false, st.st_size, st, placed};
}

// A regular file whose data was written: all of it counts as copied.
CopyOutcome written(const struct stat& st, const QByteArray& placed)
{
    CopyOutcome done{{}, {}, false, st.st_size, st, placed};
    done.bytesWritten = st.st_size;
    return done;
}

CopyOutcome copyRegular(const PlaceRequest& r, const std::atomic<bool>& cancel, std::atomic<qint64>& bytesDone)
{
    // Listed as a file, it may be a FIFO or a device by now: O_NONBLOCK keeps the
    // open from waiting on a writer, and anything but a regular file is refused.
    Opened opened =
        openSource(r.srcDir, r.srcName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (!opened.ok())
        return {Cause::ofOpen(opened.error), Action::Read, false};
    UniqueFd in = std::move(opened.fd);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return {Cause::system(errno), Action::Read, false};
    if (!S_ISREG(st.st_mode))
        return {Cause::changed(), Action::Read, false};
    if (r.linkFromDir >= 0 && st.st_ino == r.linkInode)
        return placeLink(r, st, bytesDone);
    if (r.linkFromDir < 0 && st.st_nlink > 1 && r.claimInode && !r.claimInode(st))
        return {{}, {}, false, st.st_size, st, {}, false, true};
    // A second pass: a target of the same size and time is taken as this file.
    struct stat t {};
    if (r.replace && !r.rename && ::fstatat(r.dstDir, r.dstName.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0 &&
        quickCheck(st, t, clockOf(r, t), r.deletesSource) != TargetState::Copy)
        if (std::optional<CopyOutcome> done = refreshMetadata(in.get(), r, st, bytesDone))
            return *done;

    UniqueFd out;
    QByteArray tmp;
    if (tmpfileUsable().load()) {
        out.reset(::openat(r.dstDir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (!out.valid()) {
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                return {Cause::system(errno), Action::Create, true, st.st_size, st};
            tmpfileUsable().store(false);
        }
    }
    if (!out.valid()) {
        tmp = tempName();
        out.reset(::openat(r.dstDir, tmp.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
        if (!out.valid())
            return {Cause::system(errno), Action::Create, true, st.st_size, st};
    }
    auto fail = [&](int e, Action action, bool onTarget) {
        out.reset();
        if (!tmp.isEmpty())
            ::unlinkat(r.dstDir, tmp.constData(), 0);
        // The data copy stops between chunks with ECANCELED once the run is cancelled.
        const Cause why = e == ECANCELED && cancel.load() ? Cause::cancelled() : Cause::system(e);
        return CopyOutcome{why, action, onTarget, st.st_size, st};
    };

    DataCopy data{in.get(), out.get(), cancel, bytesDone, r.rangeCopy};
    if (const int e = copyData(data, st))
        return fail(e, data.onTarget ? Action::Write : Action::Read, data.onTarget);
    if (const int e = copyMetadata(in.get(), out.get(), st))
        return fail(e, Action::SetAttributes, true);

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
                return copyRegular(r, cancel, bytesDone);
            }
            return fail(e, Action::Create, true);
        }
        if (const int e = out.closeChecked()) {
            ::unlinkat(r.dstDir, placed.constData(), 0);
            return fail(e, Action::Write, true);
        }
        return written(st, placed);
    }

    if (const int e = out.closeChecked())
        return fail(e, Action::Write, true);
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
        return fail(e, Action::Create, true);
    return written(st, placed);
}

// Links and special files are created in one step, so they never exist half-made.
CopyOutcome copyOther(const PlaceRequest& r)
{
    struct stat st {};
    if (::fstatat(r.srcDir, r.srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {Cause::system(errno), Action::Read, false};
    // Made from what was listed: a link swapped for a file would become an empty file.
    if ((st.st_mode & S_IFMT) != r.type)
        return {Cause::changed(), Action::Read, false};
    Create create;
    QByteArray target;
    if (S_ISLNK(st.st_mode)) {
        target.resize(static_cast<qsizetype>(std::max<off_t>(st.st_size, 255)) + 1);
        const ssize_t n = ::readlinkat(r.srcDir, r.srcName.constData(), target.data(), target.size());
        if (n < 0)
            return {Cause::system(errno), Action::Read, false};
        if (n >= target.size())
            return {Cause::system(ENAMETOOLONG), Action::Read, false};
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
        return {Cause::system(e), Action::Create, true};

    // The folder may belong to the item's owner, who could swap the new node for
    // a hard link to another file: the node is held by a descriptor, checked to
    // be the one just made, and its owner and mode are set through it.
    UniqueFd node(::openat(r.dstDir, placed.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat made {};
    if (!node.valid() || ::fstat(node.get(), &made) != 0)
        return {Cause::system(errno), Action::SetAttributes, true};
    if ((made.st_mode & S_IFMT) != (st.st_mode & S_IFMT) || made.st_nlink != 1)
        return {Cause::changed(), Action::SetAttributes, true};
    if (runningAsRoot() && ::fchownat(node.get(), "", st.st_uid, st.st_gid, AT_EMPTY_PATH) != 0 &&
        !ignorableChownError(errno))
        return {Cause::system(errno), Action::SetAttributes, true};
    const QByteArray held = "/proc/self/fd/" + QByteArray::number(node.get());
    const timespec times[2] = {st.st_atim, st.st_mtim};
    // A link has no mode of its own, and following it would leave the copy: its
    // times are set by name, which at worst touches another file's times.
    if (S_ISLNK(st.st_mode)) {
        if (::utimensat(r.dstDir, placed.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return {Cause::system(errno), Action::SetAttributes, true};
    } else if (::chmod(held.constData(), st.st_mode & 07777) != 0 ||
               ::utimensat(AT_FDCWD, held.constData(), times, 0) != 0) {
        return {Cause::system(errno), Action::SetAttributes, true};
    }
    return {{}, {}, false, 0, st};
}

} // namespace

CopyOutcome copyItem(const PlaceRequest& request, const std::atomic<bool>& cancel, std::atomic<qint64>& bytesDone)
{
    if (request.srcDir < 0 || request.dstDir < 0)
        return {Cause::system(EBADF), Action::Open, request.dstDir < 0};
    if (request.type == S_IFREG && request.replace && !request.rename && request.target && request.linkFromDir < 0) {
        struct stat st {};
        if (::fstatat(request.srcDir, request.srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            quickCheck(st, *request.target, clockOf(request, *request.target), request.deletesSource) ==
                TargetState::UpToDate) {
            bytesDone += st.st_size;
            return {{}, {}, false, st.st_size, st, request.dstName, true};
        }
    }
    if (request.type == S_IFREG)
        return copyRegular(request, cancel, bytesDone);
    return copyOther(request);
}

// A migration must not rewrite the access time of every source file and folder
// it reads; O_NOATIME is refused (EPERM) on files of other owners unless root.
Opened openSource(int dirFd, const char* name, int flags)
{
    int fd = ::openat(dirFd, name, flags | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::openat(dirFd, name, flags);
    Opened opened;
    opened.error = fd < 0 ? errno : 0;
    opened.fd.reset(fd);
    return opened;
}

} // namespace fileop
