// A move's deletions: one syncfs per target file system, then only unchanged sources go.
#include "MoveDeletions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <unordered_set>

namespace fileop {

void MoveDeletions::addTarget(int parentFd, const QByteArray& name, const Identity& id)
{
    std::lock_guard lock(m_mutex);
    if (m_targetFs.contains(id.dev))
        return;
    UniqueFd fd(::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    const bool same = fd.valid() && ::fstat(fd.get(), &st) == 0 && identityOf(st) == id;
    if (!same) {
        // Without a way to flush this file system no source may be deleted: an
        // empty entry tells the deletions so.
        const Cause e = fd.valid() ? Cause::changed() : Cause::system(errno);
        m_run.policy.recordFileError(m_targetShown, Action::Flush, e);
        fd.reset();
    }
    m_targetFs.emplace(id.dev, std::move(fd));
}

// A move across file systems deletes a source only once every copy is on disk
// (one syncfs per file system that received data, not one fsync per file), and
// only a source that is still the file that was copied: one written to or
// replaced meanwhile stays, and so does a folder that gained entries.
Outcome MoveDeletions::run(const std::deque<std::unique_ptr<FileJob>>& files)
{
    RunPolicy& policy = m_run.policy;
    for (const auto& [dev, fd] : m_targetFs) {
        if (!fd.valid())
            return policy.result(); // that file system cannot be flushed: reported, nothing deleted
        if (::syncfs(fd.get()) != 0) {
            const Cause e = Cause::system(errno);
            policy.recordFileError(m_targetShown, Action::Flush, e);
            return outcomeOf(e);
        }
    }
    // Unlinking one name of a file changes the change time of its other names.
    std::unordered_set<ino_t> unlinked;
    LastSourceDir dir;
    size_t i = 0;
    for (const std::unique_ptr<FileJob>& held : files) {
        FileJob& job = *held;
        if (m_run.cancelled())
            return policy.result();
        if ((++i & 255) == 0)
            m_run.progress.maybeReport();
        if (!job.done) {
            FolderTable::markKeep(job.dir);
            continue;
        }
        const Reached folder = dir.fd(m_folders, job.dir);
        struct stat now {};
        Cause e = folder.error;
        if (!e.failed() && ::fstatat(folder.fd, job.name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
            e = Cause::system(errno);
        const Stamp& was = job.copied;
        if (!e.failed() && (now.st_ino != was.ino || now.st_size != was.size || !sameTime(now.st_mtim, was.mtime) ||
                            (!sameTime(now.st_ctim, was.ctime) && !unlinked.contains(now.st_ino))))
            e = Cause::changed();
        if (!e.failed() && ::unlinkat(folder.fd, job.name.constData(), 0) != 0)
            e = Cause::system(errno);
        if (e.failed()) {
            policy.recordFileError(m_folders.srcPath(job.dir, job.name), Action::Delete, e);
            FolderTable::markKeep(job.dir);
        } else if (was.links > 1) {
            unlinked.insert(was.ino);
        }
    }
    for (size_t d = m_folders.size(); d-- > 1;) {
        if (m_run.cancelled())
            return policy.result();
        DirNode& node = *m_folders.at(d);
        if (node.keep.load())
            continue; // what stays in it is reported already
        UniqueFd holder;
        const Reached parent = m_folders.src(node.parent, holder);
        Cause e = parent.error;
        if (parent.ok() && ::unlinkat(parent.fd, node.srcName.constData(), AT_REMOVEDIR) != 0)
            e = errno == ENOTEMPTY || errno == EEXIST ? Cause::changed() : Cause::system(errno);
        if (e.failed()) {
            policy.recordFileError(m_folders.srcPath(&node), Action::Delete, e);
            FolderTable::markKeep(node.parent);
        }
    }
    return Outcome::Success;
}

} // namespace fileop
