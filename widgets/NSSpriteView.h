// NSSpriteView: one picture inside a clipping layout, zoomed with the wheel (x1.1 per step in,
// x0.9 out) and a vertical right-button drag (x1.05 / x0.95 within 0.1..10), panned with a
// left-button drag, and worked by touch gestures through its NSInteractorImage (an all-at-once
// listener at fixed priority 100). A missing file shows "UIRes/noPicture.png" at scale 1.
#pragma once

#include "NSInteractorImage.h"
#include "NSLayout.h"

#include <string>

namespace NSUI
{

class NSSpriteView : public NSLayout
{
public:
    static constexpr float kMinDragScale = 0.1f;
    static constexpr float kMaxDragScale = 10.0f;

    static NSSpriteView* create();
    ~NSSpriteView() override;
    bool init() override;
    void cleanup() override;

    void setImage(std::string path);
    const std::string& getImagePath() const { return path; }
    cocos2d::ui::ImageView* getImageView() const { return imageView; }

    bool onMouseScroll(float x, float y, float scrollY) override;
    bool onMouseMove(float x, float y) override;

    virtual void onTouchesBegan(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    virtual void onTouchesMoved(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    virtual void onTouchesEnded(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    virtual void onTouchesCancelled(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    NSInteractorImage* getInteractor() const { return interactor; }

    // Multiplies the picture's scale by factor unless that would pass the drag limits.
    void zoomBy(float factor);

protected:
    cocos2d::ui::ImageView* imageView = nullptr; // child
    std::string path;
    NSInteractorImage* interactor = nullptr;                  // retained; its target is this view
    cocos2d::EventListenerTouchAllAtOnce* touchListener = nullptr; // retained while registered
};

} // namespace NSUI
