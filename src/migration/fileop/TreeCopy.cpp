#include "TreeCopy.h"

#include "FileCopy.h"
#include "FileOperationEngine.h"
#include "PathResolution.h"
#include "RunPolicy.h"
#include "RunProgress.h"
#include "WindowsNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ranges>
#include <unordered_set>

namespace fileop {

namespace {

constexpr int kDefaultWorkers = 8;
// Files listed but not yet taken by a worker: the walk waits beyond this, so a
// copy of millions of files holds a bounded queue, not a record of each file.
constexpr size_t kMaxPendingJobs = 1 << 16;
constexpr size_t kMaxBatch = 32;
constexpr size_t kMaxListers = 8;

Stamp stampOf(const struct stat& st)
{
    return {st.st_ino, st.st_size, st.st_mtim, st.st_ctim, st.st_nlink};
}

int openSourceDir(int parentFd, const QByteArray& name)
{
    return openSource(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void raiseFileLimit()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 1 << 16);
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

// Descriptors the folders may keep open: the limit, less what the workers
// (two files each) and everything else in the process need.
int fileBudget(int workers)
{
    rlimit lim{};
    const int limit =
        ::getrlimit(RLIMIT_NOFILE, &lim) == 0 ? static_cast<int>(std::min<rlim_t>(lim.rlim_cur, 1 << 16)) : 1024;
    return std::max(limit - 100 - 2 * workers, 8);
}

} // namespace

TreeCopy::TreeCopy(FileOperationEngine& engine, const Request& request, const ResolvedPaths& paths, RunPolicy& policy,
                   RunProgress& progress)
    : m_engine(engine)
    , m_request(request)
    , m_paths(paths)
    , m_policy(policy)
    , m_progress(progress)
{
    m_progress.setCurrentFile([this] {
        // The listers free settled jobs under this lock, never the current one.
        std::lock_guard lock(m_queueMutex);
        const FileJob* job = m_currentJob.load();
        return job ? srcPath(job->dir, job->name) : QString();
    });
}

TreeCopy::~TreeCopy()
{
    m_progress.setCurrentFile(nullptr);
}

// Files are copied while the walk goes on: the workers start on the first
// folder's files while the later folders are still being listed.
int TreeCopy::run()
{
    raiseFileLimit();
    const int count = m_request.workers > 0 ? m_request.workers : kDefaultWorkers;
    m_workerCount = static_cast<size_t>(count);
    m_fdBudget = fileBudget(count);
    m_progress.counting = true;
    std::vector<std::thread> workers;
    workers.reserve(count);
    m_workersRunning = count;
    for (int i = 0; i < count; ++i)
        workers.emplace_back([this] { workLoop(); });

    const bool walked = walk();
    {
        std::lock_guard lock(m_queueMutex);
        m_walkDone = true;
    }
    m_queueCv.notify_all();
    if (walked)
        sizeQueuedFiles();
    m_progress.counting = false;
    waitForWorkers(workers);
    linkDeferred();

    // Folders made so far get their metadata even when the walk stopped early.
    finishDirs();
    if (walked && m_request.operation == FO_MOVE && !m_engine.isCancelled()) {
        const int rc = deleteSources();
        if (rc != Success)
            return rc;
    }
    return m_policy.result();
}

// Lists the tree breadth first, making the target folders and queueing the
// files. Returns false when the top could not be read or the run was cancelled.
bool TreeCopy::walk()
{
    auto root = std::make_unique<DirNode>();
    root->src.reset(::dup(m_paths.srcParent.get()));
    root->dst.reset(::dup(m_paths.dstParent.get()));
    root->merged = true;
    if (!root->src.valid() || !root->dst.valid()) {
        const int e = errno; // before the path is built, which may touch errno
        m_policy.recordFileError(QString::fromLocal8Bit(m_paths.target), QStringLiteral("open"), e);
        return false;
    }
    DirNode* top = m_dirs.emplace_back(std::move(root)).get();

    struct stat st {};
    if (::fstatat(top->src.get(), baseName(m_paths.source).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        m_policy.recordFailure(SourceMissing, QString::fromLocal8Bit(m_paths.source));
        return false;
    }
    if (identityOf(st) != identityOf(m_paths.srcStat) || (st.st_mode & S_IFMT) != (m_paths.srcStat.st_mode & S_IFMT)) {
        m_policy.recordFileError(QString::fromLocal8Bit(m_paths.source), QStringLiteral("read"), kChangedDuringRun);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        struct stat parent {};
        if (::fstat(top->dst.get(), &parent) == 0)
            registerTargetFs(top->dst.get(), ".", identityOf(parent));
        std::lock_guard lock(m_queueMutex);
        FileJob& job = *m_jobs.emplace_back(
            std::make_unique<FileJob>(top, baseName(m_paths.source), st.st_mode & S_IFMT, st.st_size));
        job.dstName = baseName(m_paths.target);
        m_progress.filesTotal = 1;
        m_progress.bytesTotal = S_ISREG(st.st_mode) ? st.st_size : 0;
        m_queueCv.notify_one();
        return true;
    }
    if (!addDir(*top, baseName(m_paths.source), baseName(m_paths.target), true))
        return false;
    // On a cold cache each folder waits for the disk: several listed at once
    // keep it busy, where one walker would leave it idle between reads.
    const size_t listers = std::min(m_workerCount, kMaxListers);
    std::vector<std::thread> threads;
    threads.reserve(listers);
    {
        std::lock_guard lock(m_dirsMutex);
        m_listersRunning = static_cast<int>(listers);
    }
    for (size_t i = 0; i < listers; ++i)
        threads.emplace_back([this] { listLoop(); });
    {
        std::unique_lock lock(m_dirsMutex);
        while (m_listersRunning > 0) {
            m_walkDoneCv.wait_for(lock, std::chrono::milliseconds(RunProgress::kIntervalMs));
            lock.unlock();
            m_progress.maybeReport();
            lock.lock();
        }
    }
    for (std::thread& t : threads)
        t.join();
    if (!m_engine.isCancelled())
        checkNoSourceIsTarget();
    return !m_engine.isCancelled();
}

// One lister: takes the next folder not yet listed, in the order found, until
// none is left and no other lister can add more.
void TreeCopy::listLoop()
{
    for (;;) {
        DirNode* node = nullptr;
        size_t index = 0;
        {
            std::unique_lock lock(m_dirsMutex);
            // The timeout notices a cancel, which does not signal this wait.
            while (m_nextToList == m_dirs.size() && m_listing > 0 && !m_engine.isCancelled())
                m_dirsCv.wait_for(lock, std::chrono::milliseconds(20));
            if (m_nextToList == m_dirs.size() || m_engine.isCancelled())
                break;
            index = m_nextToList++;
            node = m_dirs[index].get();
            ++m_listing;
        }
        closeFinishedDirs(index);
        listDir(*node);
        {
            std::lock_guard lock(m_dirsMutex);
            --m_listing;
        }
        m_dirsCv.notify_all();
    }
    {
        std::lock_guard lock(m_dirsMutex);
        --m_listersRunning;
    }
    m_dirsCv.notify_all();
    m_walkDoneCv.notify_all();
}

// The listers check each source folder against the target folders made so
// far, but one lister may meet a folder another has just made and not yet
// recorded: once the walk is done every source folder is checked again,
// before a move deletes anything.
void TreeCopy::checkNoSourceIsTarget()
{
    for (size_t i = 1; i < m_dirs.size(); ++i) {
        if (m_dstIds.contains(m_dirs[i]->srcId)) {
            m_policy.stopRun(
                DestinationInsideSource,
                QStringLiteral("%1: the destination lies inside the source").arg(srcPath(m_dirs[i].get())));
            return;
        }
    }
}

// Checks that the source folder can be read, then makes (or merges into, or
// renames) its target. Returns the new node, or null when the subtree is left out.
DirNode* TreeCopy::addDir(DirNode& parent, const QByteArray& srcName, const QByteArray& dstName, bool top)
{
    Identity srcId;
    UniqueFd dir;
    for (;;) {
        UniqueFd holder;
        const int pfd = srcFd(&parent, holder);
        dir.reset(pfd < 0 ? -1 : openSourceDir(pfd, srcName));
        struct stat st {};
        if (dir.valid() && ::fstat(dir.get(), &st) == 0) {
            srcId = identityOf(st);
            break;
        }
        const ErrorAnswer a = m_policy.onError(srcPath(&parent, srcName), QStringLiteral("open"), changedOr(errno));
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
        m_policy.stopRun(DestinationInsideSource,
                         QStringLiteral("%1: the destination lies inside the source").arg(srcPath(&parent, srcName)));
        return nullptr;
    }
    QByteArray name = dstName;
    bool created = false;
    bool merged = false;
    UniqueFd holder;
    const int pfd = dstFd(&parent, holder);
    if (pfd < 0) {
        const int e = errno; // before the path is built, which may touch errno
        m_policy.recordFileError(dstPath(&parent), QStringLiteral("open"), e);
        return nullptr;
    }
    int attempt = 0;
    struct stat dt {}; // the target folder as found, when merged into
    while (!m_engine.isCancelled()) {
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
                const Decision d = m_policy.decideFolder(srcPath(&parent, srcName), dstPath(&parent, name), top);
                if (d == Decision::Merge) {
                    merged = true;
                    break;
                }
                if (d != Decision::Rename)
                    return nullptr;
            } else if (!(top && (m_request.flags & FOF_RENAMEONCOLLISION))) {
                e = ENOTDIR; // a file stands where the folder should go
            }
        }
        if (e == EEXIST) { // the next "Copy of" name
            if (++attempt > kMaxRenameAttempts) {
                m_policy.recordFailure(FileExists, QStringLiteral("%1: no free name").arg(dstPath(&parent, dstName)));
                return nullptr;
            }
            continue;
        }
        const ErrorAnswer a = m_policy.onError(dstPath(&parent, name), QStringLiteral("create"), e);
        if (a != ErrorAnswer::Retry)
            return nullptr;
    }
    if (m_engine.isCancelled())
        return nullptr;
    // Its identity from here on: every later open of it must find this folder.
    const bool found = merged || ::fstatat(pfd, name.constData(), &dt, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found || !S_ISDIR(dt.st_mode)) {
        const int e = found ? kChangedDuringRun : errno; // before the path is built, which may touch errno
        m_policy.recordFileError(dstPath(&parent, name), QStringLiteral("open"), e);
        return nullptr;
    }
    {
        std::lock_guard lock(m_idsMutex);
        m_dstIds.insert(identityOf(dt));
        registerTargetFs(pfd, name, identityOf(dt));
    }

