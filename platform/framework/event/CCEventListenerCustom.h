// EventListenerCustom: called for custom events of one name.
#pragma once

#include <functional>
#include <string>

#include "event/CCEventListener.h"

namespace cocos2d {

class EventCustom;

class EventListenerCustom : public EventListener {
public:
    static EventListenerCustom* create(const std::string& eventName,
                                       const std::function<void(EventCustom*)>& callback);

    bool checkAvailable() override { return static_cast<bool>(_onCustomEvent); }

protected:
    EventListenerCustom(const std::string& eventName, const std::function<void(EventCustom*)>& callback)
        : EventListener(Type::CUSTOM, eventName), _onCustomEvent(callback)
    {
    }
    void invoke(Event* event) override;

    std::function<void(EventCustom*)> _onCustomEvent;
};

} // namespace cocos2d
