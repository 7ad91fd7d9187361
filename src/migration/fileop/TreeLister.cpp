// The walk's visitor: per-folder decisions of a tree copy.
#include "TreeLister.h"

#include "DirReader.h"
#include "FileCopy.h"
#include "MoveDeletions.h"
#include "WindowsNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace fileop {

namespace {

Opened openSourceDir(int parentFd, const QByteArray& name)
{
    return openSource(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

// The listers check each source folder against the target folders made so
// far, but one lister may meet a folder another has just made and not yet
// recorded: once the walk is done every source folder is checked again,
// before a move deletes anything.
void TreeLister::checkNoSourceIsTarget()
{
    for (size_t i = 1; i < m_folders.size(); ++i) {
        if (m_dstIds.contains(m_folders.at(i)->srcId)) {
            m_run.policy.stopRun(
                Outcome::DestinationInsideSource,
                QStringLiteral("%1: the destination lies inside the source").arg(m_folders.srcPath(m_folders.at(i))));
            return;
        }
    }
}

// Checks that the source folder can be read, then makes (or merges into, or
// renames) its target.
DirNode* TreeLister::addFolder(DirNode& parent, const QByteArray& srcName, const QByteArray& dstName, bool top)
{
    Identity srcId;
    UniqueFd dir;
    for (;;) {
        UniqueFd holder;
        const Reached p = m_folders.src(&parent, holder);
        Cause e = p.error;
        if (p.ok()) {
            Opened opened = openSourceDir(p.fd, srcName);
            struct stat st {};
            if (!opened.ok()) {
                e = Cause::ofFolderOpen(opened.error);
            } else if (::fstat(opened.fd.get(), &st) == 0) {
                dir = std::move(opened.fd);
                srcId = identityOf(st);
                break;
            } else {
                e = Cause::ofFolderOpen(errno);
            }
        }
        const ErrorAnswer a = m_run.policy.onError(m_folders.srcPath(&parent, srcName), Action::Open, e);
        if (a != ErrorAnswer::Retry)
            return nullptr;
    }
    bool inTarget = false;
    {
        std::lock_guard lock(m_idsMutex);
        inTarget = m_dstIds.contains(srcId);
    }
    if (inTarget) {
        // A folder this run made or merged into turns up in the source: the target
        // lies inside the source by a way the checks before the run could not see.
        m_run.policy.stopRun(
            Outcome::DestinationInsideSource,
            QStringLiteral("%1: the destination lies inside the source").arg(m_folders.srcPath(&parent, srcName)));
        return nullptr;
    }
    QByteArray name = dstName;
    bool created = false;
    bool merged = false;
    UniqueFd holder;
    const Reached reached = m_folders.dst(&parent, holder);
    if (!reached.ok()) {
        m_run.policy.recordFileError(m_folders.dstPath(&parent), Action::Open, reached.error);
        return nullptr;
    }
    const int pfd = reached.fd;
    int attempt = 0;
    struct stat dt {}; // the target folder as found, when merged into
    while (!m_run.cancelled()) {
        if (attempt > 0)
            name = collisionName(dstName, attempt, true);
        if (::mkdirat(pfd, name.constData(), 0700) == 0) {
            created = true;
            break;
        }
        int e = errno;
        if (e == EEXIST && attempt == 0) {
            struct stat& t = dt;
            const bool isDir = ::fstatat(pfd, name.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(t.st_mode);
            if (isDir) {
                const Decision d = m_run.policy.decideFolder(m_folders.srcPath(&parent, srcName),
                                                             m_folders.dstPath(&parent, name), top);
                if (d == Decision::Merge) {
                    merged = true;
                    break;
                }
                if (d != Decision::Rename)
                    return nullptr;
            } else if (!(top && (m_run.request.flags & FOF_RENAMEONCOLLISION))) {
                e = ENOTDIR; // a file stands where the folder should go
            }
        }
        if (e == EEXIST) { // the next "Copy of" name
            if (++attempt > kMaxRenameAttempts) {
                m_run.policy.recordFailure(Outcome::FileExists,
                                           QStringLiteral("%1: no free name").arg(m_folders.dstPath(&parent, dstName)));
                return nullptr;
            }
            continue;
        }
        const ErrorAnswer a = m_run.policy.onError(m_folders.dstPath(&parent, name), Action::Create, e);
        if (a != ErrorAnswer::Retry)
            return nullptr;
    }
    if (m_run.cancelled())
        return nullptr;
    // Its identity from here on: every later open of it must find this folder.
    Cause gone;
    if (!merged && ::fstatat(pfd, name.constData(), &dt, AT_SYMLINK_NOFOLLOW) != 0)
        gone = Cause::system(errno);
    if (gone.failed() || !S_ISDIR(dt.st_mode)) {
        m_run.policy.recordFileError(m_folders.dstPath(&parent, name), Action::Open,
                                     gone.failed() ? gone : Cause::changed());
        return nullptr;
    }
    {
        std::lock_guard lock(m_idsMutex);
        m_dstIds.insert(identityOf(dt));
    }
    if (m_deletions)
        m_deletions->addTarget(pfd, name, identityOf(dt));

    auto node = std::make_unique<DirNode>();
    node->parent = &parent;
    node->srcName = srcName;
    node->dstName = name;
    node->srcId = srcId;
    node->dstId = identityOf(dt);
    node->created = created;
    node->merged = merged;
    node->clockDev = dt.st_dev;
    node->clock = clockOf(parent, pfd, name, dt);
    m_folders.keepOpen(dir, node->src);
    DirNode* added = m_folders.add(std::move(node));
    m_walk.found();
    return added;
}

TargetClock TreeLister::clockOf(const DirNode& parent, int parentFd, const QByteArray& name, const struct stat& made)
{
    if (made.st_dev == parent.clockDev)
        return parent.clock;
    // A file system met for the first time (or a mount inside it): its clock
    // is worked out in this folder, if it still is the one just made.
    UniqueFd here(::openat(parentFd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    return here.valid() && ::fstat(here.get(), &st) == 0 && identityOf(st) == identityOf(made)
               ? m_clocks.of(here.get(), made.st_dev)
               : TargetClock{};
}

void TreeLister::visit(DirNode& node, size_t index)
{
    m_folders.closeFinished(index, m_run.cancel);
    if (const FolderTable::OpenError failed = m_folders.openForListing(node); failed.error.failed()) {
        if (failed.onSource)
            m_run.policy.recordFileError(m_folders.srcPath(&node), Action::Read, failed.error);
        else
            m_run.policy.recordFileError(m_folders.dstPath(&node), Action::Open, failed.error);
        FolderTable::markKeep(&node);
        m_folders.releaseHold(node);
        return;
    }
    // A folder is read a buffer at a time and its files queued as they come,
    // so one folder of a million files costs no more memory than a thousand
    // folders of a thousand. A listing that fails part way is a failure; what
    // it did read is still copied.
    DirReader reader(node.src.get());
    DirEntries entries;
    FoundFiles files;
    while (!m_run.cancelled() && reader.next(entries)) {
        // Sizes are left to the workers and to the pass after the walk: on a cold
        // cache each inode read waits for the disk, and the walk must stay ahead.
        for (const auto& [name, type] : entries) {
            if (m_run.cancelled())
                break;
            if (const QString problem = windowsNameProblem(name); !problem.isEmpty())
                m_run.policy.noteUnusableName(m_folders.dstPath(&node, name), problem);
            mode_t mode = DTTOIF(type);
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(node.src.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    const int e = errno;
                    m_run.policy.recordFileError(m_folders.srcPath(&node, name), Action::Read, e);
                    FolderTable::markKeep(&node);
                    continue;
                }
                mode = st.st_mode & S_IFMT;
            }
            if (S_ISDIR(mode)) {
                if (!addFolder(node, name, name, false))
                    FolderTable::markKeep(&node);
            } else
                files.emplace_back(name, mode);
        }
        entries.clear();
        queueFiles(node, files);
        files.clear();
    }
    if (const int e = reader.error()) {
        m_run.policy.recordFileError(m_folders.srcPath(&node), Action::Read, e);
        FolderTable::markKeep(&node);
    }
    m_folders.releaseHold(node);
}

// Queues the files in groups no larger than the queue's limit, waiting for
// room after each.
void TreeLister::queueFiles(DirNode& folder, const FoundFiles& files)
{
    const size_t group = m_queue.groupSize();
    for (size_t at = 0; at < files.size() && !m_run.cancelled(); at += group) {
        m_queue.push(folder, files, at, std::min(group, files.size() - at));
        m_queue.waitForRoom(m_run.cancel);
    }
}

} // namespace fileop
