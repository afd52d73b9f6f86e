// ui::Widget: the base of every touchable control (buttons, texts, images, sliders, check boxes,
// text fields and layouts).
//
// Touch model. setTouchEnabled(true) registers a one-by-one touch listener with scene-graph
// priority on the widget, swallowing by default. A touch began hits the widget when the widget
// and all its ancestors are visible, the widget and all its widget ancestors are enabled, the
// point lies in the hit rectangle (the content rectangle scaled by the touch scale about its
// centre), and every clipping layout above the widget contains the point. On a hit the widget
// highlights, offers the event to its widget ancestors (interceptTouchEvent, when propagation is
// on) and then calls its touch listener. A touch that ends while the widget is still highlighted
// fires ENDED and then the click listener; otherwise CANCELED. An ancestor that intercepts and
// unhighlights the widget (a scroll view taking over a drag) therefore suppresses the click.
//
// Sizes. With content adaptation on (ignoreContentAdaptWithSize(true), the default for image
// and text widgets) the content size follows the renderer (texture or text); otherwise the
// widget keeps the size it was given. Percent sizes and positions are relative to the parent's
// content size and are applied by the parent layout's pass, by ui::Helper::doLayout and when the
// widget enters the scene. A widget whose size or layout parameter changes asks its parent layout
// for another pass.
//
// Coordinates: touch positions are world (design) units, origin bottom-left; hit rectangles are
// in the widget's node space. Main thread only.
#pragma once

#include "platform/CCPlatformMacros.h"

#include <functional>
#include <string>

#include "event/CCEventKeyboard.h"
#include "node/CCProtectedNode.h"
#include "ui/UILayoutParameter.h"

namespace cocos2d {

class Camera;
class Event;
class EventListenerKeyboard;
class EventListenerTouchOneByOne;
class Touch;

namespace ui {

class Widget : public ProtectedNode, public LayoutParameterProtocol {
public:
    enum class FocusDirection { LEFT, RIGHT, UP, DOWN };
    enum class PositionType { ABSOLUTE, PERCENT };
    enum class SizeType { ABSOLUTE, PERCENT };
    enum class TouchEventType { BEGAN = 0, MOVED = 1, ENDED = 2, CANCELED = 3 };
    enum class TextureResType { LOCAL = 0, PLIST = 1 };
    enum class BrightStyle { NONE = -1, NORMAL, HIGHLIGHT };

    typedef std::function<void(Ref*, TouchEventType)> ccWidgetTouchCallback;
    typedef std::function<void(Ref*)> ccWidgetClickCallback;

    CREATE_FUNC(Widget);
    bool init() override;

    // ----- state
    // A disabled widget takes no touches and shows its disabled look.
    virtual void setEnabled(bool enabled);
    bool isEnabled() const { return _enabled; }
    // Normal/pressed look (bright) against the disabled look.
    void setBright(bool bright);
    bool isBright() const { return _bright; }
    void setBrightStyle(BrightStyle style);
    bool isHighlighted() const { return _highlight; }
    void setHighlighted(bool highlight);

    // ----- touch
    virtual void setTouchEnabled(bool enabled);
    bool isTouchEnabled() const { return _touchEnabled; }
    void setSwallowTouches(bool swallow);
    bool isSwallowTouches() const { return _swallowTouches; }
    void setPropagateTouchEvents(bool propagate) { _propagateTouchEvents = propagate; }
    bool isPropagateTouchEvents() const { return _propagateTouchEvents; }

    virtual bool onTouchBegan(Touch* touch, Event* event);
    virtual void onTouchMoved(Touch* touch, Event* event);
    virtual void onTouchEnded(Touch* touch, Event* event);
    virtual void onTouchCancelled(Touch* touch, Event* event);

    // Offered every touch event of a descendant widget (sender) before the descendant handles
    // it. The base forwards to its own widget ancestor, so every widget ancestor sees it. The
    // result is for subclasses; the base returns false.
    virtual bool interceptTouchEvent(TouchEventType event, Widget* sender, Touch* touch);
    // Hands the event to the nearest widget ancestor's interceptTouchEvent.
    void propagateTouchEvent(TouchEventType event, Widget* sender, Touch* touch);

    // pt in world units. Through the given camera (null or the default camera: the plain
    // world-to-node conversion); the hit point in node space goes to p when given.
    virtual bool hitTest(const Vec2& pt, const Camera* camera, Vec3* p) const;
    // True when every clipping layout above the widget contains the world point.
    bool isClippingParentContainsPoint(const Vec2& pt);
    // The hit rectangle is the content rectangle scaled by f about its centre (1: the content).
    void setTouchScaled(float f) { _touchScaled = f; }
    float getTouchScaled() const { return _touchScaled; }

    // World positions of the current gesture.
    const Vec2& getTouchBeganPosition() const { return _touchBeganPosition; }
    const Vec2& getTouchMovePosition() const { return _touchMovePosition; }
    const Vec2& getTouchEndPosition() const { return _touchEndPosition; }

    void addTouchEventListener(const ccWidgetTouchCallback& callback) { _touchEventCallback = callback; }
    void addClickEventListener(const ccWidgetClickCallback& callback) { _clickEventListener = callback; }

