#include "NSRunableThread.h"

#include "NSThreadSafeDestroy.h"

#include "cocos2d.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace NSUI
{

namespace
{

struct Runs
{
    std::mutex lock;
    std::condition_variable ended;
    int count = 0;
};

// Never destroyed: a detached run may still end while the process exits.
Runs& runs()
{
    static Runs* all = new Runs();
    return *all;
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
    // Launched last: the new thread sees every field stored above.
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
