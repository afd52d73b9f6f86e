// Mixin for owners of worker threads: lets an owner stop an NSUI::NSThread and wait until the
// thread object is really gone before the owner itself is destroyed, so that no process() call and
// no callback can reach a destroyed owner. It also serves as the done flag of an
// NSUI::NSRunableThread started with this owner.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace NSUI
{

class NSThread;

class NSThreadSafeDestroy
{
public:
    NSThreadSafeDestroy() = default;
    NSThreadSafeDestroy(const NSThreadSafeDestroy&) = delete;
    NSThreadSafeDestroy& operator=(const NSThreadSafeDestroy&) = delete;

    // Stops the thread and returns only after the thread object has been destroyed (at once when
    // it never started; otherwise after the request being processed, whose callback is not
    // called, has finished). A null thread returns at once. Must not be called from the thread's
    // own callback or worker.
    void safeDestroy(NSThread* thread);

    // Drops the completions of NSRunableThreads started with this owner that have not run yet on
    // the main thread (for an owner's clean-up).
    void removePendingCompletions();

    std::recursive_mutex threadMutex;
    std::condition_variable_any threadCondition;
    // True while no worker of this owner runs: cleared when one starts, set once it has gone (an
    // NSRunableThread sets it after its task returned and its completion was queued). Owners that
    // wait for a runnable poll it.
    std::atomic<bool> threadGone{true};
};

} // namespace NSUI
