#include "isNotify.h"

#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"

namespace isImageSDK {
namespace notify {

void memoryLow()
{
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_MEMORY_LOW, nullptr, nullptr,
                                                                false);
}

void windowChanged(cocos2d::Ref* sender, void* context, const std::string& width, const std::string& level,
                   bool cancelPending)
{
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    if (cancelPending)
        centre->cancelNotification(sender, NOTIFY_OVERLAY_WINDOW, context);
    auto* data = NSUI::NSNotificationData::create();
    std::string json;
    NSUI::UIJson::setString(json, "ww", width);
    NSUI::UIJson::setString(json, "wl", level);
    data->text = json;
    centre->postNotification(sender, NOTIFY_OVERLAY_WINDOW, data, context, false);
}

} // namespace notify
} // namespace isImageSDK
