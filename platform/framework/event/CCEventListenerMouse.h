// EventListenerMouse: button, move and wheel events (see EventMouse for coordinates).
#pragma once

#include <functional>

#include "event/CCEventListener.h"

namespace cocos2d {

class EventMouse;

class EventListenerMouse : public EventListener {
public:
    static const ListenerID LISTENER_ID;

    CREATE_FUNC(EventListenerMouse)

    bool checkAvailable() override { return true; }

    std::function<void(EventMouse*)> onMouseDown;
    std::function<void(EventMouse*)> onMouseUp;
    std::function<void(EventMouse*)> onMouseMove;
    std::function<void(EventMouse*)> onMouseScroll;

protected:
    EventListenerMouse() : EventListener(Type::MOUSE, LISTENER_ID) {}
    void invoke(Event* event) override;
};

} // namespace cocos2d
