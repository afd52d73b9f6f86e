#include "isNodeOverlayText.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"

#include <cstdio>
#include <cstdlib>

namespace isImageSDK {

namespace {

bool isFormattedNumber(unsigned int id)
{
    switch (id) {
    case NOTIFY_OVERLAY_POSITION:
    case NOTIFY_OVERLAY_WINDOW:
    case NOTIFY_OVERLAY_SLICE_INDEX:
    case NOTIFY_OVERLAY_PLANE_NAME:
    case NOTIFY_OVERLAY_SLICE_POSITION:
    case NOTIFY_OVERLAY_THICKNESS:
    case NOTIFY_OVERLAY_PROGRESS:
        return true;
    default:
        return false;
    }
}

// The number between the quotes of key's value (0 when absent).
double quotedNumber(const std::string& json, const char* key)
{
    return std::atof(NSUI::UIJson::getString(json, key).c_str());
}

} // namespace

isNodeOverlayText* isNodeOverlayText::create()
{
    isNodeOverlayText* text = new (std::nothrow) isNodeOverlayText();
    if (text && text->init()) {
        text->autorelease();
        return text;
    }
    delete text;
    return nullptr;
}

bool isNodeOverlayText::init()
{
    if (!NSUI::NSText::init())
        return false;
    m_value.clear();
    m_prefix.clear();
    m_suffix.clear();
    m_touchable = false;
    m_notificationId = NOTIFY_NONE;
    m_kind = KindText;
    setTextVerticalAlignment(cocos2d::TextVAlignment::TOP);
    enableShadow(cocos2d::Color4B::BLACK, cocos2d::Size(2, -2), 0);
    return true;
}

void isNodeOverlayText::cleanup()
{
    cocos2d::ui::Text::cleanup();
    unbind();
}

void isNodeOverlayText::unbind()
{
    setTouchEnabled(false);
    m_value.clear();
    m_prefix.clear();
    m_suffix.clear();
    if (NSUI::NSNotificationCenter* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void isNodeOverlayText::bindNotification(const std::string& value, const std::string& prefix,
                                         const std::string& suffix, unsigned int notificationId, bool touchable)
{
    unbind();
    m_value = value;
    m_prefix = prefix;
    m_suffix = suffix;
    m_touchable = touchable;
    m_notificationId = notificationId;
    if (isFormattedNumber(notificationId)) {
        void* context = m_renderWindow ? m_renderWindow->getNotificationContext() : nullptr;
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            this, context,
            [this](cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data) {
                onNotification(sender, id, data);
            },
            notificationId);
    }
    if (touchable) {
        setTouchEnabled(true);
        setTouchScaled(1.0f);
        if (m_renderWindow)
            setGlobalZOrder(static_cast<float>(m_renderWindow->getHostNode()->getLocalZOrder() + 1));
    }
    setString(m_prefix + m_value + m_suffix);
}

void isNodeOverlayText::setValue(const std::string& value)
{
    m_value = value;
    setString(m_prefix + m_value + m_suffix);
}

void isNodeOverlayText::onNotification(cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* data)
{
    static const std::string kEmpty;
    const std::string& payload = data ? data->text : kEmpty;
    const float floatValue = data ? data->floatValue : 0.0f;
    char buffer[128];
    switch (id) {
    case NOTIFY_OVERLAY_POSITION:
        std::snprintf(buffer, sizeof buffer, "x:%.1f,y:%.1f,z:%.1f ", quotedNumber(payload, "x"),
                      quotedNumber(payload, "y"), quotedNumber(payload, "z"));
        setString(m_prefix + buffer + m_suffix);
        break;
    case NOTIFY_OVERLAY_WINDOW:
        setString(m_prefix + NSUI::UIJson::getString(payload, "ww") + " " + NSUI::UIJson::getString(payload, "wl") + " " + m_suffix);
        break;
    case NOTIFY_OVERLAY_SLICE_INDEX: {
        const int index = NSUI::UIJson::getInt(payload, "index", 0);
        const int count = NSUI::UIJson::getInt(payload, "count", 0);
        if (index < 0 && count < 1) {
            setVisible(false);  // no slice index (oblique plane): the text stays as it was
        } else {
            if (!isVisible())
                setVisible(true);
            setString(m_prefix + NSUI::UIJson::getString(payload, "index") + "/" + NSUI::UIJson::getString(payload, "count") + " " + m_suffix);
        }
        break;
    }
    case NOTIFY_OVERLAY_PLANE_NAME:
    case NOTIFY_OVERLAY_SLICE_POSITION:
        setString(m_prefix + payload);
        break;
    case NOTIFY_OVERLAY_THICKNESS:
        std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(floatValue));
        setString(m_prefix + buffer);
        break;
    case NOTIFY_OVERLAY_PROGRESS:
        if (static_cast<double>(floatValue) > 0.999) {
            setVisible(false);
            setString("");
        } else {
            std::snprintf(buffer, sizeof buffer, "(%.0f%%) ", static_cast<double>(floatValue) * 100.0);
            setString(buffer);
        }
        break;
    default:
        break;
    }
}

bool isNodeOverlayText::onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event)
{
    const bool accepted = cocos2d::ui::Text::onTouchBegan(touch, event);
    if (accepted && m_notificationId == NOTIFY_OVERLAY_WINDOW) {
        NSUI::NSNotificationCenter::getInstance()->postNotification(
            this, NOTIFY_WL_INPUT, nullptr, m_renderWindow ? m_renderWindow->getNotificationContext() : nullptr,
            false);
    }
    return accepted;
}

} // namespace isImageSDK
