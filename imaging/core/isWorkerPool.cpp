#include "isWorkerPool.h"

#include <algorithm>

namespace isImageSDK {

isWorkerPool& isWorkerPool::shared()
{
    static isWorkerPool pool(std::max(1u, std::thread::hardware_concurrency()) - 1);
    return pool;
}

isWorkerPool::isWorkerPool(int workerCount)
{
    for (int i = 0; i < workerCount; ++i)
        m_workers.emplace_back([this] { workerMain(); });
}

isWorkerPool::~isWorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& t : m_workers)
        t.join();
}

void isWorkerPool::runChunks()
{
    for (;;) {
        const int begin = m_next.fetch_add(m_grain, std::memory_order_relaxed);
        if (begin >= m_count)
            return;
        (*m_body)(begin, std::min(m_count, begin + m_grain));
    }
}

void isWorkerPool::workerMain()
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_stateLock);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
        if (m_stopping)
            return;
        seen = m_generation;
        lock.unlock();
        runChunks();
        lock.lock();
        if (--m_busyWorkers == 0)
            m_done.notify_one();
    }
}

void isWorkerPool::parallelFor(int count, int grain, const Body& body)
{
    if (count <= 0)
        return;
    grain = std::max(1, grain);
    std::unique_lock<std::mutex> job(m_jobLock, std::try_to_lock);
    if (count <= grain || m_workers.empty() || !job.owns_lock()) {
        for (int begin = 0; begin < count; begin += grain)
            body(begin, std::min(count, begin + grain));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_body = &body;
        m_count = count;
        m_grain = grain;
        m_next.store(0, std::memory_order_relaxed);
        m_busyWorkers = static_cast<int>(m_workers.size());
        ++m_generation;
    }
    m_wake.notify_all();
    runChunks();
    std::unique_lock<std::mutex> lock(m_stateLock);
    m_done.wait(lock, [&] { return m_busyWorkers == 0; });
    m_body = nullptr;
}

} // namespace isImageSDK
