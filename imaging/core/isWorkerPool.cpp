#include "isWorkerPool.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QV_CPU_RELAX() _mm_pause()
#else
#define QV_CPU_RELAX() std::this_thread::yield()
#endif

namespace isImageSDK {

namespace {
// How long an idle worker keeps watching for the next loop before it sleeps.
constexpr auto kSpinTime = std::chrono::microseconds(0);
}

isWorkerPool& isWorkerPool::shared()
{
    static isWorkerPool pool(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) - 1);
    return pool;
}

isWorkerPool::isWorkerPool(int workerCount)
{
    for (int i = 0; i < workerCount; ++i)
        m_workers.push_back(std::make_unique<Worker>());
    for (auto& w : m_workers) {
        Worker* self = w.get();
        self->thread = std::thread([this, self] { workerMain(*self); });
    }
}

isWorkerPool::~isWorkerPool()
{
    m_stopping.store(true);
    for (auto& w : m_workers) {
        {
            std::lock_guard<std::mutex> lock(w->lock);
        }
        w->wake.notify_one();
    }
    for (auto& w : m_workers)
        w->thread.join();
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

void isWorkerPool::workerMain(Worker& self)
{
    uint64_t seen = 0;
    for (;;) {
        // Watch for a new loop for a while, then sleep until one is handed out.
        const auto until = std::chrono::steady_clock::now() + kSpinTime;
        int spins = 0;
        while (m_generation.load(std::memory_order_acquire) == seen && !m_stopping.load(std::memory_order_relaxed)) {
            QV_CPU_RELAX();
            if (++spins % 64 == 0 && std::chrono::steady_clock::now() > until) {
                std::unique_lock<std::mutex> lock(self.lock);
                self.sleeping = true;
                self.wake.wait(lock, [&] {
                    return m_generation.load(std::memory_order_acquire) != seen || m_stopping.load();
                });
                self.sleeping = false;
                break;
            }
        }
        if (m_stopping.load())
            return;
        seen = m_generation.load(std::memory_order_acquire);
        runChunks();
        m_busyWorkers.fetch_sub(1, std::memory_order_acq_rel);
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
    m_body = &body;
    m_count = count;
    m_grain = grain;
    m_next.store(0, std::memory_order_relaxed);
    m_busyWorkers.store(static_cast<int>(m_workers.size()), std::memory_order_relaxed);
    m_generation.fetch_add(1, std::memory_order_acq_rel);
    for (auto& w : m_workers) {
        bool asleep;
        {
            std::lock_guard<std::mutex> lock(w->lock);
            asleep = w->sleeping;
        }
        if (asleep)
            w->wake.notify_one();
    }
    runChunks();
    // Every worker checks in before the loop's state may be reused.
    while (m_busyWorkers.load(std::memory_order_acquire) != 0)
        QV_CPU_RELAX();
    m_body = nullptr;
}

} // namespace isImageSDK
