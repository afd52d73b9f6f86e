// The program-wide message bus. Components do not call each other across subsystems: they post
// integer-numbered notifications (NSNotificationNumbers.h) and subscribe callbacks to the numbers
// they handle.
//
// Delivery rule. A post never calls a callback: it queues one pending delivery for every observer
// registered for that number and that exact context whose target is not the sender. A tick on the
// main thread (every frame, first 0.5 s after the centre is created) delivers, in posting order,
// every urgent delivery queued before it and as many of the normal deliveries queued before it as
// fit in the tick's time budget (4 ms of callbacks, at least one normal delivery per tick). The
// normal deliveries the budget leaves over stay queued, in order, for the next tick; urgent ones
// are never held back by them. So a burst of normal notices (a stored image posts two) is gone
// within a few frames instead of taking one frame each, and what is posted behind it (an answer,
// a "done") waits milliseconds, not seconds. Deliveries posted during a tick, by its callbacks or
// by other threads, wait for the next tick. Deliveries cancelled, or addressed to observers
// removed in the meantime (also by a callback of the same tick), are skipped.
//
// Threads. Any thread may post, register, remove or cancel; one recursive mutex serialises them.
// Callbacks always run on the main thread, without the lock, so they may post, register, remove
// and cancel freely; a removal or cancel made by a callback suppresses the deliveries still to
// come in the same tick. The centre is made only on the main thread (the constructor registers the
// tick with the scheduler): a worker that asks for it while there is none — before the program
// made it, or after the exit purge — gets a closed centre that drops every post and registration,
// so a late post from a worker never rebuilds the centre behind the purge.
//
// Lifetime. Observers do not retain their targets: an object removes its registrations
// (removeObserver(this)) before it is destroyed. The payload is retained once per pending delivery.
#pragma once

#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"

#include "cocos2d.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace NSUI
{

// (sender, notification number, payload or null). The callee does not own the payload; it
// retains it to keep it beyond the call.
using NSNotificationCallback = std::function<void(cocos2d::Ref*, unsigned int, NSNotificationData*)>;

// One registration: a callback for one number and one context, on behalf of a target.
class NSNotificationObserver : public cocos2d::Ref
{
public:
    NSNotificationObserver(cocos2d::Ref* target, void* context, const NSNotificationCallback& callback,
                           unsigned int id);

    NSNotificationCallback callback;
    unsigned int id;
    // Posts are received only from this sender, or from any sender when null. Every observer is
    // built with null; nothing sets it.
    cocos2d::Ref* sender = nullptr;
    // Chosen by the registrant (often null, sometimes the object on whose behalf the target
    // listens, such as one render window). Posts match it exactly.
    void* context;
    // Owner of the registration; not retained.
    cocos2d::Ref* target;
};

class NSNotificationCenter : public cocos2d::Ref
{
public:
    // The process-wide centre, created on first use on the main thread and released by
    // purgeServices. Any thread may call it; see the header comment for a worker's call while
    // there is no centre.
    static NSNotificationCenter* getInstance();
    // The centre if it exists, else null; never creates it.
    static NSNotificationCenter* peekInstance();
    // Releases the process's reference to the centre and forgets it (the exit purge).
    static void destroyInstance();

    ~NSNotificationCenter() override;

    // Registers the callback once per (id, context, target); registering the same triple again does
    // nothing (the first callback stays).
    void addObserver(cocos2d::Ref* target, void* context, const NSNotificationCallback& callback,
                     unsigned int id);
    bool hasObserver(unsigned int id, void* context, cocos2d::Ref* target);
    // Removes every observer of the target and drops its pending deliveries, including those of
    // the tick that is running.
    void removeObserver(cocos2d::Ref* target);
    // The same for the target's observers of one number.
    void removeObserverForId(unsigned int id, cocos2d::Ref* target);
    void removeAllObservers();

    // Deactivates every pending delivery with this sender and number whose observer's context is
    // `context`; the InFrame form only those posted during the current frame.
    void cancelNotification(cocos2d::Ref* sender, unsigned int id, void* context);
    void cancelNotificationInFrame(cocos2d::Ref* sender, unsigned int id, void* context);
    // Deactivates every pending delivery addressed to an observer of the target.
    void cancelNotificationsForTarget(cocos2d::Ref* target);
    // Deactivates every pending delivery posted by the sender. An object that posts calls it as it
    // is destroyed: senders are not retained, and an observer handed a dead sender may look at it.
    void cancelNotificationsFromSender(cocos2d::Ref* sender);

    // Queues one delivery per matching observer (see the header comment). The payload may be null.
    void postNotification(cocos2d::Ref* sender, unsigned int id, NSNotificationData* data,
                          void* context = nullptr, bool urgent = false);
    // Convenience posts with a new payload holding one value.
    void postIntNotification(cocos2d::Ref* sender, unsigned int id, int value, void* context = nullptr,
                             bool urgent = false);
    void postStringNotification(cocos2d::Ref* sender, unsigned int id, std::string text,
                                void* context = nullptr, bool urgent = false);
    void postFloatNotification(cocos2d::Ref* sender, unsigned int id, float value, void* context = nullptr,
                               bool urgent = false);
    // uintValue = value, always posted with a null sender and context 0, so every observer of the
    // number registered with context 0 receives it, also one whose target made the post.
    void postUIntNotification(unsigned int id, uint32_t value, bool urgent = false);
    // The same; sender and context are ignored.
    void postUIntNotification(cocos2d::Ref* sender, unsigned int id, uint32_t value, void* context,
                              bool urgent);
    // NOTIFY_SLICE_LOADED, urgent, with intValue2 = key (the folded hash of the slice's file path);
    // context is the image actor waiting for the slice.
    void postSliceLoadedNotification(cocos2d::Ref* sender, uint32_t key, void* context);

    // Takes the payloads of the pending deliveries of number `id` to the target's observers out of
    // the queue, oldest first, each retained once for the caller (who releases it); the deliveries
    // themselves are dropped. For an owner that must act on what was posted to it before it goes.
    std::vector<NSNotificationData*> takePendingData(cocos2d::Ref* target, unsigned int id);

    // The delivery tick; called by the scheduler on the main thread only.
    void update(float dt);

    // Wall time a tick may spend on normal deliveries (main thread). Zero delivers one a tick.
    static constexpr std::chrono::microseconds kDefaultDeliveryBudget{4000};
    void setDeliveryBudget(std::chrono::microseconds budget) { _budget = budget; }

    // True for the closed centre handed to workers while there is no centre.
    bool isClosed() const { return _closed; }

private:
    explicit NSNotificationCenter(bool closed);

    struct PendingItem
    {
        NSNotificationObserver* observer; // borrowed from the observer list; null once removed
        cocos2d::Ref* sender;             // as posted, not retained
        NSNotificationData* data;         // one reference per item
        unsigned int id;
        uint32_t frame; // director frame count at the post
        bool active;
        uint32_t seq; // posting sequence
    };

    void removeObserversWhere(const std::function<bool(const NSNotificationObserver*)>& match);
    void deactivateWhere(const std::function<bool(const PendingItem&)>& match);

    std::vector<NSNotificationObserver*> _observers; // retained, in registration order
    std::recursive_mutex _lock;
    std::deque<PendingItem> _normal;
    std::deque<PendingItem> _urgent;
    std::vector<PendingItem> _batch; // the urgent deliveries of the running tick
    uint32_t _nextSeq = 0;
    std::chrono::microseconds _budget = kDefaultDeliveryBudget;
    const bool _closed;
};

} // namespace NSUI
