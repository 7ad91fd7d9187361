// The orchestrator of a tree copy: its phases in order.
#include "TreeCopy.h"

#include "Metadata.h"
#include "ParallelWalk.h"
#include "PathResolution.h"
#include "RunPolicy.h"
#include "RunProgress.h"
#include "TreeLister.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

namespace fileop {

namespace {

constexpr int kDefaultWorkers = 8;
// Files listed but not yet taken by a worker: the walk waits beyond this, so a
// copy of millions of files holds a bounded queue, not a record of each file.
constexpr size_t kMaxPendingJobs = 1 << 16;
constexpr size_t kMaxListers = 8;

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

TreeCopy::TreeCopy(const std::atomic<bool>& cancel, const Request& request, const ResolvedPaths& paths,
                   RunPolicy& policy, RunProgress& progress)
    : m_run{request, cancel, policy, progress}
    , m_paths(paths)
    , m_folders(paths.source, paths.target)
    , m_queue(request.queueLimit > 0 ? static_cast<size_t>(request.queueLimit) : kMaxPendingJobs,
              request.operation == FO_MOVE, progress)
    , m_workers(m_run, m_folders, m_queue)
{
    if (m_run.isMove())
        m_deletions.emplace(m_run, m_folders, QString::fromLocal8Bit(paths.target));
    m_run.progress.setCurrentFile([this] {
        return m_queue.current([this](const FileJob& job) { return m_folders.srcPath(job.dir, job.name); });
    });
}

TreeCopy::~TreeCopy()
{
    m_run.progress.setCurrentFile(nullptr);
}

// Files are copied while the walk goes on: the workers start on the first
// folder's files while the later folders are still being listed.
Outcome TreeCopy::run()
{
    raiseFileLimit();
    const int count = m_run.request.workers > 0 ? m_run.request.workers : kDefaultWorkers;
    m_folders.setBudget(fileBudget(count));
    m_run.progress.counting = true;
    m_queue.startWorkers(static_cast<size_t>(count));
    std::vector<std::thread> workers;
    workers.reserve(count);
    for (int i = 0; i < count; ++i)
        workers.emplace_back([this] { m_workers.work(); });

    m_phase = Phase::Walk;
    const bool walked = walk(std::min(static_cast<size_t>(count), kMaxListers));
    m_queue.walkDone();
    m_phase = Phase::Size;
    if (walked)
        sizeQueuedFiles();
    m_run.progress.counting = false;
    m_phase = Phase::Drain;
    m_queue.waitForWorkers([this] { m_run.progress.maybeReport(); });
    for (std::thread& t : workers)
        t.join();
    m_phase = Phase::Link;
    m_workers.linkLaterNames();
    // Folders made so far get their metadata even when the walk stopped early.
    m_phase = Phase::FolderMetadata;
    finishFolders();
    if (walked && m_deletions && !m_run.cancelled()) {
        m_phase = Phase::Delete;
        if (const Outcome rc = m_deletions->run(m_queue.held()); rc != Outcome::Success)
            return rc;
    }
    m_phase = Phase::Done;
    return m_run.policy.result();
}

// Sets up the parents of S and T as folder [0], then lists the tree breadth
// first (or queues S alone when it is a file).
bool TreeCopy::walk(size_t listers)
{
    RunPolicy& policy = m_run.policy;
    auto root = std::make_unique<DirNode>();
    root->src.reset(::dup(m_paths.srcParent.get()));
    const int srcError = root->src.valid() ? 0 : errno;
    root->dst.reset(::dup(m_paths.dstParent.get()));
    const int dstError = root->dst.valid() ? 0 : errno;
    root->merged = true;
    if (srcError != 0 || dstError != 0) {
        policy.recordFileError(QString::fromLocal8Bit(srcError ? m_paths.source : m_paths.target), Action::Open,
                               srcError ? srcError : dstError);
        return false;
    }
    DirNode* top = m_folders.add(std::move(root));
    struct stat parent {};
    const bool parentSeen = ::fstat(top->dst.get(), &parent) == 0;
    if (parentSeen) {
        top->clockDev = parent.st_dev;
        top->clock = m_clocks.of(top->dst.get(), parent.st_dev);
    }

    struct stat st {};
    if (::fstatat(top->src.get(), baseName(m_paths.source).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        policy.recordFailure(Outcome::SourceMissing, QString::fromLocal8Bit(m_paths.source));
        return false;
    }
    if (identityOf(st) != identityOf(m_paths.srcStat) || (st.st_mode & S_IFMT) != (m_paths.srcStat.st_mode & S_IFMT)) {
        policy.recordFileError(QString::fromLocal8Bit(m_paths.source), Action::Read, Cause::changed());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (parentSeen && m_deletions)
            m_deletions->addTarget(top->dst.get(), ".", identityOf(parent));
        auto job = std::make_unique<FileJob>(top, baseName(m_paths.source), st.st_mode & S_IFMT, st.st_size);
        job->dstName = baseName(m_paths.target);
        m_run.progress.filesTotal = 1;
        m_run.progress.bytesTotal = S_ISREG(st.st_mode) ? st.st_size : 0;
        m_queue.pushSingle(std::move(job));
        return true;
    }
    ParallelWalk walk(m_folders, m_run.cancel);
    TreeLister lister(m_run, m_folders, m_queue, walk, m_clocks, m_deletions ? &*m_deletions : nullptr);
    if (!lister.addFolder(*top, baseName(m_paths.source), baseName(m_paths.target), true))
        return false;
    // On a cold cache each folder waits for the disk: several listed at once
    // keep it busy, where one walker would leave it idle between reads.
    walk.run(listers, lister, [this] { m_run.progress.maybeReport(); });
    if (!m_run.cancelled())
        lister.checkNoSourceIsTarget();
    return !m_run.cancelled();
}

// Once the walk is done the queue no longer grows: the files no worker has
// reached yet are sized here, so the totals are known long before the end.
void TreeCopy::sizeQueuedFiles()
{
    const auto& files = m_queue.held(); // no writer any more: the workers only read it
    const size_t count = files.size();
    LastSourceDir dir;
    for (size_t i = 0; i < count && !m_run.cancelled(); ++i) {
        FileJob& job = *files[i];
        if (job.size.load() >= 0)
            continue;
        struct stat st {};
        // A failure here is met again, and asked about, when the file is copied.
        if (::fstatat(dir.fd(m_folders, job.dir).fd, job.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            m_workers.countSize(job, S_ISREG(st.st_mode) ? st.st_size : 0);
        if ((i & 255) == 0)
            m_run.progress.maybeReport();
    }
}

// Folder metadata last, deepest first: entries written into a folder change its
// times, and a read-only source folder must not lock us out while we copy.
// Folders merged into get it too: they may be the 0700 folders of an earlier
// run that was killed, and a re-run must leave the tree an unbroken run leaves.
void TreeCopy::finishFolders()
{
    for (size_t i = m_folders.size(); i-- > 1;) {
        const DirNode& node = *m_folders.at(i);
        UniqueFd sh;
        UniqueFd dh;
        UniqueFd src;
        UniqueFd dst;
        const Reached sp = m_folders.src(node.parent, sh);
        const Reached dp = sp.ok() ? m_folders.dst(node.parent, dh) : Reached{};
        struct stat st {};
        struct stat dt {};
        // A second pass leaves the folders it finds as they should be alone,
        // seen from two stats; anything else is opened and checked first.
        if (!node.created && dp.ok() && ::fstatat(sp.fd, node.srcName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::fstatat(dp.fd, node.dstName.constData(), &dt, AT_SYMLINK_NOFOLLOW) == 0 && identityOf(st) == node.srcId &&
            identityOf(dt) == node.dstId &&
            attributesUnchanged(st, dt, dt.st_dev == node.clockDev ? node.clock : TargetClock{}))
            continue;
        // Whichever side failed is the one named.
        Cause e;
        bool onSource = true;
        if (!sp.ok())
            e = sp.error;
        else if (!(e = FolderTable::openChecked(sp.fd, node, true, O_RDONLY, src)).failed() &&
                 ::fstat(src.get(), &st) != 0)
            e = Cause::system(errno);
        if (!e.failed()) {
            onSource = false;
            if (!dp.ok())
                e = dp.error;
            else if (!(e = FolderTable::openChecked(dp.fd, node, false, O_RDONLY, dst)).failed())
                e = Cause::system(copyMetadata(src.get(), dst.get(), st));
        }
        if (e.failed())
            m_run.policy.recordFileError(onSource ? m_folders.srcPath(&node) : m_folders.dstPath(&node),
                                         onSource ? Action::Read : Action::SetAttributes, e);
    }
}

} // namespace fileop
