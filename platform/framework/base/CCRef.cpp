#include "base/CCRef.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <typeinfo>
#include <unordered_set>

#include "base/CCAutoreleasePool.h"
#include "base/ccMacros.h"

namespace cocos2d {

namespace {

std::atomic<unsigned int> g_nextID{1};
std::atomic<bool> g_checkMemory{false};
std::atomic<unsigned int> g_leakID{0};

struct LiveRegistry {
    std::mutex mutex;
    std::unordered_set<Ref*> objects;
};

LiveRegistry& registry()
{
    // Never destroyed: objects may be released during static destruction.
    static LiveRegistry* r = new LiveRegistry;
    return *r;
}

unsigned int nextID()
{
    unsigned int id = g_nextID.fetch_add(1, std::memory_order_relaxed);
    while (id == 0) { // after a wrap-around
        id = g_nextID.fetch_add(1, std::memory_order_relaxed);
    }
    return id;
}

bool underDebugger()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 10, "TracerPid:") == 0) {
            return std::atoi(line.c_str() + 10) != 0;
        }
    }
    return false;
}

void reportLeaks()
{
    LiveRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (Ref* ref : r.objects) {
        log("[memory] leaked object: type %s, id %u, count %u", typeid(*ref).name(), ref->getRefID(),
            ref->getReferenceCount());
    }
}

void track(Ref* ref)
{
    if (g_checkMemory.load(std::memory_order_relaxed)) {
        LiveRegistry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.objects.insert(ref);
    }
    const unsigned int leak = g_leakID.load(std::memory_order_relaxed);
    if (leak != 0 && leak == ref->getRefID()) {
        log("[memory] object with id %u created", leak);
        if (underDebugger()) {
            std::raise(SIGTRAP);
        }
    }
}

} // namespace

Ref::Ref() : _referenceCount(1), _ID(nextID())
{
    track(this);
}

Ref::Ref(const Ref&) : Ref() {}

Ref::~Ref()
{
    if (g_checkMemory.load(std::memory_order_relaxed)) {
        LiveRegistry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.objects.erase(this);
    }
}

void Ref::retain()
{
    CCASSERT(_referenceCount.load(std::memory_order_relaxed) > 0, "retain of a released object");
    _referenceCount.fetch_add(1, std::memory_order_relaxed);
}

void Ref::release()
{
    const unsigned int before = _referenceCount.fetch_sub(1, std::memory_order_acq_rel);
    CCASSERT(before > 0, "release of a released object");
    if (before == 1) {
        delete this;
    }
}

Ref* Ref::autorelease()
{
    PoolManager::getInstance()->getCurrentPool()->addObject(this);
    return this;
}

unsigned int Ref::getReferenceCount() const
{
    return _referenceCount.load(std::memory_order_acquire);
}

void Ref::enableCheckMemory()
{
    bool expected = false;
    if (g_checkMemory.compare_exchange_strong(expected, true)) {
        std::atexit(reportLeaks);
    }
}

void Ref::setLeakID(unsigned int id)
{
    g_leakID.store(id, std::memory_order_relaxed);
}

size_t Ref::getLiveObjectCount()
{
    LiveRegistry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.objects.size();
}

} // namespace cocos2d
