// Ref: the reference-counted root of every framework object.
//
// A new object has count 1. release() to 0 deletes it at once, on the releasing thread.
// The count is atomic: workers retain and release objects the main thread also holds.
// autorelease() hands one reference to the calling thread's current autorelease pool
// (see CCAutoreleasePool.h for which pool that is).
#pragma once

#include <atomic>

#include "platform/CCPlatformMacros.h"

namespace cocos2d {

class Ref;

// An object that can make a copy of itself. clone() returns an autoreleased copy.
class Clonable {
public:
    virtual Clonable* clone() const = 0;
    virtual ~Clonable() = default;
};

class Ref {
public:
    void retain();
    void release();
    Ref* autorelease();
    unsigned int getReferenceCount() const;

    // A process-wide id: unique, never 0, assigned at construction and never reused.
    unsigned int getRefID() const { return _ID; }

    // Pointer identity.
    static bool equal(const Ref* a, const Ref* b) { return a == b; }

    // Keeps a registry of live objects from now on; at exit each object still alive is logged with
    // its type and id.
    static void enableCheckMemory();
    // Logs (and stops under a debugger) when the object with this id is created; 0 turns it off.
    static void setLeakID(unsigned int id);

    // [hook] Number of live objects in the registry (only counted after enableCheckMemory).
    static size_t getLiveObjectCount();

    virtual ~Ref();

protected:
    Ref();
    // A copy is a new object: count 1 and an id of its own.
    Ref(const Ref& other);
    Ref& operator=(const Ref&) { return *this; }

    std::atomic<unsigned int> _referenceCount;
    unsigned int _ID;
};

typedef void (Ref::*SEL_CallFunc)();
typedef void (Ref::*SEL_CallFuncN)(class Node*);
typedef void (Ref::*SEL_SCHEDULE)(float);

#define CC_CALLFUNC_SELECTOR(_SELECTOR) static_cast<cocos2d::SEL_CallFunc>(&_SELECTOR)
#define CC_SCHEDULE_SELECTOR(_SELECTOR) static_cast<cocos2d::SEL_SCHEDULE>(&_SELECTOR)
#define schedule_selector(_SELECTOR) CC_SCHEDULE_SELECTOR(_SELECTOR)
#define callfunc_selector(_SELECTOR) CC_CALLFUNC_SELECTOR(_SELECTOR)

} // namespace cocos2d
