// Worker threads with request queues, one-off runs and safe destruction: order, cancelling,
// priorities, hand-over to the main thread and shutdown with work in flight. These run under
// ThreadSanitizer too.
#include "NSThread.h"
#include "NSRunableThread.h"
#include "NSThreadSafeDestroy.h"
#include "support/HeadlessFrames.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using NSUI::NSRunableThread;
using NSUI::NSThread;
using NSUI::NSThreadRequest;
using NSUI::NSThreadSafeDestroy;

namespace
{

// A gate that process() can wait at until the test opens it.
class Gate
{
public:
    void open()
    {
        std::lock_guard<std::mutex> guard(_m);
        _open = true;
        _cv.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(_m);
        _arrived = true;
        _cv.notify_all();
        _cv.wait(lock, [this] { return _open; });
    }
    // Waits until a thread is waiting at the gate.
    void waitForArrival()
    {
        std::unique_lock<std::mutex> lock(_m);
        _cv.wait(lock, [this] { return _arrived; });
    }

private:
    std::mutex _m;
    std::condition_variable _cv;
    bool _open = false;
    bool _arrived = false;
};

// Records what it processes; a request whose text is "block" waits at the gate.
class RecordingThread : public NSThread
{
public:
    struct Shared
    {
        std::mutex m;
        std::vector<std::string> processed;
        std::vector<std::string> events;
        std::thread::id destructorThread;
        std::atomic<bool> destroyed{false};
        uint32_t cancelSeenByBlocked = 0;
        Gate gate;
    };

    explicit RecordingThread(Shared* shared) : _shared(shared) {}

protected:
    ~RecordingThread() override
    {
        {
            std::lock_guard<std::mutex> guard(_shared->m);
            _shared->events.push_back("destroyed");
            _shared->destructorThread = std::this_thread::get_id();
        }
        _shared->destroyed = true;
    }

    void process(NSThreadRequest* request) override
    {
        if (request->text == "block")
        {
            _shared->gate.wait();
            std::lock_guard<std::mutex> guard(_shared->m);
            _shared->cancelSeenByBlocked = request->cancelled.load();
            _shared->events.push_back("process-end");
        }
        std::lock_guard<std::mutex> guard(_shared->m);
        _shared->processed.push_back(request->text);
    }

private:
    Shared* _shared;
};

NSThreadRequest* makeRequest(const std::string& text, uint32_t id)
{
    auto* r = new NSThreadRequest();
    r->text = text;
    r->id = id;
    return r;
}

class Owner : public NSThreadSafeDestroy
{
};

} // namespace

class WorkerThreads : public HeadlessFrames
{
protected:
    void TearDown() override
    {
        if (thread)
            owner.safeDestroy(thread);
        for (NSThreadRequest* r : requests)
            r->release();
        HeadlessFrames::TearDown();
    }

    NSThreadRequest* request(const std::string& text, uint32_t id = 0)
    {
        requests.push_back(makeRequest(text, id));
        return requests.back();
    }

    std::vector<std::string> processed()
    {
        std::lock_guard<std::mutex> guard(shared.m);
        return shared.processed;
    }

    RecordingThread::Shared shared;
    RecordingThread* thread = new RecordingThread(&shared);
    Owner owner;
    std::vector<NSThreadRequest*> requests; // the test's own references
    std::vector<std::string> delivered;
};

TEST_F(WorkerThreads, RequestsRunInOrderAndCompleteOnTheMainThread)
{
    const std::thread::id mainThread = std::this_thread::get_id();
    thread->callback = [&](NSThreadRequest* r)
    {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        delivered.push_back(r->text);
    };
    ASSERT_FALSE(thread->addRequest(nullptr));
    for (const char* t : {"one", "two", "three"})
        ASSERT_TRUE(thread->addRequest(request(t)));
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 3; }));
    EXPECT_EQ(processed(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(delivered, (std::vector<std::string>{"one", "two", "three"}));
    step(3);
    EXPECT_EQ(delivered.size(), 3u); // one delivery each
    for (NSThreadRequest* r : requests)
        EXPECT_EQ(r->getReferenceCount(), 1u);
    EXPECT_TRUE(thread->isIdle());

    // A callback may queue the next request.
    thread->callback = [&](NSThreadRequest* r)
    {
        delivered.push_back(r->text);
        if (r->text == "first")
            thread->addRequest(request("chained"));
    };
    thread->addRequest(request("first"));
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 5; }));
    EXPECT_EQ(delivered.back(), "chained");
}

