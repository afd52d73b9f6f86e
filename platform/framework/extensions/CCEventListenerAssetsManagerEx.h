// EventListenerAssetsManagerEx: hears the events of one AssetsManagerEx. Register it with
// EventDispatcher::addEventListenerWithFixedPriority and remove it with removeEventListener.
#pragma once

#include <functional>

#include "event/CCEventListenerCustom.h"

namespace cocos2d {
namespace extension {

class AssetsManagerEx;
class EventAssetsManagerEx;

class EventListenerAssetsManagerEx : public EventListenerCustom {
public:
    // Autoreleased; the manager is not retained.
    static EventListenerAssetsManagerEx* create(AssetsManagerEx* manager,
                                                const std::function<void(EventAssetsManagerEx*)>& callback);

    bool checkAvailable() override { return _manager != nullptr && static_cast<bool>(_onAssetsManagerExEvent); }

protected:
    EventListenerAssetsManagerEx(AssetsManagerEx* manager, const std::function<void(EventAssetsManagerEx*)>& callback);

    AssetsManagerEx* _manager;
    std::function<void(EventAssetsManagerEx*)> _onAssetsManagerExEvent;
};

} // namespace extension
} // namespace cocos2d