    // ----- keyboard [add]: a keyboard listener with scene-graph priority calling the virtuals.
    void setKeyboardEnabled(bool enabled);
    bool isKeyboardEnabled() const { return _keyboardListener != nullptr; }
    virtual void onKeyPressed(EventKeyboard::KeyCode keyCode, Event* event);
    virtual void onKeyReleased(EventKeyboard::KeyCode keyCode, Event* event);

    // ----- focus: at most one widget is focused; a click on a focus-enabled widget focuses it.
    bool isFocused() const { return _focused; }
    void setFocused(bool focused);
    bool isFocusEnabled() const { return _focusEnabled; }
    void setFocusEnabled(bool enabled) { _focusEnabled = enabled; }
    void requestFocus();
    static Widget* getCurrentFocusedWidget() { return _focusedWidget; }

    // ----- geometry
    void setPosition(const Vec2& position) override { setPosition(position.x, position.y); }
    void setPosition(float x, float y) override;
    void setPositionPercent(const Vec2& percent);
    const Vec2& getPositionPercent() const { return _positionPercent; }
    void setPositionType(PositionType type);
    PositionType getPositionType() const { return _positionType; }

    void setContentSize(const Size& contentSize) override;
    virtual void setSizePercent(const Vec2& percent);
    const Vec2& getSizePercent() const { return _sizePercent; }
    void setSizeType(SizeType type);
    SizeType getSizeType() const { return _sizeType; }
    // The size last asked for (kept while content adaptation overrides it).
    const Size& getCustomSize() const { return _customSize; }
    virtual const Size& getLayoutSize() { return _contentSize; }

    virtual void ignoreContentAdaptWithSize(bool ignore);
    bool isIgnoreContentAdaptWithSize() const { return _ignoreSize; }
    // The node that draws the widget's content, and that content's natural size. A bare
    // widget has no content, so its natural size is the size it was given.
    virtual Node* getVirtualRenderer() { return this; }
    virtual Size getVirtualRendererSize() const { return _customSize; }

    // Applies the percent size and position against the parent's content size.
    void updateSizeAndPosition();
    void updateSizeAndPosition(const Size& parentSize);

    // Edges of the widget's box in the parent's space (scale included).
    float getLeftBoundary() const;
    float getBottomBoundary() const;
    float getRightBoundary() const;
    float getTopBoundary() const;

    // ----- layout
    void setLayoutParameter(LayoutParameter* parameter);
    LayoutParameter* getLayoutParameter() const override { return _layoutParameter; }
    // Called after every change of the content size.
    virtual void onSizeChanged();

    // ----- cloning: a new widget of the same class with the same properties and cloned widget
    // children.
    Widget* clone();
    virtual std::string getDescription() const;

    // The nearest widget ancestor (plain nodes in between are skipped), or null.
    Widget* getWidgetParent() const;

    void onEnter() override;

protected:
    Widget();
    ~Widget() override;

    // Creates the renderers (called by init).
    virtual void initRenderer() {}
    virtual void onPressStateChangedToNormal() {}
    virtual void onPressStateChangedToPressed() {}
    virtual void onPressStateChangedToDisabled() {}
    // Content adaptation after a texture or text change.
    void updateContentSizeWithTextureSize(const Size& size);
    // Asks the parent, when it is a layout, for a pass before the next draw.
    void requestParentLayout();

    // The listener calls of one gesture (releaseUpEvent also fires the click).
    virtual void pushDownEvent();
    virtual void moveEvent();
    virtual void releaseUpEvent();
    virtual void cancelUpEvent();
    // Calls fn with this widget retained, so that a callback may remove it.
    template <class Fn> void guarded(Fn&& fn)
    {
        retain();
        fn();
        release();
    }

    virtual Widget* createCloneInstance();
    virtual void copySpecialProperties(Widget* model);
    virtual void copyClonedWidgetChildren(Widget* model);
    void copyProperties(Widget* model);

    // The clipping layout ancestors' test: every clipping ancestor contains pt.
    static bool isPointInNodeRect(const Node* node, const Rect& rect, const Vec2& pt, const Camera* camera,
                                  Vec3* p);

    bool _enabled = true;
    bool _bright = true;
    bool _touchEnabled = false;
    bool _highlight = false;
    bool _hitted = false;
    bool _swallowTouches = true;
    bool _propagateTouchEvents = true;
    bool _ignoreSize = false;
    bool _focused = false;
    bool _focusEnabled = true;
    BrightStyle _brightStyle = BrightStyle::NONE;
    float _touchScaled = 1.0f;
    const Camera* _hittedByCamera = nullptr;

    Vec2 _touchBeganPosition;
    Vec2 _touchMovePosition;
    Vec2 _touchEndPosition;

    Size _customSize;
    SizeType _sizeType = SizeType::ABSOLUTE;
    Vec2 _sizePercent;
    PositionType _positionType = PositionType::ABSOLUTE;
    Vec2 _positionPercent;

    EventListenerTouchOneByOne* _touchListener = nullptr;   // retained while registered
    EventListenerKeyboard* _keyboardListener = nullptr;     // retained while registered
    ccWidgetTouchCallback _touchEventCallback;
    ccWidgetClickCallback _clickEventListener;
    LayoutParameter* _layoutParameter = nullptr; // retained

    static Widget* _focusedWidget; // not retained; cleared by the widget's destructor
};

} // namespace ui
} // namespace cocos2d
