// The end of a move across file systems: flush every target, then delete each source still as it was copied.
#pragma once

#include "FileQueue.h"
#include "FolderTable.h"
#include "RunContext.h"
#include "TreeIdentity.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <mutex>

namespace fileop {

class MoveDeletions {
public:
    MoveDeletions(RunContext& run, const FolderTable& folders, const QString& targetShown)
        : m_run(run)
        , m_folders(folders)
        , m_targetShown(targetShown)
    {}

    // One readable descriptor of each file system the move writes to, for its
    // syncfs (which refuses O_PATH descriptors): folder name in parentFd, if
    // still id. Safe from any lister.
    void addTarget(int parentFd, const QByteArray& name, const Identity& id);

    // Success, or the result that ends the run; every source not deleted is recorded.
    Outcome run(const std::deque<std::unique_ptr<FileJob>>& files);

private:
    RunContext& m_run;
    const FolderTable& m_folders;
    const QString m_targetShown;
    std::mutex m_mutex;
    std::map<dev_t, UniqueFd> m_targetFs;
};

} // namespace fileop
