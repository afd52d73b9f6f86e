// ui::Slider: a horizontal bar with a progress bar and a draggable ball; the value is an integer
// percent 0-100.
//
// Touch: a touch that hits the slider (its box, or the ball) sets the percent from the touch's x
// and fires ON_SLIDEBALL_DOWN then ON_PERCENTAGE_CHANGED; each move updates the percent and fires
// ON_PERCENTAGE_CHANGED when it changed; the end fires ON_PERCENTAGE_CHANGED then
// ON_SLIDEBALL_UP; a cancel fires ON_SLIDEBALL_CANCEL. setPercent from code fires nothing.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <functional>
#include <string>

#include "ui/UIWidget.h"

namespace cocos2d {
namespace ui {

class Scale9Sprite;

class Slider : public Widget {
public:
    enum class EventType { ON_PERCENTAGE_CHANGED = 0, ON_SLIDEBALL_DOWN = 1, ON_SLIDEBALL_UP = 2, ON_SLIDEBALL_CANCEL = 3 };
    typedef std::function<void(Ref*, EventType)> ccSliderCallback;

    CREATE_FUNC(Slider);
    static Slider* create(const std::string& barTextureName, const std::string& normalBallTextureName,
                          TextureResType resType = TextureResType::LOCAL);
    bool init() override;

    void loadBarTexture(const std::string& fileName, TextureResType resType = TextureResType::LOCAL);
    void loadProgressBarTexture(const std::string& fileName, TextureResType resType = TextureResType::LOCAL);
    void loadSlidBallTextures(const std::string& normal, const std::string& pressed = "",
                              const std::string& disabled = "", TextureResType texType = TextureResType::LOCAL);
    void loadSlidBallTextureNormal(const std::string& normal, TextureResType resType = TextureResType::LOCAL);
    void loadSlidBallTexturePressed(const std::string& pressed, TextureResType resType = TextureResType::LOCAL);
    void loadSlidBallTextureDisabled(const std::string& disabled, TextureResType resType = TextureResType::LOCAL);

    void setScale9Enabled(bool enabled);
    bool isScale9Enabled() const { return _scale9Enabled; }
    void setCapInsets(const Rect& capInsets);

    // Clamped to 0-100; fires nothing.
    void setPercent(int percent);
    int getPercent() const { return _percent; }
    void addEventListener(const ccSliderCallback& callback) { _eventCallback = callback; }

    bool hitTest(const Vec2& pt, const Camera* camera, Vec3* p) const override;
    bool onTouchBegan(Touch* touch, Event* event) override;
    void onTouchMoved(Touch* touch, Event* event) override;
    void onTouchEnded(Touch* touch, Event* event) override;
    void onTouchCancelled(Touch* touch, Event* event) override;

    Node* getVirtualRenderer() override;
    Size getVirtualRendererSize() const override { return _barTextureSize; }
    std::string getDescription() const override { return "Slider"; }

    // The percent for an x in the slider's node space (clamped, truncated).
    int percentForPosition(float x) const;

protected:
    Slider() = default;
    ~Slider() override = default;

    void initRenderer() override;
    void onPressStateChangedToNormal() override;
    void onPressStateChangedToPressed() override;
    void onPressStateChangedToDisabled() override;
    void onSizeChanged() override;
    Widget* createCloneInstance() override;
    void copySpecialProperties(Widget* model) override;

    void fire(EventType type);
    void layoutRenderers();
    void showBall(int which);

    Scale9Sprite* _barRenderer = nullptr;         // protected children
    Scale9Sprite* _progressBarRenderer = nullptr;
    Node* _slidBallRenderer = nullptr;
    Scale9Sprite* _slidBallNormalRenderer = nullptr; // children of the ball node
    Scale9Sprite* _slidBallPressedRenderer = nullptr;
    Scale9Sprite* _slidBallDisabledRenderer = nullptr;
    bool _ballPressedLoaded = false;
    bool _ballDisabledLoaded = false;
    std::string _barFile, _progressFile, _ballNormalFile, _ballPressedFile, _ballDisabledFile;
    Size _barTextureSize;
    Size _progressTextureSize;
    bool _scale9Enabled = false;
    Rect _capInsets;
    int _percent = 0;
    ccSliderCallback _eventCallback;
};

} // namespace ui
} // namespace cocos2d
