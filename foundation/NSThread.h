// A long-lived worker thread serving a queue of NSUI::NSThreadRequests. A subclass overrides
// process(), which runs on the worker; every finished request is handed back to the main thread,
// where `callback` runs with it (one run-on-main call per finished request, in order).
//
// Life: constructed idle (no thread) -> running (the first addRequest starts the worker) -> stopped
// (stop(), only through NSThreadSafeDestroy::safeDestroy) -> deleted by the worker itself once it
// has left its loop (or at once by stop() when it never started). Owners never delete it.
//
// Threads: addRequest, prioritizeRequest, cancelAllRequests, isIdle and stop may be called from any
// thread; process() runs on the worker with no lock held; dispatchResponse and the callback run on
// the main thread, without a lock, so a callback may queue the next request. Lock order wherever
// more than one is held: request lock, response lock, state lock. The worker registers with the
// framework's per-thread autorelease pools while it runs and drains its pool after every request.
//
// The destructor of a subclass runs on the worker: it must release no UI or GL object.
//
// Process exit: the worker is detached and ended by its owner (safeDestroy). In a process that
// exits without the owners having stopped their threads, NSRunableThread's exit handler calls
// holdAllForExit, which cancels what every worker has in hand and waits until none processes a
// request; held workers take no new ones and stay asleep, so an owner that stops its thread later
// (from a static destructor) still gets it deleted as usual.
//
// Reference counts: a queued request holds two references taken by addRequest (one for the queue,
// one for the trip back); the worker drops the queue's when it takes the request, the other is
// dropped after the callback ran, or when the request is discarded. A callback that needs the
// request later retains it.
#pragma once

#include "NSThreadRequest.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace NSUI
{

class NSThreadSafeDestroy;

class NSThread
{
public:
    using Callback = std::function<void(NSThreadRequest*)>;

    NSThread() = default;
    NSThread(const NSThread&) = delete;
    NSThread& operator=(const NSThread&) = delete;

    // Queues the request and starts the worker on first use. Returns false, leaving the request's
    // reference count unchanged, when the request is null or the thread is stopped. Subclasses may
    // override it to drop queued requests first and then call this one.
    virtual bool addRequest(NSThreadRequest* request);

    // Starts the worker when it is not running yet; true once it runs.
    bool start();
    // Moves the first queued request with this id to the front; nothing when none has it.
    void prioritizeRequest(uint32_t requestId);
    // Discards every queued request and every undelivered response and sets cancelled = 1 on the
    // request being processed, which still is delivered when process() returns.
    void cancelAllRequests();
    // Discards the requests still waiting in the queue only: the one being processed and the
    // finished ones waiting for delivery are kept (for a thread that keeps just the newest request).
    void cancelQueuedRequests();
    // Not stopping, nothing queued and nothing being processed.
    bool isIdle();

    // Process exit (the exit handler): every started worker discards its queue, sets cancelled = 1
    // on the request it is processing, and from now on takes no request (addRequest answers
    // false). Returns once no worker is processing a request and every stopping one is gone.
    static void holdAllForExit();

    // Main thread: delivers the oldest finished request to the callback. Does nothing once stopped
    // or when nothing is waiting (a cancel may have emptied the list after the call was queued).
    void dispatchResponse();

    // Runs on the main thread for every finished request, also a cancelled one; set by the owner.
    Callback callback;

protected:
    // Deleted only by the worker (or by stop() when never started).
    virtual ~NSThread();
    // The work; runs on the worker with no lock held. Does nothing in the base.
    virtual void process(NSThreadRequest* request);

private:
    friend class NSThreadSafeDestroy;

    // Discards queued requests and undelivered responses, removes queued dispatches, and makes the
    // worker leave after the request it is processing (whose callback is then not called).
    void stop();
    void run();
    void setOwnerLink(std::recursive_mutex* mutex, std::condition_variable_any* condition,
                      std::atomic<bool>* flag);
    // Drops every queued request and every undelivered response; call with all three locks held.
    void discardQueuedLocked();
    // Exit: holds this worker (see holdAllForExit); whether it still processes a request or ends.
    void holdForExit();
    bool busyForExit();

    std::recursive_mutex _requestLock;
    std::recursive_mutex _responseLock;
    std::recursive_mutex _stateLock;
    // Waits on the request lock with the predicate "a request is queued or the thread stops".
    std::condition_variable_any _wakeup;

    bool _started = false; // the worker was launched (guarded by the request lock)
    std::deque<NSThreadRequest*> _requests;
    std::deque<NSThreadRequest*> _responses;
    // The request being processed: set under the request lock, cleared under the response lock.
    NSThreadRequest* _current = nullptr;
    bool _stopped = false; // written with all three locks held, read under any of them
    bool _held = false;    // held for exit (same locking as _stopped)

    // Set by NSThreadSafeDestroy: the owner waiting for this object to be gone.
    std::recursive_mutex* _ownerMutex = nullptr;
    std::condition_variable_any* _ownerCondition = nullptr;
    std::atomic<bool>* _ownerFlag = nullptr;
};

} // namespace NSUI
