#include "base/CCAutoreleasePool.h"

#include <algorithm>
#include <atomic>

#include "base/ccMacros.h"

namespace cocos2d {

namespace {

std::atomic<PoolManager*> g_poolManager{nullptr};
std::mutex g_poolManagerCreate;

std::thread::id& mainThreadStorage()
{
    static std::thread::id id;
    return id;
}
std::mutex& mainThreadMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// AutoreleasePool

AutoreleasePool::AutoreleasePool() : AutoreleasePool(std::string()) {}

AutoreleasePool::AutoreleasePool(const std::string& name) : _name(name), _onStack(true)
{
    _managedObjectArray.reserve(150);
    PoolManager::getInstance()->push(this);
}

AutoreleasePool::AutoreleasePool(Managed, const std::string& name) : _name(name), _onStack(false)
{
    _managedObjectArray.reserve(150);
}

AutoreleasePool::~AutoreleasePool()
{
    // Leave the stack first, so that objects autoreleased while this pool drains go to the
    // enclosing pool instead of being lost.
    if (_onStack) {
        PoolManager::getInstance()->pop(this);
    }
    clear();
}

void AutoreleasePool::addObject(Ref* object)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _managedObjectArray.push_back(object);
}

void AutoreleasePool::clear()
{
    std::vector<Ref*> objects;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        objects.swap(_managedObjectArray);
    }
    for (Ref* obj : objects) {
        obj->release();
    }
}

bool AutoreleasePool::contains(Ref* object) const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return std::find(_managedObjectArray.begin(), _managedObjectArray.end(), object) !=
           _managedObjectArray.end();
}

size_t AutoreleasePool::getObjectCount() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _managedObjectArray.size();
}

// ---------------------------------------------------------------------------------------------
// PoolManager

PoolManager* PoolManager::getInstance()
{
    PoolManager* pm = g_poolManager.load(std::memory_order_acquire);
    if (pm) {
        return pm;
    }
    std::lock_guard<std::mutex> lock(g_poolManagerCreate);
    pm = g_poolManager.load(std::memory_order_acquire);
    if (!pm) {
        pm = new PoolManager();
        g_poolManager.store(pm, std::memory_order_release);
    }
    return pm;
}

void PoolManager::destroyInstance()
{
    std::lock_guard<std::mutex> lock(g_poolManagerCreate);
    PoolManager* pm = g_poolManager.exchange(nullptr);
    delete pm;
}

PoolManager::PoolManager()
    : _mainPool(new AutoreleasePool(AutoreleasePool::Managed{}, "cocos2d autorelease pool")),
      _deferredPool(new AutoreleasePool(AutoreleasePool::Managed{}, "deferred autorelease pool"))
{
    {
        std::lock_guard<std::mutex> lock(mainThreadMutex());
        if (mainThreadStorage() == std::thread::id()) {
            mainThreadStorage() = std::this_thread::get_id();
        }
    }
}

PoolManager::~PoolManager()
{
    // Worker pools first, then the deferred and main pools; objects they free may autorelease
    // into the main pool, which is drained last.
    std::vector<AutoreleasePool*> own;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        for (auto& entry : _threads) {
            if (entry.second.own) {
                own.push_back(entry.second.own);
            }
        }
        _threads.clear();
    }
    for (AutoreleasePool* p : own) {
        p->clear();
        delete p;
    }
    _deferredPool->clear();
    _mainPool->clear();
    _deferredPool->clear();
    delete _deferredPool;
    delete _mainPool;
}

void PoolManager::setMainThread(std::thread::id id)
{
    std::lock_guard<std::mutex> lock(mainThreadMutex());
    mainThreadStorage() = id;
}

bool PoolManager::isMainThread()
{
    std::thread::id main;
    {
        std::lock_guard<std::mutex> lock(mainThreadMutex());
        main = mainThreadStorage();
    }
    return main == std::this_thread::get_id() || main == std::thread::id();
}

PoolManager::ThreadPools* PoolManager::findLocked(std::thread::id id)
{
    auto it = _threads.find(id);
    return it == _threads.end() ? nullptr : &it->second;
}

AutoreleasePool* PoolManager::getCurrentPool()
{
    const std::thread::id self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (ThreadPools* t = findLocked(self)) {
            if (!t->stack.empty()) {
                return t->stack.back();
            }
            if (t->own) {
                return t->own;
            }
        }
    }
    if (isMainThread()) {
        return _mainPool;
    }
    thread_local bool warned = false;
    if (!warned) {
        warned = true;
        log("autorelease on an unregistered thread: released on the main thread after the next frame");
    }
    return _deferredPool;
}

bool PoolManager::isObjectInPools(Ref* object) const
{
    if (_mainPool->contains(object) || _deferredPool->contains(object)) {
        return true;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    for (const auto& entry : _threads) {
        if (entry.second.own && entry.second.own->contains(object)) {
            return true;
        }
        for (AutoreleasePool* p : entry.second.stack) {
            if (p->contains(object)) {
                return true;
            }
        }
    }
    return false;
}

void PoolManager::addThread(std::thread::id id)
{
    std::lock_guard<std::mutex> lock(_mutex);
    ThreadPools& t = _threads[id];
    if (!t.own) {
        t.own = new AutoreleasePool(AutoreleasePool::Managed{}, "thread autorelease pool");
    }
}

void PoolManager::removeThread(std::thread::id id)
{
    AutoreleasePool* own = nullptr;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        auto it = _threads.find(id);
        if (it == _threads.end() || !it->second.own) {
            return;
        }
        own = it->second.own;
        it->second.own = nullptr;
        if (it->second.stack.empty()) {
            _threads.erase(it);
        }
    }
    // Released outside the lock: destructors may autorelease or release other objects.
    own->clear();
    delete own;
}

void PoolManager::drainCurrentThread()
{
    AutoreleasePool* pool = getCurrentPool();
    if (pool == _deferredPool) {
        return; // an unregistered worker: its objects belong to the main thread now
    }
    pool->clear();
    if (isMainThread()) {
        _deferredPool->clear();
    }
}

void PoolManager::push(AutoreleasePool* pool)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _threads[std::this_thread::get_id()].stack.push_back(pool);
}

void PoolManager::pop(AutoreleasePool* pool)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto it = _threads.find(std::this_thread::get_id());
    if (it == _threads.end()) {
        return;
    }
    auto& stack = it->second.stack;
    auto pos = std::find(stack.begin(), stack.end(), pool);
    if (pos != stack.end()) {
        stack.erase(pos);
    }
    if (stack.empty() && !it->second.own) {
        _threads.erase(it);
    }
}

} // namespace cocos2d

