// The bounded queue of files between the listers and the workers.
#include "FileQueue.h"

#include "RunProgress.h"

#include <algorithm>
#include <chrono>

namespace fileop {

namespace {

constexpr size_t kMaxBatch = 32;
// Files queued at once from one folder's listing, between waits for room.
constexpr size_t kMaxGroup = 1024;

} // namespace

size_t FileQueue::groupSize() const
{
    return std::min(m_limit, kMaxGroup);
}

void FileQueue::push(DirNode& node, const FoundFiles& files, size_t from, size_t count)
{
    node.holds += static_cast<int>(count);
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_mutex);
        wasEmpty = m_next == m_jobs.size();
        for (size_t i = from; i < from + count; ++i) {
            const auto& [name, mode] = files[i];
            m_jobs.emplace_back(std::make_unique<FileJob>(&node, name, mode, S_ISREG(mode) ? -1 : 0));
        }
        const auto pending = static_cast<qint64>(m_jobs.size() - m_next);
        if (pending > m_progress.queuedPeak.load())
            m_progress.queuedPeak = pending;
    }
    m_progress.filesTotal += static_cast<qint64>(count);
    // Only an empty queue has workers waiting on it; one is woken, and it
    // wakes the next if it leaves work behind.
    if (wasEmpty)
        m_workCv.notify_one();
}

FileJob& FileQueue::pushSingle(std::unique_ptr<FileJob> job)
{
    FileJob* added = nullptr;
    {
        std::lock_guard lock(m_mutex);
        added = m_jobs.emplace_back(std::move(job)).get();
    }
    m_workCv.notify_one();
    return *added;
}

// A copy needs nothing of a file once its worker is done with it: the settled
// files at the front of the queue are freed (the pinned ones kept aside).
void FileQueue::releaseSettled()
{
    if (m_keepAll)
        return;
    std::lock_guard lock(m_mutex);
    while (m_next > 0 && !m_jobs.empty()) {
        std::unique_ptr<FileJob>& front = m_jobs.front();
        if (!front->settled.load(std::memory_order_acquire) || front.get() == m_current.load())
            break;
        if (front->pinned)
            m_pinned.push_back(std::move(front));
        m_jobs.pop_front();
        --m_next;
    }
}

// The workers wake the walk when they take files, or when they leave.
void FileQueue::waitForRoom(const std::atomic<bool>& cancel)
{
    releaseSettled();
    std::unique_lock lock(m_mutex);
    ++m_walkWaiting;
    m_roomCv.wait(lock, [&] { return m_jobs.size() - m_next <= m_limit || m_workersRunning == 0 || cancel.load(); });
    --m_walkWaiting;
}

void FileQueue::walkDone()
{
    {
        std::lock_guard lock(m_mutex);
        m_walkDone = true;
    }
    m_workCv.notify_all();
}

void FileQueue::startWorkers(size_t count)
{
    std::lock_guard lock(m_mutex);
    m_workerCount = std::max<size_t>(count, 1);
    m_workersRunning = static_cast<int>(count);
}

// Each worker takes a few files at a time, a fair share of what waits: one
// lock per file would have eight workers queue on it in a second pass, where
// most files take two stats.
void FileQueue::take(std::vector<FileJob*>& batch, const std::atomic<bool>& cancel)
{
    batch.clear();
    bool more = false;
    {
        std::unique_lock lock(m_mutex);
        m_workCv.wait(lock, [this] { return m_next < m_jobs.size() || m_walkDone; });
        if (cancel.load())
            return;
        const size_t waiting = m_jobs.size() - m_next;
        const size_t take = std::min<size_t>(waiting, std::clamp<size_t>(waiting / (2 * m_workerCount), 1, kMaxBatch));
        for (size_t i = 0; i < take; ++i)
            batch.push_back(m_jobs[m_next++].get());
        more = m_next < m_jobs.size();
        if (m_walkWaiting > 0 && m_jobs.size() - m_next <= m_limit)
            m_roomCv.notify_all();
    }
    if (more)
        m_workCv.notify_one(); // work left for another worker
}

void FileQueue::workerLeft()
{
    {
        std::lock_guard lock(m_mutex);
        --m_workersRunning;
    }
    m_workersDoneCv.notify_all();
    m_roomCv.notify_all(); // a cancelled run: the walk waits for room no more
}

void FileQueue::waitForWorkers(const std::function<void()>& tick)
{
    std::unique_lock lock(m_mutex);
    while (m_workersRunning > 0) {
        m_workersDoneCv.wait_for(lock, std::chrono::milliseconds(RunProgress::kIntervalMs));
        if (m_workersRunning > 0) {
            lock.unlock();
            tick();
            lock.lock();
        }
    }
}

QString FileQueue::current(const std::function<QString(const FileJob&)>& path)
{
    // The listers free settled files under this lock, never the current one.
    std::lock_guard lock(m_mutex);
    const FileJob* job = m_current.load();
    return job ? path(*job) : QString();
}

} // namespace fileop
