// EventTouch: a phase (began, moved, ended, cancelled) of one or more touches.
#pragma once

#include <vector>

#include "event/CCEvent.h"
#include "event/CCTouch.h"

namespace cocos2d {

class EventTouch : public Event {
public:
    enum class EventCode {
        BEGAN,
        MOVED,
        ENDED,
        CANCELLED,
    };

    EventTouch() : Event(Type::TOUCH) {}

    EventCode getEventCode() const { return _eventCode; }
    void setEventCode(EventCode code) { _eventCode = code; }
    // Not retained: the touches belong to whoever dispatches the event.
    const std::vector<Touch*>& getTouches() const { return _touches; }
    void setTouches(const std::vector<Touch*>& touches) { _touches = touches; }

private:
    EventCode _eventCode = EventCode::BEGAN;
    std::vector<Touch*> _touches;
};

} // namespace cocos2d
