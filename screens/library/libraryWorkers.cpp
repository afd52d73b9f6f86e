#include "libraryWorkers.h"

#include "NSRunableThread.h"

#include <condition_variable>
#include <mutex>

namespace {

std::mutex g_mutex;
std::condition_variable g_ended;
int g_running = 0;

} // namespace

void startLibraryWorker(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_running;
    }
    // A counted NSRunableThread run (it has its own autorelease pool while the task runs): the
    // shell's shutdown waits for it here and in NSRunableThread::waitForAll, a process that exits
    // without the shell in NSRunableThread's exit handler. The thread deletes itself.
    new NSUI::NSRunableThread(
        [task = std::move(task)](void*) {
            task();
            std::lock_guard<std::mutex> lock(g_mutex);
            if (--g_running == 0)
                g_ended.notify_all();
        },
        nullptr);
}

void waitForLibraryWorkers()
{
    std::unique_lock<std::mutex> lock(g_mutex);
    g_ended.wait(lock, [] { return g_running == 0; });
}

int runningLibraryWorkers()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_running;
}
