#include "event/CCEventListenerCustom.h"

#include <new>

#include "event/CCEventCustom.h"

namespace cocos2d {

EventListenerCustom* EventListenerCustom::create(const std::string& eventName,
                                                 const std::function<void(EventCustom*)>& callback)
{
    auto* l = new (std::nothrow) EventListenerCustom(eventName, callback);
    if (l) {
        l->autorelease();
    }
    return l;
}

void EventListenerCustom::invoke(Event* event)
{
    if (_onCustomEvent) {
        _onCustomEvent(static_cast<EventCustom*>(event));
    }
}

} // namespace cocos2d
