// isNodeOverlayText: one text of a render window's corner overlay. Either static (prefix + value
// + suffix as set) or bound to one overlay notification of its window, whose payload it formats
// (cursor position, window, slice index, plane name, slice position, thickness, loading
// progress). Subscriptions and posts use the window's notification context, so several windows
// never update each other's texts. Main thread only.
#pragma once

#include "isNodeOverlay.h"
#include "isRenderWindowHost.h"

#include "NSNotificationData.h"
#include "NSText.h"

#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>

namespace isImageSDK {

class isNodeOverlayText : public NSUI::NSText, public isNodeOverlay {
public:
    // The text's own string, not the JSON helpers of the same name.
    using cocos2d::ui::Text::getString;
    using cocos2d::ui::Text::setString;

    static isNodeOverlayText* create();

    // Framework text; empty texts, not touchable, static; top-aligned with a black shadow.
    bool init() override;
    // The framework's cleanup, then the binding undone.
    void cleanup() override;

    // Set by the owner before binding: the window whose notifications the text follows.
    void setRenderWindow(isRenderWindowHost* window) { m_renderWindow = window; }
    isRenderWindowHost* getRenderWindow() const { return m_renderWindow; }

    // Replaces any earlier binding. Numbers outside the formatted set leave a static text. A
    // touchable text (the window text) opens the window editor when tapped.
    void bindNotification(const std::string& value, const std::string& prefix, const std::string& suffix,
                          unsigned int notificationId, bool touchable);
    // Text = prefix + value + suffix.
    void setValue(const std::string& value);

    const std::string& getPrefix() const { return m_prefix; }
    const std::string& getSuffix() const { return m_suffix; }
    const std::string& getValue() const { return m_value; }
    bool isTouchable() const { return m_touchable; }

    // Formats the payload of the bound number into the text.
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;

private:
    void unbind();

    std::string m_prefix;
    std::string m_suffix;
    std::string m_value;
    bool m_touchable = false;
    isRenderWindowHost* m_renderWindow = nullptr;
};

} // namespace isImageSDK
