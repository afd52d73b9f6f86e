// vrWorkerCrew: the helper threads of one volume-rendering engine, started on first use and
// kept for the engine's life, so that a frame neither creates nor destroys a thread.
//
// run(count, job) calls job(i) for i = 1..count-1 on the helpers and job(0) on the calling
// thread, and returns when every call has returned. One run at a time (the engine renders on
// one thread at a time).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace isImageSDK {

class vrWorkerCrew {
public:
    explicit vrWorkerCrew(int helpers) : m_helperCount(helpers) {}
    ~vrWorkerCrew();
    vrWorkerCrew(const vrWorkerCrew&) = delete;
    vrWorkerCrew& operator=(const vrWorkerCrew&) = delete;

    void run(int count, const std::function<void(int)>& job);

private:
    void helperMain(int slot);

    int m_helperCount;
    std::vector<std::thread> m_threads;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    uint64_t m_generation = 0;
    int m_active = 0;        // helpers that take part in the current run
    int m_remaining = 0;     // helpers of the current run still working
    bool m_stopping = false;
    const std::function<void(int)>* m_job = nullptr;
};

} // namespace isImageSDK
