// Scheduler: the main thread's timers, per-frame update callbacks and run-on-main-thread queue.
//
// Director::mainLoop (or Director::stepFrame in tests) calls update(dt) once per frame. Within
// one update, in this order:
//   1. per-frame update callbacks, by ascending priority (the action manager uses
//      PRIORITY_SYSTEM and so runs first), equal priorities in registration order;
//   2. keyed timers, target by target in order of each target's first registration, and within
//      a target in scheduling order;
//   3. the functions queued with performFunctionInCocosThread before this run started.
//
// Timer rules:
// - A timer counts from the next update: the dt of that update is its first elapsed time. A timer
//   scheduled during an update (from a callback) starts at the following one.
// - It fires first when the elapsed time reaches `delay` (or `interval` without a delay), then every
//   `interval`. With repeat n it fires n + 1 times; CC_REPEAT_FOREVER never stops.
// - Interval 0 fires once per update with dt = the frame's dt.
// - An interval shorter than the frame fires floor(elapsed / interval) times in one update, each
//   call with dt = interval; at most 200 calls per update, the rest of the time is dropped.
// - Scheduling an existing (target, key) again only changes its interval.
// - Unscheduling from any callback, including the timer's own, takes effect at once.
//
// Threads: everything is main-thread-only except performFunctionInCocosThread and
// removeFunctionInCocosThread, which any thread may call.
#pragma once

#include <climits>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/CCRef.h"
#include "base/ccMacros.h"

namespace cocos2d {

typedef std::function<void(float)> ccSchedulerFunc;

class Scheduler : public Ref {
public:
    static const int PRIORITY_SYSTEM;
    static const int PRIORITY_NON_SYSTEM_MIN;
    // Upper bound of calls of one timer in one update.
    static const unsigned int MAX_CALLS_PER_UPDATE;

    Scheduler();
    ~Scheduler() override;

    void update(float dt);

    // ----- keyed timers
    void schedule(const ccSchedulerFunc& callback, void* target, float interval, unsigned int repeat,
                  float delay, bool paused, const std::string& key);
    void schedule(const ccSchedulerFunc& callback, void* target, float interval, bool paused,
                  const std::string& key);
    void schedule(SEL_SCHEDULE selector, Ref* target, float interval, unsigned int repeat, float delay,
                  bool paused);
    void schedule(SEL_SCHEDULE selector, Ref* target, float interval, bool paused);

    void unschedule(const std::string& key, void* target);
    void unschedule(SEL_SCHEDULE selector, Ref* target);
    void unscheduleUpdate(void* target);
    // Keyed timers, selector timers and the update callback of the target.
    void unscheduleAllForTarget(void* target);
    void unscheduleAll();
    bool isScheduled(const std::string& key, const void* target) const;
    bool isScheduled(SEL_SCHEDULE selector, const Ref* target) const;

    // ----- per-frame update callbacks: target->update(dt) every frame
    template <class T>
    void scheduleUpdate(T* target, int priority, bool paused)
    {
        schedulePerFrame([target](float dt) { target->update(dt); }, target, priority, paused);
    }
    void schedulePerFrame(const ccSchedulerFunc& callback, void* target, int priority, bool paused);

    // ----- pausing (timers and the update callback of the target)
    void pauseTarget(void* target);
    void resumeTarget(void* target);
    bool isTargetPaused(void* target);

    // ----- run-on-main-thread queue (any thread)
    void performFunctionInCocosThread(const std::function<void()>& function);
    // The target only identifies the function for removeFunctionInCocosThread.
    void performFunctionInCocosThread(const std::function<void()>& function, void* target);
    // Drops every queued function of the target that has not started, also from the batch that is
    // running. Called on the main thread, no function of the target runs afterwards.
    void removeFunctionInCocosThread(void* target);
    // [hook] Functions waiting in the queue.
    size_t getPendingFunctionCount() const;

private:
    struct Timer {
        ccSchedulerFunc callback;
        std::string key;
        SEL_SCHEDULE selector = nullptr;
        float interval = 0.0f;
        float delay = 0.0f;
        unsigned int repeat = 0;
        bool useDelay = false;
        bool runForever = false;
        bool fresh = false;     // scheduled during the running update
        bool cancelled = false; // unscheduled
        double elapsed = 0.0;
        unsigned int timesExecuted = 0;
    };
    struct TargetTimers {
        void* target = nullptr;
        bool paused = false;
        std::vector<std::shared_ptr<Timer>> timers; // in scheduling order
    };
    struct UpdateEntry {
        ccSchedulerFunc callback;
        void* target = nullptr;
        int priority = 0;
        bool paused = false;
        bool cancelled = false;
    };
    struct QueuedFunction {
        std::function<void()> function;
        void* target;
        uint64_t sequence;
    };

    void addTimer(const std::shared_ptr<Timer>& timer, void* target, bool paused);
    void setTargetPaused(void* target, bool paused);
    Timer* findTimer(const void* target, const std::function<bool(const Timer&)>& match) const;
    void removeTimers(const void* target, const std::function<bool(const Timer&)>& match);
    void runTimer(Timer& timer, const TargetTimers& owner, float dt);
    void runQueuedFunctions();

    // Containers hold shared pointers so that an update can walk a snapshot while callbacks
    // schedule and unschedule: a removed timer is flagged and stays alive until the walk ends.
    std::vector<std::shared_ptr<TargetTimers>> _targets; // in order of first registration
    std::unordered_map<const void*, std::shared_ptr<TargetTimers>> _targetIndex;
    std::vector<std::shared_ptr<UpdateEntry>> _updates; // by priority, stable
    std::unordered_map<const void*, std::shared_ptr<UpdateEntry>> _updateIndex;
    // One frame's walk over the per-frame callbacks and the keyed timers, through the given
    // snapshot vectors.
    void runFrame(float dt, std::vector<std::shared_ptr<UpdateEntry>>& updates,
                  std::vector<std::shared_ptr<TargetTimers>>& targets, std::vector<std::shared_ptr<Timer>>& timers);

    bool _updating = false;
    // Snapshots of the lists a frame walks (callbacks may change the lists themselves). Kept as
    // members so a steady frame reuses their storage instead of allocating.
    std::vector<std::shared_ptr<UpdateEntry>> _updateSnapshot;
    std::vector<std::shared_ptr<TargetTimers>> _targetSnapshot;
    std::vector<std::shared_ptr<Timer>> _timerSnapshot;

    mutable std::mutex _queueMutex;
    std::deque<QueuedFunction> _queue;
    uint64_t _nextSequence = 0;
};

} // namespace cocos2d
