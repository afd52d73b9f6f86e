#include "base/CCScheduler.h"

#include <algorithm>

#include "base/CCAutoreleasePool.h"

namespace cocos2d {

const int Scheduler::PRIORITY_SYSTEM = INT_MIN;
const int Scheduler::PRIORITY_NON_SYSTEM_MIN = INT_MIN + 1;
const unsigned int Scheduler::MAX_CALLS_PER_UPDATE = 200;

namespace {
// Accumulated float frame times drift by a few ulps; a tick that is due within this margin fires.
constexpr double kDueEpsilon = 1e-6;

#define CC_SCHEDULER_MAIN_THREAD() CCASSERT(PoolManager::isMainThread(), "Scheduler: main thread only")
} // namespace

Scheduler::Scheduler() = default;

Scheduler::~Scheduler()
{
    unscheduleAll();
}

// ---------------------------------------------------------------------------------------------
// keyed timers

void Scheduler::addTimer(const std::shared_ptr<Timer>& timer, void* target, bool paused)
{
    auto it = _targetIndex.find(target);
    std::shared_ptr<TargetTimers> entry;
    if (it == _targetIndex.end()) {
        entry = std::make_shared<TargetTimers>();
        entry->target = target;
        entry->paused = paused;
        _targets.push_back(entry);
        _targetIndex.emplace(target, entry);
    } else {
        entry = it->second;
    }
    timer->fresh = _updating;
    entry->timers.push_back(timer);
}

Scheduler::Timer* Scheduler::findTimer(const void* target, const std::function<bool(const Timer&)>& match) const
{
    auto it = _targetIndex.find(target);
    if (it == _targetIndex.end()) {
        return nullptr;
    }
    for (const auto& t : it->second->timers) {
        if (match(*t)) {
            return t.get();
        }
    }
    return nullptr;
}

void Scheduler::removeTimers(const void* target, const std::function<bool(const Timer&)>& match)
{
    auto it = _targetIndex.find(target);
    if (it == _targetIndex.end()) {
        return;
    }
    std::shared_ptr<TargetTimers> entry = it->second;
    auto& timers = entry->timers;
    for (auto t = timers.begin(); t != timers.end();) {
        if (match(**t)) {
            (*t)->cancelled = true;
            t = timers.erase(t);
        } else {
            ++t;
        }
    }
    if (timers.empty()) {
        _targetIndex.erase(it);
        _targets.erase(std::find(_targets.begin(), _targets.end(), entry));
    }
}

void Scheduler::schedule(const ccSchedulerFunc& callback, void* target, float interval, unsigned int repeat,
                         float delay, bool paused, const std::string& key)
{
    CC_SCHEDULER_MAIN_THREAD();
    CCASSERT(target != nullptr, "Scheduler::schedule needs a target");
    CCASSERT(!key.empty(), "Scheduler::schedule needs a key");
    if (Timer* existing = findTimer(target, [&](const Timer& t) { return t.selector == nullptr && t.key == key; })) {
        existing->interval = interval; // an existing timer keeps its phase, delay and repeat
        return;
    }
    auto timer = std::make_shared<Timer>();
    timer->callback = callback;
    timer->key = key;
    timer->interval = interval;
    timer->delay = delay;
    timer->repeat = repeat;
    timer->useDelay = delay > 0.0f;
    timer->runForever = repeat == CC_REPEAT_FOREVER;
    addTimer(timer, target, paused);
}

void Scheduler::schedule(const ccSchedulerFunc& callback, void* target, float interval, bool paused,
                         const std::string& key)
{
    schedule(callback, target, interval, CC_REPEAT_FOREVER, 0.0f, paused, key);
}

void Scheduler::schedule(SEL_SCHEDULE selector, Ref* target, float interval, unsigned int repeat, float delay,
                         bool paused)
{
    CC_SCHEDULER_MAIN_THREAD();
    CCASSERT(target != nullptr && selector != nullptr, "Scheduler::schedule needs a target and a selector");
    if (Timer* existing = findTimer(target, [&](const Timer& t) { return t.selector == selector; })) {
        existing->interval = interval;
        return;
    }
    auto timer = std::make_shared<Timer>();
    timer->callback = [target, selector](float dt) { (target->*selector)(dt); };
    timer->selector = selector;
    timer->interval = interval;
    timer->delay = delay;
    timer->repeat = repeat;
    timer->useDelay = delay > 0.0f;
    timer->runForever = repeat == CC_REPEAT_FOREVER;
    addTimer(timer, target, paused);
}

void Scheduler::schedule(SEL_SCHEDULE selector, Ref* target, float interval, bool paused)
{
    schedule(selector, target, interval, CC_REPEAT_FOREVER, 0.0f, paused);
}

void Scheduler::unschedule(const std::string& key, void* target)
{
    CC_SCHEDULER_MAIN_THREAD();
    if (!target || key.empty()) {
        return;
    }
    removeTimers(target, [&](const Timer& t) { return t.selector == nullptr && t.key == key; });
}

void Scheduler::unschedule(SEL_SCHEDULE selector, Ref* target)
{
    CC_SCHEDULER_MAIN_THREAD();
    if (!target || !selector) {
        return;
    }
    removeTimers(target, [&](const Timer& t) { return t.selector == selector; });
}

bool Scheduler::isScheduled(const std::string& key, const void* target) const
{
    return findTimer(target, [&](const Timer& t) { return t.selector == nullptr && t.key == key; }) != nullptr;
}

bool Scheduler::isScheduled(SEL_SCHEDULE selector, const Ref* target) const
{
    return findTimer(target, [&](const Timer& t) { return t.selector == selector; }) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// per-frame callbacks

void Scheduler::schedulePerFrame(const ccSchedulerFunc& callback, void* target, int priority, bool paused)
{
    CC_SCHEDULER_MAIN_THREAD();
    auto it = _updateIndex.find(target);
    if (it != _updateIndex.end()) {
        if (it->second->priority == priority) {
            return;
        }
        unscheduleUpdate(target);
    }
    auto entry = std::make_shared<UpdateEntry>();
    entry->callback = callback;
    entry->target = target;
    entry->priority = priority;
    entry->paused = paused;
    // After every entry of lower or equal priority.
    auto pos = std::upper_bound(_updates.begin(), _updates.end(), priority,
                                [](int p, const std::shared_ptr<UpdateEntry>& e) { return p < e->priority; });
    _updates.insert(pos, entry);
    _updateIndex.emplace(target, entry);
}

void Scheduler::unscheduleUpdate(void* target)
{
    CC_SCHEDULER_MAIN_THREAD();
    auto it = _updateIndex.find(target);
    if (it == _updateIndex.end()) {
        return;
    }
    std::shared_ptr<UpdateEntry> entry = it->second;
    entry->cancelled = true;
    _updateIndex.erase(it);
    _updates.erase(std::find(_updates.begin(), _updates.end(), entry));
}

void Scheduler::unscheduleAllForTarget(void* target)
{
    CC_SCHEDULER_MAIN_THREAD();
    if (!target) {
        return;
    }
    removeTimers(target, [](const Timer&) { return true; });
    unscheduleUpdate(target);
}

void Scheduler::unscheduleAll()
{
    for (auto& entry : _targets) {
        for (auto& t : entry->timers) {
            t->cancelled = true;
        }
    }
    _targets.clear();
    _targetIndex.clear();
    for (auto& e : _updates) {
        e->cancelled = true;
    }
    _updates.clear();
    _updateIndex.clear();
}

// ---------------------------------------------------------------------------------------------
// pausing

void Scheduler::setTargetPaused(void* target, bool paused)
{
    CC_SCHEDULER_MAIN_THREAD();
    if (auto it = _targetIndex.find(target); it != _targetIndex.end()) {
        it->second->paused = paused;
    }
    if (auto it = _updateIndex.find(target); it != _updateIndex.end()) {
        it->second->paused = paused;
    }
}

void Scheduler::pauseTarget(void* target)
{
    setTargetPaused(target, true);
}

void Scheduler::resumeTarget(void* target)
{
    setTargetPaused(target, false);
}

bool Scheduler::isTargetPaused(void* target)
{
    if (auto it = _targetIndex.find(target); it != _targetIndex.end()) {
        return it->second->paused;
    }
    if (auto it = _updateIndex.find(target); it != _updateIndex.end()) {
        return it->second->paused;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// the frame

void Scheduler::runTimer(Timer& t, const TargetTimers& owner, float dt)
{
    t.elapsed += dt;
    unsigned int calls = 0;
    // Calls the timer once; false when it must not be called again in this update.
    auto fire = [&](float arg) {
        t.callback(arg);
        ++t.timesExecuted;
        ++calls;
        if (t.cancelled) {
            return false;
        }
        if (!t.runForever && t.timesExecuted > t.repeat) {
            Timer* done = &t;
            removeTimers(owner.target, [done](const Timer& x) { return &x == done; });
            return false;
        }
        return !owner.paused;
    };

    if (t.useDelay) {
        if (t.elapsed + kDueEpsilon < t.delay) {
            return;
        }
        t.elapsed = std::max(0.0, t.elapsed - t.delay);
        t.useDelay = false;
        if (!fire(t.interval > 0.0f ? t.interval : dt)) {
            return;
        }
        if (t.interval <= 0.0f) {
            t.elapsed = 0.0;
            return;
        }
    } else if (t.interval <= 0.0f) {
        t.elapsed = 0.0;
        fire(dt);
        return;
    }

    while (t.elapsed + kDueEpsilon >= t.interval) {
        if (calls >= MAX_CALLS_PER_UPDATE) {
            t.elapsed = 0.0; // after a stall: drop the backlog instead of a call storm
            break;
        }
        t.elapsed -= t.interval;
        if (!fire(t.interval)) {
            return;
        }
    }
}

void Scheduler::runFrame(float dt, std::vector<std::shared_ptr<UpdateEntry>>& updates,
                         std::vector<std::shared_ptr<TargetTimers>>& targets,
                         std::vector<std::shared_ptr<Timer>>& timers)
{
    // 1. per-frame callbacks
    updates.assign(_updates.begin(), _updates.end());
    for (const auto& e : updates) {
        if (!e->cancelled && !e->paused) {
            e->callback(dt);
        }
    }
    updates.clear();

    // 2. keyed timers
    targets.assign(_targets.begin(), _targets.end());
    for (const auto& entry : targets) {
        if (entry->paused) {
            continue;
        }
        timers.assign(entry->timers.begin(), entry->timers.end());
        for (const auto& t : timers) {
            if (entry->paused) {
                break;
            }
            if (!t->cancelled && !t->fresh) {
                runTimer(*t, *entry, dt);
            }
        }
        timers.clear();
    }
    targets.clear();
}

void Scheduler::update(float dt)
{
    CC_SCHEDULER_MAIN_THREAD();
    const bool nested = _updating;
    _updating = true;

    if (nested) {
        // A callback stepped the scheduler again: walk private copies, the members are in use.
        std::vector<std::shared_ptr<UpdateEntry>> updates;
        std::vector<std::shared_ptr<TargetTimers>> targets;
        std::vector<std::shared_ptr<Timer>> timers;
        runFrame(dt, updates, targets, timers);
    } else {
        runFrame(dt, _updateSnapshot, _targetSnapshot, _timerSnapshot);
    }

    _updating = false;
    for (const auto& entry : _targets) {
        for (const auto& t : entry->timers) {
            t->fresh = false;
        }
    }

    // 3. functions queued from any thread
    runQueuedFunctions();
}

// ---------------------------------------------------------------------------------------------
// run-on-main-thread queue

void Scheduler::performFunctionInCocosThread(const std::function<void()>& function)
{
    performFunctionInCocosThread(function, nullptr);
}

void Scheduler::performFunctionInCocosThread(const std::function<void()>& function, void* target)
{
    std::lock_guard<std::mutex> lock(_queueMutex);
    _queue.push_back(QueuedFunction{function, target, _nextSequence++});
}

void Scheduler::removeFunctionInCocosThread(void* target)
{
    if (!target) {
        return;
    }
    std::lock_guard<std::mutex> lock(_queueMutex);
    _queue.erase(std::remove_if(_queue.begin(), _queue.end(),
                                [target](const QueuedFunction& f) { return f.target == target; }),
                 _queue.end());
}

size_t Scheduler::getPendingFunctionCount() const
{
    std::lock_guard<std::mutex> lock(_queueMutex);
    return _queue.size();
}

void Scheduler::runQueuedFunctions()
{
    uint64_t limit;
    {
        std::lock_guard<std::mutex> lock(_queueMutex);
        limit = _nextSequence;
    }
    for (;;) {
        std::function<void()> fn;
        {
            // Taken out just before it runs, so a removal made meanwhile (from this batch or from a
            // worker) is honoured.
            std::lock_guard<std::mutex> lock(_queueMutex);
            if (_queue.empty() || _queue.front().sequence >= limit) {
                break;
            }
            fn = std::move(_queue.front().function);
            _queue.pop_front();
        }
        fn();
    }
}

} // namespace cocos2d
