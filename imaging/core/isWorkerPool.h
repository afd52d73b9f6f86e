// A process-wide pool of worker threads for the data-parallel loops of the slicing filters.
//
// `parallelFor` splits an index range into chunks that the pool's workers and the calling
// thread take one at a time, and returns when every chunk is done. It is a plain computing
// helper: the body must not touch UI or framework objects. Only one loop runs on the pool
// at a time; a loop started while another runs (from another thread, or from inside a body)
// runs on its calling thread alone, so callers never wait on each other and never deadlock.
//
// A loop does not wait for workers that have not woken up yet: it ends when its chunks are
// done, and a worker that arrives after that finds the loop closed and goes back to sleep.
// So a loaded machine, where a woken thread may not run for a while, never stalls a loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace isImageSDK {

class isWorkerPool {
public:
    using Body = std::function<void(int begin, int end)>;

    // The shared pool: hardware_concurrency - 1 workers (the caller is the last one),
    // started on first use and joined at process exit by its destructor, after the exit handler
    // of NSUI::NSRunableThread has ended the threads that run loops on it.
    static isWorkerPool& shared();

    explicit isWorkerPool(int workerCount);
    ~isWorkerPool();
    isWorkerPool(const isWorkerPool&) = delete;
    isWorkerPool& operator=(const isWorkerPool&) = delete;

    // Calls body(begin, end) for consecutive chunks of at most `grain` indices covering
    // [0, count). Runs inline when count fits in one chunk or the pool is busy.
    void parallelFor(int count, int grain, const Body& body);

    // Threads that take part in a loop: the workers plus the caller.
    int concurrency() const { return static_cast<int>(m_workers.size()) + 1; }

private:
    struct Worker {
        std::thread thread;
        std::mutex lock;
        std::condition_variable wake;
        bool sleeping = false;
    };

    void workerMain(Worker& self);
    void runChunks();

    std::vector<std::unique_ptr<Worker>> m_workers;
    std::mutex m_jobLock;                     // held by the thread whose loop owns the pool
    std::atomic<uint64_t> m_generation{0};    // bumped for every loop handed to the workers
    std::atomic<int> m_active{0};             // workers that joined the current loop and are in it
    std::atomic<bool> m_open{false};          // the current loop still takes workers
    std::atomic<bool> m_stopping{false};

    // The current loop; written before the generation is bumped, read by workers after.
    const Body* m_body = nullptr;
    int m_count = 0;
    int m_grain = 1;
    std::atomic<int> m_next{0};
};

} // namespace isImageSDK