    // The descriptors are opened again when the folder is listed: a wide tree
    // would otherwise hold two for every folder still waiting its turn.
    auto node = std::make_unique<DirNode>();
    node->parent = &parent;
    node->srcName = srcName;
    node->dstName = name;
    node->srcId = srcId;
    node->dstId = identityOf(dt);
    node->created = created;
    node->merged = merged;
    // While descriptors are plenty, the source folder stays open for its listing.
    if (m_openDirFds < m_fdBudget / 2) {
        node->src = std::move(dir);
        m_openDirFds++;
    }
    DirNode* added = node.get();
    {
        std::lock_guard lock(m_dirsMutex);
        m_dirs.push_back(std::move(node));
    }
    m_dirsCv.notify_one();
    return added;
}

bool TreeCopy::openDir(DirNode& node)
{
    // The parent may be closed by now: it is reached through its ancestors,
    // which no other lister may close meanwhile.
    std::shared_lock reach(m_reachMutex);
    UniqueFd sh;
    UniqueFd dh;
    if (!node.src.valid()) {
        const int sfd = srcFd(node.parent, sh);
        if (sfd < 0) {
            const int e = errno; // before the path is built, which may touch errno
            m_policy.recordFileError(srcPath(&node), QStringLiteral("read"), e);
            return false;
        }
        if (const int e = openChecked(sfd, node, true, O_RDONLY, node.src)) {
            m_policy.recordFileError(srcPath(&node), QStringLiteral("read"), e);
            return false;
        }
        m_openDirFds++;
    }
    const int dfd = dstFd(node.parent, dh);
    const int e = dfd < 0 ? errno : openChecked(dfd, node, false, O_PATH, node.dst);
    if (e != 0) {
        m_policy.recordFileError(dstPath(&node), QStringLiteral("open"), e);
        node.src.reset();
        m_openDirFds--;
        return false;
    }
    m_openDirFds++;
    return true;
}

DirNode* TreeCopy::dirAt(size_t index)
{
    std::lock_guard lock(m_dirsMutex);
    return m_dirs[index].get();
}

// Every folder stays open for the later passes while descriptors are plenty.
// Past the budget, a lister closes the folders whose files are all done,
// oldest first, and waits for the workers when the oldest is still in use:
// they take files in queue order, so it is soon free. It waits only for
// folders found before its own, which other listers have taken already.
void TreeCopy::closeFinishedDirs(size_t listing)
{
    while (m_openDirFds > m_fdBudget && !m_engine.isCancelled()) {
        {
            std::unique_lock reach(m_reachMutex);
            if (m_closeFrom >= listing)
                return;
            DirNode& oldest = *dirAt(m_closeFrom);
            if (oldest.holds.load() == 0) {
                for (UniqueFd* fd : {&oldest.src, &oldest.dst}) {
                    if (fd->valid()) {
                        fd->reset();
                        m_openDirFds--;
                    }
                }
                ++m_closeFrom;
                continue;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void TreeCopy::listDir(DirNode& node)
{
    if (!openDir(node)) {
        markKeep(&node);
        node.holds = 0;
        return;
    }
    // A listing that fails part way is a failure; what it did read is still copied.
    DirEntries entries;
    if (const int e = listEntries(node.src.get(), entries)) {
        m_policy.recordFileError(srcPath(&node), QStringLiteral("read"), e);
        markKeep(&node);
    }

    // Sizes are left to the workers and to the pass after the walk: on a cold
    // cache each inode read waits for the disk, and the walk must stay ahead.
    std::vector<std::pair<QByteArray, mode_t>> files;
    for (const auto& [name, type] : entries) {
        if (m_engine.isCancelled())
            break;
        if (const QString problem = windowsNameProblem(name); !problem.isEmpty())
            m_policy.noteUnusableName(dstPath(&node, name), problem);
        mode_t mode = DTTOIF(type);
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(node.src.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int e = errno; // before the path is built, which may touch errno
                m_policy.recordFileError(srcPath(&node, name), QStringLiteral("read"), e);
                markKeep(&node);
                continue;
            }
            mode = st.st_mode & S_IFMT;
        }
        if (S_ISDIR(mode)) {
            if (!addDir(node, name, name, false))
                markKeep(&node);
        } else
            files.emplace_back(name, mode);
    }
    if (!files.empty()) {
        node.holds += static_cast<int>(files.size());
        bool wasEmpty = false;
        {
            std::lock_guard lock(m_queueMutex);
            wasEmpty = m_nextJob == m_jobs.size();
            for (const auto& [name, mode] : files)
                m_jobs.emplace_back(std::make_unique<FileJob>(&node, name, mode, S_ISREG(mode) ? -1 : 0));
        }
        m_progress.filesTotal += static_cast<qint64>(files.size());
        // Only an empty queue has workers waiting on it; one is woken, and it
        // wakes the next if it leaves work behind.
        if (wasEmpty)
            m_queueCv.notify_one();
        waitForRoomInQueue();
    }
    node.holds--;
}

// A copy needs nothing of a file once its worker is done with it: the settled
// jobs at the front of the queue are freed (the pinned ones kept aside).
void TreeCopy::releaseSettledJobs()
{
    if (m_request.operation == FO_MOVE)
        return; // the deletions at the end go through every job
    std::lock_guard lock(m_queueMutex);
    while (m_nextJob > 0 && !m_jobs.empty()) {
        std::unique_ptr<FileJob>& front = m_jobs.front();
        if (!front->settled.load(std::memory_order_acquire) || front.get() == m_currentJob.load())
            break;
        if (front->pinned)
            m_pinned.push_back(std::move(front));
        m_jobs.pop_front();
        --m_nextJob;
    }
}

// The walk stays at most kMaxPendingJobs files ahead of the workers, so the
// memory of a copy does not grow with the number of files.
void TreeCopy::waitForRoomInQueue()
{
    for (;;) {
        releaseSettledJobs();
        {
            std::lock_guard lock(m_queueMutex);
            if (m_jobs.size() - m_nextJob <= kMaxPendingJobs)
                return;
        }
        if (m_engine.isCancelled())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Once the walk is done the queue no longer grows: the files no worker has
// reached yet are sized here, so the totals are known long before the end.
void TreeCopy::sizeQueuedFiles()
{
    const size_t count = m_jobs.size(); // no writer any more: the workers only read it
    LastSourceDir dir;
    for (size_t i = 0; i < count && !m_engine.isCancelled(); ++i) {
        FileJob& job = *m_jobs[i];
        if (job.size.load() >= 0)
            continue;
        struct stat st {};
        // A failure here is met again, and asked about, when the file is copied.
        if (::fstatat(dir.fd(*this, job.dir), job.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            countSize(job, S_ISREG(st.st_mode) ? st.st_size : 0);
        if ((i & 255) == 0)
            m_progress.maybeReport();
    }
}

void TreeCopy::countSize(FileJob& job, qint64 size)
{
    qint64 unknown = -1;
    if (job.size.compare_exchange_strong(unknown, size))
        m_progress.bytesTotal += size;
}

// Each worker takes a few files at a time, a fair share of what waits: one
// lock per file would have eight workers queue on it in a second pass, where
// most files take two stats.
void TreeCopy::workLoop()
{
    std::vector<FileJob*> batch;
    batch.reserve(kMaxBatch);
    for (;;) {
        batch.clear();
        bool more = false;
        {
            std::unique_lock lock(m_queueMutex);
            m_queueCv.wait(lock, [this] { return m_nextJob < m_jobs.size() || m_walkDone; });
            if (!m_engine.isCancelled()) {
                const size_t waiting = m_jobs.size() - m_nextJob;
                const size_t take =
                    std::min<size_t>(waiting, std::clamp<size_t>(waiting / (2 * m_workerCount), 1, kMaxBatch));
                for (size_t i = 0; i < take; ++i)
                    batch.push_back(m_jobs[m_nextJob++].get());
                more = m_nextJob < m_jobs.size();
            }
        }
        if (more)
            m_queueCv.notify_one(); // work left for another worker
        if (batch.empty())
            break;
        for (FileJob* job : batch) {
            m_currentJob.store(job);
            if (!m_engine.isCancelled() && copyJob(*job))
                m_progress.filesDone++;
            job->dir->holds--; // the last use of the folder's descriptors by this worker
            job->settled.store(true, std::memory_order_release);
        }
    }
    {
        std::lock_guard lock(m_queueMutex);
        --m_workersRunning;
    }
    m_workersDoneCv.notify_all();
}

// Waits on the calling thread, which reports the progress meanwhile.
void TreeCopy::waitForWorkers(std::vector<std::thread>& workers)
{
    {
        std::unique_lock lock(m_queueMutex);
        while (m_workersRunning > 0) {
            m_workersDoneCv.wait_for(lock, std::chrono::milliseconds(RunProgress::kIntervalMs));
            if (m_workersRunning > 0) {
                lock.unlock();
                m_progress.maybeReport();
                lock.lock();
            }
        }
    }
    for (std::thread& t : workers)
        t.join();
}

// Returns false when the file was left for later: a further name of an inode
// whose first name is copied by then.
bool TreeCopy::copyJob(FileJob& job, const LinkSource* link)
{
    UniqueFd sholder;
    UniqueFd dholder;
    const int sfd = srcFd(job.dir, sholder);
    const int dfd = dstFd(job.dir, dholder);
    const auto source = [&] {
        return srcPath(job.dir, job.name);
    };

    Decision decision = job.decision; // a name left for later keeps the answer given for it
    struct stat target {};
    bool targetSeen = false;
    for (;;) {
        if (m_engine.isCancelled())
            return true;
        // Only a folder that existed before can hold a colliding name; new ones are
        // caught atomically when the copy is put in place.
        if (decision == Decision::New && job.dir->merged) {
            targetSeen = ::fstatat(dfd, job.dstName.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0;
            if (targetSeen) {
                decision = m_policy.decideFile(source, [&] { return dstPath(job.dir, job.dstName); });
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
        place.deletesSource = m_request.operation == FO_MOVE;
        place.target = targetSeen ? &target : nullptr;
        if (link) {
            place.linkFromDir = link->dir;
            place.linkFromName = link->name;
            place.linkInode = link->ino;
        } else {
            place.claimInode = [&](const struct stat& st) {
                return claimInode(job, st);
            };
        }
        CopyOutcome out = copyItem(place, m_engine, m_progress.bytesDone);
        if (out.deferred) {
            job.decision = decision;
            std::lock_guard lock(m_linksMutex);
            m_deferred.emplace_back(&job, identityOf(out.source));
            return false;
        }
        if (out.size >= 0)
            countSize(job, out.size);
        if (out.error == 0) {
            job.copied = stampOf(out.source);
            job.done = true;
            if (out.upToDate) {
                m_progress.upToDate++;
                m_progress.metadataOnly += out.metadataChanged ? 1 : 0;
            } else {
                m_progress.filesCopied++;
                m_progress.bytesCopied += out.bytesWritten;
            }
            if (!link && out.source.st_nlink > 1) {
                std::lock_guard lock(m_linksMutex);
                InodeCopy& copy = m_inodes[identityOf(out.source)];
                if (copy.first == &job)
                    copy.placed = out.placed;
            }
            return true;
        }
        if (out.error == EEXIST && decision == Decision::New) {
            decision = m_policy.decideFile(source, [&] { return dstPath(job.dir, job.dstName); });
            if (decision == Decision::Skip)
                return true;
            continue;
        }
        if (out.error == ECANCELED)
            return true;
        const ErrorAnswer a =
            m_policy.onError(out.onTarget ? dstPath(job.dir, job.dstName) : source(), out.action, out.error);
        if (a != ErrorAnswer::Retry)
            return true;
    }
}

bool TreeCopy::claimInode(FileJob& job, const struct stat& st)
{
    std::lock_guard lock(m_linksMutex);
    const auto [it, first] = m_inodes.try_emplace(identityOf(st));
    if (first)
        it->second.first = &job;
    job.pinned = true; // the first copy is linked to later, a later name is deferred
    return first || it->second.first == &job;
}

// After the workers: each further name of a copied inode becomes a hard link
// to its first copy, as cp -a and rsync -H keep them. Where the first copy
// failed, the name is copied on its own.
void TreeCopy::linkDeferred()
{
    for (const auto& [job, inode] : m_deferred) {
        if (m_engine.isCancelled())
            return;
        const InodeCopy& copy = m_inodes[inode];
        UniqueFd holder;
        LinkSource link;
        if (!copy.placed.isEmpty() && copy.first) {
            link.dir = dstFd(copy.first->dir, holder);
            link.name = copy.placed;
            link.ino = inode.ino;
        }
        if (link.dir >= 0) {
            copyJob(*job, &link);
        } else {
            {
                // Copied on its own, and the copy later names may link to.
                std::lock_guard lock(m_linksMutex);
                m_inodes[inode].first = job;
            }
            copyJob(*job);
        }
        m_progress.filesDone++;
        m_progress.maybeReport();
    }
}

// Folder metadata last, deepest first: entries written into a folder change its
// times, and a read-only source folder must not lock us out while we copy.
// Folders merged into get it too: they may be the 0700 folders of an earlier
// run that was killed, and a re-run must leave the tree an unbroken run leaves.
void TreeCopy::finishDirs()
{
    for (size_t i = m_dirs.size(); i-- > 1;) {
        const DirNode& node = *m_dirs[i];
        UniqueFd sh;
        UniqueFd dh;
        UniqueFd src;
        UniqueFd dst;
        const int sfd = srcFd(node.parent, sh);
        const int dfd = sfd < 0 ? -1 : dstFd(node.parent, dh);
        struct stat st {};
        struct stat dt {};
        // A second pass leaves the folders it finds as they should be alone,
        // seen from two stats; anything else is opened and checked first.
        if (!node.created && dfd >= 0 && ::fstatat(sfd, node.srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::fstatat(dfd, node.dstName.constData(), &dt, AT_SYMLINK_NOFOLLOW) == 0 && identityOf(st) == node.srcId &&
            identityOf(dt) == node.dstId && attributesUnchanged(st, dt))
            continue;
        int e = sfd < 0 || dfd < 0 ? errno : openChecked(sfd, node, true, O_RDONLY, src);
        if (e == 0)
            e = openChecked(dfd, node, false, O_RDONLY, dst);
        if (e == 0 && ::fstat(src.get(), &st) != 0)
            e = errno;
        if (e == 0)
            e = copyMetadata(src.get(), dst.get(), st);
        if (e != 0)
            m_policy.recordFileError(dstPath(&node), QStringLiteral("set attributes of"), e);
    }
}

// A move across file systems deletes a source only once every copy is on disk
// (one syncfs per file system that received data, not one fsync per file), and
// only a source that is still the file that was copied: one written to or
// replaced meanwhile stays, and so does a folder that gained entries.
int TreeCopy::deleteSources()
{
    for (const auto& [dev, fd] : m_targetFs) {
        if (!fd.valid())
            return m_policy.result(); // that file system cannot be flushed: reported, nothing deleted
        if (::syncfs(fd.get()) != 0) {
            const int e = errno;
            m_policy.recordFileError(QString::fromLocal8Bit(m_paths.target), QStringLiteral("flush"), e);
            return resultForErrno(e);
        }
    }
    // Unlinking one name of a file changes the change time of its other names.
    std::unordered_set<ino_t> unlinked;
    LastSourceDir dir;
    size_t i = 0;
    for (const std::unique_ptr<FileJob>& held : m_jobs) {
        FileJob& job = *held;
        if (m_engine.isCancelled())
            return m_policy.result();
        if ((++i & 255) == 0)
            m_progress.maybeReport();
        if (!job.done) {
            markKeep(job.dir);
            continue;
        }
        const int dfd = dir.fd(*this, job.dir);
        struct stat now {};
        int e = dfd < 0 ? errno : 0;
        if (e == 0 && ::fstatat(dfd, job.name.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0)
            e = errno;
        const Stamp& was = job.copied;
        if (e == 0 && (now.st_ino != was.ino || now.st_size != was.size || !sameTime(now.st_mtim, was.mtime) ||
                       (!sameTime(now.st_ctim, was.ctime) && !unlinked.contains(now.st_ino))))
            e = kChangedDuringRun;
        if (e == 0 && ::unlinkat(dfd, job.name.constData(), 0) != 0)
            e = errno;
        if (e != 0) {
            m_policy.recordFileError(srcPath(job.dir, job.name), QStringLiteral("delete"), e);
            markKeep(job.dir);
        } else if (was.links > 1) {
            unlinked.insert(was.ino);
        }
    }
    for (size_t d = m_dirs.size(); d-- > 1;) {
        if (m_engine.isCancelled())
            return m_policy.result();
        DirNode& node = *m_dirs[d];
        if (node.keep.load())
            continue; // what stays in it is reported already
        UniqueFd holder;
        const int pfd = srcFd(node.parent, holder);
        if (pfd < 0 || ::unlinkat(pfd, node.srcName.constData(), AT_REMOVEDIR) != 0) {
            // Read before the path is built, which may touch errno.
            const int e = errno == ENOTEMPTY || errno == EEXIST ? kChangedDuringRun : errno;
            m_policy.recordFileError(srcPath(&node), QStringLiteral("delete"), e);
            markKeep(node.parent);
        }
    }
    return Success;
}

// One readable descriptor of each file system a move writes to, for its syncfs
// (which refuses O_PATH descriptors); folder name in parentFd, if still id.
// Under m_idsMutex once the listers run.
void TreeCopy::registerTargetFs(int parentFd, const QByteArray& name, const Identity& id)
{
    if (m_request.operation != FO_MOVE || m_targetFs.contains(id.dev))
        return;
    UniqueFd fd(::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    const bool same = fd.valid() && ::fstat(fd.get(), &st) == 0 && identityOf(st) == id;
    if (!same) {
        // Without a way to flush this file system no source may be deleted: an
        // empty entry tells the deletions so.
        const int e = fd.valid() ? kChangedDuringRun : errno;
        m_policy.recordFileError(QString::fromLocal8Bit(m_paths.target), QStringLiteral("flush"), e);
        fd.reset();
    }
    m_targetFs.emplace(id.dev, std::move(fd));
}

void TreeCopy::markKeep(DirNode* dir)
{
    for (; dir && !dir->keep.exchange(true); dir = dir->parent) {
    }
}

QByteArray TreeCopy::relPath(const DirNode* dir, bool source) const
{
    QByteArray out;
    for (; dir && dir->parent; dir = dir->parent) {
        const QByteArray& n = source ? dir->srcName : dir->dstName;
        out = out.isEmpty() ? n : n + "/" + out;
    }
    return out;
}

QString TreeCopy::pathOf(const DirNode* dir, const QByteArray& name, bool source) const
{
    QByteArray p = parentOf(source ? m_paths.source : m_paths.target);
    for (const QByteArray& part : {relPath(dir, source), name})
        if (!part.isEmpty())
            p += (p.endsWith('/') ? "" : "/") + part;
    return QString::fromLocal8Bit(p);
}

int TreeCopy::srcFd(const DirNode* dir, UniqueFd& holder) const
{
    return dir->src.valid() ? dir->src.get() : reachDir(dir, true, holder);
}

int TreeCopy::dstFd(const DirNode* dir, UniqueFd& holder) const
{
    return dir->dst.valid() ? dir->dst.get() : reachDir(dir, false, holder);
}

// A folder closed to save descriptors is reached again from its nearest open
// ancestor, one name at a time, never through a link, and each step only if
// it is still the folder first listed: a user who swaps a folder of their
// tree for a link cannot send the run anywhere else. During the walk only
// under m_reachMutex: it reads the descriptors the listers close.
// Returns -1 with errno set when the way is gone or changed.
int TreeCopy::reachDir(const DirNode* dir, bool source, UniqueFd& holder) const
{
    std::vector<const DirNode*> chain;
    const DirNode* open = dir;
    while (open && !(source ? open->src : open->dst).valid()) {
        chain.push_back(open);
        open = open->parent;
    }
    if (!open) {
        errno = EBADF;
        return -1;
    }
    int fd = (source ? open->src : open->dst).get();
    for (const DirNode* node : std::views::reverse(chain)) {
        UniqueFd next;
        if (const int e = openChecked(fd, *node, source, O_PATH, next)) {
            holder.reset();
            errno = e;
            return -1;
        }
        holder = std::move(next);
        fd = holder.get();
    }
    return fd;
}

// Opens node's folder (source or target side) below parentFd and checks that
// it is the one listed. 0, or the errno (kChangedDuringRun when it is not).
int TreeCopy::openChecked(int parentFd, const DirNode& node, bool source, int flags, UniqueFd& out)
{
    const QByteArray& name = source ? node.srcName : node.dstName;
    flags |= O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    out.reset(source && !(flags & O_PATH) ? openSource(parentFd, name.constData(), flags)
                                          : ::openat(parentFd, name.constData(), flags));
    if (!out.valid())
        return changedOr(errno);
    struct stat st {};
    if (::fstat(out.get(), &st) != 0) {
        const int e = errno;
        out.reset();
        return e;
    }
    if (identityOf(st) != (source ? node.srcId : node.dstId)) {
        out.reset();
        return kChangedDuringRun;
    }
    return 0;
}

} // namespace fileop
