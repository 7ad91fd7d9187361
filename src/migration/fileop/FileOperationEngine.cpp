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
int runRequest(FileOperationEngine& engine, const Request& request, RunPolicy& policy, RunProgress& progress)
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
            RenameMove(engine, request.flags, policy, progress)
                .moveEntry(paths.srcParent.get(), baseName(paths.source), paths.dstParent.get(), baseName(paths.target),
                           QString::fromLocal8Bit(paths.source), QString::fromLocal8Bit(paths.target), true);
            return policy.result();
        }
    }
    return TreeCopy(engine, request, paths, policy, progress).run();
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
    RunProgress progress(*this);
    RunPolicy policy(*this, request.flags, questions, progress);
    policy.setTopIsDestination(request.contents);
    const int code = runRequest(*this, request, policy, progress);
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
