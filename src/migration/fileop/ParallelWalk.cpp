// The parallel walk: listers, an active count for the end, condition variables for the waits.
#include "ParallelWalk.h"

#include "RunProgress.h"

#include <chrono>
#include <thread>
#include <vector>

namespace fileop {

void ParallelWalk::run(size_t listers, WalkVisitor& visitor, const std::function<void()>& tick)
{
    std::vector<std::thread> threads;
    threads.reserve(listers);
    {
        std::lock_guard lock(m_mutex);
        m_running = static_cast<int>(listers);
    }
    for (size_t i = 0; i < listers; ++i)
        threads.emplace_back([this, &visitor] { listLoop(visitor); });
    {
        std::unique_lock lock(m_mutex);
        while (m_running > 0) {
            m_doneCv.wait_for(lock, std::chrono::milliseconds(RunProgress::kIntervalMs));
            // A cancel sets a flag and signals nothing: idle listers learn of it here.
            if (m_cancel.load())
                m_folderCv.notify_all();
            lock.unlock();
            tick();
            lock.lock();
        }
    }
    for (std::thread& t : threads)
        t.join();
}

void ParallelWalk::found()
{
    // Under the lock, so a lister between its check and its wait cannot miss it.
    std::lock_guard lock(m_mutex);
    m_folderCv.notify_one();
}

// One lister: takes the next folder not yet listed, in the order found, until
// none is left and no other lister can add more.
void ParallelWalk::listLoop(WalkVisitor& visitor)
{
    for (;;) {
        DirNode* folder = nullptr;
        size_t index = 0;
        {
            std::unique_lock lock(m_mutex);
            while (m_next == m_folders.size() && m_active > 0 && !m_cancel.load())
                m_folderCv.wait(lock);
            if (m_next == m_folders.size() || m_cancel.load())
                break;
            index = m_next++;
            folder = m_folders.at(index);
            ++m_active;
        }
        visitor.visit(*folder, index);
        {
            std::lock_guard lock(m_mutex);
            --m_active;
        }
        m_folderCv.notify_all();
    }
    {
        std::lock_guard lock(m_mutex);
        --m_running;
    }
    m_folderCv.notify_all();
    m_doneCv.notify_all();
}

} // namespace fileop
