// NSSpriteView: one picture inside a clipping layout, zoomed with the wheel (x1.1 per step in,
// x0.9 out) and a vertical right-button drag (x1.05 / x0.95 within 0.1..10), panned with a
// left-button drag. A missing file shows "UIRes/noPicture.png" at scale 1.
#pragma once

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
    bool init() override;

    void setImage(std::string path);
    const std::string& getImagePath() const { return path; }
    cocos2d::ui::ImageView* getImageView() const { return imageView; }

    bool onMouseScroll(float x, float y, float scrollY) override;
    bool onMouseMove(float x, float y) override;

    // Multiplies the picture's scale by factor unless that would pass the drag limits.
    void zoomBy(float factor);

protected:
    cocos2d::ui::ImageView* imageView = nullptr; // child
    std::string path;
};

} // namespace NSUI
