// isNodeOverlaySprite: a frame button of a render window's corner overlay (play/pause, previous
// frame, next frame of a multi-frame image). It shows or hides itself and swaps the play and
// pause pictures on its window's notifications, and a tap posts the matching frame command to
// the window (the image node answers it). Main thread only.
#pragma once

#include "isNodeOverlay.h"
#include "isRenderWindowHost.h"

#include "NSNotificationData.h"

#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <string>

namespace isImageSDK {

class isNodeOverlaySprite : public cocos2d::ui::Button, public isNodeOverlay {
public:
    static isNodeOverlaySprite* create();
    ~isNodeOverlaySprite() override;

    // Framework button; heights 10; no role; anchored bottom-right.
    bool init() override;
    void cleanup() override;

    void setRenderWindow(isRenderWindowHost* window) { m_renderWindow = window; }
    isRenderWindowHost* getRenderWindow() const { return m_renderWindow; }

    // role: NOTIFY_FRAME_PLAY_STATE (play/pause), NOTIFY_FRAME_PRIOR or NOTIFY_FRAME_NEXT; any other
    // role gives a button that follows nothing and posts nothing.
    void setup(const std::string& normalImage, const std::string& pressedImage, unsigned int role,
               const std::string& disabledImage);
    // The smallest picture drawn, in window units: a control a mouse hits easily.
    static constexpr float kMinimumPicture = 32.0f;
    // Sizes the button for a row of height h (window units): its picture is drawn 0.8 of the row
    // high, at least kMinimumPicture; the button's box is the drawn picture, its touch area the
    // square of the row around it, and getButtonHeight the row it needs (at least h).
    void setButtonHeight(float h);
    const cocos2d::Size& getContentSize() const override { return m_contentSize; }
    int getButtonHeight() const { return m_height; }
    int getNativeHeight() const { return static_cast<int>(getNormalTextureSize().height); }
    // The picture shown ("imageSDK/play.png" or "imageSDK/pause.png" for play/pause).
    const std::string& getPicture() const { return m_picture; }

    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;

private:
    void removeObservers();

    isRenderWindowHost* m_renderWindow = nullptr;
    int m_height = 10;
    float m_rowHeight = 10.0f;  // the row height asked for
    std::string m_picture;
    cocos2d::Size m_contentSize;
};

} // namespace isImageSDK
