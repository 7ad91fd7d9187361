// Walks both trees of a request and says what the run would do to each item, writing nothing.
#include "DryRun.h"

#include "DirReader.h"
#include "QuickCheck.h"
#include "TreeIdentity.h"
#include "WindowsNames.h"

#include "common/ByteSize.h"

#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace fileop {

namespace {

enum class TargetFate { Replace, MetadataOnly, UpToDate };

// The second pass's quick check, from the two stats alone: what a Yes (or
// Yes to All) would do to an existing file.
TargetFate fateOf(const struct stat& s, const struct stat& t, const TargetClock& clock, bool move)
{
    switch (quickCheck(s, t, clock, move)) {
    case TargetState::UpToDate:
        return TargetFate::UpToDate;
    case TargetState::MetadataOnly:
        return TargetFate::MetadataOnly;
    default:
        return TargetFate::Replace;
    }
}

QString fateText(TargetFate f)
{
    switch (f) {
    case TargetFate::UpToDate:
        return QStringLiteral("up to date");
    case TargetFate::MetadataOnly:
        return QStringLiteral("metadata only");
    default:
        return QStringLiteral("replace");
    }
}

QString bytes(qint64 n)
{
    return QStringLiteral("%1 bytes").arg(QLocale(QLocale::English).toString(n));
}

QString count(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

// Exact for a script, readable for a person: "4 bytes", "3.27 GB = 3,270,000,000 bytes".
QString totalBytes(qint64 n)
{
    return n < 1000000 ? bytes(n) : QStringLiteral("%1 = %2").arg(ByteSize::text(n), bytes(n));
}

// The first "Copy of" name not taken in the folder dirFd, as the run would pick it.
QByteArray freeName(int dirFd, const QByteArray& name, bool isFolder)
{
    for (int attempt = 1; attempt <= kMaxRenameAttempts; ++attempt) {
        const QByteArray candidate = collisionName(name, attempt, isFolder);
        struct stat st {};
        if (::fstatat(dirFd, candidate.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return candidate;
    }
    return name;
}

} // namespace

DryRun::DryRun(const Request& request, const ResolvedPaths& paths, const std::atomic<bool>& cancel, Sink sink)
    : m_request(request)
    , m_paths(paths)
    , m_cancel(cancel)
    , m_sink(std::move(sink))
    , m_move(request.operation == FO_MOVE)
    , m_yes(request.flags & FOF_NOCONFIRMATION)
    , m_rename(request.flags & FOF_RENAMEONCOLLISION)
{
    m_targetRoot = paths.target;
}

QString DryRun::targetPath(const QByteArray& rel) const
{
    return QString::fromLocal8Bit(rel.isEmpty() ? m_targetRoot : joinPath(m_targetRoot, rel));
}

QString DryRun::sourcePath(const QByteArray& rel) const
{
    return QString::fromLocal8Bit(rel.isEmpty() ? m_paths.source : joinPath(m_paths.source, rel));
}

void DryRun::say(const QString& fate, const QByteArray& dstRel, const QString& extra)
{
    std::lock_guard lock(m_sinkMutex);
    m_sink(fate + QStringLiteral(": ") + targetPath(dstRel) + extra);
}

// A folder below root, one name at a time and never through a link.
int DryRun::openBelow(int rootFd, const QByteArray& rel) const
{
    UniqueFd fd(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (rel.isEmpty())
        return fd.release();
    for (const QByteArray& name : rel.split('/')) {
        UniqueFd next(::openat(fd.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid())
            return -1;
        fd = std::move(next);
    }
    return fd.release();
}

Outcome DryRun::run()
{
    const bool sourceIsDir = S_ISDIR(m_paths.srcStat.st_mode);
    m_srcRoot.reset(::openat(m_paths.srcParent.get(), baseName(m_paths.source).constData(),
                             (sourceIsDir ? O_RDONLY | O_DIRECTORY : O_PATH) | O_NOFOLLOW | O_CLOEXEC));
    struct stat s {};
    if (!m_srcRoot.valid() || ::fstat(m_srcRoot.get(), &s) != 0 || identityOf(s) != identityOf(m_paths.srcStat))
        return outcomeOf(m_srcRoot.valid() ? Cause::changed() : Cause::system(errno));

    // A move within one file system to a target that does not exist is one rename.
    if (m_move && m_paths.destinationMissing) {
        struct stat holder {};
        if (::stat(nearestExisting(parentOf(m_paths.target), nullptr).constData(), &holder) == 0 &&
            holder.st_dev == m_paths.srcStat.st_dev) {
            m_totals.renames++;
            say(QStringLiteral("move in one step"), {}, QStringLiteral(" (renamed from %1)").arg(sourcePath({})));
            return Outcome::Success;
        }
    }
    std::vector<Folder> found;
    decideTop(found);
    if (!found.empty())
        walk(found.front());
    return m_firstError.load();
}

// The source itself against the target the request resolved to.
void DryRun::decideTop(std::vector<Folder>& found)
{
    const bool sourceIsDir = S_ISDIR(m_paths.srcStat.st_mode);
    struct stat t {};
    const bool exists =
        !m_paths.destinationMissing && m_paths.dstParent.valid() &&
        ::fstatat(m_paths.dstParent.get(), baseName(m_paths.target).constData(), &t, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !m_request.contents && m_rename && m_request.operation == FO_COPY) {
        const QByteArray renamed = freeName(m_paths.dstParent.get(), baseName(m_paths.target), sourceIsDir);
        say(QStringLiteral("rename"), {},
            QStringLiteral(" (exists: the copy becomes %1)").arg(QString::fromLocal8Bit(renamed)));
        m_totals.renames++;
        m_targetRoot = joinPath(parentOf(m_paths.target), renamed);
        if (sourceIsDir) {
            found.push_back({{}, {}, false});
        } else {
            m_totals.createFiles++;
            m_totals.createBytes += S_ISREG(m_paths.srcStat.st_mode) ? m_paths.srcStat.st_size : 0;
        }
        return;
    }
    if (!sourceIsDir) {
        // One file, link or special file: the rules of any item.
        std::vector<Folder> none;
        Folder top{{}, {}, exists};
        m_topItem = true;
        visit(top, m_paths.srcParent.get(), exists ? m_paths.dstParent.get() : -1, baseName(m_paths.source), none);
        return;
    }
    if (!exists) {
        m_totals.createFolders++;
        say(QStringLiteral("create folder"), {});
        found.push_back({{}, {}, false});
        return;
    }
    if (!S_ISDIR(t.st_mode)) {
        m_totals.failures++;
        say(QStringLiteral("fail"), {}, QStringLiteral(" (a file stands where the folder goes)"));
        return;
    }
    m_totals.mergeFolders++;
    if (m_request.contents || m_yes) {
        say(QStringLiteral("merge"), {});
    } else {
        m_totals.questions++;
        say(QStringLiteral("ask merge"), {});
    }
    m_dstRoot.reset(::openat(m_paths.dstParent.get(), baseName(m_paths.target).constData(),
                             O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    found.push_back({{}, {}, m_dstRoot.valid()});
}

// Folders in the order found, by several listers; the walk ends when none is
// queued and no lister is still listing one.
void DryRun::walk(const Folder& top)
{
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Folder> queue{top};
    int active = 0;
    auto lister = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            cv.wait(lock, [&] { return !queue.empty() || active == 0 || m_cancel.load(); });
            if (queue.empty() || m_cancel.load()) {
                cv.notify_all();
                return;
            }
            Folder folder = std::move(queue.front());
            queue.pop_front();
            ++active;
            lock.unlock();
            std::vector<Folder> found;
            listFolder(folder, found);
            lock.lock();
            --active;
            for (Folder& f : found)
                queue.push_back(std::move(f));
            cv.notify_all();
        }
    };
    const int n = std::clamp(m_request.workers > 0 ? m_request.workers : 8, 1, 8);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back(lister);
    for (std::thread& t : threads)
        t.join();
}

void DryRun::listFolder(const Folder& folder, std::vector<Folder>& found)
{
    UniqueFd src(openBelow(m_srcRoot.get(), folder.srcRel));
    UniqueFd dst(folder.targetExists ? openBelow(m_dstRoot.get(), folder.dstRel) : -1);
    // A folder swapped (for a link, or another folder) since it was listed is
    // not described: the run would refuse it the same way.
    Cause failure = src.valid() ? Cause{} : Cause::ofFolderOpen(errno);
    struct stat now {};
    if (src.valid() && folder.seen != Identity{} && (::fstat(src.get(), &now) != 0 || identityOf(now) != folder.seen))
        failure = Cause::changed();
    DirEntries entries;
    if (!failure.failed())
        failure = Cause::system(listEntries(src.get(), entries));
    if (failure.failed()) {
        m_totals.failures++;
        Outcome expected = Outcome::Success;
        m_firstError.compare_exchange_strong(expected, outcomeOf(failure));
        say(QStringLiteral("fail"), folder.dstRel,
            QStringLiteral(" (cannot read %1%2)")
                .arg(sourcePath(folder.srcRel),
                     failure.isChange() ? QStringLiteral(": it changed during the run") : QString()));
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        if (m_cancel.load())
            return;
        visit(folder, src.get(), dst.get(), entry.first, found);
    }
}

void DryRun::visit(const Folder& in, int srcFd, int dstFd, const QByteArray& name, std::vector<Folder>& found)
{
    const bool top = m_topItem;
    const QByteArray srcRel = top ? QByteArray() : in.srcRel.isEmpty() ? name : in.srcRel + '/' + name;
    const QByteArray dstRel = top ? QByteArray() : in.dstRel.isEmpty() ? name : in.dstRel + '/' + name;
    struct stat s {};
    if (::fstatat(srcFd, name.constData(), &s, AT_SYMLINK_NOFOLLOW) != 0) {
        m_totals.failures++;
        say(QStringLiteral("fail"), dstRel, QStringLiteral(" (cannot read %1)").arg(sourcePath(srcRel)));
        return;
    }
    QString extra;
    if (const QString problem = windowsNameProblem(name); !problem.isEmpty()) {
        m_totals.unusableNames++;
        extra = QStringLiteral("; a name Windows clients cannot use: it %1").arg(problem);
    }
    const bool dir = S_ISDIR(s.st_mode);
    const qint64 size = S_ISREG(s.st_mode) ? s.st_size : 0;
    const QString deletes = m_move && !dir ? QStringLiteral("; delete the source") : QString();
    struct stat t {};
    const bool exists = dstFd >= 0 && ::fstatat(dstFd, name.constData(), &t, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists) {
        if (dir) {
            m_totals.createFolders++;
            say(QStringLiteral("create folder"), dstRel, extra);
            found.push_back({srcRel, dstRel, false, identityOf(s)});
            return;
        }
        m_totals.createFiles++;
        m_totals.createBytes += size;
        m_totals.deletes += m_move ? 1 : 0;
        say(S_ISLNK(s.st_mode) ? QStringLiteral("create link") : QStringLiteral("create"), dstRel,
            (S_ISREG(s.st_mode) ? QStringLiteral(" (%1)").arg(bytes(size)) : QString()) + deletes + extra);
        return;
    }
    if (dir != S_ISDIR(t.st_mode)) {
        m_totals.failures++;
        say(QStringLiteral("fail"), dstRel,
            (dir ? QStringLiteral(" (a file stands where the folder goes)")
                 : QStringLiteral(" (a folder stands where the file goes)")) +
                extra);
        return;
    }
    if (dir) {
        m_totals.mergeFolders++;
        if (!m_yes)
            m_totals.questions++;
        say(m_yes ? QStringLiteral("merge") : QStringLiteral("ask merge"), dstRel, extra);
        found.push_back({srcRel, dstRel, true, identityOf(s)});
        return;
    }
    m_totals.deletes += m_move ? 1 : 0;
    if (m_rename) {
        m_totals.renames++;
        m_totals.createBytes += size;
        say(QStringLiteral("rename"), dstRel,
            QStringLiteral(" (exists: the copy becomes %1)").arg(QString::fromLocal8Bit(freeName(dstFd, name, false))) +
                deletes + extra);
        return;
    }
    const TargetFate fate = fateOf(s, t, clockOf(dstFd, t.st_dev), m_move);
    switch (fate) {
    case TargetFate::UpToDate:
        m_totals.upToDate++;
        break;
    case TargetFate::MetadataOnly:
        m_totals.metadataOnly++;
        break;
    case TargetFate::Replace:
        m_totals.replaceFiles++;
        m_totals.replaceBytes += size;
        break;
    }
    const QString detail = fate == TargetFate::Replace && S_ISREG(s.st_mode)
                               ? QStringLiteral(" (%1 over %2)").arg(bytes(size), bytes(t.st_size))
                               : QString();
    if (m_yes) {
        say(fateText(fate), dstRel, detail + deletes + extra);
    } else {
        m_totals.questions++;
        say(QStringLiteral("ask replace"), dstRel,
            QStringLiteral(" (a Yes would: %1)").arg(fateText(fate)) + detail + deletes + extra);
    }
}

// The run learns a target's clock by one probe write; a dry run writes
// nothing, so it knows only the file systems that statfs names (FAT, exFAT,
// SMB, NTFS) and compares the others exactly. At worst it lists a file as
// replaced that the run then finds up to date, never the other way round.
TargetClock DryRun::clockOf(int dirFd, dev_t dev)
{
    std::lock_guard lock(m_clocksMutex);
    if (const auto it = m_clocks.find(dev); it != m_clocks.end())
        return it->second;
    struct statfs fs {};
    const std::optional<TargetClock> known = ::fstatfs(dirFd, &fs) == 0 ? knownClock(long(fs.f_type)) : std::nullopt;
    return m_clocks[dev] = known.value_or(TargetClock{});
}

QString DryRun::totalsText(const DryRunTotals& t)
{
    return QStringLiteral("Would create %1 folders and %2 files (%3), replace %4 files (%5), leave %6 up to date, "
                          "bring %7 in line (metadata only), merge %8 folders, ask %9 questions, ")
               .arg(count(t.createFolders), count(t.createFiles), totalBytes(t.createBytes), count(t.replaceFiles),
                    totalBytes(t.replaceBytes), count(t.upToDate), count(t.metadataOnly), count(t.mergeFolders),
                    count(t.questions)) +
           QStringLiteral("rename %1 items, delete %2 sources; %3 items would fail; %4 names Windows clients cannot "
                          "use. Nothing was written.")
               .arg(count(t.renames), count(t.deletes), count(t.failures), count(t.unusableNames));
}

} // namespace fileop