TEST_F(WorkerThreads, PrioritizeMovesAQueuedRequestToTheFront)
{
    thread->callback = [&](NSThreadRequest* r) { delivered.push_back(r->text); };
    thread->prioritizeRequest(1); // before the thread runs: nothing
    ASSERT_TRUE(thread->addRequest(request("block", 100)));
    shared.gate.waitForArrival();
    thread->addRequest(request("A", 1));
    thread->addRequest(request("B", 2));
    thread->addRequest(request("C", 3));
    thread->addRequest(request("D", 4));
    thread->prioritizeRequest(3);   // C to the front
    thread->prioritizeRequest(99);  // no such id: nothing
    thread->prioritizeRequest(3);   // already first: nothing
    thread->prioritizeRequest(100); // the running request is not queued: nothing
    EXPECT_FALSE(thread->isIdle());
    shared.gate.open();
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 5; }));
    EXPECT_EQ(processed(), (std::vector<std::string>{"block", "C", "A", "B", "D"}));
    EXPECT_EQ(delivered, processed());
}

TEST_F(WorkerThreads, CancelAllWhileProcessing)
{
    thread->callback = [&](NSThreadRequest* r)
    { delivered.push_back(r->text + ":" + std::to_string(r->cancelled.load())); };
    ASSERT_TRUE(thread->addRequest(request("block")));
    shared.gate.waitForArrival();
    thread->addRequest(request("queued1"));
    thread->addRequest(request("queued2"));
    thread->cancelAllRequests();
    // The discarded requests are back to the test's own reference.
    EXPECT_EQ(requests[1]->getReferenceCount(), 1u);
    EXPECT_EQ(requests[2]->getReferenceCount(), 1u);
    shared.gate.open();
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 1; }));
    step(5);
    EXPECT_EQ(delivered, (std::vector<std::string>{"block:1"}));
    EXPECT_EQ(processed(), (std::vector<std::string>{"block"}));
    EXPECT_EQ(shared.cancelSeenByBlocked, 1u);
    // The thread keeps running.
    thread->addRequest(request("after"));
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 2; }));
    EXPECT_EQ(delivered.back(), "after:0");
}

// A thread that keeps only the newest request drops the waiting ones and nothing else.
TEST_F(WorkerThreads, CancelQueuedKeepsTheRunningRequest)
{
    thread->callback = [&](NSThreadRequest* r)
    { delivered.push_back(r->text + ":" + std::to_string(r->cancelled.load())); };
    ASSERT_TRUE(thread->addRequest(request("block")));
    shared.gate.waitForArrival();
    thread->addRequest(request("stale1"));
    thread->addRequest(request("stale2"));
    thread->cancelQueuedRequests();
    thread->addRequest(request("newest"));
    EXPECT_EQ(requests[1]->getReferenceCount(), 1u);
    EXPECT_EQ(requests[2]->getReferenceCount(), 1u);
    shared.gate.open();
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 2; }));
    EXPECT_EQ(delivered, (std::vector<std::string>{"block:0", "newest:0"}));
}

// A dispatch is queued per finished request; when a cancel empties the response list before the
// main loop runs that dispatch, it must find nothing to deliver instead of taking from an empty list.
TEST_F(WorkerThreads, CancelBeforeTheMainLoopRunsTheDispatch)
{
    thread->callback = [&](NSThreadRequest* r) { delivered.push_back(r->text); };
    ASSERT_TRUE(thread->addRequest(request("finished")));
    // Idle means the worker has handed the request over to the response list.
    for (int i = 0; i < 100000 && !thread->isIdle(); ++i)
        std::this_thread::yield();
    ASSERT_TRUE(thread->isIdle());
    thread->cancelAllRequests();
    EXPECT_EQ(requests[0]->getReferenceCount(), 1u);
    step(3);
    EXPECT_TRUE(delivered.empty());
    thread->addRequest(request("later"));
    ASSERT_TRUE(stepUntil([&] { return delivered.size() == 1; }));
    EXPECT_EQ(delivered, (std::vector<std::string>{"later"}));
}

TEST_F(WorkerThreads, SafeDestroyOfAThreadThatNeverStarted)
{
    owner.safeDestroy(thread);
    thread = nullptr;
    EXPECT_TRUE(shared.destroyed.load());
    EXPECT_TRUE(owner.threadGone.load());
    owner.safeDestroy(nullptr); // nothing to do
}

