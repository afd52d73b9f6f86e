// The one HTTP client of the process.
//
// A caller fills an NSHttpRequest and hands it to send(). One worker thread performs the requests one
// after the other, in the order sent, with libcurl's easy interface (a fresh handle per transfer), and
// hands each answer back to the main thread through the scheduler's run-on-main queue, where the
// request's callback runs. Owners that go away first drop what is still pending for them with
// cancelRequestsForTarget().
//
// Answer bodies are bounded (NSHttpRequest::maxResponseBytes): a longer one fails its request, so a
// hostile or broken server cannot exhaust the memory.
//
// Threads: send, cancelRequestsForTarget, dispatchResponse, creation and destruction run on the main
// thread; the transfers and everything they call run on the worker. The worker never autoreleases.
//
// References: send() takes one extra reference to the request and the queue takes one; the worker drops
// the queue's when it takes the request; the response holds one while it lives; the extra one is dropped
// after the callback, or when the request or its answer is dropped without one. So a queued request stays
// alive whatever its creator does with its own reference.
//
// Exit: the destructor lets the worker finish what is queued, but a transfer still running once the exit
// grace time has passed is aborted and later ones fail at once, so quitting never waits for the 60-second
// transfer limit of several dead requests. Answers not yet dispatched are dropped without callbacks.
// The client owns its worker and joins it in the destructor; the shell's exit purge destroys the
// client, and so does NSRunableThread's exit handler in a process that exits without the shell.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace cocos2d {
class Ref;
class Scheduler;
}

namespace NSUI {

class NSHttpRequest;
class NSHttpResponse;

class NSHttpClient {
public:
    // Transfer limits in milliseconds: connection set-up, the whole transfer (downloads included), and
    // the time that queued transfers are given in all once the client is being destroyed.
    struct Timeouts {
        long connectMs = 5000;
        long transferMs = 60000;
        long exitGraceMs = 2000;
    };

    // The client, created on the first call.
    static NSHttpClient* getInstance();
    // Whether the client exists, without creating it: teardown code must not start a new client.
    static bool hasInstance();
    // Deletes the client if it exists (the exit purge).
    static void destroyInstance();

    virtual ~NSHttpClient();
    NSHttpClient(const NSHttpClient&) = delete;
    NSHttpClient& operator=(const NSHttpClient&) = delete;

    // Queues the request (starting the worker on first use). A null request only starts the worker.
    void send(NSHttpRequest* request);
    // Starts the worker unless it runs already; true when it runs.
    bool startWorker();
    // Drops every queued request and undelivered answer of the target, logging "clear" for each dropped
    // request; a transfer of the target that is running completes without calling back. A null target
    // cancels nothing.
    void cancelRequestsForTarget(cocos2d::Ref* target);
    // Delivers the oldest undelivered answer; queued on the main thread by the worker, one per answer.
    void dispatchResponse();

    // Changes the limits for the transfers that start afterwards (tests use short ones).
    void setTimeouts(const Timeouts& timeouts);
    Timeouts getTimeouts() const;

    // True once the client is being destroyed and the exit grace time has passed (read by the worker).
    bool exitGraceExpired() const;

private:
    NSHttpClient();

    void networkThread();
    void processRequest(NSHttpResponse* response, char* errorBuffer);
    void releaseQueuesOnExit();

    std::atomic<long> connectTimeoutMs;
    std::atomic<long> transferTimeoutMs;
    std::atomic<long> exitGraceMs;

    NSHttpRequest* sentinel;                    // the worker leaves when it takes this from the queue
    NSHttpRequest* currentRequest = nullptr;    // the request being performed
    std::mutex requestLock;                     // request queue, setting currentRequest
    std::mutex responseLock;                    // response queue, the keep/drop decision, clearing currentRequest
    std::condition_variable wakeUp;             // used with requestLock: the queue is not empty
    std::deque<NSHttpRequest*> requestQueue;    // each entry holds the queue's reference
    std::deque<NSHttpResponse*> responseQueue;  // each entry holds the response's only reference

    bool workerStarted = false;                 // main thread only
    std::thread worker;                         // joined by the destructor
    std::atomic<bool> exiting{false};
    std::atomic<long long> exitDeadlineNs{0};   // steady clock
    cocos2d::Scheduler* scheduler = nullptr;    // fetched (and retained) on the main thread when the worker starts
};

}  // namespace NSUI
