// Touch listeners.
//
// EventListenerTouchOneByOne sees each touch on its own. A touch whose began callback returns
// true is claimed: its moves, end and cancel go only to the listeners that claimed it. A
// swallowing claimer hides the touch from every later one-by-one listener and from the
// all-at-once listeners.
//
// EventListenerTouchAllAtOnce sees, after the one-by-one listeners, the touches that were not
// swallowed, all in one call.
#pragma once

#include <functional>
#include <vector>

#include "event/CCEventListener.h"

namespace cocos2d {

class Touch;

class EventListenerTouchOneByOne : public EventListener {
public:
    static const ListenerID LISTENER_ID;

    CREATE_FUNC(EventListenerTouchOneByOne)

    void setSwallowTouches(bool needSwallow) { _needSwallow = needSwallow; }
    bool isSwallowTouches() const { return _needSwallow; }

    bool checkAvailable() override { return static_cast<bool>(onTouchBegan); }

    std::function<bool(Touch*, Event*)> onTouchBegan;
    std::function<void(Touch*, Event*)> onTouchMoved;
    std::function<void(Touch*, Event*)> onTouchEnded;
    std::function<void(Touch*, Event*)> onTouchCancelled;

protected:
    EventListenerTouchOneByOne() : EventListener(Type::TOUCH_ONE_BY_ONE, LISTENER_ID) {}
    void invoke(Event*) override {}

    friend class EventDispatcher;

    bool _needSwallow = false;
    // Touches this listener claimed and that have not ended (not retained).
    std::vector<Touch*> _claimedTouches;
};

class EventListenerTouchAllAtOnce : public EventListener {
public:
    static const ListenerID LISTENER_ID;

    CREATE_FUNC(EventListenerTouchAllAtOnce)

    bool checkAvailable() override
    {
        return onTouchesBegan || onTouchesMoved || onTouchesEnded || onTouchesCancelled;
    }

    std::function<void(const std::vector<Touch*>&, Event*)> onTouchesBegan;
    std::function<void(const std::vector<Touch*>&, Event*)> onTouchesMoved;
    std::function<void(const std::vector<Touch*>&, Event*)> onTouchesEnded;
    std::function<void(const std::vector<Touch*>&, Event*)> onTouchesCancelled;

protected:
    EventListenerTouchAllAtOnce() : EventListener(Type::TOUCH_ALL_AT_ONCE, LISTENER_ID) {}
    void invoke(Event*) override {}
};

} // namespace cocos2d