// Shutdown with work in flight: safeDestroy returns only after the running process() has returned
// and the worker has deleted the thread; queued work is dropped and no callback runs.
TEST_F(WorkerThreads, SafeDestroyWaitsForTheRunningRequest)
{
    thread->callback = [&](NSThreadRequest* r) { delivered.push_back(r->text); };
    ASSERT_TRUE(thread->addRequest(request("block")));
    shared.gate.waitForArrival();
    for (int i = 0; i < 20; ++i)
        thread->addRequest(request("queued" + std::to_string(i)));

    std::atomic<bool> returned{false};
    std::thread destroyer(
        [&]
        {
            owner.safeDestroy(thread);
            {
                std::lock_guard<std::mutex> guard(shared.m);
                shared.events.push_back("safeDestroy-returned");
            }
            returned = true;
        });
    while (owner.threadGone.load())
        std::this_thread::yield(); // safeDestroy has begun
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned.load());
    shared.gate.open();
    destroyer.join();
    thread = nullptr;

    EXPECT_EQ(shared.events, (std::vector<std::string>{"process-end", "destroyed", "safeDestroy-returned"}));
    EXPECT_NE(shared.destructorThread, std::this_thread::get_id());
    EXPECT_NE(shared.destructorThread, destroyer.get_id());
    step(5);
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(processed(), (std::vector<std::string>{"block"}));
    for (NSThreadRequest* r : requests)
        EXPECT_EQ(r->getReferenceCount(), 1u);
}

// Stopping right after a request finished but before its dispatch ran: the queued dispatch is
// removed, so nothing reaches the stopped (and deleted) thread.
TEST_F(WorkerThreads, SafeDestroyWithADeliveryStillQueued)
{
    thread->callback = [&](NSThreadRequest* r) { delivered.push_back(r->text); };
    ASSERT_TRUE(thread->addRequest(request("done")));
    for (int i = 0; i < 100000 && !thread->isIdle(); ++i)
        std::this_thread::yield();
    owner.safeDestroy(thread);
    thread = nullptr;
    step(3);
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(requests[0]->getReferenceCount(), 1u);
}

// Many quick tasks, each with a completion: every field is in place before the task can run, and
// every completion runs exactly once, on the main thread.
TEST_F(WorkerThreads, RunnableCompletionsRunExactlyOnce)
{
    constexpr int kRuns = 1000;
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<int> completions(kRuns, 0);
    std::atomic<int> tasks{0};
    int completed = 0;
    bool offMain = false;
    for (int i = 0; i < kRuns; ++i)
    {
        NSRunableThread::create([&tasks](void* arg) { tasks += *static_cast<int*>(arg) >= 0 ? 1 : 0; },
                                &completions[static_cast<size_t>(i)], nullptr,
                                [&, i]
                                {
                                    offMain |= std::this_thread::get_id() != mainThread;
                                    ++completions[static_cast<size_t>(i)];
                                    ++completed;
                                });
    }
    ASSERT_TRUE(stepUntil([&] { return completed == kRuns; }));
    step(3);
    EXPECT_EQ(tasks.load(), kRuns);
    EXPECT_FALSE(offMain);
    for (int c : completions)
        EXPECT_EQ(c, 1);
}

TEST_F(WorkerThreads, RunnableSetsTheOwnersDoneFlag)
{
    Gate gate;
    std::atomic<bool> taskReturned{false};
    bool completionRan = false;
    NSRunableThread::create(
        [&](void*)
        {
            gate.wait();
            taskReturned = true;
        },
        nullptr, &owner, [&] { completionRan = true; });
    EXPECT_FALSE(owner.threadGone.load());
    gate.open();
    while (!owner.threadGone.load())
        std::this_thread::yield();
    EXPECT_TRUE(taskReturned.load());
    // The completion was queued before the flag was set, and runs with the next frame.
    EXPECT_FALSE(completionRan);
    step();
    EXPECT_TRUE(completionRan);

    // An owner going away drops its completion that has not run yet.
    completionRan = false;
    NSRunableThread::create([](void*) {}, nullptr, &owner, [&] { completionRan = true; });
    while (!owner.threadGone.load())
        std::this_thread::yield();
    owner.removePendingCompletions();
    step(3);
    EXPECT_FALSE(completionRan);
}

// The shell's shutdown waits for every run: waitForAll returns only once each run's function has
// returned and the run has gone.
TEST_F(WorkerThreads, WaitForAllReturnsOnceEveryRunHasEnded)
{
    Gate gate;
    std::atomic<int> finished{0};
    for (int i = 0; i < 8; ++i)
        NSRunableThread::create(
            [&](void*)
            {
                gate.wait();
                ++finished;
            },
            nullptr, nullptr, nullptr);
    EXPECT_GE(NSRunableThread::getRunningCount(), 8);
    std::atomic<bool> returned{false};
    std::thread waiter(
        [&]
        {
            NSRunableThread::waitForAll();
            returned = true;
        });
    gate.waitForArrival();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned.load());
    gate.open();
    waiter.join();
    EXPECT_EQ(finished.load(), 8);
    EXPECT_EQ(NSRunableThread::getRunningCount(), 0);
    NSRunableThread::waitForAll();  // none left: returns at once
}
