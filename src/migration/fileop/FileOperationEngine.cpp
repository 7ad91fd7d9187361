// The engine's face to the form and the CLI: runs a request through its parts and keeps the outcome.
#include "FileOperationEngine.h"

#include "DryRun.h"
#include "PathResolution.h"
#include "RenameMove.h"
#include "RunPolicy.h"
#include "RunProgress.h"
#include "TreeCopy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace fileop {

namespace {

// The number the form and the CLI read for an outcome.
int resultCode(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success:
        return Success;
    case Outcome::SourceMissing:
        return SourceMissing;
    case Outcome::PathNotFound:
        return PathNotFound;
    case Outcome::AccessDenied:
        return AccessDenied;
    case Outcome::WriteProtected:
        return WriteProtected;
    case Outcome::GeneralFailure:
        return GeneralFailure;
    case Outcome::FileExists:
        return FileExists;
    case Outcome::NetworkPathNotFound:
        return NetworkPathNotFound;
    case Outcome::DiskFull:
        return DiskFull;
    case Outcome::NameTooLong:
        return NameTooLong;
    case Outcome::SameFile:
        return SameFile;
    case Outcome::DestinationInsideSource:
        return DestinationInsideSource;
    case Outcome::SourceInsideDestination:
        return SourceInsideDestination;
    case Outcome::DestinationIsFile:
        return DestinationIsFile;
    case Outcome::FileDestinationIsFolder:
        return FileDestinationIsFolder;
    case Outcome::IoError:
        return IoError;
    case Outcome::Cancelled:
        return Cancelled;
    }
    return GeneralFailure;
}

// The rules first; then a move within one file system is a rename (the whole
// tree in one step, or entry by entry into an existing target), and anything
// else a tree copy.
Outcome runRequest(std::atomic<bool>& cancel, const Request& request, RunPolicy& policy, RunProgress& progress,
                   const std::function<void(const QString&)>& drySink, QString& dryTotals)
{
    ResolvedPaths paths;
    if (const Outcome rc = resolvePaths(request, policy, paths); rc != Outcome::Success)
        return rc;
    if (request.dryRun) {
        DryRun dry(
            request, paths, cancel, drySink ? drySink : [](const QString&) {});
        const Outcome rc = dry.run();
        dryTotals = DryRun::totalsText(dry.totals());
        return rc;
    }
    struct stat d {};
    const bool sameFs =
        request.operation == FO_MOVE && ::fstat(paths.dstParent.get(), &d) == 0 && paths.srcStat.st_dev == d.st_dev;
    if (sameFs) {
        if (::renameat2(paths.srcParent.get(), baseName(paths.source).constData(), paths.dstParent.get(),
                        baseName(paths.target).constData(), RENAME_NOREPLACE) == 0) {
            // The whole tree in one step: same inodes, same metadata.
            progress.filesDone = 1;
            progress.renamed = 1;
            return Outcome::Success;
        }
        if (errno != EXDEV) {
            RenameMove(cancel, request.flags, request.queueLimit, policy, progress)
                .moveEntry(paths.srcParent.get(), baseName(paths.source), paths.dstParent.get(), baseName(paths.target),
                           QString::fromLocal8Bit(paths.source), QString::fromLocal8Bit(paths.target), true);
            return policy.result();
        }
    }
    return TreeCopy(cancel, request, paths, policy, progress).run();
}

} // namespace

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
        m_unusableNames.clear();
    }
    // The engine only adapts: the parts of a run report through these, and
    // never call back into it.
    RunProgress progress([this](const Progress& p) {
        if (p.finished)
            setLastProgress(p);
        emit this->progress(p);
    });
    RunPolicy policy(m_cancel, request.flags, questions, progress, [this](const QString& line) { addFailure(line); });
    policy.setTopIsDestination(request.contents);
    policy.setUnusableNameSink([this](const QString& line) { addUnusableName(line); });
    QString dryTotals;
    const int code = resultCode(runRequest(m_cancel, request, policy, progress, m_dryRunSink, dryTotals));
    {
        std::lock_guard lock(m_failuresMutex);
        m_dryRunTotals = dryTotals;
    }
    progress.report(true);
    RunSummary s;
    s.operation = request.operation;
    s.dryRun = request.dryRun;
    s.filesCopied = progress.filesCopied.load();
    s.renamed = progress.renamed.load();
    s.bytesCopied = progress.bytesCopied.load();
    s.metadataOnly = progress.metadataOnly.load();
    s.upToDate = progress.upToDate.load() - s.metadataOnly;
    s.skipped = policy.skipped();
    s.failed = policy.failed();
    s.unusableNames = policy.unusableNames();
    s.filesTotal = progress.filesTotal.load();
    s.elapsedMs = lastProgress().elapsedMs;
    s.cancelled = isCancelled();
    {
        std::lock_guard lock(m_failuresMutex);
        m_summary = s;
    }
    return code;
}

QString FileOperationEngine::dryRunTotals() const
{
    return locked(m_dryRunTotals);
}

Progress FileOperationEngine::lastProgress() const
{
    return locked(m_last);
}

QStringList FileOperationEngine::failures() const
{
    return locked(m_failures);
}

QStringList FileOperationEngine::unusableNames() const
{
    return locked(m_unusableNames);
}

RunSummary FileOperationEngine::summary() const
{
    return locked(m_summary);
}

void FileOperationEngine::addUnusableName(const QString& line)
{
    std::lock_guard lock(m_failuresMutex);
    m_unusableNames << line;
}

void FileOperationEngine::addFailure(const QString& line)
{
    std::lock_guard lock(m_failuresMutex);
    m_failures << line;
}

void FileOperationEngine::setLastProgress(const Progress& progress)
{
    std::lock_guard lock(m_failuresMutex);
    m_last = progress;
}

} // namespace fileop
