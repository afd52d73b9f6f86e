#include "isWorkerPool.h"

#include "NSRunableThread.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QV_CPU_RELAX() _mm_pause()
#else
#define QV_CPU_RELAX() std::this_thread::yield()
#endif

namespace isImageSDK {

isWorkerPool& isWorkerPool::shared()
{
    // The pool's threads are ended by its destructor at exit (stop flag, join). Loops run on the
    // series loaders' threads, so the exit handler that ends those is registered after the pool is
    // made: it runs before the pool goes.
    static isWorkerPool pool(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) - 1);
    static const bool guarded = (NSUI::NSRunableThread::armExitGuard(), true);
    (void)guarded;
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
        {
            std::unique_lock<std::mutex> lock(self.lock);
            self.sleeping = true;
            self.wake.wait(lock, [&] {
                return m_generation.load(std::memory_order_seq_cst) != seen || m_stopping.load();
            });
            self.sleeping = false;
        }
        if (m_stopping.load())
            return;
        seen = m_generation.load(std::memory_order_seq_cst);
        // Join only a loop that is still open; the caller closes it before waiting for the
        // workers inside, so a late worker never touches a finished loop's state.
        m_active.fetch_add(1, std::memory_order_seq_cst);
        if (m_open.load(std::memory_order_seq_cst) && m_generation.load(std::memory_order_seq_cst) == seen)
            runChunks();
        m_active.fetch_sub(1, std::memory_order_seq_cst);
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
    m_open.store(true, std::memory_order_seq_cst);
    m_generation.fetch_add(1, std::memory_order_seq_cst);
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
    // Every chunk is taken; wait only for the workers that took some.
    m_open.store(false, std::memory_order_seq_cst);
    for (int spins = 0; m_active.load(std::memory_order_seq_cst) != 0; ++spins) {
        if (spins < 4096)
            QV_CPU_RELAX();
        else
            std::this_thread::yield();
    }
    m_body = nullptr;
}

} // namespace isImageSDK
