#include "event/CCEventListenerMouse.h"

#include "event/CCEventMouse.h"

namespace cocos2d {

const EventListener::ListenerID EventListenerMouse::LISTENER_ID = "__cc_mouse";

void EventListenerMouse::invoke(Event* event)
{
    auto* mouse = static_cast<EventMouse*>(event);
    using Handler = std::function<void(EventMouse*)> EventListenerMouse::*;
    // By MouseEventType: none, down, up, move, scroll.
    static const Handler handlers[] = {nullptr, &EventListenerMouse::onMouseDown, &EventListenerMouse::onMouseUp,
                                       &EventListenerMouse::onMouseMove, &EventListenerMouse::onMouseScroll};
    const Handler handler = handlers[static_cast<int>(mouse->getMouseEventType())];
    if (handler && this->*handler) {
        (this->*handler)(mouse);
    }
}

} // namespace cocos2d
