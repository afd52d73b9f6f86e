#include "event/CCEventListenerMouse.h"

#include <new>

#include "event/CCEventMouse.h"

namespace cocos2d {

const EventListener::ListenerID EventListenerMouse::LISTENER_ID = "__cc_mouse";

EventListenerMouse* EventListenerMouse::create()
{
    auto* l = new (std::nothrow) EventListenerMouse();
    if (l) {
        l->autorelease();
    }
    return l;
}

void EventListenerMouse::invoke(Event* event)
{
    auto* mouse = static_cast<EventMouse*>(event);
    switch (mouse->getMouseEventType()) {
    case EventMouse::MouseEventType::MOUSE_DOWN:
        if (onMouseDown) {
            onMouseDown(mouse);
        }
        break;
    case EventMouse::MouseEventType::MOUSE_UP:
        if (onMouseUp) {
            onMouseUp(mouse);
        }
        break;
    case EventMouse::MouseEventType::MOUSE_MOVE:
        if (onMouseMove) {
            onMouseMove(mouse);
        }
        break;
    case EventMouse::MouseEventType::MOUSE_SCROLL:
        if (onMouseScroll) {
            onMouseScroll(mouse);
        }
        break;
    case EventMouse::MouseEventType::MOUSE_NONE: break;
    }
}

} // namespace cocos2d
