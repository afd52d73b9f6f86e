// Layer: a node that covers the window and can receive touches and keys through overridable
// callbacks.
//
// init() makes the content size the window size and ignores the anchor for position, with the
// anchor in the middle: the position names the bottom-left corner and the layer scales and
// rotates about its centre.
//
// Touches and keys arrive through listeners with scene-graph priority on the layer, created when
// enabled: one-by-one (following the swallow setting) or all-at-once for touches.
#pragma once

#include <vector>

#include "event/CCEventKeyboard.h"
#include "event/CCTouch.h"
#include "node/CCNode.h"

namespace cocos2d {

class Event;
class EventListener;

class Layer : public Node {
public:
    CREATE_FUNC(Layer)
    bool init() override;

    virtual void setTouchEnabled(bool enabled);
    virtual bool isTouchEnabled() const { return _touchEnabled; }
    // Default: ALL_AT_ONCE.
    virtual void setTouchMode(Touch::DispatchMode mode);
    virtual Touch::DispatchMode getTouchMode() const { return _touchMode; }
    // Only for ONE_BY_ONE; default true.
    virtual void setSwallowsTouches(bool swallowsTouches);
    virtual bool isSwallowsTouches() const { return _swallowsTouches; }

    // ONE_BY_ONE callbacks. The default onTouchBegan claims nothing.
    virtual bool onTouchBegan(Touch* touch, Event* event);
    virtual void onTouchMoved(Touch* touch, Event* event);
    virtual void onTouchEnded(Touch* touch, Event* event);
    virtual void onTouchCancelled(Touch* touch, Event* event);
    // ALL_AT_ONCE callbacks.
    virtual void onTouchesBegan(const std::vector<Touch*>& touches, Event* event);
    virtual void onTouchesMoved(const std::vector<Touch*>& touches, Event* event);
    virtual void onTouchesEnded(const std::vector<Touch*>& touches, Event* event);
    virtual void onTouchesCancelled(const std::vector<Touch*>& touches, Event* event);

    virtual void setKeyboardEnabled(bool enabled);
    virtual bool isKeyboardEnabled() const { return _keyboardEnabled; }
    virtual void onKeyPressed(EventKeyboard::KeyCode keyCode, Event* event);
    virtual void onKeyReleased(EventKeyboard::KeyCode keyCode, Event* event);

protected:
    Layer() = default;
    ~Layer() override;

    // Drops the touch listener and, while touch is enabled, registers one for the current mode.
    void rebuildTouchListener();

    bool _touchEnabled = false;
    bool _keyboardEnabled = false;
    bool _swallowsTouches = true;
    Touch::DispatchMode _touchMode = Touch::DispatchMode::ALL_AT_ONCE;
    EventListener* _touchListener = nullptr;    // retained
    EventListener* _keyboardListener = nullptr; // retained
};

} // namespace cocos2d
