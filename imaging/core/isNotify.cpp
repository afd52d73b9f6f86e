#include "isNotify.h"

#if __has_include("NSNotificationCenter.h") && __has_include("UIJson.h") && __has_include("NSNotificationNumbers.h")
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"
#define QV_HAVE_NOTIFICATIONS 1
#endif

namespace isImageSDK {
namespace notify {

void memoryLow()
{
#ifdef QV_HAVE_NOTIFICATIONS
    NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_MEMORY_LOW, nullptr, nullptr,
                                                                false);
#endif
}

void windowChanged(cocos2d::Ref* sender, void* context, const std::string& width, const std::string& level,
                   bool cancelPending)
{
#ifdef QV_HAVE_NOTIFICATIONS
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    if (cancelPending)
        centre->cancelNotification(sender, NOTIFY_OVERLAY_WINDOW, context);
    auto* data = NSUI::NSNotificationData::create();
    std::string json = "{}";
    NSUI::UIJson::setString(json, "ww", width);
    NSUI::UIJson::setString(json, "wl", level);
    data->text = json;
    centre->postNotification(sender, NOTIFY_OVERLAY_WINDOW, data, context, false);
#else
    (void)sender, (void)context, (void)width, (void)level, (void)cancelPending;
#endif
}

} // namespace notify
} // namespace isImageSDK
