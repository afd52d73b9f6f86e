// NSLayout: the base layout of screens, panes, render windows and the picture view.
//
// A ui::Layout that turns the window's mouse events into four overridable operations in its own
// node space (onMouseScroll, onMouseDown, onMouseUp, onMouseMove), called only while the layout
// and all its ancestors are visible, the event dispatcher is trying one of the layout's cameras,
// and the cursor lies strictly inside the layout's rectangle. Before each handler the previous
// cursor position (node space) is stored in lastMousePosition; a press sets exactly one of the
// three button-held flags, a release inside clears all three (a release outside leaves them).
//
// Mixed in: asynchronous image loading (ticked every 0.05 s while the layout is on the stage),
// message toasts, settings and texts, flat JSON and the REST layer.
//
// Main thread only.
#pragma once

#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIHttpPhisical.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

namespace NSUI
{

// Timing of the image-loading tick, in seconds.
constexpr float kImageLoadingInterval = 0.05f;
constexpr float kImageLoadingDelay = 0.1f;

class NSLayout : public cocos2d::ui::Layout,
                 public UIControlGenerater,
                 public UILocalConfig,
                 public UIJson,
                 public UIControlBase,
                 public UIHttpPhisical
{
public:
    static NSLayout* create();
    ~NSLayout() override;

    bool init() override;
    void cleanup() override;
    void onExit() override;
    void onEnterTransitionDidFinish() override;

    // (x, y) in node space; scrollY is the event's vertical amount (wheel up < 0). Returning true
    // stops the event.
    virtual bool onMouseScroll(float x, float y, float scrollY);
    virtual bool onMouseDown(float x, float y);
    virtual bool onMouseUp(float x, float y);
    virtual bool onMouseMove(float x, float y);

    // The image-loading tick.
    void updateImageLoading(float dt);
    // Starts and stops the image-loading tick (for subclasses that override the two transitions).
    void scheduleImageLoading();
    void unscheduleImageLoading();

protected:
    enum class MouseKind { Down, Up, Move, Scroll };
    void dispatchMouse(cocos2d::EventMouse* event, MouseKind kind);

    cocos2d::EventListenerMouse* mouseListener = nullptr; // retained from init until cleanup
    bool isLeftButtonDown = false;
    bool isRightButtonDown = false;
    bool isMiddleButtonDown = false;
    cocos2d::Vec2 lastMousePosition; // node space
};

} // namespace NSUI
