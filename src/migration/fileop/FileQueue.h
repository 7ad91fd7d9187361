// The files of a run between the listers that find them and the workers that copy them, bounded.
#pragma once

#include "FolderTable.h"
#include "RunPolicy.h"

#include <QByteArray>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace fileop {

class RunProgress;

// What a move checks before it deletes a source file: the file as it was copied.
struct Stamp {
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    nlink_t links = 0;
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

using FoundFiles = std::vector<std::pair<QByteArray, mode_t>>;

// The listers append while the workers take from the front. The walk stays
// at most `limit` files ahead of the workers, so memory does not grow with
// the number of files; a copy frees the settled files from the front, a move
// keeps them all for its deletions. Pinned files are kept aside when freed,
// so pointers to them stay good.
class FileQueue {
public:
    FileQueue(size_t limit, bool keepAll, RunProgress& progress)
        : m_limit(limit)
        , m_keepAll(keepAll)
        , m_progress(progress)
    {}

    // Listers: files [from, from + count) of node, then a wait for room.
    void push(DirNode& node, const FoundFiles& files, size_t from, size_t count);
    void waitForRoom(const std::atomic<bool>& cancel);
    // The largest group pushed at once.
    size_t groupSize() const;
    // One file found outside any listing (the source is a file).
    FileJob& pushSingle(std::unique_ptr<FileJob> job);
    // No more files will come.
    void walkDone();

    // Workers: a fair share of what waits, empty when nothing more will come.
    void startWorkers(size_t count);
    void take(std::vector<FileJob*>& batch, const std::atomic<bool>& cancel);
    void workerLeft();
    // The calling thread waits for the workers, calling tick meanwhile.
    void waitForWorkers(const std::function<void()>& tick);

    void setCurrent(const FileJob* job) { m_current.store(job); }
    // What current() says of the file a worker is on; empty when none.
    QString current(const std::function<QString(const FileJob&)>& path);

    // Once the walk is done nothing is appended: every file still held,
    // in queue order (a move holds them all).
    const std::deque<std::unique_ptr<FileJob>>& held() const { return m_jobs; }

private:
    void releaseSettled();

    const size_t m_limit;
    const bool m_keepAll;
    RunProgress& m_progress;
    std::mutex m_mutex;
    std::deque<std::unique_ptr<FileJob>> m_jobs;
    std::vector<std::unique_ptr<FileJob>> m_pinned;
    size_t m_next = 0; // index into m_jobs of the first file no worker took
    bool m_walkDone = false;
    size_t m_workerCount = 1;
    int m_workersRunning = 0;
    int m_walkWaiting = 0;                   // listers waiting for room
    std::condition_variable m_workCv;        // files to take, or the walk is done
    std::condition_variable m_roomCv;        // the queue fell to its limit, or the workers left
    std::condition_variable m_workersDoneCv; // the last worker left
    std::atomic<const FileJob*> m_current{nullptr};
};

} // namespace fileop
