// What the walk does in each folder: make or merge its target, queue its files, note the folders below.
#pragma once

#include "FileQueue.h"
#include "FolderTable.h"
#include "ParallelWalk.h"
#include "QuickCheck.h"
#include "RunContext.h"

#include <QByteArray>

#include <mutex>
#include <set>

namespace fileop {

class MoveDeletions;

class TreeLister : public WalkVisitor {
public:
    TreeLister(RunContext& run, FolderTable& folders, FileQueue& queue, ParallelWalk& walk, TargetClocks& clocks,
               MoveDeletions* deletions)
        : m_run(run)
        , m_folders(folders)
        , m_queue(queue)
        , m_walk(walk)
        , m_clocks(clocks)
        , m_deletions(deletions)
    {}

    // Checks that the source folder can be read, then makes (or merges into,
    // or renames) its target. Returns the new node, or null when the subtree
    // is left out.
    DirNode* addFolder(DirNode& parent, const QByteArray& srcName, const QByteArray& dstName, bool top);
    // Lists one folder in batches, its files queued as they come.
    void visit(DirNode& folder, size_t index) override;
    // Once the walk is done: no source folder is one of the target's.
    void checkNoSourceIsTarget();

private:
    void queueFiles(DirNode& folder, const FoundFiles& files);
    // The clock of a target folder just made or found, worked out once per file system.
    TargetClock clockOf(const DirNode& parent, int parentFd, const QByteArray& name, const struct stat& made);

    RunContext& m_run;
    FolderTable& m_folders;
    FileQueue& m_queue;
    ParallelWalk& m_walk;
    TargetClocks& m_clocks;
    MoveDeletions* m_deletions; // a move across file systems only
    // The target folders of the run, so a source folder that is one of them
    // (the target inside the source after all) stops the run.
    std::mutex m_idsMutex;
    std::set<Identity> m_dstIds;
};

} // namespace fileop
