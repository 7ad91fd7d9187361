// A copy of a tree (and a move across file systems), run as named phases over its parts.
#pragma once

#include "FileQueue.h"
#include "FileWorkers.h"
#include "FolderTable.h"
#include "MoveDeletions.h"
#include "QuickCheck.h"
#include "RunContext.h"

#include <atomic>
#include <optional>

namespace fileop {

class RunPolicy;
class RunProgress;
struct ResolvedPaths;

// The parts: FolderTable (the folders, reached again by identity),
// ParallelWalk with TreeLister as its visitor (make the target folders, queue
// the files), FileQueue (bounded), FileWorkers (copy each file, then link the
// later names of hard-linked files), MoveDeletions. This class only runs
// them in order.
class TreeCopy {
public:
    enum class Phase {
        Walk,           // listers find the folders, make their targets and queue the files; workers copy meanwhile
        Size,           // the walk is done: files no worker reached yet are sized, so the totals are known
        Drain,          // the workers finish the queue
        Link,           // later names of a hard-linked inode become links to its first copy
        FolderMetadata, // folders get their metadata last, deepest first
        Delete,         // a move across file systems: flush the targets, delete the unchanged sources
        Done,
    };

    TreeCopy(const std::atomic<bool>& cancel, const Request& request, const ResolvedPaths& paths, RunPolicy& policy,
             RunProgress& progress);
    ~TreeCopy();
    TreeCopy(const TreeCopy&) = delete;
    TreeCopy& operator=(const TreeCopy&) = delete;

    Outcome run();
    Phase phase() const { return m_phase.load(); }

private:
    // Returns false when the top could not be read or the run was cancelled.
    bool walk(size_t listers);
    void sizeQueuedFiles();
    void finishFolders();

    RunContext m_run;
    const ResolvedPaths& m_paths;
    FolderTable m_folders;
    FileQueue m_queue;
    TargetClocks m_clocks;
    std::optional<MoveDeletions> m_deletions;
    FileWorkers m_workers;
    std::atomic<Phase> m_phase{Phase::Walk};
};

} // namespace fileop
