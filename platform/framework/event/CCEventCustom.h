// EventCustom: a named event with an optional, unowned pointer for the listeners.
#pragma once

#include <string>

#include "event/CCEvent.h"

namespace cocos2d {

class EventCustom : public Event {
public:
    explicit EventCustom(const std::string& eventName) : Event(Type::CUSTOM), _eventName(eventName) {}

    const std::string& getEventName() const { return _eventName; }
    void setUserData(void* data) { _userData = data; }
    void* getUserData() const { return _userData; }

private:
    std::string _eventName;
    void* _userData = nullptr;
};

} // namespace cocos2d
