#include "event/CCEventListenerTouch.h"

#include <new>

namespace cocos2d {

const EventListener::ListenerID EventListenerTouchOneByOne::LISTENER_ID = "__cc_touch_one_by_one";
const EventListener::ListenerID EventListenerTouchAllAtOnce::LISTENER_ID = "__cc_touch_all_at_once";

EventListenerTouchOneByOne* EventListenerTouchOneByOne::create()
{
    auto* l = new (std::nothrow) EventListenerTouchOneByOne();
    if (l) {
        l->autorelease();
    }
    return l;
}

EventListenerTouchAllAtOnce* EventListenerTouchAllAtOnce::create()
{
    auto* l = new (std::nothrow) EventListenerTouchAllAtOnce();
    if (l) {
        l->autorelease();
    }
    return l;
}

} // namespace cocos2d
