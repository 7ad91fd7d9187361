// The workers of a tree copy: per-file decisions, the copy itself, and the link pass after.
#include "FileWorkers.h"

#include "FileCopy.h"
#include "RunPolicy.h"
#include "RunProgress.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace fileop {

namespace {

Stamp stampOf(const struct stat& st)
{
    return {st.st_ino, st.st_size, st.st_mtim, st.st_ctim, st.st_nlink};
}

} // namespace

// Each worker takes a few files at a time (see FileQueue::take).
void FileWorkers::work()
{
    std::vector<FileJob*> batch;
    for (;;) {
        m_queue.take(batch, m_run.cancel);
        if (batch.empty())
            break;
        for (FileJob* job : batch) {
            m_queue.setCurrent(job);
            if (!m_run.cancelled() && copyFile(*job))
                m_run.progress.filesDone++;
            m_folders.releaseHold(*job->dir); // the last use of the folder's descriptors by this worker
            job->settled.store(true, std::memory_order_release);
        }
    }
    m_queue.workerLeft();
    m_folders.wakeClosers(); // a cancelled run: no lister waits for this worker's folders
}

bool FileWorkers::copyFile(FileJob& job, const LinkSource* link)
{
    const auto source = [&] {
        return m_folders.srcPath(job.dir, job.name);
    };

    Decision decision = job.decision; // a name left for later keeps the answer given for it
    struct stat target {};
    bool targetSeen = false;
    for (;;) {
        if (m_run.cancelled())
            return true;
        // Reached again on a retry: the folder may have come back.
        UniqueFd sholder;
        UniqueFd dholder;
        const Reached src = m_folders.src(job.dir, sholder);
        const Reached dst = src.ok() ? m_folders.dst(job.dir, dholder) : Reached{};
        if (!src.ok() || !dst.ok()) {
            const ErrorAnswer a =
                src.ok() ? m_run.policy.onError(m_folders.dstPath(job.dir, job.dstName), Action::Open, dst.error)
                         : m_run.policy.onError(source(), Action::Open, src.error);
            if (a != ErrorAnswer::Retry)
                return true;
            continue;
        }
        const int sfd = src.fd;
        const int dfd = dst.fd;
        // Only a folder that existed before can hold a colliding name; new ones are
        // caught atomically when the copy is put in place.
        if (decision == Decision::New && job.dir->merged) {
            targetSeen = ::fstatat(dfd, job.dstName.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0;
            if (targetSeen) {
                decision = m_run.policy.decideFile(source, [&] { return m_folders.dstPath(job.dir, job.dstName); });
                if (decision == Decision::Skip)
                    return true;
            }
        }
        PlaceRequest place;
        place.srcDir = sfd;
        place.srcName = job.name;
        place.dstDir = dfd;
        place.dstName = job.dstName;
        place.type = job.type;
        place.replace = decision == Decision::Replace;
        place.rename = decision == Decision::Rename;
        place.rangeCopy = &m_rangeCopy;
        place.deletesSource = m_run.isMove();
        place.clock = job.dir->clock;
        place.clockDev = job.dir->clockDev;
        place.target = targetSeen ? &target : nullptr;
        if (link) {
            place.linkFromDir = link->dir;
            place.linkFromName = link->name;
            place.linkInode = link->ino;
        } else {
            place.claimInode = [&](const struct stat& st) {
                job.pinned = true; // the first copy is linked to later, a later name is deferred
                return m_links.claim(identityOf(st), &job);
            };
        }
        CopyOutcome out = copyItem(place, m_run.cancel, m_run.progress.bytesDone);
        if (out.deferred) {
            job.decision = decision;
            m_links.defer(&job, identityOf(out.source));
            return false;
        }
        if (out.size >= 0)
            countSize(job, out.size);
        if (!out.error.failed()) {
            job.copied = stampOf(out.source);
            job.done = true;
            if (out.upToDate) {
                m_run.progress.upToDate++;
                m_run.progress.metadataOnly += out.metadataChanged ? 1 : 0;
            } else {
                m_run.progress.filesCopied++;
                m_run.progress.bytesCopied += out.bytesWritten;
            }
            if (!link && out.source.st_nlink > 1)
                m_links.placed(identityOf(out.source), &job, out.placed);
            return true;
        }
        if (out.error.is(EEXIST) && decision == Decision::New) {
            decision = m_run.policy.decideFile(source, [&] { return m_folders.dstPath(job.dir, job.dstName); });
            if (decision == Decision::Skip)
                return true;
            continue;
        }
        if (out.error.kind == Cause::Kind::Cancelled)
            return true;
        // A refusal names what changed: the first copy a later name was to link to,
        // the target, or the source.
        const QString shown = out.onLinkSource && link ? m_folders.dstPath(link->node, link->name)
                              : out.onTarget           ? m_folders.dstPath(job.dir, job.dstName)
                                                       : source();
        const ErrorAnswer a = m_run.policy.onError(shown, out.action, out.error);
        if (a != ErrorAnswer::Retry)
            return true;
    }
}

void FileWorkers::linkLaterNames()
{
    for (const auto& [job, inode] : m_links.later()) {
        if (m_run.cancelled())
            return;
        const HardLinks::FirstCopy copy = m_links.firstCopy(inode);
        UniqueFd holder;
        LinkSource link;
        if (!copy.placed.isEmpty() && copy.job) {
            link.dir = m_folders.dst(copy.job->dir, holder).fd;
            link.node = copy.job->dir;
            link.name = copy.placed;
            link.ino = inode.ino;
        }
        if (link.dir >= 0) {
            copyFile(*job, &link);
        } else {
            // Copied on its own, and the copy later names may link to.
            m_links.takeOver(inode, job);
            copyFile(*job);
        }
        m_run.progress.filesDone++;
        m_run.progress.maybeReport();
    }
}

void FileWorkers::countSize(FileJob& job, qint64 size)
{
    qint64 unknown = -1;
    if (job.size.compare_exchange_strong(unknown, size))
        m_run.progress.bytesTotal += size;
}

} // namespace fileop
