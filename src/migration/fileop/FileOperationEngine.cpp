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
#include <functional>
#include <thread>
#include <vector>

namespace fileop {

namespace {

constexpr int kDefaultWorkers = 8;
constexpr int kMaxRenameAttempts = 10000;
constexpr qint64 kProgressIntervalMs = 100;

enum class Decision { New, Replace, Rename, Merge, Skip };

struct DirNode {
    int parent = -1;
    QByteArray srcName;
    QByteArray dstName;
    UniqueFd src;         // O_RDONLY while listing, kept for the workers while fds last
    UniqueFd dst;         // O_PATH
    bool created = false; // made by us: gets the source's metadata in the last pass
    bool merged = false;  // existed before: its entries may collide
    bool complete = true; // every entry below was scanned (a move may then remove the folder)
};

struct FileJob {
    int dir = 0;
    QByteArray name;
    QByteArray dstName;
    mode_t type = 0;
    qint64 size = 0;
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

bool isInside(const QByteArray& inner, const QByteArray& outer)
{
    return outer == "/" || inner.startsWith(outer + "/");
}

void raiseFileLimit()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 1 << 16);
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

int fileBudget()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return 200;
    return static_cast<int>(std::min<rlim_t>(lim.rlim_cur, 1 << 16)) - 200;
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
    int createMissingParents(const QByteArray& dir);
    void moveEntry(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, const QString& spath,
                   const QString& dpath, bool top);
    bool renameToFreeName(int sfd, const QByteArray& sname, int dfd, const QByteArray& dname, bool isFolder);
    int copyTree();
    bool scan();
    int addDir(int parent, const QByteArray& srcName, const QByteArray& dstName, bool top);
    void listDir(int index);
    void runWorkers();
    void parallel(const std::function<void(FileJob&)>& fn);
    void copyJob(const FileJob& job);
    void finishDirs();
    int deleteSources();

    Decision decideFile(const QString& source, const QString& target);
    Decision decideFolder(const QString& source, const QString& target, bool top);
    Decision askOperator(const Conflict& conflict, bool& yesToAll, Decision yes);
    ErrorAnswer onError(const QString& path, const QString& action, int error);
    void recordFailure(int code, const QString& line);
    void noteOperatorSkip(const QString& path);
    int result() const;

    QString srcPath(int dir, const QByteArray& name = {}) const;
    QString dstPath(int dir, const QByteArray& name = {}) const;
    QByteArray relPath(int dir, bool source) const;
    int srcFd(int dir, UniqueFd& holder) const;
    int dstFd(int dir, UniqueFd& holder) const;

    void emitProgress(bool finished);
    void maybeEmit();

    FileOperationEngine& m_engine;
    const Request m_request;
    FileOpQuestions* m_questions;

    // Resolved paths: the source S and the target T (what S becomes).
    QByteArray m_source;
    QByteArray m_target;
    bool m_destinationMissing = false;

    std::vector<DirNode> m_dirs;
    std::vector<FileJob> m_jobs;
    std::vector<char> m_jobDone; // written by one worker each, read after they joined
    qint64 m_bytesTotal = 0;
    int m_openDirFds = 0;

