// A move within one file system: renames, entry by entry where the target exists.
#include "RenameMove.h"

#include "DirReader.h"
#include "FileCopy.h"
#include "RunPolicy.h"
#include "RunProgress.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ranges>

namespace fileop {

RenameMove::RenameMove(const std::atomic<bool>& cancel, int flags, RunPolicy& policy, RunProgress& progress)
    : m_cancel(cancel)
    , m_flags(flags)
    , m_policy(policy)
    , m_progress(progress)
{}

void RenameMove::moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                           const QString& dpath, bool top)
{
    while (!m_cancel.load()) {
        m_progress.setCurrentPath(spath);
        if (::renameat2(sfd, sname.constData(), dfd, dname.constData(), RENAME_NOREPLACE) == 0) {
            m_progress.filesDone++;
            m_progress.maybeReport();
            return;
        }
        int e = errno;
        if (e == EINVAL) {
            // File systems without RENAME_NOREPLACE: look first, then rename.
            struct stat t {};
            if (::fstatat(dfd, dname.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0)
                e = EEXIST;
            else if (::renameat(sfd, sname.constData(), dfd, dname.constData()) == 0) {
                m_progress.filesDone++;
                return;
            } else
                e = errno;
        }
        if (e != EEXIST && e != ENOTEMPTY) {
            const ErrorAnswer a = m_policy.onError(spath, Action::Move, e);
            if (a == ErrorAnswer::Retry)
                continue;
            return;
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
            const ErrorAnswer a = m_policy.onError(dpath, Action::Replace, sdir ? ENOTDIR : EISDIR);
            if (a == ErrorAnswer::Retry)
                continue;
            return;
        }
        switch (d) {
        case Decision::Rename:
            if (renameToFreeName(sfd, sname, dfd, dname, sdir))
                m_progress.filesDone++;
            return;
        case Decision::Replace:
            if (::renameat(sfd, sname.constData(), dfd, dname.constData()) == 0) {
                m_progress.filesDone++;
                return;
            }
            if (m_policy.onError(dpath, Action::Replace, errno) == ErrorAnswer::Retry)
                continue;
            return;
        case Decision::Merge: {
            UniqueFd sub(::openat(sfd, sname.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            UniqueFd dsub(::openat(dfd, dname.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.valid() || !dsub.valid()) {
                if (m_policy.onError(spath, Action::Open, errno) == ErrorAnswer::Retry)
                    continue;
                return;
            }
            // Read the names first: the folder changes while its entries leave.
            DirEntries entries;
            if (const int listError = listEntries(sub.get(), entries)) {
                if (m_policy.onError(spath, Action::Read, listError) == ErrorAnswer::Retry)
                    continue;
                return;
            }
            const int leftBefore = m_policy.itemsLeft();
            for (const QByteArray& n : std::views::keys(entries))
                moveEntry(sub.get(), n, dsub.get(), n, spath + u'/' + QString::fromLocal8Bit(n),
                          dpath + u'/' + QString::fromLocal8Bit(n), false);
            // It stays when something in it was kept, which is already reported; it
            // also stays, and is reported, when entries appeared during the run.
            if (::unlinkat(sfd, sname.constData(), AT_REMOVEDIR) != 0 && !m_cancel.load() &&
                m_policy.itemsLeft() == leftBefore)
                m_policy.recordFileError(spath, Action::Delete,
                                         errno == ENOTEMPTY || errno == EEXIST ? kChangedDuringRun : errno);
            return;
        }
        default:
            return;
        }
    }
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
    m_policy.recordFailure(FileExists, QStringLiteral("%1: no free name").arg(QString::fromLocal8Bit(dname)));
    return false;
}

} // namespace fileop
