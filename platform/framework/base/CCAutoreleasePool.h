// Autorelease pools, one set per thread.
//
// Which pool autorelease() uses depends on the calling thread:
// - the main thread (the thread that created the Director): its current pool, drained at the
//   end of every director frame;
// - a worker registered with PoolManager::addThread: its own pool, drained by removeThread (or
//   by drainCurrentThread after each request of a long-lived worker);
// - any other thread: a mutex-protected deferred pool whose objects are released on the main
//   thread at the end of the next frame (logged once per thread). Touching the main pool from a
//   worker would corrupt it.
// A pool constructed on the stack becomes the calling thread's current pool until it is
// destroyed (it is drained then).
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/CCRef.h"

namespace cocos2d {

class AutoreleasePool {
public:
    // Becomes the calling thread's current pool.
    AutoreleasePool();
    explicit AutoreleasePool(const std::string& name);
    ~AutoreleasePool();

    AutoreleasePool(const AutoreleasePool&) = delete;
    AutoreleasePool& operator=(const AutoreleasePool&) = delete;

    void addObject(Ref* object);
    // Releases every object once. Objects autoreleased while it runs stay for the next clear.
    void clear();
    bool contains(Ref* object) const;
    size_t getObjectCount() const;
    const std::string& getName() const { return _name; }

private:
    friend class PoolManager;
    struct Managed {};
    AutoreleasePool(Managed, const std::string& name);

    mutable std::mutex _mutex;
    std::vector<Ref*> _managedObjectArray;
    std::string _name;
    bool _onStack;
};

class PoolManager {
public:
    static PoolManager* getInstance();
    // [hook] Drains every pool and forgets registered workers; the main pool is recreated.
    static void destroyInstance();

    // The calling thread's current pool (never null; see the header comment).
    AutoreleasePool* getCurrentPool();
    bool isObjectInPools(Ref* object) const;

    // Gives the thread its own pool. Any thread may register any thread id; registering twice
    // does nothing.
    void addThread(std::thread::id id);
    // Drains and forgets the thread's pool. An id that was never added is ignored.
    void removeThread(std::thread::id id);
    // [hook] Drains the calling thread's current pool; on the main thread also the deferred pool.
    void drainCurrentThread();

    // [hook] The main thread is the one that created the Director (or, before that, the one that
    // first used the pools).
    static void setMainThread(std::thread::id id);
    static bool isMainThread();

private:
    PoolManager();
    ~PoolManager();

    friend class AutoreleasePool;
    void push(AutoreleasePool* pool);
    void pop(AutoreleasePool* pool);

    struct ThreadPools {
        std::vector<AutoreleasePool*> stack; // back() is current
        AutoreleasePool* own = nullptr;       // created by addThread (or the main pool)
    };
    ThreadPools* findLocked(std::thread::id id);

    mutable std::mutex _mutex;
    std::unordered_map<std::thread::id, ThreadPools> _threads;
    AutoreleasePool* _mainPool;
    AutoreleasePool* _deferredPool;
};

} // namespace cocos2d
