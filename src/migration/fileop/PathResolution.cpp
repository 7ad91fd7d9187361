// The rules before work: resolves the paths, refuses loops and collisions with the source, makes missing parents.
#include "PathResolution.h"

#include "NetworkPath.h"
#include "RunPolicy.h"
#include "TreeIdentity.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fileop {

namespace {

// Rules before work, by identity rather than by the text of the paths, so that
// links and bind mounts cannot hide a loop: nothing is touched for a request
// that would copy a tree into itself or replace the source with its own copy.
Outcome checkContainment(const Request& request, const ResolvedPaths& paths)
{
    // The top item is renamed on collision, except when the destination itself is the target.
    const bool renameTop = request.operation == FO_COPY && (request.flags & FOF_RENAMEONCOLLISION) && !request.contents;
    UniqueFd holder; // the folder the target goes in, or its deepest existing ancestor
    if (paths.destinationMissing)
        holder.reset(
            ::open(nearestExisting(parentOf(paths.target), nullptr).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    else
        holder.reset(::dup(paths.dstParent.get()));
    if (!holder.valid())
        return outcomeOfErrno(errno);

    if (S_ISDIR(paths.srcStat.st_mode)) {
        UniqueFd src(::openat(paths.srcParent.get(), baseName(paths.source).constData(),
                              O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!src.valid())
            return outcomeOfErrno(errno);
        if (isWithin(holder.get(), src.get()))
            return Outcome::DestinationInsideSource;
    }
    if (paths.destinationMissing)
        return Outcome::Success;
    struct stat target {};
    if (::fstatat(paths.dstParent.get(), baseName(paths.target).constData(), &target, AT_SYMLINK_NOFOLLOW) != 0)
        return Outcome::Success; // nothing there yet: nothing to collide with
    if (identityOf(target) == identityOf(paths.srcStat) || paths.target == paths.source)
        return renameTop ? Outcome::Success : Outcome::SameFile;
    if (S_ISDIR(target.st_mode) && (!(request.flags & FOF_RENAMEONCOLLISION) || request.contents)) {
        UniqueFd tgt(::openat(paths.dstParent.get(), baseName(paths.target).constData(),
                              O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (tgt.valid() && isWithin(paths.srcParent.get(), tgt.get()))
            return Outcome::SourceInsideDestination;
    }
    return Outcome::Success;
}

// A destination mapped onto a share must still be on it: a mount laid over the
// mount point, or a link put in its place, since the operator was shown the
// mapping would send the copy to another file system. Checked on the folder
// the copy goes into (the target when it is one), or the deepest existing one
// while the target's parents are still missing.
Outcome checkDestinationMount(const Request& request, const ResolvedPaths& paths, RunPolicy& policy)
{
    const MountRoot& mount = request.destinationMount;
    if (mount.path.isEmpty())
        return Outcome::Success;
    UniqueFd at(paths.dstParent.valid() ? ::openat(paths.dstParent.get(), baseName(paths.target).constData(),
                                                   O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                        : ::open(nearestExisting(parentOf(paths.target), nullptr).constData(),
                                                 O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!at.valid() && paths.dstParent.valid())
        at.reset(::dup(paths.dstParent.get()));
    if (at.valid() && walksUpTo(at.get(), Identity{mount.device, mount.inode}))
        return Outcome::Success;
    const Cause changed = Cause::changed();
    policy.recordFileError(mount.path, Action::Open, changed);
    return outcomeOf(changed);
}

// A source mapped onto a share must still be on it, for the same reason: the
// item is the share's root itself, or its folder lies below that root.
Outcome checkSourceMount(const Request& request, const ResolvedPaths& paths, RunPolicy& policy)
{
    const MountRoot& mount = request.sourceMount;
    const Identity root{mount.device, mount.inode};
    if (mount.path.isEmpty() || identityOf(paths.srcStat) == root || walksUpTo(paths.srcParent.get(), root))
        return Outcome::Success;
    const Cause changed = Cause::changed();
    policy.recordFileError(mount.path, Action::Open, changed);
    return outcomeOf(changed);
}

// The missing folders above the target, made one at a time below the deepest
// existing one and never through a link that appears meanwhile.
Outcome createMissingParents(ResolvedPaths& paths, RunPolicy& policy)
{
    QList<QByteArray> missing;
    QByteArray path = nearestExisting(parentOf(paths.target), &missing);
    UniqueFd fd(::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        const Cause e = Cause::system(errno);
        policy.recordFileError(QString::fromLocal8Bit(path), QStringLiteral("open"), e);
        return outcomeOf(e);
    }
    for (const QByteArray& name : missing) {
        path = joinPath(path, name);
        if (::mkdirat(fd.get(), name.constData(), 0777) != 0 && errno != EEXIST) {
            const Cause e = Cause::system(errno);
            policy.recordFileError(QString::fromLocal8Bit(path), QStringLiteral("create"), e);
            return outcomeOf(e);
        }
        UniqueFd next(::openat(fd.get(), name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            const Cause e = Cause::ofFolderOpen(errno);
            policy.recordFileError(QString::fromLocal8Bit(path), QStringLiteral("create"), e);
            return outcomeOf(e);
        }
        fd = std::move(next);
    }
    paths.dstParent = std::move(fd);
    return Outcome::Success;
}

} // namespace

Outcome resolvePaths(const Request& request, RunPolicy& policy, ResolvedPaths& paths)
{
    if (request.source.isEmpty())
        return Outcome::SourceMissing;
    if (request.destination.isEmpty())
        return Outcome::PathNotFound;
    // A network path reaches this computer only through its mount point
    // (mapNetworkPath); taken as it stands it would be a local folder named
    // after it, or "/server/share".
    for (const QString& path : {request.source, request.destination}) {
        if (parseNetworkPath(path)) {
            policy.recordFailure(Outcome::NetworkPathNotFound,
                                 QStringLiteral("%1: a network path; give the path of the mounted share").arg(path));
            return Outcome::NetworkPathNotFound;
        }
    }
    const QByteArray source = QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(request.source)));
    const QByteArray destination =
        QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(request.destination)));
    if (request.operation != FO_MOVE && request.operation != FO_COPY)
        return Outcome::GeneralFailure;
    if (source == "/")
        return Outcome::DestinationInsideSource;

    // The folders above the source are resolved, the source itself is not: a
    // link given as the source is the item to move or copy, as mv and cp -a take it.
    int error = 0;
    const QByteArray sourceParent = realPath(parentOf(source), &error);
    if (sourceParent.isEmpty())
        return error == ENOENT ? Outcome::SourceMissing : outcomeOfErrno(error);
    paths.source = joinPath(sourceParent, baseName(source));
    paths.srcParent.reset(::open(sourceParent.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!paths.srcParent.valid())
        return outcomeOfErrno(errno);
    if (::fstatat(paths.srcParent.get(), baseName(paths.source).constData(), &paths.srcStat, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Outcome::SourceMissing : outcomeOfErrno(errno);

    if (const Outcome rc = checkSourceMount(request, paths, policy); rc != Outcome::Success)
        return rc;

    if (request.contents && !S_ISDIR(paths.srcStat.st_mode))
        return Outcome::FileDestinationIsFolder; // only a folder has contents to put into a folder

    struct stat dst {};
    if (::stat(destination.constData(), &dst) == 0) {
        if (!S_ISDIR(dst.st_mode))
            return Outcome::DestinationIsFile;
        const QByteArray real = realPath(destination, &error);
        if (real.isEmpty())
            return outcomeOfErrno(error);
        if (request.contents && real == "/")
            return Outcome::SameFile; // the root has no folder above it to hold it as a target
        // With contents, the destination itself is the target that is merged into.
        paths.target = request.contents ? real : joinPath(real, baseName(paths.source));
        const QByteArray holder = request.contents ? parentOf(real) : real;
        paths.dstParent.reset(::open(holder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!paths.dstParent.valid())
            return outcomeOfErrno(errno);
    } else if (errno == ENOENT) {
        paths.destinationMissing = true;
        paths.target = canonicalFuture(destination, &error);
        if (paths.target.isEmpty())
            return outcomeOfErrno(error);
    } else {
        return outcomeOfErrno(errno);
    }

    if (const Outcome rc = checkContainment(request, paths); rc != Outcome::Success)
        return rc;
    if (const Outcome rc = checkDestinationMount(request, paths, policy); rc != Outcome::Success)
        return rc;

    if (paths.destinationMissing && !request.dryRun) {
        if (const Outcome rc = policy.confirmCreate(QDir::cleanPath(request.destination)); rc != Outcome::Success)
            return rc;
        if (const Outcome rc = createMissingParents(paths, policy); rc != Outcome::Success)
            return rc;
        return checkDestinationMount(request, paths, policy); // again, on the folders just made
    }
    return Outcome::Success;
}

} // namespace fileop
