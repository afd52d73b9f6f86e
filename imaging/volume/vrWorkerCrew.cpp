#include "vrWorkerCrew.h"

#include <algorithm>

namespace isImageSDK {

vrWorkerCrew::~vrWorkerCrew()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& t : m_threads)
        t.join();
}

void vrWorkerCrew::run(int count, const std::function<void(int)>& job)
{
    const int helpers = std::clamp(count - 1, 0, m_helperCount);
    if (helpers > 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        while (static_cast<int>(m_threads.size()) < m_helperCount) {
            const int slot = static_cast<int>(m_threads.size());
            // Ended by the crew's destructor (stop flag, join), which runs with its ray caster's.
            m_threads.emplace_back([this, slot] { helperMain(slot); });
        }
        m_job = &job;
        m_active = helpers;
        m_remaining = helpers;
        ++m_generation;
    }
    if (helpers > 0)
        m_wake.notify_all();
    job(0);
    if (helpers > 0) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_done.wait(lock, [this] { return m_remaining == 0; });
        m_job = nullptr;
    }
}

void vrWorkerCrew::helperMain(int slot)
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
        if (m_stopping)
            return;
        seen = m_generation;
        if (slot >= m_active)
            continue;
        const std::function<void(int)>* job = m_job;
        lock.unlock();
        (*job)(slot + 1);
        lock.lock();
        if (--m_remaining == 0)
            m_done.notify_all();
    }
}

} // namespace isImageSDK
