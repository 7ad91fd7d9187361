#pragma once

#include "FileOperation.h"
#include "HardLinks.h"
#include "QuickCheck.h"
#include "RunPolicy.h"
#include "TreeIdentity.h"
#include "UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace fileop {

class FileOperationEngine;
class RunPolicy;
class RunProgress;
struct ResolvedPaths;

// What a move checks before it deletes a source file: the file as it was copied.
struct Stamp {
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    nlink_t links = 0;
};

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

struct FileJob {
    FileJob(DirNode* d, const QByteArray& n, mode_t t, qint64 s)
        : dir(d)
        , name(n)
        , dstName(n)
        , type(t)
        , size(s)
    {}
    DirNode* dir;
    QByteArray name;
    QByteArray dstName;
    mode_t type;
    std::atomic<qint64> size;          // -1 until whoever stats the file first counts it in the total
    bool done = false;                 // written by the one worker that ran it, read after the workers joined
    Stamp copied;                      // the source as the worker read it; the same rule
    bool pinned = false;               // referred to after its worker is done with it (hard links): never released
    Decision decision = Decision::New; // the answer for its target, kept when it is left for later
    std::atomic<bool> settled{false};  // its worker is done with it
};

// A copy of a tree (and a move across file systems): a few threads list the
// folders in the order they were found, make the target folders and queue the
// files, while a pool of workers copies from the front of the queue. Then the
// further names of hard-linked files are linked, the folders get their
// metadata, and a move deletes its sources.
class TreeCopy {
public:
    TreeCopy(FileOperationEngine& engine, const Request& request, const ResolvedPaths& paths, RunPolicy& policy,
             RunProgress& progress);
    ~TreeCopy();
    TreeCopy(const TreeCopy&) = delete;
    TreeCopy& operator=(const TreeCopy&) = delete;

    int run();

private:
    struct LinkSource {
        int dir = -1;
        QByteArray name;
        ino_t ino = 0;
        const DirNode* node = nullptr; // the first copy's folder, to name it in a refusal
    };

    // The source folder of the last file, kept for the next: a folder's files
    // come one after another, and a closed folder costs a walk to reach.
    class LastSourceDir {
    public:
        Reached fd(const TreeCopy& copy, const DirNode* dir)
        {
            if (dir != m_dir) {
                m_holder.reset();
                m_reached = copy.srcFd(dir, m_holder);
                m_dir = dir;
            }
            return m_reached;
        }

    private:
        const DirNode* m_dir = nullptr;
        UniqueFd m_holder;
        Reached m_reached;
    };

    bool walk();
    void listLoop();
    void checkNoSourceIsTarget();
    DirNode* addDir(DirNode& parent, const QByteArray& srcName, const QByteArray& dstName, bool top);
    void listDir(DirNode& node);
    bool openDir(DirNode& node);
    void closeFinishedDirs(size_t listing);
    void releaseHold(DirNode& node);
    DirNode* dirAt(size_t index);
    void releaseSettledJobs();
    void queueFiles(DirNode& node, const std::vector<std::pair<QByteArray, mode_t>>& files);
    void waitForRoomInQueue();
    void sizeQueuedFiles();
    void workLoop();
    void waitForWorkers(std::vector<std::thread>& workers);
    bool copyJob(FileJob& job, const LinkSource* link = nullptr);
    bool claimInode(FileJob& job, const struct stat& st);
    void linkDeferred();
    void countSize(FileJob& job, qint64 size);
    void finishDirs();
    int deleteSources();
    void registerTargetFs(int parentFd, const QByteArray& name, const Identity& id);
    static void markKeep(DirNode* dir);

    // The paths are only for the operator's eyes: nothing is opened by them.
    QString pathOf(const DirNode* dir, const QByteArray& name, bool source) const;
    QString srcPath(const DirNode* dir, const QByteArray& name = {}) const { return pathOf(dir, name, true); }
    QString dstPath(const DirNode* dir, const QByteArray& name = {}) const { return pathOf(dir, name, false); }
    QByteArray relPath(const DirNode* dir, bool source) const;
    Reached srcFd(const DirNode* dir, UniqueFd& holder) const;
    Reached dstFd(const DirNode* dir, UniqueFd& holder) const;
    Reached reachDir(const DirNode* dir, bool source, UniqueFd& holder) const;
    static int openChecked(int parentFd, const DirNode& node, bool source, int flags, UniqueFd& out);

    FileOperationEngine& m_engine;
    const Request& m_request;
    const ResolvedPaths& m_paths;
    RunPolicy& m_policy;
    RunProgress& m_progress;

    // [0] stands for the parents of S and T; the rest in the order found, a
    // parent always before its folders. The listers add to the vector under
    // m_dirsMutex; everyone else holds pointers to the nodes, which never move.
    std::vector<std::unique_ptr<DirNode>> m_dirs;
    std::mutex m_dirsMutex;
    std::condition_variable m_dirsCv;     // a folder to list, or a lister done with one
    std::condition_variable m_walkDoneCv; // the last lister left
    size_t m_nextToList = 1;              // guarded by m_dirsMutex
    int m_listing = 0;                    // folders being listed; guarded by m_dirsMutex
    int m_listersRunning = 0;             // guarded by m_dirsMutex
    std::atomic<int> m_openDirFds{0};
    int m_fdBudget = 0;
    // Closing a folder's descriptors (exclusive) against reaching a folder
    // through its ancestors' (shared); it also guards m_closeFrom.
    std::shared_mutex m_reachMutex;
    size_t m_closeFrom = 1; // the folders before it have been closed
    std::mutex m_holdsMutex;
    std::condition_variable m_holdsCv; // a folder's last hold was released
    int m_holdsWaiting = 0;            // listers waiting to close a folder; guarded by m_holdsMutex
    // The target folders of the run, so a source folder that is one of them
    // (the target inside the source after all) stops the run; and one readable
    // descriptor per target file system, each flushed before a move deletes.
    std::mutex m_idsMutex;
    std::set<Identity> m_dstIds;
    std::map<dev_t, UniqueFd> m_targetFs;
    TargetClocks m_clocks;

    // The files of the run in queue order. The listers append while the workers
    // take from the front; a copy releases the settled ones from the front (a
    // move keeps them all, to delete the sources at the end). Pinned jobs move
    // to m_pinned when released, so pointers to them stay good.
    std::deque<std::unique_ptr<FileJob>> m_jobs;
    std::vector<std::unique_ptr<FileJob>> m_pinned;
    size_t m_nextJob = 0;     // index into m_jobs; guarded by m_queueMutex
    bool m_walkDone = false;  // guarded by m_queueMutex
    int m_workersRunning = 0; // guarded by m_queueMutex
    size_t m_workerCount = 1;
    std::mutex m_queueMutex;
    std::condition_variable m_queueCv;
    std::condition_variable m_workersDoneCv;
    std::condition_variable m_roomCv; // the queue fell to its limit, or the workers left
    int m_walkWaiting = 0;            // listers waiting for room; guarded by m_queueMutex
    size_t m_queueLimit = 1;
    std::atomic<bool> m_rangeCopy{true};
    std::atomic<const FileJob*> m_currentJob{nullptr};

    // Inodes with more than one name in the tree: the first name met is copied,
    // the later ones wait until the workers are done and become hard links to it.
    HardLinks m_links;
};

} // namespace fileop
