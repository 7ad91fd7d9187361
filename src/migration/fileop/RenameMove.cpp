// A move within one file system: renames, entry by entry where the target exists.
#include "RenameMove.h"

#include "DirReader.h"
#include "FileCopy.h"
#include "RunPolicy.h"
#include "RunProgress.h"
#include "UniqueFd.h"

#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ranges>

namespace fileop {

namespace {

// Names held at once while a folder is merged: a few kernel buffers' worth.
constexpr size_t kDefaultBatch = 4096;

bool sameObject(int fd, const struct stat& seen)
{
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_dev == seen.st_dev && now.st_ino == seen.st_ino;
}

} // namespace

RenameMove::RenameMove(const std::atomic<bool>& cancel, int flags, int batchLimit, RunPolicy& policy,
                       RunProgress& progress)
    : m_cancel(cancel)
    , m_flags(flags)
    , m_batchLimit(batchLimit > 0 ? static_cast<size_t>(batchLimit) : kDefaultBatch)
    , m_policy(policy)
    , m_progress(progress)
{}

bool RenameMove::moved()
{
    m_progress.filesDone++;
    m_progress.renamed++;
    m_progress.maybeReport();
    return true;
}

bool RenameMove::moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                           const QString& dpath, bool top)
{
    while (!m_cancel.load()) {
        m_progress.setCurrentPath(spath);
        if (::renameat2(sfd, sname.constData(), dfd, dname.constData(), RENAME_NOREPLACE) == 0)
            return moved();
        int e = errno;
        if (e == EINVAL) {
            // File systems without RENAME_NOREPLACE: look first, then rename.
            struct stat t {};
            if (::fstatat(dfd, dname.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0)
                e = EEXIST;
            else if (::renameat(sfd, sname.constData(), dfd, dname.constData()) == 0)
                return moved();
            else
                e = errno;
        }
        if (e != EEXIST && e != ENOTEMPTY) {
            if (m_policy.onError(spath, Action::Move, e) == ErrorAnswer::Retry)
                continue;
            return false;
        }
        struct stat s {};
        struct stat t {};
        if (::fstatat(sfd, sname.constData(), &s, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fstatat(dfd, dname.constData(), &t, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // changed under us: try again
        const bool sdir = S_ISDIR(s.st_mode);
        const bool tdir = S_ISDIR(t.st_mode);
        Decision d = Decision::Skip;
        if (sdir && tdir)
            d = m_policy.decideFolder(spath, dpath, top);
        else if (!sdir && !tdir)
            d = m_policy.decideFile([&] { return spath; }, [&] { return dpath; });
        else if (top && (m_flags & FOF_RENAMEONCOLLISION))
            d = Decision::Rename;
        else {
            if (m_policy.onError(dpath, Action::Replace, sdir ? ENOTDIR : EISDIR) == ErrorAnswer::Retry)
                continue;
            return false;
        }
        switch (d) {
        case Decision::Rename:
            return renameToFreeName(sfd, sname, dfd, dname, sdir) && moved();
        case Decision::Replace:
            if (::renameat(sfd, sname.constData(), dfd, dname.constData()) == 0)
                return moved();
            if (m_policy.onError(dpath, Action::Replace, errno) == ErrorAnswer::Retry)
                continue;
            return false;
        case Decision::Merge:
            if (const Merged m = mergeFolder({.parent = sfd, .name = sname, .path = spath, .seen = s},
                                             {.parent = dfd, .name = dname, .path = dpath, .seen = t});
                m != Merged::Again)
                return m == Merged::Emptied;
            continue;
        default:
            return false;
        }
    }
    return false;
}

RenameMove::Merged RenameMove::mergeFolder(const Side& src, const Side& dst)
{
    // Reached by descriptor and held to what was looked at: a folder swapped
    // for another (or a link) after the look is not merged.
    UniqueFd sub(::openat(src.parent, src.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const int srcError = errno;
    UniqueFd dsub(::openat(dst.parent, dst.name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const int dstError = errno;
    // The side that failed is the one named, with its own reason.
    if (!sub.valid() || !dsub.valid()) {
        const bool onSource = !sub.valid();
        const int e = onSource ? srcError : dstError;
        return m_policy.onError(onSource ? src.path : dst.path, Action::Open, Cause::ofFolderOpen(e)) ==
                       ErrorAnswer::Retry
                   ? Merged::Again
                   : Merged::Kept;
    }
    if (const bool srcSame = sameObject(sub.get(), src.seen); !srcSame || !sameObject(dsub.get(), dst.seen)) {
        m_policy.recordFileError(srcSame ? dst.path : src.path, Action::Open, Cause::changed());
        return Merged::Kept;
    }
    const int leftBefore = m_policy.itemsLeft();
    if (!moveAllEntries(sub.get(), dsub.get(), src.path, dst.path))
        return Merged::Kept;
    // It stays when something in it was kept, which is already reported; it
    // also stays, and is reported, when entries appeared during the run.
    if (::unlinkat(src.parent, src.name.constData(), AT_REMOVEDIR) == 0)
        return Merged::Emptied;
    if (!m_cancel.load() && m_policy.itemsLeft() == leftBefore)
        m_policy.recordFileError(src.path, Action::Delete,
                                 errno == ENOTEMPTY || errno == EEXIST ? Cause::changed() : Cause::system(errno));
    return Merged::Kept;
}

bool RenameMove::moveAllEntries(int sfd, int dfd, const QString& spath, const QString& dpath)
{
    // Entries leaving the folder change it under the reader, which may then
    // pass over some: the folder is read again until a pass moves nothing.
    // Only the names of kept entries are remembered (each is also a failure
    // line already), so the memory stays at one batch however big the folder.
    QSet<QByteArray> kept;
    const size_t batchLimit = std::max<size_t>(m_batchLimit, 1);
    DirEntries batch;
    for (bool movedAny = true; movedAny && !m_cancel.load();) {
        movedAny = false;
        if (::lseek(sfd, 0, SEEK_SET) != 0) {
            m_policy.recordFileError(spath, Action::Read, errno);
            return false;
        }
        DirReader reader(sfd);
        bool more = true;
        while (more && !m_cancel.load()) {
            more = reader.next(batch);
            if (more && batch.size() < batchLimit)
                continue;
            for (const QByteArray& n : std::views::keys(batch)) {
                if (kept.contains(n) || m_cancel.load())
                    continue;
                if (moveEntry(sfd, n, dfd, n, spath + u'/' + QString::fromLocal8Bit(n),
                              dpath + u'/' + QString::fromLocal8Bit(n), false))
                    movedAny = true;
                else
                    kept.insert(n);
            }
            batch.clear();
        }
        if (reader.error() != 0) {
            if (m_policy.onError(spath, Action::Read, reader.error()) != ErrorAnswer::Retry)
                return false;
            movedAny = true; // read it again
        }
    }
    return !m_cancel.load();
}

bool RenameMove::renameToFreeName(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, bool isFolder)
{
    for (int n = 1; n <= kMaxRenameAttempts && !m_cancel.load(); ++n) {
        const QByteArray candidate = collisionName(dname, n, isFolder);
        if (::renameat2(sfd, sname.constData(), dfd, candidate.constData(), RENAME_NOREPLACE) == 0)
            return true;
        const int e = errno;
        if (e != EEXIST && e != ENOTEMPTY) {
            m_policy.recordFileError(QString::fromLocal8Bit(candidate), Action::Rename, e);
            return false;
        }
    }
    m_policy.recordFailure(Outcome::FileExists, QStringLiteral("%1: no free name").arg(QString::fromLocal8Bit(dname)));
    return false;
}

} // namespace fileop
