// The folders of a run in the order found, and reaching each again by identity once its descriptors were closed.
#pragma once

#include "QuickCheck.h"
#include "TreeIdentity.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace fileop {

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
    // The clock of the target folder's file system, device clockDev.
    TargetClock clock{};
    dev_t clockDev = 0;
    // Something below stays in the source (skipped, failed, kept, changed): a
    // move leaves this folder in place without reporting it a second time.
    std::atomic<bool> keep{false};
    // Its lister's hold while it lists the folder, plus one per queued file not
    // yet done: only at zero may a lister close the descriptors.
    std::atomic<int> holds{1};
};

// [0] stands for the parents of S and T; the rest in the order found, a
// parent always before its folders. Nodes never move once added, so everyone
// holds plain pointers to them.
class FolderTable {
public:
    FolderTable(const QByteArray& sourcePath, const QByteArray& targetPath)
        : m_sourcePath(sourcePath)
        , m_targetPath(targetPath)
    {}

    DirNode* add(std::unique_ptr<DirNode> node);
    size_t size() const;
    DirNode* at(size_t index) const;

    // A folder's descriptor, its own while open, else reached again from its
    // nearest open ancestor one checked name at a time (holder keeps it).
    Reached src(const DirNode* dir, UniqueFd& holder) const;
    Reached dst(const DirNode* dir, UniqueFd& holder) const;
    // Opens node's folder (one side) below parentFd and checks that it is
    // the one listed (a change during the run when it is not).
    static Cause openChecked(int parentFd, const DirNode& node, bool source, int flags, UniqueFd& out);

    // Descriptors the folders may keep open.
    void setBudget(int fds) { m_fdBudget = fds; }
    // Whether a folder found may keep its source open until it is listed.
    bool keepOpen(UniqueFd& from, UniqueFd& into);
    // Opens both sides of node for its listing (its parents may be closed).
    // Nothing, or the error and whether it was the source's.
    struct OpenError {
        Cause error{};
        bool onSource = false;
    };
    OpenError openForListing(DirNode& node);
    // Past the budget, closes the finished folders found before index listing.
    void closeFinished(size_t listing, const std::atomic<bool>& cancel);
    // A file of node is done with its descriptors (or its lister is).
    void releaseHold(DirNode& node);
    // A cancelled run: no lister waits for a folder to close any more.
    void wakeClosers();

    // The paths are only for the operator's eyes: nothing is opened by them.
    QString srcPath(const DirNode* dir, const QByteArray& name = {}) const { return pathOf(dir, name, true); }
    QString dstPath(const DirNode* dir, const QByteArray& name = {}) const { return pathOf(dir, name, false); }
    // Something below dir stays in the source.
    static void markKeep(DirNode* dir);

private:
    Reached reach(const DirNode* dir, bool source, UniqueFd& holder) const;
    QString pathOf(const DirNode* dir, const QByteArray& name, bool source) const;

    const QByteArray m_sourcePath;
    const QByteArray m_targetPath;
    mutable std::mutex m_mutex; // guards m_dirs while the listers add to it
    std::vector<std::unique_ptr<DirNode>> m_dirs;

    std::atomic<int> m_openFds{0};
    int m_fdBudget = 1 << 16;
    // Closing a folder's descriptors (exclusive) against reaching a folder
    // through its ancestors' (shared); it also guards m_closeFrom.
    std::shared_mutex m_reachMutex;
    size_t m_closeFrom = 1; // the folders before it have been closed
    std::mutex m_holdsMutex;
    std::condition_variable m_holdsCv; // a folder's last hold was released
    int m_holdsWaiting = 0;            // listers waiting to close a folder; guarded by m_holdsMutex
};

// The source folder of the last file, kept for the next: a folder's files
// come one after another, and a closed folder costs a walk to reach.
class LastSourceDir {
public:
    Reached fd(const FolderTable& folders, const DirNode* dir)
    {
        if (dir != m_dir) {
            m_holder.reset();
            m_reached = folders.src(dir, m_holder);
            m_dir = dir;
        }
        return m_reached;
    }

private:
    const DirNode* m_dir = nullptr;
    UniqueFd m_holder;
    Reached m_reached;
};

} // namespace fileop
