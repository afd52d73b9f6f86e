#include "libraryWorkers.h"

#include "NSRunableThread.h"

#include <atomic>

namespace {

std::atomic<int> g_running{0};

} // namespace

void startLibraryWorker(std::function<void()> task)
{
    ++g_running;
    // A counted NSRunableThread run (it has its own autorelease pool while the task runs): the
    // shell's shutdown waits for it in NSRunableThread::waitForAll, a process that exits without
    // the shell in NSRunableThread's exit handler. The thread deletes itself.
    new NSUI::NSRunableThread(
        [task = std::move(task)](void*) {
            task();
            --g_running;
        },
        nullptr);
}

int runningLibraryWorkers() { return g_running; }
