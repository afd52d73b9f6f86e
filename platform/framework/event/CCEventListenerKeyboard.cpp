#include "event/CCEventListenerKeyboard.h"

namespace cocos2d {

const EventListener::ListenerID EventListenerKeyboard::LISTENER_ID = "__cc_keyboard";

void EventListenerKeyboard::invoke(Event* event)
{
    auto* key = static_cast<EventKeyboard*>(event);
    const auto& callback = key->isPressed() ? onKeyPressed : onKeyReleased;
    if (callback) {
        callback(key->getKeyCode(), event);
    }
}

} // namespace cocos2d
