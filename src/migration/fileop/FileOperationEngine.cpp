#include "FileOperationEngine.h"

#include "FileCopy.h"
#include "UniqueFd.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <ranges>
#include <set>
#include <thread>
#include <unordered_set>
#include <vector>

namespace fileop {

namespace {

constexpr int kDefaultWorkers = 8;
constexpr int kMaxRenameAttempts = 10000;
constexpr qint64 kProgressIntervalMs = 100;
// Files listed but not yet taken by a worker: the walk waits beyond this, so a
// copy of millions of files holds a bounded queue, not a record of each file.
constexpr size_t kMaxPendingJobs = 1 << 16;

enum class Decision { New, Replace, Rename, Merge, Skip };

// Which folder or file a descriptor or name stands for: a name can be swapped
// under us, the device and inode cannot.
struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const Identity&) const = default;
    auto operator<=>(const Identity&) const = default;
};

Identity identityOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino};
}

// What a move checks before it deletes a source file: the file as it was copied.
struct Stamp {
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    nlink_t links = 0;
};

Stamp stampOf(const struct stat& st)
{
    return {st.st_ino, st.st_size, st.st_mtim, st.st_ctim, st.st_nlink};
}

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

struct DirNode {
    DirNode* parent = nullptr;
    QByteArray srcName;
    QByteArray dstName;
    Identity srcId; // the folders as first opened; every later open must match
    Identity dstId;
    UniqueFd src;         // O_RDONLY from its listing on, while descriptors last
    UniqueFd dst;         // O_PATH, the same
    bool created = false; // made by us
    bool merged = false;  // existed before: its entries may collide
    // Something below stays in the source (skipped, failed, kept, changed): a
    // move leaves this folder in place without reporting it a second time.
    std::atomic<bool> keep{false};
    // The walker's hold while it lists the folder, plus one per queued file not
    // yet done: only at zero may the walker close the descriptors.
    std::atomic<int> holds{1};
};

struct FileJob {
    FileJob(DirNode* d, const QByteArray& n, mode_t t, qint64 s)
        : dir(d)
        , name(n)
        , dstName(n)
        , type(t)
        , size(s)
    {}
    DirNode* dir;
    QByteArray name;
    QByteArray dstName;
    mode_t type;
    std::atomic<qint64> size;         // -1 until whoever stats the file first counts it in the total
    bool done = false;                // written by the one worker that ran it, read after the workers joined
    Stamp copied;                     // the source as the worker read it; the same rule
    bool pinned = false;              // referred to after its worker is done with it (hard links): never released
    std::atomic<bool> settled{false}; // its worker is done with it
};

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray baseName(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray realPath(const QByteArray& path, int* error)
{
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved) {
        *error = errno;
        return {};
    }
    QByteArray out(resolved);
    ::free(resolved);
    return out;
}

// The canonical form of a path that may not exist yet: its nearest existing
// ancestor resolved, the missing rest appended.
QByteArray canonicalFuture(const QByteArray& path, int* error)
{
    QByteArray existing = path;
    QByteArray rest;
    while (existing != "/" && ::access(existing.constData(), F_OK) != 0) {
        rest = baseName(existing) + (rest.isEmpty() ? QByteArray() : "/" + rest);
        existing = parentOf(existing);
    }
    QByteArray base = realPath(existing, error);
    if (base.isEmpty())
        return {};
    if (rest.isEmpty())
        return base;
    return (base == "/" ? base : base + "/") + rest;
}

