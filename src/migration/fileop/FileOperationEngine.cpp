// The engine's face to the form and the CLI: runs a request through its parts and keeps the outcome.
#include "FileOperationEngine.h"

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

// The rules first; then a move within one file system is a rename (the whole
// tree in one step, or entry by entry into an existing target), and anything
// else a tree copy.
int runRequest(std::atomic<bool>& cancel, const Request& request, RunPolicy& policy, RunProgress& progress)
{
    ResolvedPaths paths;
    if (const int rc = resolvePaths(request, policy, paths); rc != Success)
        return rc;
    struct stat d {};
    const bool sameFs =
        request.operation == FO_MOVE && ::fstat(paths.dstParent.get(), &d) == 0 && paths.srcStat.st_dev == d.st_dev;
    if (sameFs) {
        if (::renameat2(paths.srcParent.get(), baseName(paths.source).constData(), paths.dstParent.get(),
                        baseName(paths.target).constData(), RENAME_NOREPLACE) == 0) {
            // The whole tree in one step: same inodes, same metadata.
            progress.filesDone = 1;
            return Success;
        }
        if (errno != EXDEV) {
            RenameMove(cancel, request.flags, policy, progress)
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
    }
    // The engine only adapts: the parts of a run report through these, and
    // never call back into it.
    RunProgress progress([this](const Progress& p) {
        if (p.finished)
            setLastProgress(p);
        emit this->progress(p);
    });
    RunPolicy policy(m_cancel, request.flags, questions, progress, [this](const QString& line) { addFailure(line); });
    const int code = runRequest(m_cancel, request, policy, progress);
    progress.report(true);
    return code;
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

void FileOperationEngine::setLastProgress(const Progress& progress)
{
    std::lock_guard lock(m_failuresMutex);
    m_last = progress;
}

} // namespace fileop
