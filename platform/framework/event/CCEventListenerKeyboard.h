// EventListenerKeyboard: keys pressed (also on auto-repeat) and released.
#pragma once

#include <functional>

#include "event/CCEventKeyboard.h"
#include "event/CCEventListener.h"

namespace cocos2d {

class EventListenerKeyboard : public EventListener {
public:
    static const ListenerID LISTENER_ID;

    CREATE_FUNC(EventListenerKeyboard)

    bool checkAvailable() override { return onKeyPressed || onKeyReleased; }

    std::function<void(EventKeyboard::KeyCode, Event*)> onKeyPressed;
    std::function<void(EventKeyboard::KeyCode, Event*)> onKeyReleased;

protected:
    EventListenerKeyboard() : EventListener(Type::KEYBOARD, LISTENER_ID) {}
    void invoke(Event* event) override;
};

} // namespace cocos2d
