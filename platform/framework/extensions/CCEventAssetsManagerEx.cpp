#include "extensions/CCEventAssetsManagerEx.h"

#include <new>

#include "extensions/CCAssetsManagerEx.h"
#include "extensions/CCEventListenerAssetsManagerEx.h"

namespace cocos2d {
namespace extension {

EventAssetsManagerEx::EventAssetsManagerEx(const std::string& eventName, AssetsManagerEx* manager, EventCode code,
                                           const std::string& assetId, const std::string& message, float percent)
    : EventCustom(eventName), _manager(manager), _code(code), _assetId(assetId), _message(message), _percent(percent)
{
}

EventListenerAssetsManagerEx::EventListenerAssetsManagerEx(AssetsManagerEx* manager,
                                                           const std::function<void(EventAssetsManagerEx*)>& callback)
    : EventListenerCustom(manager ? manager->getEventName() : std::string(),
                          [this](EventCustom* event) {
                              if (_onAssetsManagerExEvent)
                                  _onAssetsManagerExEvent(static_cast<EventAssetsManagerEx*>(event));
                          }),
      _manager(manager), _onAssetsManagerExEvent(callback)
{
}

EventListenerAssetsManagerEx* EventListenerAssetsManagerEx::create(
    AssetsManagerEx* manager, const std::function<void(EventAssetsManagerEx*)>& callback)
{
    auto* listener = new (std::nothrow) EventListenerAssetsManagerEx(manager, callback);
    if (listener)
        listener->autorelease();
    return listener;
}

} // namespace extension
} // namespace cocos2d
