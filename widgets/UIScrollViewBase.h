// UIScrollViewBase: the toolkit's scroll view. A clipping layout that shows a window onto a larger
// inner container and moves the container by touch drags (with an axis lock for one-direction
// views), by inertia after a flick, by an elastic bounce back into range, by the mouse wheel and by
// program calls. Every change of the container's position ends in scrollViewDidScroll, whose base
// behaviour draws a thin vertical indicator that fades out after two seconds.
//
// Coordinates: the inner container is placed in the view's node space by its bottom-left corner
// (anchor (0, 0)); "top" and "bottom" edges are the container's edges in that space. Lengths are
// design units, times seconds, speeds units per second.
//
// Children added to the view go to the inner container. Main thread only.
#pragma once

#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIHttpPhisical.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <functional>

namespace NSUI
{

enum class ScrollDirection
{
    NONE = 0,
    VERTICAL = 1,
    HORIZONTAL = 2,
    BOTH = 3
};

enum class ScrollEventType
{
    SCROLL_TO_TOP = 0,
    SCROLL_TO_BOTTOM = 1,
    SCROLL_TO_LEFT = 2,
    SCROLL_TO_RIGHT = 3,
    SCROLLING = 4,
    BOUNCE_TOP = 5,
    BOUNCE_BOTTOM = 6,
    BOUNCE_LEFT = 7,
    BOUNCE_RIGHT = 8
};

class UIScrollViewBase : public cocos2d::ui::Layout,
                         public UIControlGenerater,
                         public UIControlBase,
                         public UILocalConfig,
                         public UIJson,
                         public UIHttpPhisical
{
public:
    using ccScrollViewCallback = std::function<void(cocos2d::Ref*, ScrollEventType)>;

    // Tuning of the gestures.
    static constexpr float kAutoScrollAcceleration = -1000.0f; // units / s^2
    static constexpr float kAutoScrollMaxSpeed = 1000.0f;      // units / s
    static constexpr float kMinFlickTime = 0.016f;             // s
    static constexpr float kBounceTime = 0.2f;                 // s
    static constexpr float kAxisLockDistance = 1.5f;
    static constexpr float kChildFocusCancelOffset = 5.0f;
    static constexpr float kWheelStep = 20.0f; // units per wheel unit

    static UIScrollViewBase* create();
    ~UIScrollViewBase() override;

    bool init() override;
    void onEnter() override;
    void update(float dt) override;
    std::string getDescription() const override;

    virtual void setDirection(ScrollDirection direction);
    ScrollDirection getDirection() const { return direction; }
    virtual void addEventListener(const ccScrollViewCallback& callback);

    // At least the view's size; a vertical view keeps the top of its content where it was.
    void setInnerContainerSize(const cocos2d::Size& size);
    const cocos2d::Size& getInnerContainerSize() const;
    cocos2d::ui::Layout* getInnerContainer() const { return innerContainer; }
    // Places the container without animation; negative coordinates are clamped to the content.
    void jumpToDestination(const cocos2d::Vec2& position);

    // Moves the content by (dx, dy) within the limits of the direction; false when a limit was hit.
    virtual bool scrollChildren(float dx, float dy);
    // Called after every change of the container's position.
    virtual void scrollViewDidScroll();

    void setBounceEnabled(bool enabled) { bounceEnabled = enabled; }
    bool isBounceEnabled() const { return bounceEnabled; }
    void setInertiaScrollEnabled(bool enabled) { inertiaScrollEnabled = enabled; }
    bool isInertiaScrollEnabled() const { return inertiaScrollEnabled; }
    bool isAutoScrolling() const { return autoScroll; }
    bool isBouncing() const { return bouncing; }
    cocos2d::Sprite* getScrollIndicator() const { return scrollIndicator; }

    void setContentSize(const cocos2d::Size& size) override;
    void setTouchEnabled(bool enabled) override;
    void setLayoutType(Type type) override;
    Type getLayoutType() const override;
    void doLayout() override;

    // Children go to the inner container.
    void addChild(cocos2d::Node* child) override;
    void addChild(cocos2d::Node* child, int localZOrder) override;
    void addChild(cocos2d::Node* child, int localZOrder, int tag) override;
    void addChild(cocos2d::Node* child, int localZOrder, const std::string& name) override;
    // The children are the inner container's.
    cocos2d::Vector<cocos2d::Node*>& getChildren() override;
    const cocos2d::Vector<cocos2d::Node*>& getChildren() const override;
    ssize_t getChildrenCount() const override;
    cocos2d::Node* getChildByTag(int tag) const override;
    cocos2d::Node* getChildByName(const std::string& name) const override;
    void removeChild(cocos2d::Node* child, bool cleanup = true) override;
    void removeAllChildren() override;
    void removeAllChildrenWithCleanup(bool cleanup) override;

    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchMoved(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchCancelled(cocos2d::Touch* touch, cocos2d::Event* event) override;
    bool interceptTouchEvent(TouchEventType event, cocos2d::ui::Widget* sender, cocos2d::Touch* touch) override;

protected:
    void initRenderer() override;
    void onSizeChanged() override;
    cocos2d::ui::Widget* createCloneInstance() override;
    void copySpecialProperties(cocos2d::ui::Widget* model) override;

    virtual void endRecordSlidAction();
    virtual void startRecordSlidAction();
    virtual void handleMoveLogic(cocos2d::Touch* touch);
    virtual void handleReleaseLogic(cocos2d::Touch* touch);

    void moveChildren(float dx, float dy);
    void updateBoundaries();
    void showTopLeftOfContent();
    bool checkNeedBounce();
    bool bounceScrollChildren(float dx, float dy);
    void stopAutoScroll();
    void stopBounce();
    void fireEvent(ScrollEventType type);
    void onMouseWheel(cocos2d::EventMouse* event);

    float containerLeft() const;
    float containerRight() const;
    float containerBottom() const;
    float containerTop() const;

    cocos2d::ui::Layout* innerContainer = nullptr;
    ScrollDirection direction = ScrollDirection::VERTICAL;
    cocos2d::Vec2 autoScrollDir;

    float topBoundary = 0.0f, bottomBoundary = 0.0f, leftBoundary = 0.0f, rightBoundary = 0.0f;
    float bounceTopBoundary = 0.0f, bounceBottomBoundary = 0.0f, bounceLeftBoundary = 0.0f,
          bounceRightBoundary = 0.0f;

    bool autoScroll = false;
    float autoScrollAddUpTime = 0.0f;
    float autoScrollOriginalSpeed = 0.0f;
    float autoScrollAcceleration = kAutoScrollAcceleration;

    bool pressed = false;
    float slidTime = 0.0f;
    float childFocusCancelOffset = kChildFocusCancelOffset;

    bool leftBounceNeeded = false, topBounceNeeded = false, rightBounceNeeded = false, bottomBounceNeeded = false;
    bool bounceEnabled = false;
    bool bouncing = false;
    cocos2d::Vec2 bounceDir;
    float bounceOriginalSpeed = 0.0f;
    bool inertiaScrollEnabled = true;

    ccScrollViewCallback eventCallback;

    bool axisUndecided = false;
    float axisWeightX = 1.0f;
    float axisWeightY = 1.0f;
    bool intercepting = false;

    cocos2d::Sprite* scrollIndicator = nullptr;      // retained
    cocos2d::EventListenerMouse* mouseListener = nullptr; // retained while touch is enabled
};

} // namespace NSUI
