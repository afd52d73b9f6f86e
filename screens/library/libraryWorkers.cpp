#include "libraryWorkers.h"

#include "base/CCAutoreleasePool.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
};

std::mutex g_mutex;
std::list<Worker> g_workers;

// Joins the workers that have finished; the caller holds g_mutex.
void joinFinished()
{
    for (auto it = g_workers.begin(); it != g_workers.end();) {
        if (it->finished->load()) {
            it->thread.join();
            it = g_workers.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

void startLibraryWorker(std::function<void()> task)
{
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(g_mutex);
    joinFinished();
    Worker worker;
    worker.finished = finished;
    worker.thread = std::thread([task = std::move(task), finished]() {
        // Payloads made on the worker are autoreleased into a pool of its own.
        auto* pools = cocos2d::PoolManager::getInstance();
        pools->addThread(std::this_thread::get_id());
        task();
        pools->removeThread(std::this_thread::get_id());
        finished->store(true);
    });
    g_workers.push_back(std::move(worker));
}

void waitForLibraryWorkers()
{
    for (;;) {
        Worker worker;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_workers.empty())
                return;
            worker = std::move(g_workers.front());
            g_workers.pop_front();
        }
        worker.thread.join();
    }
}

int runningLibraryWorkers()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    int running = 0;
    for (const Worker& worker : g_workers)
        running += worker.finished->load() ? 0 : 1;
    return running;
}
