#include "NSThread.h"

#include "NSRunableThread.h"
#include "cocos2d.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

namespace NSUI
{

using Lock = std::unique_lock<std::recursive_mutex>;

namespace
{

// The workers that run, for the exit handler. Lock order: this lock before a thread's own locks.
struct Live
{
    std::mutex lock;
    std::condition_variable changed;
    std::set<NSThread*> threads; // from the worker's first step until it deletes its object
    int deleting = 0;            // workers deleting their object (no longer listed)
    bool holding = false;        // the exit handler holds every worker
};

// Never destroyed: workers still use it while the process exits.
Live& live()
{
    static Live* all = new Live();
    return *all;
}

} // namespace

NSThread::~NSThread()
{
    if (_ownerFlag)
    {
        // After the owner's lock is released the owner may go away: nothing of it is touched later.
        std::lock_guard<std::recursive_mutex> guard(*_ownerMutex);
        _ownerFlag->store(true);
        _ownerCondition->notify_all();
    }
}

void NSThread::process(NSThreadRequest* /*request*/)
{
}

bool NSThread::start()
{
    Lock requestLock(_requestLock);
    if (_started)
        return true;
    _started = true;
    static std::once_flag armed;
    std::call_once(armed, [] { NSRunableThread::armExitGuard(); });
    // Detached: the worker deletes this object once stop() (through the owner's safeDestroy) made
    // it leave its loop; the exit handler holds it should the process end first.
    std::thread worker([this] { run(); });
    worker.detach();
    return true;
}

bool NSThread::addRequest(NSThreadRequest* request)
{
    if (!request)
        return false;
    Lock requestLock(_requestLock);
    if (_stopped || _held)
        return false;
    start();
    request->retain(); // for the trip back to the main thread
    request->retain(); // for the queue
    _requests.push_back(request);
    _wakeup.notify_one();
    return true;
}

void NSThread::prioritizeRequest(uint32_t requestId)
{
    Lock requestLock(_requestLock);
    auto it = std::find_if(_requests.begin(), _requests.end(),
                           [requestId](const NSThreadRequest* r) { return r->id == requestId; });
    if (it == _requests.end() || it == _requests.begin())
        return;
    NSThreadRequest* request = *it;
    _requests.erase(it);
    _requests.push_front(request);
}

void NSThread::cancelQueuedRequests()
{
    Lock requestLock(_requestLock);
    for (NSThreadRequest* request : _requests)
    {
        request->release();
        request->release();
    }
    _requests.clear();
}

void NSThread::discardQueuedLocked()
{
    cancelQueuedRequests();
    for (NSThreadRequest* request : _responses)
        request->release();
    _responses.clear();
}

void NSThread::cancelAllRequests()
{
    Lock requestLock(_requestLock);
    Lock responseLock(_responseLock);
    Lock stateLock(_stateLock);
    discardQueuedLocked();
    if (_current)
        _current->cancelled.store(1);
}

bool NSThread::isIdle()
{
    Lock requestLock(_requestLock);
    Lock responseLock(_responseLock);
    Lock stateLock(_stateLock);
    return !_stopped && _requests.empty() && _current == nullptr;
}

void NSThread::setOwnerLink(std::recursive_mutex* mutex, std::condition_variable_any* condition,
                            std::atomic<bool>* flag)
{
    Lock stateLock(_stateLock);
    _ownerMutex = mutex;
    _ownerCondition = condition;
    _ownerFlag = flag;
}

void NSThread::stop()
{
    bool neverStarted;
    {
        Lock requestLock(_requestLock);
        Lock responseLock(_responseLock);
        Lock stateLock(_stateLock);
        discardQueuedLocked();
        _stopped = true;
        // Dispatches queued for responses that were just discarded must not run.
        cocos2d::Director::getInstance()->getScheduler()->removeFunctionInCocosThread(this);
        neverStarted = !_started;
        // Notified under the request lock: once it is released the worker may delete this object.
        if (!neverStarted)
            _wakeup.notify_all();
    }
    if (neverStarted)
        delete this;
}

void NSThread::holdForExit()
{
    Lock requestLock(_requestLock);
    Lock responseLock(_responseLock);
    Lock stateLock(_stateLock);
    discardQueuedLocked();
    _held = true;
    if (_current)
        _current->cancelled.store(1);
}

bool NSThread::busyForExit()
{
    Lock requestLock(_requestLock);
    Lock responseLock(_responseLock);
    return _current != nullptr || _stopped;
}

void NSThread::holdAllForExit()
{
    Live& l = live();
    std::unique_lock<std::mutex> lock(l.lock);
    l.holding = true;
    for (NSThread* thread : l.threads)
        thread->holdForExit();
    l.changed.wait(lock, [&l] {
        return l.deleting == 0 && std::none_of(l.threads.begin(), l.threads.end(),
                                               [](NSThread* thread) { return thread->busyForExit(); });
    });
}

void NSThread::dispatchResponse()
{
    NSThreadRequest* request;
    {
        Lock responseLock(_responseLock);
        if (_stopped || _responses.empty())
            return;
        request = _responses.front();
        _responses.pop_front();
    }
    if (callback)
        callback(request);
    request->release();
}

void NSThread::run()
{
    Live& l = live();
    {
        std::lock_guard<std::mutex> lock(l.lock);
        l.threads.insert(this);
        if (l.holding)
            holdForExit();
    }
    auto* pools = cocos2d::PoolManager::getInstance();
    pools->addThread(std::this_thread::get_id());
    for (;;)
    {
        NSThreadRequest* request;
        {
            Lock requestLock(_requestLock);
            _wakeup.wait(requestLock, [this] { return _stopped || (!_held && !_requests.empty()); });
            if (_stopped)
                break;
            request = _requests.front();
            _requests.pop_front();
            request->release(); // the queue's reference; the trip-back reference remains
            _current = request;
        }
        process(request);
        pools->drainCurrentThread();

        bool discard;
        {
            // The stop flag is tested and the dispatch queued under the response lock, which stop()
            // holds while it sets the flag and removes queued dispatches: either the dispatch is
            // queued before stop() (and removed by it), or the request is discarded here.
            Lock responseLock(_responseLock);
            _current = nullptr;
            discard = _stopped;
            if (!discard)
            {
                _responses.push_back(request);
                cocos2d::Director::getInstance()->getScheduler()->performFunctionInCocosThread(
                    [this] { dispatchResponse(); }, this);
            }
        }
        if (discard)
            request->release();
        {
            // The exit handler may be waiting for this request to end.
            std::lock_guard<std::mutex> lock(l.lock);
            if (l.holding)
                l.changed.notify_all();
        }
    }
    {
        Lock requestLock(_requestLock);
        Lock responseLock(_responseLock);
        Lock stateLock(_stateLock);
        discardQueuedLocked();
    }
    pools->removeThread(std::this_thread::get_id());
    {
        std::lock_guard<std::mutex> lock(l.lock);
        l.threads.erase(this);
        ++l.deleting;
    }
    delete this;
    std::lock_guard<std::mutex> lock(l.lock);
    --l.deleting;
    l.changed.notify_all();
}

} // namespace NSUI
