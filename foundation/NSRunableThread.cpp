#include "NSRunableThread.h"

#include "NSThread.h"
#include "NSThreadSafeDestroy.h"

#include "cocos2d.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace NSUI
{

namespace
{

struct Runs
{
    std::mutex lock;
    std::condition_variable ended;
    int count = 0;
    std::vector<std::function<void()>> exitStops;
};

// Never destroyed: the exit handler and the last runs use it while the process exits.
Runs& runs()
{
    static Runs* all = new Runs();
    return *all;
}

void endWorkersAtExit()
{
    NSRunableThread::endAllForExit();
}

// The first worker of the process registers the exit handler: every static object made before it
// (DCMTK's dictionary, the framework's singletons) is destroyed only after the handler has run.
void armOnFirstWorker()
{
    static std::once_flag armed;
    std::call_once(armed, [] { NSRunableThread::armExitGuard(); });
}

void runEnded()
{
    Runs& r = runs();
    std::lock_guard<std::mutex> lock(r.lock);
    if (--r.count == 0)
        r.ended.notify_all();
}

} // namespace

int NSRunableThread::getRunningCount()
{
    Runs& r = runs();
    std::lock_guard<std::mutex> lock(r.lock);
    return r.count;
}

void NSRunableThread::waitForAll()
{
    Runs& r = runs();
    std::unique_lock<std::mutex> lock(r.lock);
    r.ended.wait(lock, [&r] { return r.count == 0; });
}

void NSRunableThread::addExitStop(std::function<void()> stop)
{
    {
        Runs& r = runs();
        std::lock_guard<std::mutex> lock(r.lock);
        r.exitStops.push_back(std::move(stop));
    }
    armOnFirstWorker();
}

void NSRunableThread::armExitGuard()
{
    // Handlers run newest first, each before the destructors of the statics made before it was
    // registered; a second registration only moves the handler ahead of the newer statics.
    std::atexit(endWorkersAtExit);
}

void NSRunableThread::endAllForExit()
{
    std::vector<std::function<void()>> stops;
    {
        Runs& r = runs();
        std::lock_guard<std::mutex> lock(r.lock);
        stops.swap(r.exitStops);
    }
    // Loops that never end by themselves (receive loops, the HTTP worker) first; then the runs,
    // while the request threads they may hand work to still serve; then those threads, and the
    // runs their last requests may have started.
    for (auto stop = stops.rbegin(); stop != stops.rend(); ++stop)
        (*stop)();
    waitForAll();
    NSThread::holdAllForExit();
    waitForAll();
}

NSRunableThread::NSRunableThread(Task fn, void* arg)
{
    start(std::move(fn), arg, nullptr);
}

NSRunableThread* NSRunableThread::create(Task fn, void* arg, NSThreadSafeDestroy* owner,
                                         Completion completion)
{
    auto* thread = new NSRunableThread();
    thread->_completion = std::move(completion);
    thread->_hasCompletion = true;
    thread->start(std::move(fn), arg, owner);
    return thread;
}

NSRunableThread::~NSRunableThread()
{
    // Whatever the callables captured goes before the owner learns that the thread is gone.
    _fn = nullptr;
    _completion = nullptr;
    if (_doneFlag)
        _doneFlag->store(true, std::memory_order_release);
}

bool NSRunableThread::start(Task fn, void* arg, NSThreadSafeDestroy* owner)
{
    if (_started)
        return false;
    _started = true;
    _fn = std::move(fn);
    _arg = arg;
    _completionTarget = owner ? static_cast<void*>(owner) : static_cast<void*>(this);
    if (owner)
    {
        _doneFlag = &owner->threadGone;
        _doneFlag->store(false, std::memory_order_release);
    }
    {
        Runs& r = runs();
        std::lock_guard<std::mutex> lock(r.lock);
        ++r.count;
    }
    armOnFirstWorker();
    // Launched last: the new thread sees every field stored above. Detached: the thread deletes
    // itself when fn has returned; the shell's shutdown (waitForAll) or the exit handler waits for
    // it to end.
    std::thread worker([this] { run(); });
    worker.detach();
    return true;
}

void NSRunableThread::run()
{
    const std::thread::id self = std::this_thread::get_id();
    auto* pools = cocos2d::PoolManager::getInstance();
    pools->addThread(self);
    if (_fn)
        _fn(_arg);
    pools->removeThread(self);
    if (_hasCompletion && _completion)
        cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread(_completion,
                                                                                       _completionTarget);
    delete this;
    runEnded();  // touches no member: the object is gone
}

} // namespace NSUI