int openSourceDir(int parentFd, const QByteArray& name)
{
    return openSource(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

QByteArray joinPath(const QByteArray& dir, const QByteArray& name)
{
    return (dir.endsWith('/') ? dir : dir + "/") + name;
}

// The deepest folder of path that exists; the names below it that do not go to missing.
QByteArray nearestExisting(const QByteArray& path, QList<QByteArray>* missing)
{
    QByteArray existing = path;
    while (existing != "/" && ::access(existing.constData(), F_OK) != 0) {
        if (missing)
            missing->prepend(baseName(existing));
        existing = parentOf(existing);
    }
    return existing;
}

// Whether the folder at fd is the one with identity outer or lies below it,
// found by walking up "..": a bounded walk that stops at the root.
bool walksUpTo(int fd, const Identity& outer)
{
    UniqueFd cur(::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int depth = 0; cur.valid() && depth < 4096; ++depth) {
        struct stat st {};
        if (::fstat(cur.get(), &st) != 0)
            return false;
        if (identityOf(st) == outer)
            return true;
        UniqueFd up(::openat(cur.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat ust {};
        if (!up.valid() || ::fstat(up.get(), &ust) != 0 || identityOf(ust) == identityOf(st))
            return false;
        cur = std::move(up);
    }
    return false;
}

// Is the folder at innerFd the folder at outerFd or inside it? Walking ".." follows
// the mount tree, where a bind mount hides its real parents; so on the same file
// system the inner folder is also reopened by handle through the outer folder's
// mount, where ".." climbs the file system itself (needs root, as only root can
// make such a mount).
bool isWithin(int innerFd, int outerFd)
{
    struct stat outer {};
    struct stat inner {};
    if (::fstat(outerFd, &outer) != 0 || ::fstat(innerFd, &inner) != 0)
        return false;
    if (walksUpTo(innerFd, identityOf(outer)))
        return true;
    if (inner.st_dev != outer.st_dev)
        return false;
    alignas(file_handle) unsigned char buffer[sizeof(file_handle) + MAX_HANDLE_SZ] = {};
    auto* handle = reinterpret_cast<file_handle*>(buffer);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (::name_to_handle_at(innerFd, "", handle, &mountId, AT_EMPTY_PATH) != 0)
        return false;
    // The mount is named by a descriptor of any object on it, but not an O_PATH one.
    UniqueFd mount(::openat(outerFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueFd alias(mount.valid() ? ::open_by_handle_at(mount.get(), handle, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    return alias.valid() && walksUpTo(alias.get(), identityOf(outer));
}

int changedOr(int error)
{
    // Opened without following links, a folder that became a link or a file fails so.
    return error == ELOOP || error == ENOTDIR ? kChangedDuringRun : error;
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

// One run of the engine: the request, the scanned tree, the workers and the
// answers given so far. Lives only for the duration of FileOperationEngine::run.
class TreeOperation {
public:
    TreeOperation(FileOperationEngine& engine, const Request& request, FileOpQuestions* questions)
        : m_engine(engine)
        , m_request(request)
        , m_questions(questions)
        , m_replaceAll(request.flags & FOF_NOCONFIRMATION)
        , m_mergeAll(request.flags & FOF_NOCONFIRMATION)
    {
        m_clock.start();
    }

    int run();

private:
    int resolve();
    int checkContainment();
    int createMissingParents();
    void moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                   const QString& dpath, bool top);
    bool renameToFreeName(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, bool isFolder);
    int copyTree();
    bool walk();
    DirNode* addDir(DirNode& parent, const QByteArray& srcName, const QByteArray& dstName, bool top);
    void listDir(DirNode& node);
    bool openDir(DirNode& node);
    void closeFinishedDirs(size_t listing);
    void releaseSettledJobs();
    void waitForRoomInQueue();
    void sizeQueuedFiles();
    void workLoop();
    void waitForWorkers(std::vector<std::thread>& workers);
    struct LinkSource {
        int dir = -1;
        QByteArray name;
        ino_t ino = 0;
    };
    bool copyJob(FileJob& job, const LinkSource* link = nullptr);
    bool claimInode(FileJob& job, const struct stat& st);
    void linkDeferred();
    void countSize(FileJob& job, qint64 size);
    void finishDirs();
    int deleteSources();
    void registerTargetFs(int dstFd);
    static void markKeep(DirNode* dir);

    Decision decideFile(const QString& source, const QString& target);
    Decision decideFolder(const QString& source, const QString& target, bool top);
    Decision askOperator(const Conflict& conflict, bool& yesToAll, Decision yes);
    ErrorAnswer onError(const QString& path, const QString& action, int error);
    void recordFailure(int code, const QString& line);
    void recordFileError(const QString& path, const QString& action, int error);
    void noteOperatorSkip(const QString& path);
    void stopRun(int code, const QString& line);
    int result() const;

    QString srcPath(const DirNode* dir, const QByteArray& name = {}) const;
    QString dstPath(const DirNode* dir, const QByteArray& name = {}) const;
    QByteArray relPath(const DirNode* dir, bool source) const;
    int srcFd(const DirNode* dir, UniqueFd& holder) const;
    int dstFd(const DirNode* dir, UniqueFd& holder) const;
    int reachDir(const DirNode* dir, bool source, UniqueFd& holder) const;
    static int openChecked(int parentFd, const DirNode& node, bool source, int flags, UniqueFd& out);

    void emitProgress(bool finished);
    void maybeEmit();

    FileOperationEngine& m_engine;
    const Request m_request;
    FileOpQuestions* m_questions;

    // Resolved paths: the source S and the target T (what S becomes), the
    // folders that hold them, and S as it was when the run began.
    QByteArray m_source;
    QByteArray m_target;
    bool m_destinationMissing = false;
    UniqueFd m_srcParent; // O_PATH
    UniqueFd m_dstParent; // O_PATH; once a missing destination's parents are made
    struct stat m_srcStat {};

    // [0] stands for the parents of S and T; the rest in the order listed. Only
    // the walker touches the vector while the workers run; they hold pointers.
    std::vector<std::unique_ptr<DirNode>> m_dirs;
    int m_openDirFds = 0;
    int m_fdBudget = 0;
    size_t m_closeFrom = 1; // the folders before it have been closed
    // Walker only: the target folders of the run, so a source folder that is one
    // of them (the target inside the source after all) stops the run; and one
    // readable descriptor per target file system, each flushed before a move deletes.
    std::set<Identity> m_dstIds;
    std::map<dev_t, UniqueFd> m_targetFs;

    // The files of the run in queue order. The walker appends while the workers
    // take from the front; a copy releases the settled ones from the front (a
    // move keeps them all, to delete the sources at the end). Pinned jobs move
    // to m_pinned when released, so pointers to them stay good.
    std::deque<std::unique_ptr<FileJob>> m_jobs;
    std::vector<std::unique_ptr<FileJob>> m_pinned;
    size_t m_nextJob = 0;     // index into m_jobs; guarded by m_queueMutex
    bool m_walkDone = false;  // guarded by m_queueMutex
    int m_workersRunning = 0; // guarded by m_queueMutex
    std::mutex m_queueMutex;
    std::condition_variable m_queueCv;
    std::condition_variable m_workersDoneCv;
    std::atomic<bool> m_rangeCopy{true};

    // Inodes with more than one name in the tree: the first name met is copied,
    // the later ones wait until the workers are done and become hard links to it.
    struct InodeCopy {
        const FileJob* first = nullptr;
        QByteArray placed; // the first copy's name in its target folder, once done
    };
    std::mutex m_linksMutex;
    std::map<Identity, InodeCopy> m_inodes;
    std::vector<std::pair<FileJob*, Identity>> m_deferred;
    std::atomic<qint64> m_upToDate{0};

    std::atomic<const FileJob*> m_currentJob{nullptr};
    std::atomic<qint64> m_filesTotal{0};
    std::atomic<qint64> m_bytesTotal{0};
    std::atomic<bool> m_counting{false};
    std::atomic<qint64> m_filesDone{0};
    std::atomic<qint64> m_bytesDone{0};
    std::atomic<int> m_asking{0};
    std::atomic<int> m_firstError{0};
    std::atomic<int> m_fatal{0}; // a result that ends the run at once
    std::atomic<bool> m_operatorSkipped{false};
    std::atomic<int> m_itemsLeft{0}; // failures and kept items so far

    std::mutex m_askMutex; // one question at a time; guards the "to all" answers
    bool m_replaceAll;
    bool m_mergeAll;

    QElapsedTimer m_clock;
    qint64 m_lastEmit = -kProgressIntervalMs;
    QString m_currentPath;
};

FileOperationEngine::FileOperationEngine(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<fileop::Progress>();
}

int FileOperationEngine::run(const Request& request, FileOpQuestions* questions)
{
    m_cancel.store(false);
    {
        std::lock_guard lock(m_failuresMutex);
        m_failures.clear();
    }
    TreeOperation op(*this, request, questions);
    return op.run();
}

Progress FileOperationEngine::lastProgress() const
{
    std::lock_guard lock(m_failuresMutex);
    return m_last;
}

QStringList FileOperationEngine::failures() const
{
    std::lock_guard lock(m_failuresMutex);
    return m_failures;
}

void FileOperationEngine::addFailure(const QString& line)
{
    std::lock_guard lock(m_failuresMutex);
    m_failures << line;
}

int TreeOperation::run()
{
    raiseFileLimit();
    int code = resolve();
    if (code == Success) {
        struct stat d {};
        const bool sameFs =
            m_request.operation == FO_MOVE && ::fstat(m_dstParent.get(), &d) == 0 && m_srcStat.st_dev == d.st_dev;
        if (sameFs) {
            if (::renameat2(m_srcParent.get(), baseName(m_source).constData(), m_dstParent.get(),
                            baseName(m_target).constData(), RENAME_NOREPLACE) == 0) {
                // The whole tree in one step: same inodes, same metadata.
                m_filesDone = 1;
                code = Success;
            } else if (errno == EXDEV) {
                code = copyTree();
            } else {
                moveEntry(m_srcParent.get(), baseName(m_source), m_dstParent.get(), baseName(m_target),
                          QString::fromLocal8Bit(m_source), QString::fromLocal8Bit(m_target), true);
                code = result();
            }
        } else {
            code = copyTree();
        }
    }
    emitProgress(true);
    return code;
}

int TreeOperation::resolve()
{
    if (m_request.source.isEmpty())
        return SourceMissing;
    if (m_request.destination.isEmpty())
        return PathNotFound;
    const QByteArray source = QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(m_request.source)));
    const QByteArray destination =
        QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(m_request.destination)));
    if (m_request.operation != FO_MOVE && m_request.operation != FO_COPY)
        return GeneralFailure;
    if (source == "/")
        return DestinationInsideSource;

    // The folders above the source are resolved, the source itself is not: a
    // link given as the source is the item to move or copy, as mv and cp -a take it.
    int error = 0;
    const QByteArray sourceParent = realPath(parentOf(source), &error);
    if (sourceParent.isEmpty())
        return error == ENOENT ? SourceMissing : resultForErrno(error);
    m_source = joinPath(sourceParent, baseName(source));
    m_srcParent.reset(::open(sourceParent.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!m_srcParent.valid())
        return resultForErrno(errno);
    if (::fstatat(m_srcParent.get(), baseName(m_source).constData(), &m_srcStat, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? SourceMissing : resultForErrno(errno);

    struct stat dst {};
    if (::stat(destination.constData(), &dst) == 0) {
        if (!S_ISDIR(dst.st_mode))
            return DestinationIsFile;
        const QByteArray real = realPath(destination, &error);
        if (real.isEmpty())
            return resultForErrno(error);
        m_target = joinPath(real, baseName(m_source));
        m_dstParent.reset(::open(real.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!m_dstParent.valid())
            return resultForErrno(errno);
    } else if (errno == ENOENT) {
        m_destinationMissing = true;
        m_target = canonicalFuture(destination, &error);
        if (m_target.isEmpty())
            return resultForErrno(error);
    } else {
        return resultForErrno(errno);
    }

    if (const int rc = checkContainment(); rc != Success)
        return rc;

    if (m_destinationMissing) {
        const QString shown = QDir::cleanPath(m_request.destination);
        if (!(m_request.flags & (FOF_NOCONFIRMMKDIR | FOF_NOCONFIRMATION))) {
            if (!m_questions) {
                recordFailure(PathNotFound, QStringLiteral("%1: not created, nobody to ask").arg(shown));
                return PathNotFound;
            }
            m_asking++;
            const bool yes = m_questions->askCreateFolder(shown);
            m_asking--;
            if (!yes)
                return Cancelled;
        }
        const int rc = createMissingParents();
        if (rc != Success)
            return rc;
    }
    return Success;
}

// Rules before work, by identity rather than by the text of the paths, so that
// links and bind mounts cannot hide a loop: nothing is touched for a request
// that would copy a tree into itself or replace the source with its own copy.
int TreeOperation::checkContainment()
{
    const bool renameTop = m_request.operation == FO_COPY && (m_request.flags & FOF_RENAMEONCOLLISION);
    UniqueFd holder; // the folder the target goes in, or its deepest existing ancestor
    if (m_destinationMissing)
        holder.reset(
            ::open(nearestExisting(parentOf(m_target), nullptr).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    else
        holder.reset(::dup(m_dstParent.get()));
    if (!holder.valid())
        return resultForErrno(errno);

    if (S_ISDIR(m_srcStat.st_mode)) {
        UniqueFd src(
            ::openat(m_srcParent.get(), baseName(m_source).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!src.valid())
            return resultForErrno(errno);
        if (isWithin(holder.get(), src.get()))
            return DestinationInsideSource;
    }
    if (m_destinationMissing)
        return Success;
    struct stat target {};
    if (::fstatat(m_dstParent.get(), baseName(m_target).constData(), &target, AT_SYMLINK_NOFOLLOW) != 0)
        return Success; // nothing there yet: nothing to collide with
    if (identityOf(target) == identityOf(m_srcStat) || m_target == m_source)
        return renameTop ? Success : SameFile;
    if (S_ISDIR(target.st_mode) && !(m_request.flags & FOF_RENAMEONCOLLISION)) {
        UniqueFd tgt(
            ::openat(m_dstParent.get(), baseName(m_target).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (tgt.valid() && isWithin(m_srcParent.get(), tgt.get()))
            return SourceInsideDestination;
    }
    return Success;
}

// The missing folders above the target, made one at a time below the deepest
// existing one and never through a link that appears meanwhile.
int TreeOperation::createMissingParents()
{
    QList<QByteArray> missing;
    QByteArray path = nearestExisting(parentOf(m_target), &missing);
    UniqueFd fd(::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        recordFileError(QString::fromLocal8Bit(path), QStringLiteral("open"), errno);
        return resultForErrno(errno);
    }
    for (const QByteArray& name : missing) {
        path = joinPath(path, name);
        if (::mkdirat(fd.get(), name.constData(), 0777) != 0 && errno != EEXIST) {
            const int e = errno;
            recordFileError(QString::fromLocal8Bit(path), QStringLiteral("create"), e);
            return resultForErrno(e);
        }
        UniqueFd next(::openat(fd.get(), name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            const int e = changedOr(errno);
            recordFileError(QString::fromLocal8Bit(path), QStringLiteral("create"), e);
            return resultForErrno(e);
        }
        fd = std::move(next);
    }
    m_dstParent = std::move(fd);
    return Success;
}

// Same file system: each entry is renamed; a folder that exists on both sides
// is merged entry by entry, and the emptied source folder removed.
void TreeOperation::moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                              const QString& dpath, bool top)
{
    while (!m_engine.isCancelled()) {
        m_currentPath = spath;
        if (::renameat2(sfd, sname.constData(), dfd, dname.constData(), RENAME_NOREPLACE) == 0) {
            m_filesDone++;
            maybeEmit();
            return;
        }
        int e = errno;
        if (e == EINVAL) {
            // File systems without RENAME_NOREPLACE: look first, then rename.
            struct stat t {};
            if (::fstatat(dfd, dname.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0)
                e = EEXIST;
            else if (::renameat(sfd, sname.constData(), dfd, dname.constData()) == 0) {
                m_filesDone++;
                return;
            } else
                e = errno;
        }
        if (e != EEXIST && e != ENOTEMPTY) {
            const ErrorAnswer a = onError(spath, QStringLiteral("move"), e);
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
            d = decideFolder(spath, dpath, top);
        else if (!sdir && !tdir)
            d = decideFile(spath, dpath);
        else if (top && (m_request.flags & FOF_RENAMEONCOLLISION))
            d = Decision::Rename;
        else {
            const ErrorAnswer a = onError(dpath, QStringLiteral("replace"), sdir ? ENOTDIR : EISDIR);
            if (a == ErrorAnswer::Retry)
                continue;
            return;
        }
        switch (d) {
        case Decision::Rename:
            if (renameToFreeName(sfd, sname, dfd, dname, sdir))
                m_filesDone++;
            return;
        case Decision::Replace:
            if (::renameat(sfd, sname.constData(), dfd, dname.constData()) == 0) {
                m_filesDone++;
                return;
            }
            if (onError(dpath, QStringLiteral("replace"), errno) == ErrorAnswer::Retry)
                continue;
            return;
        case Decision::Merge: {
            UniqueFd sub(::openat(sfd, sname.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            UniqueFd dsub(::openat(dfd, dname.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub.valid() || !dsub.valid()) {
                if (onError(spath, QStringLiteral("open"), errno) == ErrorAnswer::Retry)
                    continue;
                return;
            }
            // Read the names first: the folder changes while its entries leave.
            DirEntries entries;
            if (const int listError = listEntries(sub.get(), entries)) {
                if (onError(spath, QStringLiteral("read"), listError) == ErrorAnswer::Retry)
                    continue;
                return;
            }
            const int leftBefore = m_itemsLeft.load();
            for (const QByteArray& n : std::views::keys(entries))
                moveEntry(sub.get(), n, dsub.get(), n, spath + u'/' + QString::fromLocal8Bit(n),
                          dpath + u'/' + QString::fromLocal8Bit(n), false);
            // It stays when something in it was kept, which is already reported; it
            // also stays, and is reported, when entries appeared during the run.
            if (::unlinkat(sfd, sname.constData(), AT_REMOVEDIR) != 0 && !m_engine.isCancelled() &&
                m_itemsLeft.load() == leftBefore)
                recordFileError(spath, QStringLiteral("delete"),
                                errno == ENOTEMPTY || errno == EEXIST ? kChangedDuringRun : errno);
            return;
        }
        default:
            return;
        }
    }
}

bool TreeOperation::renameToFreeName(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, bool isFolder)
{
    for (int n = 1; n <= kMaxRenameAttempts && !m_engine.isCancelled(); ++n) {
        const QByteArray candidate = collisionName(dname, n, isFolder);
        if (::renameat2(sfd, sname.constData(), dfd, candidate.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EEXIST && errno != ENOTEMPTY) {
            recordFileError(QString::fromLocal8Bit(candidate), QStringLiteral("rename"), errno);
            return false;
        }
    }
    recordFailure(FileExists, QStringLiteral("%1: no free name").arg(QString::fromLocal8Bit(dname)));
    return false;
}

// Files are copied while the walk goes on: the workers start on the first
// folder's files while the later folders are still being listed.
int TreeOperation::copyTree()
{
    const int count = m_request.workers > 0 ? m_request.workers : kDefaultWorkers;
    m_fdBudget = fileBudget(count);
    m_counting = true;
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
    m_counting = false;
    waitForWorkers(workers);
    linkDeferred();

    // Folders made so far get their metadata even when the walk stopped early.
    finishDirs();
    if (walked && m_request.operation == FO_MOVE && !m_engine.isCancelled()) {
        const int rc = deleteSources();
        if (rc != Success)
            return rc;
    }
    return result();
}

// Lists the tree breadth first, making the target folders and queueing the
// files. Returns false when the top could not be read or the run was cancelled.
bool TreeOperation::walk()
{
    auto root = std::make_unique<DirNode>();
    root->src.reset(::dup(m_srcParent.get()));
    root->dst.reset(::dup(m_dstParent.get()));
    root->merged = true;
    if (!root->src.valid() || !root->dst.valid()) {
        recordFileError(QString::fromLocal8Bit(m_target), QStringLiteral("open"), errno);
        return false;
    }
    DirNode* top = m_dirs.emplace_back(std::move(root)).get();

    struct stat st {};
    if (::fstatat(top->src.get(), baseName(m_source).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        recordFailure(SourceMissing, QString::fromLocal8Bit(m_source));
        return false;
    }
    if (identityOf(st) != identityOf(m_srcStat) || (st.st_mode & S_IFMT) != (m_srcStat.st_mode & S_IFMT)) {
        recordFileError(QString::fromLocal8Bit(m_source), QStringLiteral("read"), kChangedDuringRun);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        registerTargetFs(top->dst.get());
        std::lock_guard lock(m_queueMutex);
        FileJob& job =
            *m_jobs.emplace_back(std::make_unique<FileJob>(top, baseName(m_source), st.st_mode & S_IFMT, st.st_size));
        job.dstName = baseName(m_target);
        m_filesTotal = 1;
        m_bytesTotal = S_ISREG(st.st_mode) ? st.st_size : 0;
        m_queueCv.notify_one();
        return true;
    }
    if (!addDir(*top, baseName(m_source), baseName(m_target), true))
        return false;
    // The vector grows while it is walked; the nodes themselves never move.
    for (size_t i = 1; i < m_dirs.size() && !m_engine.isCancelled(); ++i) {
        closeFinishedDirs(i);
        listDir(*m_dirs[i]);
        maybeEmit();
    }
    return !m_engine.isCancelled();
}

// Checks that the source folder can be read, then makes (or merges into, or
// renames) its target. Returns the new node, or null when the subtree is left out.
DirNode* TreeOperation::addDir(DirNode& parent, const QByteArray& srcName, const QByteArray& dstName, bool top)
{
    Identity srcId;
    for (;;) {
        UniqueFd holder;
        const int pfd = srcFd(&parent, holder);
        UniqueFd dir(pfd < 0 ? -1 : openSourceDir(pfd, srcName));
        struct stat st {};
        if (dir.valid() && ::fstat(dir.get(), &st) == 0) {
            srcId = identityOf(st);
            break;
        }
        const ErrorAnswer a = onError(srcPath(&parent, srcName), QStringLiteral("open"), changedOr(errno));
        if (a != ErrorAnswer::Retry)
            return nullptr;
    }
    if (m_dstIds.contains(srcId)) {
        // A folder this run made or merged into turns up in the source: the target
        // lies inside the source by a way the checks before the run could not see.
        stopRun(DestinationInsideSource,
                QStringLiteral("%1: the destination lies inside the source").arg(srcPath(&parent, srcName)));
        return nullptr;
    }
    QByteArray name = dstName;
    bool created = false;
    bool merged = false;
    UniqueFd holder;
    const int pfd = dstFd(&parent, holder);
    if (pfd < 0) {
        recordFileError(dstPath(&parent), QStringLiteral("open"), errno);
        return nullptr;
    }
    int attempt = 0;
    while (!m_engine.isCancelled()) {
        if (attempt > 0)
            name = collisionName(dstName, attempt, true);
        if (::mkdirat(pfd, name.constData(), 0700) == 0) {
            created = true;
            break;
        }
        int e = errno;
        if (e == EEXIST && attempt == 0) {
            struct stat t {};
            const bool isDir = ::fstatat(pfd, name.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(t.st_mode);
            if (isDir) {
                const Decision d = decideFolder(srcPath(&parent, srcName), dstPath(&parent, name), top);
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
                recordFailure(FileExists, QStringLiteral("%1: no free name").arg(dstPath(&parent, dstName)));
                return nullptr;
            }
            continue;
        }
        const ErrorAnswer a = onError(dstPath(&parent, name), QStringLiteral("create"), e);
        if (a != ErrorAnswer::Retry)
            return nullptr;
    }
    if (m_engine.isCancelled())
        return nullptr;
    UniqueFd dst(::openat(pfd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat dt {};
    if (!dst.valid() || ::fstat(dst.get(), &dt) != 0) {
        recordFileError(dstPath(&parent, name), QStringLiteral("open"), changedOr(errno));
        return nullptr;
    }
    m_dstIds.insert(identityOf(dt));
    registerTargetFs(dst.get());

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
    return m_dirs.emplace_back(std::move(node)).get();
}

bool TreeOperation::openDir(DirNode& node)
{
    UniqueFd sh;
    UniqueFd dh;
    const int sfd = srcFd(node.parent, sh);
    if (sfd < 0) {
        recordFileError(srcPath(&node), QStringLiteral("read"), errno);
        return false;
    }
    if (const int e = openChecked(sfd, node, true, O_RDONLY, node.src)) {
        recordFileError(srcPath(&node), QStringLiteral("read"), e);
        return false;
    }
    const int dfd = dstFd(node.parent, dh);
    const int e = dfd < 0 ? errno : openChecked(dfd, node, false, O_PATH, node.dst);
    if (e != 0) {
        recordFileError(dstPath(&node), QStringLiteral("open"), e);
        node.src.reset();
        return false;
    }
    m_openDirFds += 2;
    return true;
}

// Every folder stays open for the later passes while descriptors are plenty.
// Past the budget, the walk closes the folders whose files are all done,
// oldest first, and waits for the workers when the oldest is still in use:
// they take files in queue order, so it is soon free.
void TreeOperation::closeFinishedDirs(size_t listing)
{
    while (m_openDirFds > m_fdBudget && m_closeFrom < listing && !m_engine.isCancelled()) {
        DirNode& oldest = *m_dirs[m_closeFrom];
        if (oldest.holds.load() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            maybeEmit();
            continue;
        }
        if (oldest.src.valid()) {
            oldest.src.reset();
            oldest.dst.reset();
            m_openDirFds -= 2;
        }
        ++m_closeFrom;
    }
}

void TreeOperation::listDir(DirNode& node)
{
    if (!openDir(node)) {
        markKeep(&node);
        node.holds = 0;
        return;
    }
    // A listing that fails part way is a failure; what it did read is still copied.
    DirEntries entries;
    if (const int e = listEntries(node.src.get(), entries)) {
        recordFileError(srcPath(&node), QStringLiteral("read"), e);
        markKeep(&node);
    }

    // Sizes are left to the workers and to the pass after the walk: on a cold
    // cache each inode read waits for the disk, and the walk must stay ahead.
    std::vector<std::pair<QByteArray, mode_t>> files;
    for (const auto& [name, type] : entries) {
        if (m_engine.isCancelled())
            break;
        mode_t mode = DTTOIF(type);
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(node.src.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                recordFileError(srcPath(&node, name), QStringLiteral("read"), errno);
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
        {
            std::lock_guard lock(m_queueMutex);
            for (const auto& [name, mode] : files)
                m_jobs.emplace_back(std::make_unique<FileJob>(&node, name, mode, S_ISREG(mode) ? -1 : 0));
        }
        m_filesTotal += static_cast<qint64>(files.size());
        m_queueCv.notify_all();
        waitForRoomInQueue();
    }
    node.holds--;
}

// A copy needs nothing of a file once its worker is done with it: the settled
// jobs at the front of the queue are freed (the pinned ones kept aside).
void TreeOperation::releaseSettledJobs()
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
void TreeOperation::waitForRoomInQueue()
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
        maybeEmit();
    }
}

// Once the walk is done the queue no longer grows: the files no worker has
// reached yet are sized here, so the totals are known long before the end.
void TreeOperation::sizeQueuedFiles()
{
    const size_t count = m_jobs.size(); // no writer any more: the workers only read it
    for (size_t i = 0; i < count && !m_engine.isCancelled(); ++i) {
        FileJob& job = *m_jobs[i];
        if (job.size.load() >= 0)
            continue;
        UniqueFd holder;
        struct stat st {};
        // A failure here is met again, and asked about, when the file is copied.
        if (::fstatat(srcFd(job.dir, holder), job.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            countSize(job, S_ISREG(st.st_mode) ? st.st_size : 0);
        if ((i & 255) == 0)
            maybeEmit();
    }
}

void TreeOperation::countSize(FileJob& job, qint64 size)
{
    qint64 unknown = -1;
    if (job.size.compare_exchange_strong(unknown, size))
        m_bytesTotal += size;
}

void TreeOperation::workLoop()
{
    for (;;) {
        FileJob* job = nullptr;
        {
            std::unique_lock lock(m_queueMutex);
            m_queueCv.wait(lock, [this] { return m_nextJob < m_jobs.size() || m_walkDone; });
            if (m_nextJob < m_jobs.size() && !m_engine.isCancelled())
                job = m_jobs[m_nextJob++].get();
        }
        if (!job)
            break;
        m_currentJob.store(job);
        if (copyJob(*job))
            m_filesDone++;
        job->dir->holds--; // the last use of the folder's descriptors by this worker
        job->settled.store(true, std::memory_order_release);
    }
    {
        std::lock_guard lock(m_queueMutex);
        --m_workersRunning;
    }
    m_workersDoneCv.notify_all();
}

// Waits on the calling thread, which reports the progress meanwhile.
void TreeOperation::waitForWorkers(std::vector<std::thread>& workers)
{
    {
        std::unique_lock lock(m_queueMutex);
        while (m_workersRunning > 0) {
            m_workersDoneCv.wait_for(lock, std::chrono::milliseconds(kProgressIntervalMs));
            if (m_workersRunning > 0) {
                lock.unlock();
                maybeEmit();
                lock.lock();
            }
        }
    }
    for (std::thread& t : workers)
        t.join();
}

// Returns false when the file was left for later: a further name of an inode
// whose first name is copied by then.
bool TreeOperation::copyJob(FileJob& job, const LinkSource* link)
{
    UniqueFd sholder;
    UniqueFd dholder;
    const int sfd = srcFd(job.dir, sholder);
    const int dfd = dstFd(job.dir, dholder);
    const auto source = [&] {
        return srcPath(job.dir, job.name);
    };

    Decision decision = Decision::New;
    for (;;) {
        if (m_engine.isCancelled())
            return true;
        // Only a folder that existed before can hold a colliding name; new ones are
        // caught atomically when the copy is put in place.
        if (decision == Decision::New && job.dir->merged) {
            struct stat t {};
            if (::fstatat(dfd, job.dstName.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0) {
                decision = decideFile(source(), dstPath(job.dir, job.dstName));
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
        if (link) {
            place.linkFromDir = link->dir;
            place.linkFromName = link->name;
            place.linkInode = link->ino;
        } else {
            place.claimInode = [&](const struct stat& st) {
                return claimInode(job, st);
            };
        }
        CopyOutcome out = copyItem(place, m_engine, m_bytesDone);
        if (out.deferred) {
            std::lock_guard lock(m_linksMutex);
            m_deferred.emplace_back(&job, identityOf(out.source));
            return false;
        }
        if (out.size >= 0)
            countSize(job, out.size);
        if (out.error == 0) {
            job.copied = stampOf(out.source);
            job.done = true;
            if (out.upToDate)
                m_upToDate++;
            if (!link && out.source.st_nlink > 1) {
                std::lock_guard lock(m_linksMutex);
                InodeCopy& copy = m_inodes[identityOf(out.source)];
                if (copy.first == &job)
                    copy.placed = out.placed;
            }
            return true;
        }
        if (out.error == EEXIST && decision == Decision::New) {
            decision = decideFile(source(), dstPath(job.dir, job.dstName));
            if (decision == Decision::Skip)
                return true;
            continue;
        }
        if (out.error == ECANCELED)
            return true;
        const ErrorAnswer a = onError(out.onTarget ? dstPath(job.dir, job.dstName) : source(), out.action, out.error);
        if (a != ErrorAnswer::Retry)
            return true;
    }
}

bool TreeOperation::claimInode(FileJob& job, const struct stat& st)
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
void TreeOperation::linkDeferred()
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
        m_filesDone++;
        maybeEmit();
    }
}

// Folder metadata last, deepest first: entries written into a folder change its
// times, and a read-only source folder must not lock us out while we copy.
// Folders merged into get it too: they may be the 0700 folders of an earlier
// run that was killed, and a re-run must leave the tree an unbroken run leaves.
void TreeOperation::finishDirs()
{
    for (size_t i = m_dirs.size(); i-- > 1;) {
        const DirNode& node = *m_dirs[i];
        UniqueFd sh;
        UniqueFd dh;
        UniqueFd src;
        UniqueFd dst;
        const int sfd = srcFd(node.parent, sh);
        int e = sfd < 0 ? errno : openChecked(sfd, node, true, O_RDONLY, src);
        if (e == 0) {
            const int dfd = dstFd(node.parent, dh);
            e = dfd < 0 ? errno : openChecked(dfd, node, false, O_RDONLY, dst);
        }
        struct stat st {};
        if (e == 0 && ::fstat(src.get(), &st) != 0)
            e = errno;
        if (e == 0)
            e = copyMetadata(src.get(), dst.get(), st);
        if (e != 0)
            recordFileError(dstPath(&node), QStringLiteral("set attributes of"), e);
    }
}

// A move across file systems deletes a source only once every copy is on disk
// (one syncfs per file system that received data, not one fsync per file), and
// only a source that is still the file that was copied: one written to or
// replaced meanwhile stays, and so does a folder that gained entries.
int TreeOperation::deleteSources()
{
    for (const auto& [dev, fd] : m_targetFs) {
        if (::syncfs(fd.get()) != 0) {
            const int e = errno;
            recordFileError(QString::fromLocal8Bit(m_target), QStringLiteral("flush"), e);
            return resultForErrno(e);
        }
    }
    // Unlinking one name of a file changes the change time of its other names.
    std::unordered_set<ino_t> unlinked;
    size_t i = 0;
    for (const std::unique_ptr<FileJob>& held : m_jobs) {
        FileJob& job = *held;
        if (m_engine.isCancelled())
            return result();
        if ((++i & 255) == 0)
            maybeEmit();
        if (!job.done) {
            markKeep(job.dir);
            continue;
        }
        UniqueFd holder;
        const int dfd = srcFd(job.dir, holder);
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
            recordFileError(srcPath(job.dir, job.name), QStringLiteral("delete"), e);
            markKeep(job.dir);
        } else if (was.links > 1) {
            unlinked.insert(was.ino);
        }
    }
    for (size_t d = m_dirs.size(); d-- > 1;) {
        if (m_engine.isCancelled())
            return result();
        DirNode& node = *m_dirs[d];
        if (node.keep.load())
            continue; // what stays in it is reported already
        UniqueFd holder;
        const int pfd = srcFd(node.parent, holder);
        if (pfd < 0 || ::unlinkat(pfd, node.srcName.constData(), AT_REMOVEDIR) != 0) {
            recordFileError(srcPath(&node), QStringLiteral("delete"),
                            errno == ENOTEMPTY || errno == EEXIST ? kChangedDuringRun : errno);
            markKeep(node.parent);
        }
    }
    return Success;
}

void TreeOperation::registerTargetFs(int dstFd)
{
    struct stat st {};
    if (m_request.operation != FO_MOVE || ::fstat(dstFd, &st) != 0 || m_targetFs.contains(st.st_dev))
        return;
    // syncfs wants a descriptor opened for reading; O_PATH ones are refused.
    UniqueFd fd(::openat(dstFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        m_targetFs.emplace(st.st_dev, std::move(fd));
}

void TreeOperation::markKeep(DirNode* dir)
{
    for (; dir && !dir->keep.exchange(true); dir = dir->parent) {
    }
}

Decision TreeOperation::decideFile(const QString& source, const QString& target)
{
    // Renaming wins over replacing: it never destroys anything.
    if (m_request.flags & FOF_RENAMEONCOLLISION)
        return Decision::Rename;
    return askOperator({Conflict::Kind::File, source, target}, m_replaceAll, Decision::Replace);
}

Decision TreeOperation::decideFolder(const QString& source, const QString& target, bool top)
{
    // Only the top folder gets a new name; inside it everything is new anyway.
    if (top && (m_request.flags & FOF_RENAMEONCOLLISION))
        return Decision::Rename;
    return askOperator({Conflict::Kind::Folder, source, target}, m_mergeAll, Decision::Merge);
}

Decision TreeOperation::askOperator(const Conflict& conflict, bool& yesToAll, Decision yes)
{
    // One question at a time, and a "to all" answer given meanwhile holds for the waiting workers.
    std::lock_guard lock(m_askMutex);
    if (yesToAll)
        return yes;
    if (m_engine.isCancelled())
        return Decision::Skip;
    if (!m_questions) {
        recordFailure(FileExists, QStringLiteral("%1: exists, nobody to ask").arg(conflict.target));
        return Decision::Skip;
    }
    m_asking++;
    const ReplaceAnswer a = m_questions->askReplace(conflict);
    m_asking--;
    switch (a) {
    case ReplaceAnswer::YesToAll:
        yesToAll = true;
        [[fallthrough]];
    case ReplaceAnswer::Yes:
        return yes;
    case ReplaceAnswer::No:
        noteOperatorSkip(conflict.target);
        return Decision::Skip;
    case ReplaceAnswer::Cancel:
        m_engine.cancel();
        return Decision::Skip;
    }
    return Decision::Skip;
}

ErrorAnswer TreeOperation::onError(const QString& path, const QString& action, int error)
{
    const FileError fe{path, action, error};
    if (m_engine.isCancelled())
        return ErrorAnswer::Cancel;
    ErrorAnswer a = ErrorAnswer::Skip;
    if (m_questions) {
        std::lock_guard lock(m_askMutex);
        m_asking++;
        a = m_questions->askError(fe);
        m_asking--;
    }
    if (a == ErrorAnswer::Skip)
        recordFailure(resultForErrno(error), fe.text());
    else if (a == ErrorAnswer::Cancel)
        m_engine.cancel();
    return a;
}

void TreeOperation::recordFailure(int code, const QString& line)
{
    int expected = 0;
    m_firstError.compare_exchange_strong(expected, code == Success ? GeneralFailure : code);
    m_itemsLeft++;
    m_engine.addFailure(line);
}

void TreeOperation::recordFileError(const QString& path, const QString& action, int error)
{
    recordFailure(resultForErrno(error), FileError{path, action, error}.text());
}

void TreeOperation::noteOperatorSkip(const QString& path)
{
    m_operatorSkipped = true;
    m_itemsLeft++;
    m_engine.addFailure(QStringLiteral("%1: kept, not replaced").arg(path));
}

// Ends the run as a cancel does, but with its own result.
void TreeOperation::stopRun(int code, const QString& line)
{
    int expected = 0;
    m_fatal.compare_exchange_strong(expected, code);
    recordFailure(code, line);
    m_engine.cancel();
}

// A partial run is never a success: a cancel, a failure or a skipped item all count.
int TreeOperation::result() const
{
    if (const int fatal = m_fatal.load())
        return fatal;
    if (m_engine.isCancelled())
        return Cancelled;
    if (const int e = m_firstError.load())
        return e;
    return m_operatorSkipped ? Cancelled : Success;
}

QByteArray TreeOperation::relPath(const DirNode* dir, bool source) const
{
    QByteArray out;
    for (; dir && dir->parent; dir = dir->parent) {
        const QByteArray& n = source ? dir->srcName : dir->dstName;
        out = out.isEmpty() ? n : n + "/" + out;
    }
    return out;
}

QString TreeOperation::srcPath(const DirNode* dir, const QByteArray& name) const
{
    QByteArray p = parentOf(m_source);
    const QByteArray rel = relPath(dir, true);
    for (const QByteArray& part : {rel, name})
        if (!part.isEmpty())
            p += (p.endsWith('/') ? "" : "/") + part;
    return QString::fromLocal8Bit(p);
}

QString TreeOperation::dstPath(const DirNode* dir, const QByteArray& name) const
{
    QByteArray p = parentOf(m_target);
    const QByteArray rel = relPath(dir, false);
    for (const QByteArray& part : {rel, name})
        if (!part.isEmpty())
            p += (p.endsWith('/') ? "" : "/") + part;
    return QString::fromLocal8Bit(p);
}

int TreeOperation::srcFd(const DirNode* dir, UniqueFd& holder) const
{
    return dir->src.valid() ? dir->src.get() : reachDir(dir, true, holder);
}

int TreeOperation::dstFd(const DirNode* dir, UniqueFd& holder) const
{
    return dir->dst.valid() ? dir->dst.get() : reachDir(dir, false, holder);
}

// A folder closed to save descriptors is reached again from its nearest open
// ancestor, one name at a time, never through a link, and each step only if
// it is still the folder first listed: a user who swaps a folder of their
// tree for a link cannot send the run anywhere else. Walker thread only (or
// after the workers joined): it reads the descriptors the walker closes.
// Returns -1 with errno set when the way is gone or changed.
int TreeOperation::reachDir(const DirNode* dir, bool source, UniqueFd& holder) const
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
int TreeOperation::openChecked(int parentFd, const DirNode& node, bool source, int flags, UniqueFd& out)
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

// Called on the engine's own thread only.
void TreeOperation::emitProgress(bool finished)
{
    Progress p;
    p.filesDone = m_filesDone.load();
    p.filesUpToDate = m_upToDate.load();
    p.filesTotal = m_filesTotal.load();
    p.bytesDone = m_bytesDone.load();
    p.bytesTotal = m_bytesTotal.load();
    p.counting = m_counting.load() && !finished;
    p.elapsedMs = m_clock.elapsed();
    p.finished = finished;
    if (const FileJob* job = m_currentJob.load())
        p.currentFile = srcPath(job->dir, job->name);
    else
        p.currentFile = m_currentPath;
    m_lastEmit = p.elapsedMs;
    if (finished) {
        std::lock_guard lock(m_engine.m_failuresMutex);
        m_engine.m_last = p;
    }
    emit m_engine.progress(p);
}

void TreeOperation::maybeEmit()
{
    if (m_asking.load() == 0 && m_clock.elapsed() - m_lastEmit >= kProgressIntervalMs)
        emitProgress(false);
}

} // namespace fileop
