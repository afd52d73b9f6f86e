#include "NSNotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace NSUI
{

namespace
{

const char* const kTickKey = "_NSNotificationCenter";
// Nothing is delivered during the first half second after the centre is created.
constexpr float kFirstTickDelay = 0.5f;

std::atomic<NSNotificationCenter*> s_center{nullptr};
std::mutex s_createLock;

// Posting order across a wrap of the 32-bit sequence counter.
bool seqBefore(uint32_t a, uint32_t b)
{
    return static_cast<int32_t>(a - b) < 0;
}

uint32_t currentFrame()
{
    return cocos2d::Director::getInstance()->getTotalFrames();
}

// Posts a new payload filled by `fill`; the payload then lives exactly as long as the deliveries
// that hold it.
template <class Fill>
void postNewPayload(NSNotificationCenter* center, cocos2d::Ref* sender, unsigned int id, void* context,
                    bool urgent, Fill fill)
{
    auto* data = new NSNotificationData();
    fill(*data);
    center->postNotification(sender, id, data, context, urgent);
    data->release();
}

} // namespace

NSNotificationObserver::NSNotificationObserver(cocos2d::Ref* target_, void* context_,
                                               const NSNotificationCallback& callback_, unsigned int id_)
    : callback(callback_), id(id_), context(context_), target(target_)
{
}

NSNotificationCenter* NSNotificationCenter::getInstance()
{
    NSNotificationCenter* center = s_center.load(std::memory_order_acquire);
    if (center)
        return center;
    if (!cocos2d::PoolManager::isMainThread())
    {
        // Lives as long as the process; it holds nothing.
        static NSNotificationCenter* const closed = new NSNotificationCenter(true);
        return closed;
    }
    std::lock_guard<std::mutex> guard(s_createLock);
    center = s_center.load(std::memory_order_acquire);
    if (!center)
    {
        center = new NSNotificationCenter(false);
        center->autorelease();
        center->retain();
        s_center.store(center, std::memory_order_release);
    }
    return center;
}

NSNotificationCenter* NSNotificationCenter::peekInstance()
{
    return s_center.load(std::memory_order_acquire);
}

void NSNotificationCenter::destroyInstance()
{
    NSNotificationCenter* center = s_center.exchange(nullptr, std::memory_order_acq_rel);
    if (center)
        center->release();
}

NSNotificationCenter::NSNotificationCenter(bool closed) : _closed(closed)
{
    if (!_closed)
        cocos2d::Director::getInstance()->getScheduler()->schedule(
            [this](float dt) { update(dt); }, this, 0.0f, CC_REPEAT_FOREVER, kFirstTickDelay, false, kTickKey);
}

NSNotificationCenter::~NSNotificationCenter()
{
    if (!_closed)
        cocos2d::Director::getInstance()->getScheduler()->unschedule(kTickKey, this);
    removeAllObservers();
}

bool NSNotificationCenter::hasObserver(unsigned int id, void* context, cocos2d::Ref* target)
{
    std::lock_guard<std::recursive_mutex> guard(_lock);
    return std::any_of(_observers.begin(), _observers.end(),
                       [&](const NSNotificationObserver* o) {
                           return o->id == id && o->sender == nullptr && o->context == context &&
                                  o->target == target;
                       });
}

void NSNotificationCenter::addObserver(cocos2d::Ref* target, void* context,
                                       const NSNotificationCallback& callback, unsigned int id)
{
    if (_closed)
        return;
    std::lock_guard<std::recursive_mutex> guard(_lock);
    if (hasObserver(id, context, target))
        return;
    // The list holds the one reference.
    _observers.push_back(new NSNotificationObserver(target, context, callback, id));
}

void NSNotificationCenter::removeObserversWhere(
    const std::function<bool(const NSNotificationObserver*)>& match)
{
    std::vector<NSNotificationObserver*> removed;
    std::vector<NSNotificationData*> released;
    {
        std::lock_guard<std::recursive_mutex> guard(_lock);
        auto keep = std::stable_partition(_observers.begin(), _observers.end(),
                                          [&](const NSNotificationObserver* o) { return !match(o); });
        removed.assign(keep, _observers.end());
        _observers.erase(keep, _observers.end());
        if (removed.empty())
            return;
        auto isRemoved = [&](const NSNotificationObserver* o)
        { return std::find(removed.begin(), removed.end(), o) != removed.end(); };
        for (auto* list : {&_normal, &_urgent})
        {
            auto end =
                std::stable_partition(list->begin(), list->end(),
                                      [&](const PendingItem& item) { return !isRemoved(item.observer); });
            for (auto it = end; it != list->end(); ++it)
                if (it->data)
                    released.push_back(it->data);
            list->erase(end, list->end());
        }
        // Deliveries of the running tick: suppressed, and unlinked from the observer that is about to
        // be released, so nothing reads it afterwards.
        for (PendingItem& item : _batch)
        {
            if (item.observer && isRemoved(item.observer))
            {
                item.active = false;
                item.observer = nullptr;
            }
        }
    }
    // Released outside the lock: a payload's destructor may run arbitrary deleters.
    for (NSNotificationData* data : released)
        data->release();
    for (NSNotificationObserver* o : removed)
        o->release();
}

void NSNotificationCenter::removeObserver(cocos2d::Ref* target)
{
    removeObserversWhere([target](const NSNotificationObserver* o) { return o->target == target; });
}

void NSNotificationCenter::removeObserverForId(unsigned int id, cocos2d::Ref* target)
{
    removeObserversWhere([id, target](const NSNotificationObserver* o)
                         { return o->target == target && o->id == id; });
}

void NSNotificationCenter::removeAllObservers()
{
    removeObserversWhere([](const NSNotificationObserver*) { return true; });
}

void NSNotificationCenter::deactivateWhere(const std::function<bool(const PendingItem&)>& match)
{
    std::lock_guard<std::recursive_mutex> guard(_lock);
    for (auto* list : {&_normal, &_urgent})
        for (PendingItem& item : *list)
            if (item.observer && match(item))
                item.active = false;
    for (PendingItem& item : _batch)
        if (item.observer && match(item))
            item.active = false;
}

void NSNotificationCenter::cancelNotification(cocos2d::Ref* sender, unsigned int id, void* context)
{
    deactivateWhere([&](const PendingItem& item)
                    { return item.sender == sender && item.id == id && item.observer->context == context; });
}

void NSNotificationCenter::cancelNotificationInFrame(cocos2d::Ref* sender, unsigned int id, void* context)
{
    const uint32_t frame = currentFrame();
    deactivateWhere(
        [&](const PendingItem& item)
        {
            return item.sender == sender && item.id == id && item.observer->context == context &&
                   item.frame == frame;
        });
}

void NSNotificationCenter::cancelNotificationsForTarget(cocos2d::Ref* target)
{
    deactivateWhere([target](const PendingItem& item) { return item.observer->target == target; });
}

void NSNotificationCenter::cancelNotificationsFromSender(cocos2d::Ref* sender)
{
    if (sender)
        deactivateWhere([sender](const PendingItem& item) { return item.sender == sender; });
}

void NSNotificationCenter::postNotification(cocos2d::Ref* sender, unsigned int id, NSNotificationData* data,
                                            void* context, bool urgent)
{
    if (_closed)
        return;
    if (data)
        data->retain();
    {
        std::lock_guard<std::recursive_mutex> guard(_lock);
        bool haveFrame = false;
        uint32_t frame = 0;
        for (NSNotificationObserver* o : _observers)
        {
            if (o->target == sender || o->id != id || (o->sender && o->sender != sender) ||
                o->context != context)
                continue;
            if (!haveFrame)
            {
                frame = currentFrame();
                haveFrame = true;
            }
            if (data)
                data->retain();
            PendingItem item{o, sender, data, id, frame, true, _nextSeq++};
            (urgent ? _urgent : _normal).push_back(item);
        }
    }
    if (data)
        data->release();
}

void NSNotificationCenter::postIntNotification(cocos2d::Ref* sender, unsigned int id, int value,
                                               void* context, bool urgent)
{
    postNewPayload(this, sender, id, context, urgent, [value](NSNotificationData& d) { d.intValue = value; });
}

void NSNotificationCenter::postStringNotification(cocos2d::Ref* sender, unsigned int id, std::string text,
                                                  void* context, bool urgent)
{
    postNewPayload(this, sender, id, context, urgent,
                   [&text](NSNotificationData& d) { d.text = std::move(text); });
}

void NSNotificationCenter::postFloatNotification(cocos2d::Ref* sender, unsigned int id, float value,
                                                 void* context, bool urgent)
{
    postNewPayload(this, sender, id, context, urgent,
                   [value](NSNotificationData& d) { d.floatValue = value; });
}

void NSNotificationCenter::postUIntNotification(unsigned int id, uint32_t value, bool urgent)
{
    postNewPayload(this, nullptr, id, nullptr, urgent,
                   [value](NSNotificationData& d) { d.uintValue = value; });
}

void NSNotificationCenter::postUIntNotification(cocos2d::Ref* /*sender*/, unsigned int id, uint32_t value,
                                                void* /*context*/, bool urgent)
{
    postUIntNotification(id, value, urgent);
}

void NSNotificationCenter::postSliceLoadedNotification(cocos2d::Ref* sender, uint32_t key, void* context)
{
    postNewPayload(this, sender, NOTIFY_SLICE_LOADED, context, true,
                   [key](NSNotificationData& d) { d.intValue2 = static_cast<int>(key); });
}

std::vector<NSNotificationData*> NSNotificationCenter::takePendingData(cocos2d::Ref* target, unsigned int id)
{
    std::vector<std::pair<uint32_t, NSNotificationData*>> taken;
    {
        std::lock_guard<std::recursive_mutex> guard(_lock);
        auto take = [&](PendingItem& item) {
            if (!item.active || !item.observer || item.observer->target != target || item.id != id)
                return;
            item.active = false;
            if (item.data)
                item.data->retain();
            taken.emplace_back(item.seq, item.data);
        };
        for (PendingItem& item : _batch)
            take(item);
        for (PendingItem& item : _urgent)
            take(item);
        for (PendingItem& item : _normal)
            take(item);
    }
    std::stable_sort(taken.begin(), taken.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<NSNotificationData*> out;
    for (const auto& item : taken)
        out.push_back(item.second);
    return out;
}

void NSNotificationCenter::update(float /*dt*/)
{
    // Payloads of the deliveries this tick is done with; released after every callback of the tick
    // ran, outside the lock (a payload's destructor may run arbitrary deleters).
    std::vector<NSNotificationData*> finished;
    uint32_t end; // deliveries queued from this sequence number on wait for the next tick
    {
        std::lock_guard<std::recursive_mutex> guard(_lock);
        auto active = std::stable_partition(_normal.begin(), _normal.end(),
                                            [](const PendingItem& item) { return item.active; });
        for (auto it = active; it != _normal.end(); ++it)
            if (it->data)
                finished.push_back(it->data);
        _normal.erase(active, _normal.end());
        // Urgent deliveries are queued in sequence order, so the batch is sorted as taken.
        _batch.assign(_urgent.begin(), _urgent.end());
        _urgent.clear();
        end = _nextSeq;
    }

    // Normal deliveries are taken from the front of their queue one at a time, so a removal or a
    // cancel made by a callback reaches those still queued; the urgent ones of the batch are
    // merged in by sequence number.
    const auto deadline = std::chrono::steady_clock::now() + _budget;
    bool normalDelivered = false;
    size_t nextUrgent = 0;
    for (;;)
    {
        NSNotificationObserver* observer = nullptr;
        cocos2d::Ref* sender = nullptr;
        NSNotificationData* data = nullptr;
        {
            // Removals and cancels from other threads write these fields under the lock.
            std::lock_guard<std::recursive_mutex> guard(_lock);
            while (!_normal.empty() && !_normal.front().active && seqBefore(_normal.front().seq, end))
            {
                if (_normal.front().data)
                    finished.push_back(_normal.front().data);
                _normal.pop_front();
            }
            const bool normalReady = !_normal.empty() && seqBefore(_normal.front().seq, end) &&
                                     (!normalDelivered || std::chrono::steady_clock::now() < deadline);
            const bool urgentReady = nextUrgent < _batch.size();
            if (!normalReady && !urgentReady)
                break;
            PendingItem item{};
            if (urgentReady && (!normalReady || seqBefore(_batch[nextUrgent].seq, _normal.front().seq)))
            {
                PendingItem& queued = _batch[nextUrgent++];
                if (!queued.observer || !queued.active)
                    continue;
                queued.active = false;
                item = queued;
            }
            else
            {
                item = _normal.front();
                _normal.pop_front();
                normalDelivered = true;
                if (item.data)
                    finished.push_back(item.data);
            }
            observer = item.observer;
            sender = item.sender;
            data = item.data;
            // Keeps the callable alive should the callback remove its own registration.
            observer->retain();
        }
        if (observer->callback)
            observer->callback(sender, observer->id, data);
        observer->release();
    }

    std::vector<PendingItem> urgent;
    {
        std::lock_guard<std::recursive_mutex> guard(_lock);
        urgent.swap(_batch);
    }
    for (const PendingItem& item : urgent)
        if (item.data)
            finished.push_back(item.data);
    for (NSNotificationData* d : finished)
        d->release();
}

} // namespace NSUI
