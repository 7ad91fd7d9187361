// Lists the folders of a tree with several threads, knowing nothing of what is done with each.
#pragma once

#include "FolderTable.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace fileop {

// What a walk does per folder; called on the listers' threads, one folder
// each at a time. A visitor that finds further folders adds them to the
// table and calls ParallelWalk::found().
class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;
    // index: the folder's place in the table, the order it was found in.
    virtual void visit(DirNode& folder, size_t index) = 0;
};

// Listers take the folders in the order found. The walk ends when none is
// left and no lister is still listing one (which could add more): a count
// of active listers, and condition variables to wake the idle ones.
class ParallelWalk {
public:
    ParallelWalk(const FolderTable& folders, const std::atomic<bool>& cancel)
        : m_folders(folders)
        , m_cancel(cancel)
    {}

    // Lists every folder of the table from index 1 on, and those found
    // meanwhile, with `listers` threads; the calling thread calls tick about
    // every interval until the walk is done.
    void run(size_t listers, WalkVisitor& visitor, const std::function<void()>& tick);
    // A visitor added a folder to the table.
    void found();

private:
    void listLoop(WalkVisitor& visitor);

    const FolderTable& m_folders;
    const std::atomic<bool>& m_cancel;
    std::mutex m_mutex;
    std::condition_variable m_folderCv; // a folder to list, or a lister done with one
    std::condition_variable m_doneCv;   // the last lister left
    size_t m_next = 1;                  // the next folder to list
    int m_active = 0;                   // listers listing a folder now
    int m_running = 0;                  // listers not yet gone
};

} // namespace fileop