    std::atomic<size_t> m_currentJob{0};
    std::atomic<qint64> m_filesDone{0};
    std::atomic<qint64> m_bytesDone{0};
    std::atomic<int> m_asking{0};
    std::atomic<int> m_firstError{0};
    std::atomic<bool> m_operatorSkipped{false};

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
        if (m_request.operation == FO_MOVE) {
            struct stat s {};
            struct stat d {};
            const bool sameFs = ::lstat(m_source.constData(), &s) == 0 &&
                                ::stat(parentOf(m_target).constData(), &d) == 0 && s.st_dev == d.st_dev;
            if (sameFs) {
                UniqueFd sp(::open(parentOf(m_source).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
                UniqueFd dp(::open(parentOf(m_target).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (!sp.valid() || !dp.valid()) {
                    code = resultForErrno(errno);
                } else if (::renameat2(sp.get(), baseName(m_source).constData(), dp.get(),
                                       baseName(m_target).constData(), RENAME_NOREPLACE) == 0) {
                    // The whole tree in one step: same inodes, same metadata.
                    m_filesDone = 1;
                    code = Success;
                } else if (errno == EXDEV) {
                    code = copyTree();
                } else {
                    moveEntry(sp.get(), baseName(m_source), dp.get(), baseName(m_target),
                              QString::fromLocal8Bit(m_source), QString::fromLocal8Bit(m_target), true);
                    code = result();
                }
            } else {
                code = copyTree();
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

    int error = 0;
    m_source = realPath(source, &error);
    if (m_source.isEmpty())
        return error == ENOENT ? SourceMissing : resultForErrno(error);

    struct stat dst {};
    if (::stat(destination.constData(), &dst) == 0) {
        if (!S_ISDIR(dst.st_mode))
            return DestinationIsFile;
        const QByteArray real = realPath(destination, &error);
        if (real.isEmpty())
            return resultForErrno(error);
        m_target = (real == "/" ? real : real + "/") + baseName(m_source);
    } else if (errno == ENOENT) {
        m_destinationMissing = true;
        m_target = canonicalFuture(destination, &error);
        if (m_target.isEmpty())
            return resultForErrno(error);
    } else {
        return resultForErrno(errno);
    }

    // Rules before work: nothing is touched for a request that cannot be done.
    if (m_source == "/" || isInside(m_target, m_source))
        return DestinationInsideSource;
    if (m_target == m_source && !(m_request.operation == FO_COPY && (m_request.flags & FOF_RENAMEONCOLLISION)))
        return SameFile;

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
        const int rc = createMissingParents(parentOf(m_target));
        if (rc != Success)
            return rc;
    }
    return Success;
}

int TreeOperation::createMissingParents(const QByteArray& dir)
{
    if (::access(dir.constData(), F_OK) == 0)
        return Success;
    const int rc = createMissingParents(parentOf(dir));
    if (rc != Success)
        return rc;
    if (::mkdir(dir.constData(), 0777) != 0 && errno != EEXIST) {
        const int e = errno;
        recordFailure(resultForErrno(e), FileError{QString::fromLocal8Bit(dir), QStringLiteral("create"), e}.text());
        return resultForErrno(e);
    }
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
            std::vector<QByteArray> names;
            listNames(sub.get(), names);
            for (const QByteArray& n : names)
                moveEntry(sub.get(), n, dsub.get(), n, spath + u'/' + QString::fromLocal8Bit(n),
                          dpath + u'/' + QString::fromLocal8Bit(n), false);
            ::unlinkat(sfd, sname.constData(), AT_REMOVEDIR); // stays if something was skipped
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
            const int e = errno;
            recordFailure(resultForErrno(e),
                          FileError{QString::fromLocal8Bit(candidate), QStringLiteral("rename"), e}.text());
            return false;
        }
    }
    recordFailure(FileExists, QStringLiteral("%1: no free name").arg(QString::fromLocal8Bit(dname)));
    return false;
}

int TreeOperation::copyTree()
{
    // Folders made so far get their metadata even when the scan stopped early.
    const bool scanned = scan();
    if (scanned)
        runWorkers();
    finishDirs();
    if (scanned && m_request.operation == FO_MOVE && !m_engine.isCancelled()) {
        const int rc = deleteSources();
        if (rc != Success)
            return rc;
    }
    return result();
}

bool TreeOperation::scan()
{
    DirNode root;
    root.src.reset(::open(parentOf(m_source).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    root.dst.reset(::open(parentOf(m_target).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    root.merged = true;
    if (!root.src.valid() || !root.dst.valid()) {
        const int e = errno;
        recordFailure(resultForErrno(e), FileError{QString::fromLocal8Bit(m_target), QStringLiteral("open"), e}.text());
        return false;
    }
    m_dirs.push_back(std::move(root));

    struct stat st {};
    if (::fstatat(m_dirs[0].src.get(), baseName(m_source).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        recordFailure(SourceMissing, QString::fromLocal8Bit(m_source));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        if (addDir(0, baseName(m_source), baseName(m_target), true) < 0)
            return false;
        for (size_t i = 1; i < m_dirs.size() && !m_engine.isCancelled(); ++i) {
            listDir(static_cast<int>(i));
            maybeEmit();
        }
    } else {
        m_jobs.push_back({0, baseName(m_source), baseName(m_target), st.st_mode & S_IFMT, st.st_size});
    }
    m_jobDone.assign(m_jobs.size(), 0);
    if (m_engine.isCancelled())
        return false;
    std::atomic<qint64> bytes{0};
    parallel([&](FileJob& job) {
        if (job.size < 0) {
            UniqueFd holder;
            struct stat js {};
            // A failure here is met again, and asked about, when the file is copied.
            if (::fstatat(srcFd(job.dir, holder), job.name.constData(), &js, AT_SYMLINK_NOFOLLOW) == 0) {
                job.type = js.st_mode & S_IFMT;
                job.size = js.st_size;
            }
        }
        if (job.type == S_IFREG && job.size > 0)
            bytes += job.size;
    });
    m_bytesTotal = bytes.load();
    return !m_engine.isCancelled();
}

// Opens the source folder and makes (or merges into, or renames) its target.
// Returns the new node's index, or -1 when the subtree is left out.
int TreeOperation::addDir(int parent, const QByteArray& srcName, const QByteArray& dstName, bool top)
{
    UniqueFd src;
    for (;;) {
        UniqueFd holder;
        src.reset(
            ::openat(srcFd(parent, holder), srcName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (src.valid())
            break;
        const ErrorAnswer a = onError(srcPath(parent, srcName), QStringLiteral("open"), errno);
        if (a != ErrorAnswer::Retry) {
            m_dirs[parent].complete = false;
            return -1;
        }
    }
    QByteArray name = dstName;
    bool created = false;
    bool merged = false;
    UniqueFd holder;
    const int pfd = dstFd(parent, holder);
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
                const Decision d = decideFolder(srcPath(parent, srcName), dstPath(parent, name), top);
                if (d == Decision::Merge) {
                    merged = true;
                    break;
                }
                if (d != Decision::Rename) {
                    m_dirs[parent].complete = false;
                    return -1;
                }
            } else if (!(top && (m_request.flags & FOF_RENAMEONCOLLISION))) {
                e = ENOTDIR; // a file stands where the folder should go
            }
        }
        if (e == EEXIST) { // the next "Copy of" name
            if (++attempt > kMaxRenameAttempts) {
                recordFailure(FileExists, QStringLiteral("%1: no free name").arg(dstPath(parent, dstName)));
                return -1;
            }
            continue;
        }
        const ErrorAnswer a = onError(dstPath(parent, name), QStringLiteral("create"), e);
        if (a != ErrorAnswer::Retry) {
            m_dirs[parent].complete = false;
            return -1;
        }
    }
    if (m_engine.isCancelled())
        return -1;

    DirNode node;
    node.parent = parent;
    node.srcName = srcName;
    node.dstName = name;
    node.created = created;
    node.merged = merged;
    node.src = std::move(src);
    node.dst.reset(::openat(pfd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!node.dst.valid()) {
        const int e = errno;
        recordFailure(resultForErrno(e), FileError{dstPath(parent, name), QStringLiteral("open"), e}.text());
        m_dirs[parent].complete = false;
        return -1;
    }
    m_openDirFds += 2;
    m_dirs.push_back(std::move(node));
    return static_cast<int>(m_dirs.size()) - 1;
}

void TreeOperation::listDir(int index)
{
    UniqueFd listing(::dup(m_dirs[index].src.get()));
    DIR* dir = listing.valid() ? ::fdopendir(listing.get()) : nullptr;
    if (!dir) {
        const int e = errno;
        recordFailure(resultForErrno(e), FileError{srcPath(index), QStringLiteral("read"), e}.text());
        m_dirs[index].complete = false;
        return;
    }
    (void)listing.release();
    std::vector<std::pair<QByteArray, unsigned char>> entries;
    while (dirent* ent = ::readdir(dir)) {
        const char* n = ent->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        entries.emplace_back(QByteArray(n), ent->d_type);
    }
    ::closedir(dir);

    for (const auto& [name, type] : entries) {
        if (m_engine.isCancelled())
            return;
        struct stat st {};
        if (type == DT_DIR) {
            addDir(index, name, name, false);
            continue;
        }
        if (type != DT_UNKNOWN) {
            // Sizes are read later by the pool, in parallel: on a cold cache
            // each inode read waits for the disk.
            m_jobs.push_back({index, name, name, DTTOIF(type), -1});
            continue;
        }
        if (::fstatat(m_dirs[index].src.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int e = errno;
            recordFailure(resultForErrno(e), FileError{srcPath(index, name), QStringLiteral("read"), e}.text());
            m_dirs[index].complete = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            addDir(index, name, name, false);
            continue;
        }
        m_jobs.push_back({index, name, name, st.st_mode & S_IFMT, st.st_size});
    }
    // Keep folder descriptors open for the workers while the process has them to spare.
    if (m_openDirFds > fileBudget()) {
        m_dirs[index].src.reset();
        m_dirs[index].dst.reset();
        m_openDirFds -= 2;
    }
}

void TreeOperation::runWorkers()
{
    parallel([this](FileJob& job) {
        m_currentJob.store(static_cast<size_t>(&job - m_jobs.data()));
        copyJob(job);
        m_filesDone++;
    });
}

// Runs fn over every job on the worker pool while this thread reports progress.
void TreeOperation::parallel(const std::function<void(FileJob&)>& fn)
{
    const int wanted = m_request.workers > 0 ? m_request.workers : kDefaultWorkers;
    const int count = static_cast<int>(std::min<size_t>(wanted, m_jobs.size()));
    std::atomic<size_t> next{0};
    std::mutex doneMutex;
    std::condition_variable doneCv;
    int running = count;
    std::vector<std::thread> workers;
    workers.reserve(count);
    for (int i = 0; i < count; ++i) {
        workers.emplace_back([&] {
            for (;;) {
                const size_t idx = next.fetch_add(1);
                if (idx >= m_jobs.size() || m_engine.isCancelled())
                    break;
                fn(m_jobs[idx]);
            }
            std::lock_guard lock(doneMutex);
            if (--running == 0)
                doneCv.notify_all();
        });
    }
    {
        std::unique_lock lock(doneMutex);
        while (running > 0) {
            doneCv.wait_for(lock, std::chrono::milliseconds(kProgressIntervalMs));
            if (running > 0) {
                lock.unlock();
                maybeEmit();
                lock.lock();
            }
        }
    }
    for (std::thread& t : workers)
        t.join();
}

void TreeOperation::copyJob(const FileJob& job)
{
    const size_t idx = static_cast<size_t>(&job - m_jobs.data());
    const QString source = srcPath(job.dir, job.name);
    UniqueFd sholder;
    UniqueFd dholder;
    const int sfd = srcFd(job.dir, sholder);
    const int dfd = dstFd(job.dir, dholder);

    Decision decision = Decision::New;
    for (;;) {
        if (m_engine.isCancelled())
            return;
        // Only a folder that existed before can hold a colliding name; new ones are
        // caught atomically when the copy is put in place.
        if (decision == Decision::New && m_dirs[job.dir].merged) {
            struct stat t {};
            if (::fstatat(dfd, job.dstName.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0) {
                decision = decideFile(source, dstPath(job.dir, job.dstName));
                if (decision == Decision::Skip)
                    return;
            }
        }
        PlaceRequest place{
            sfd, job.name, dfd, job.dstName, job.type, decision == Decision::Replace, decision == Decision::Rename};
        CopyOutcome out = copyItem(place, m_engine, m_bytesDone);
        if (out.error == 0) {
            m_jobDone[idx] = 1;
            return;
        }
        if (out.error == EEXIST && decision == Decision::New) {
            decision = decideFile(source, dstPath(job.dir, job.dstName));
            if (decision == Decision::Skip)
                return;
            continue;
        }
        if (out.error == ECANCELED)
            return;
        const ErrorAnswer a = onError(out.onTarget ? dstPath(job.dir, job.dstName) : source, out.action, out.error);
        if (a != ErrorAnswer::Retry)
            return;
    }
}

// Folder metadata last, deepest first: entries written into a folder change its
// times, and a read-only source folder must not lock us out while we copy.
void TreeOperation::finishDirs()
{
    for (size_t i = m_dirs.size(); i-- > 1;) {
        const DirNode& node = m_dirs[i];
        if (!node.created)
            continue;
        UniqueFd sh;
        UniqueFd dh;
        UniqueFd src(::openat(srcFd(node.parent, sh), node.srcName.constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        UniqueFd dst(::openat(dstFd(node.parent, dh), node.dstName.constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        int e = (!src.valid() || !dst.valid()) ? errno : 0;
        struct stat st {};
        if (e == 0 && ::fstat(src.get(), &st) != 0)
            e = errno;
        if (e == 0)
            e = copyMetadata(src.get(), dst.get(), st);
        if (e != 0)
            recordFailure(resultForErrno(e),
                          FileError{dstPath(static_cast<int>(i)), QStringLiteral("set attributes of"), e}.text());
    }
}

// A move across file systems deletes a source only once every copy is on disk:
// one syncfs for the whole target, not one fsync per file.
int TreeOperation::deleteSources()
{
    {
        UniqueFd target(::open(parentOf(m_target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!target.valid() || ::syncfs(target.get()) != 0) {
            const int e = errno;
            recordFailure(resultForErrno(e),
                          FileError{QString::fromLocal8Bit(m_target), QStringLiteral("flush"), e}.text());
            return resultForErrno(e);
        }
    }
    for (size_t i = 0; i < m_jobs.size(); ++i) {
        if (!m_jobDone[i])
            continue;
        const FileJob& job = m_jobs[i];
        UniqueFd holder;
        if (::unlinkat(srcFd(job.dir, holder), job.name.constData(), 0) != 0) {
            const int e = errno;
            recordFailure(resultForErrno(e), FileError{srcPath(job.dir, job.name), QStringLiteral("delete"), e}.text());
        }
        if ((i & 255) == 0)
            maybeEmit();
    }
    for (size_t i = m_dirs.size(); i-- > 1;) {
        const DirNode& node = m_dirs[i];
        UniqueFd holder;
        if (::unlinkat(srcFd(node.parent, holder), node.srcName.constData(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY &&
            errno != EEXIST) {
            const int e = errno;
            recordFailure(resultForErrno(e),
                          FileError{srcPath(static_cast<int>(i)), QStringLiteral("delete"), e}.text());
        }
    }
    return Success;
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
    m_engine.addFailure(line);
}

void TreeOperation::noteOperatorSkip(const QString& path)
{
    m_operatorSkipped = true;
    m_engine.addFailure(QStringLiteral("%1: kept, not replaced").arg(path));
}

// A partial run is never a success: a cancel, a failure or a skipped item all count.
int TreeOperation::result() const
{
    if (m_engine.isCancelled())
        return Cancelled;
    if (const int e = m_firstError.load())
        return e;
    return m_operatorSkipped ? Cancelled : Success;
}

QByteArray TreeOperation::relPath(int dir, bool source) const
{
    QByteArray out;
    for (int i = dir; i > 0; i = m_dirs[i].parent) {
        const QByteArray& n = source ? m_dirs[i].srcName : m_dirs[i].dstName;
        out = out.isEmpty() ? n : n + "/" + out;
    }
    return out;
}

QString TreeOperation::srcPath(int dir, const QByteArray& name) const
{
    QByteArray p = parentOf(m_source);
    const QByteArray rel = relPath(dir, true);
    for (const QByteArray& part : {rel, name})
        if (!part.isEmpty())
            p += (p.endsWith('/') ? "" : "/") + part;
    return QString::fromLocal8Bit(p);
}

QString TreeOperation::dstPath(int dir, const QByteArray& name) const
{
    QByteArray p = parentOf(m_target);
    const QByteArray rel = relPath(dir, false);
    for (const QByteArray& part : {rel, name})
        if (!part.isEmpty())
            p += (p.endsWith('/') ? "" : "/") + part;
    return QString::fromLocal8Bit(p);
}

int TreeOperation::srcFd(int dir, UniqueFd& holder) const
{
    if (m_dirs[dir].src.valid())
        return m_dirs[dir].src.get();
    holder.reset(::openat(m_dirs[0].src.get(), relPath(dir, true).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return holder.get();
}

int TreeOperation::dstFd(int dir, UniqueFd& holder) const
{
    if (m_dirs[dir].dst.valid())
        return m_dirs[dir].dst.get();
    holder.reset(::openat(m_dirs[0].dst.get(), relPath(dir, false).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return holder.get();
}

void TreeOperation::emitProgress(bool finished)
{
    Progress p;
    p.filesDone = m_filesDone.load();
    p.filesTotal = static_cast<qint64>(m_jobs.size());
    p.bytesDone = m_bytesDone.load();
    p.bytesTotal = m_bytesTotal;
    p.elapsedMs = m_clock.elapsed();
    p.finished = finished;
    if (!m_jobs.empty()) {
        const size_t idx = std::min(m_currentJob.load(), m_jobs.size() - 1);
        p.currentFile = srcPath(m_jobs[idx].dir, m_jobs[idx].name);
    } else {
        p.currentFile = m_currentPath;
    }
    m_lastEmit = p.elapsedMs;
    emit m_engine.progress(p);
}

void TreeOperation::maybeEmit()
{
    if (m_asking.load() == 0 && m_clock.elapsed() - m_lastEmit >= kProgressIntervalMs)
        emitProgress(false);
}

} // namespace fileop
