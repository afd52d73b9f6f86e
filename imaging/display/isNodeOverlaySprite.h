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
    // Scales the button to 0.8 of a row of height h (window units) keeping its touch area at
    // the unscaled size; the content size becomes (1.5 h, h).
    void setButtonHeight(float h);
    const cocos2d::Size& getContentSize() const override { return m_contentSize; }
    int getButtonHeight() const { return m_height; }
    int getNativeHeight() const { return m_nativeHeight; }

    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;

private:
    void removeObservers();

    isRenderWindowHost* m_renderWindow = nullptr;
    int m_height = 10;
    int m_nativeHeight = 10;
    cocos2d::Size m_contentSize;
};

} // namespace isImageSDK
